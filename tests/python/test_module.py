"""The module object: its contents, documentation, lifecycle, interpreters
and memory behaviour."""
import gc
import importlib
import inspect
import shutil
import subprocess
import sys
import textwrap

import pytest
import velarix

NAMES = ["bs_delta", "bs_gamma", "bs_theta", "bs_vega", "bs_rho", "bs_greeks", "am_price", "am_delta", "am_gamma",
         "am_theta", "am_vega", "am_rho", "am_greeks"]
A = (100.0, 100.0, 1.0, 0.05, 0.2)


def test_all_and_module_doc():
    assert velarix.__all__ == NAMES + ["PyGreeks"]
    assert velarix.__doc__ == (
        "Python module for option pricing Greeks calculations.\n\n"
        "This module provides functions for calculating option Greeks using:\n"
        "- Black-Scholes model (European options): bs_* functions\n"
        "- Bjerksund-Stensland model (American options): am_* functions")
    assert velarix.PyGreeks is type(velarix.bs_greeks(*A))


@pytest.mark.parametrize("name", NAMES)
def test_functions_are_builtins_of_the_module(name):
    function = getattr(velarix, name)
    assert function.__module__ == "velarix"
    assert function.__self__ is velarix
    assert function.__name__ == name
    parameters = list(inspect.signature(function).parameters.values())
    with_type = name not in ("bs_gamma", "bs_vega")
    assert [p.name for p in parameters] == ["s", "k", "t", "r", "sigma", "q"] + (["option_type"] if with_type else [])
    assert parameters[5].default == 0.0
    if with_type:
        assert parameters[6].default == "call"
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in parameters)


def test_bs_delta_docstring_in_full():
    assert velarix.bs_delta.__doc__ == textwrap.dedent("""\
        Calculate the delta of a European option using Black-Scholes.

        Args:
            s: Current price of the underlying asset
            k: Strike price of the option
            t: Time to expiration in years
            r: Risk-free interest rate (e.g., 0.05 for 5%)
            sigma: Volatility of the underlying asset (e.g., 0.2 for 20%)
            q: Dividend yield (e.g., 0.01 for 1%)
            option_type: 'call' or 'put'

        Returns:
            The delta of the option""")
    assert velarix.bs_delta.__text_signature__ == '(s, k, t, r, sigma, q=0.0, option_type="call")'


# The first line and the Returns: line of each docstring, as callers read them.
DOCUMENTED = {
    "bs_delta": ("Calculate the delta of a European option using Black-Scholes.", "The delta of the option"),
    "bs_gamma": ("Calculate the gamma of a European option using Black-Scholes.",
                 "The gamma of the option (same for calls and puts)"),
    "bs_theta": ("Calculate the theta of a European option using Black-Scholes.", "The theta of the option (per day)"),
    "bs_vega": ("Calculate the vega of a European option using Black-Scholes.",
                "The vega of the option (same for calls and puts)"),
    "bs_rho": ("Calculate the rho of a European option using Black-Scholes.",
               "The rho of the option (per 1% change in interest rate)"),
    "bs_greeks": ("Calculate all Greeks for a European option using Black-Scholes.",
                  "A Greeks object with delta, gamma, theta, vega, and rho"),
    "am_price": ("Calculate the price of an American option using Bjerksund-Stensland 2002.",
                 "The price of the American option"),
    "am_delta": ("Calculate the delta of an American option using Bjerksund-Stensland.",
                 "The delta of the American option"),
    "am_gamma": ("Calculate the gamma of an American option using Bjerksund-Stensland.",
                 "The gamma of the American option"),
    "am_theta": ("Calculate the theta of an American option using Bjerksund-Stensland.",
                 "The theta of the American option (per day)"),
    "am_vega": ("Calculate the vega of an American option using Bjerksund-Stensland.",
                "The vega of the American option"),
    "am_rho": ("Calculate the rho of an American option using Bjerksund-Stensland.",
               "The rho of the American option (per 1% change in interest rate)"),
    "am_greeks": ("Calculate all Greeks for an American option using Bjerksund-Stensland.",
                  "A Greeks object with delta, gamma, theta, vega, and rho"),
}


@pytest.mark.parametrize("name, summary, returns", [(name, *texts) for name, texts in DOCUMENTED.items()])
def test_docstrings(name, summary, returns):
    doc = getattr(velarix, name).__doc__
    assert doc.startswith(summary + "\n\nArgs:\n    s: Current price of the underlying asset\n")
    assert doc.endswith("\n\nReturns:\n    " + returns)
    assert "--" not in doc
    examples = name == "bs_delta"
    assert ("    r: Risk-free interest rate (e.g., 0.05 for 5%)\n" if examples else "    r: Risk-free interest rate\n") in doc
    assert ("option_type: 'call' or 'put'" in doc) == (name not in ("bs_gamma", "bs_vega"))


def test_reimport_returns_the_cached_module():
    velarix.marker = "kept"
    del sys.modules["velarix"]
    again = importlib.import_module("velarix")
    assert again is velarix and again.marker == "kept" and len(again.__all__) == 14
    del velarix.marker


def test_reimports_return_the_cached_module_with_a_reference_of_its_own():
    def reimport(times):
        for _ in range(times):
            del sys.modules["velarix"]
            importlib.import_module("velarix")

    # Garbage that earlier tests left (tracebacks' frames, say) may hold the
    # module and be collected at any allocation; collect it first, so that
    # only the imports move the count.
    reimport(2)
    gc.collect()
    before = sys.getrefcount(velarix)
    reimport(20)
    gc.collect()
    assert sys.getrefcount(velarix) == before


def run_python(code):
    # Unbuffered, so that lines written by the interpreters of one process
    # arrive in the order they were written, whatever the environment says.
    return subprocess.run([sys.executable, "-u", "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=120)


SUBINTERPRETER_IMPORT = (
    "import sys\n"
    "try:\n"
    "    import velarix\n"
    "    sys.stdout.write('imported\\n')\n"
    "except ImportError as error:\n"
    "    sys.stdout.write('refused: ' + str(error) + '\\n')\n")


def test_a_second_interpreter_is_refused():
    result = run_python(f"""
        import _testcapi, velarix
        assert _testcapi.run_in_subinterp({SUBINTERPRETER_IMPORT!r}) == 0
        assert _testcapi.run_in_subinterp({SUBINTERPRETER_IMPORT!r}) == 0
        assert velarix.bs_delta(100, 100, 1, 0.05, 0.2) > 0.6
        print("main ok")
    """)
    assert result.returncode == 0, result.stderr
    refusal = "refused: PyO3 modules do not yet support subinterpreters, see https://"
    assert result.stdout.count(refusal) == 2 and "main ok" in result.stdout


def test_the_first_importing_interpreter_owns_the_module():
    result = run_python(f"""
        import _testcapi
        assert _testcapi.run_in_subinterp({SUBINTERPRETER_IMPORT!r}) == 0
        try:
            import velarix
            print("main imported")
        except ImportError as error:
            print("main refused:", error)
    """)
    assert result.returncode == 0, result.stderr
    if sys.version_info >= (3, 13):
        # From 3.13 the interpreter runs a single-phase module's initialisation
        # in the main interpreter, which therefore owns it.
        assert result.stdout.startswith("refused: PyO3 modules do not yet support subinterpreters")
        assert "main imported" in result.stdout
    else:
        assert result.stdout.startswith("imported")
        assert "main refused: PyO3 modules do not yet support subinterpreters" in result.stdout


def test_internal_failure_is_a_panic_exception_and_the_next_call_works():
    # The first allocation after set_nomemory fails: that is the PyGreeks
    # instance, an internal failure that must surface as PanicException.
    result = run_python("""
        import _testcapi, velarix
        velarix.bs_greeks(100, 100, 1, 0.05, 0.2)
        try:
            _testcapi.set_nomemory(0, 1)
            velarix.bs_greeks(100, 100, 1, 0.05, 0.2)
        except Exception:
            _testcapi.remove_mem_hooks()
            print("caught by Exception")
        except BaseException as error:
            _testcapi.remove_mem_hooks()
            panic = type(error)
            print(panic.__module__, panic.__name__, panic.__bases__ == (BaseException,), repr(str(error)))
            print("doc:", "derived from BaseException" in panic.__doc__)
            class Passing:
                def __float__(self):
                    raise panic("from float")
            try:
                velarix.bs_delta(Passing(), 1, 1, 1, 1)
            except BaseException as again:
                print("again:", type(again) is panic, str(again))
        print(velarix.bs_greeks(100, 100, 1, 0.05, 0.2).delta)
    """)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("pyo3_runtime PanicException True 'could not allocate a PyGreeks instance: MemoryError")
    assert lines[1:] == ["doc: True", "again: True from float", "0.6368306511756191"]
    # Both failures are reported where they happened: the internal one with
    # its place, the one passed on with the exception as Python prints it.
    assert "velarix: internal failure in " in result.stderr
    assert "velarix: a PanicException was raised inside a call; passing it on:" in result.stderr
    assert "pyo3_runtime.PanicException: from float" in result.stderr


def allocated_blocks_after(calls):
    for _ in range(3):
        calls()
    before = sys.getallocatedblocks()
    calls()
    return sys.getallocatedblocks() - before


def test_no_memory_growth_on_success_and_error_paths():
    def calls():
        for _ in range(2000):
            for name in NAMES:
                getattr(velarix, name)(*A, 0.01) if name in ("bs_gamma", "bs_vega") else getattr(velarix, name)(*A, 0.01, "put")
            for bad in (lambda: velarix.bs_delta(), lambda: velarix.am_price(*A, option_type="x"),
                        lambda: velarix.bs_rho(*A, q="q"), lambda: velarix.bs_vega(*A, foo=1),
                        lambda: velarix.am_greeks(*A, option_type=1), lambda: velarix.PyGreeks()):
                try:
                    bad()
                except (TypeError, ValueError):
                    pass
            repr(velarix.bs_greeks(*A))

    assert allocated_blocks_after(calls) <= 5


ISOLATED_IMPORT = """
    import os
    try:
        import velarix
        os.write(1, b"isolated imported\\n")
    except ImportError as error:
        os.write(1, ("isolated refused: " + str(error) + "\\n").encode())
"""

RUN_ISOLATED = f"""
    import sys, textwrap
    if sys.version_info >= (3, 13):
        import _interpreters as interpreters
        run = interpreters.exec
    else:
        import _xxsubinterpreters as interpreters
        run = interpreters.run_string
    def run_isolated():
        interpreter = interpreters.create()
        assert run(interpreter, textwrap.dedent({ISOLATED_IMPORT!r})) is None
        interpreters.destroy(interpreter)
"""


@pytest.mark.parametrize("main_imports_first", [True, False])
def test_an_isolated_interpreter_is_refused_and_owns_nothing(main_imports_first):
    result = run_python(RUN_ISOLATED + f"""
    if {main_imports_first}:
        import velarix
    run_isolated()
    import velarix
    print("main", velarix.bs_delta(100, 100, 1, 0.05, 0.2))
    import _testcapi
    assert _testcapi.run_in_subinterp({SUBINTERPRETER_IMPORT!r}) == 0
    run_isolated()
    """)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("isolated refused: ") and lines[3].startswith("isolated refused: ")
    assert lines[1] == "main 0.6368306511756191"
    assert lines[2].startswith("refused: PyO3 modules do not yet support subinterpreters")


@pytest.mark.skipif(shutil.which("nm") is None or not sys.platform.startswith("linux"),
                    reason="reads the dynamic symbol table with binutils' nm")
@pytest.mark.parametrize("module_name", ["velarix", "velarix_batch"])
def test_each_module_exports_only_its_entry_point(module_name):
    """Anything else exported could bind to another library's symbol of the
    same name when both are loaded in one process."""
    path = importlib.import_module(module_name).__file__
    listing = subprocess.run(["nm", "-D", "--defined-only", path], capture_output=True, text=True, check=True)
    exported = {line.split()[-1] for line in listing.stdout.splitlines() if line.split()[1:2] != ["A"]}
    assert exported == {f"PyInit_{module_name}"}
