"""velarix_batch under load and failure: the interpreter lock is released
while it computes, a huge broadcast from tiny inputs is computed element by
element, calls from several Python threads at once get the single-threaded
results, many calls (failing ones too) leak nothing, a failed allocation
anywhere surfaces as a documented exception and the next call works, and
both modules behave as documented where numpy is missing."""
import gc
import os
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest
import velarix
import velarix_batch
from batch_helpers import batch_bits, scalar_bits
from conftest import bits

LEAK_CALLS = int(os.environ.get("VELARIX_LEAK_CALLS", "1000000"))
HUGE = int(os.environ.get("VELARIX_BATCH_HUGE", "10000000"))


LONG_CALLS = {
    "a book": lambda: velarix_batch.am_greeks(np.linspace(50.0, 150.0, 60_000), 100.0, 1.0, 0.05, 0.3, 0.02, "put",
                                              threads=1),
    # One option of Python numbers each, on the calling thread.
    "accurate American options one by one": lambda: [
        velarix_batch.american_greeks(100.0, 95.0, 0.5, 0.05, 0.3, 0.02, "put", accuracy="accurate")
        for _ in range(100)],
}


@pytest.mark.parametrize("call", LONG_CALLS)
def test_another_python_thread_runs_while_a_long_call_computes(call):
    """The other thread needs the interpreter lock after each short sleep: it
    makes progress during the call only if the call released the lock (else
    once a switch interval, 5 ms)."""
    progress = [0]
    running = threading.Event()
    stop = threading.Event()

    def sleep_and_count():
        running.set()
        while not stop.is_set():
            time.sleep(0.0001)
            progress[0] += 1

    other = threading.Thread(target=sleep_and_count)
    other.start()
    running.wait()
    try:
        before = progress[0]
        LONG_CALLS[call]()
        during = progress[0] - before
    finally:
        stop.set()
        other.join()
    # With the lock held all along, a step at each end of the call and one a
    # switch interval; released, a step per wake-up over a book of a few
    # hundred milliseconds, or a hundred options of about 0.1 ms each.
    assert during >= 10


def test_a_huge_broadcast_from_tiny_inputs_is_computed_for_every_element():
    columns = 1000
    rows = max(1, HUGE // columns)
    spot = np.linspace(1.0, 400.0, rows)[:, None]
    strike = np.linspace(50.0, 150.0, columns)
    result = velarix_batch.bs_vega(spot, strike, 0.5, 0.03, 0.25, threads=3)
    assert result.shape == (rows, columns)
    # Spot-check elements everywhere, chunk boundaries of 2 and 3 threads included.
    total = rows * columns
    flat = sorted({0, total - 1, total // 3, total // 3 - 1, 2 * total // 3, total // 2, total // 2 - 1,
                   *np.random.default_rng(3).integers(0, total, 2000).tolist()})
    expected = [bits(velarix.bs_vega(float(spot[i // columns, 0]), float(strike[i % columns]), 0.5, 0.03, 0.25))
                for i in flat]
    assert [bits(value) for value in result.ravel()[flat].tolist()] == expected
    assert not np.isnan(result).any()


def test_python_threads_calling_at_once_get_the_single_threaded_results():
    spot = np.linspace(60.0, 140.0, 3000)
    types = np.array(["call", "put", "p"] * 1000)
    expected = batch_bits("am_greeks", velarix_batch.am_greeks(spot, 100.0, 0.5, 0.05, 0.3, 0.01, types, threads=1))
    start = threading.Barrier(4)
    outcomes = []

    def worker():
        start.wait()
        for _ in range(3):
            outcomes.append(batch_bits("am_greeks",
                                       velarix_batch.am_greeks(spot, 100.0, 0.5, 0.05, 0.3, 0.01, types, threads=2)))

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(outcomes) == 12 and all(outcome == expected for outcome in outcomes)


SPOT = np.linspace(80.0, 120.0, 40)
SPOT_OBJECTS = SPOT.tolist()  # Python floats, read one by one
SURROGATE = "s\udc80"  # a keyword name that UTF-8 cannot encode
OUT = np.empty(40)
CALLS = [
    ("bs_greeks", (SPOT, 100.0, 1.0, 0.05, 0.2, 0.0, ["call", "put"] * 20), {"threads": 2}),
    ("am_price", (SPOT_OBJECTS, 100, 1, 0.05, 0.2), {"option_type": np.array(["p", "c"] * 20)}),
    ("bs_vega", (SPOT.astype(np.float32)[::-1], 100.0, 1.0, 0.05, 0.2), {}),
    ("am_delta", (100.0, 100.0, 1.0, 0.05, 0.2, 0.0, "put"), {}),
    ("bs_rho", (SPOT, 100.0, 1.0, 0.05, 0.2, 0.0, ["call", "straddle"] * 20), {}),
    ("bs_rho", (SPOT, [1.0, 2.0], 1.0, 0.05, 0.2), {}),
    ("bs_rho", (SPOT, 100.0, 1.0, 0.05, [0.2, "x"]), {}),
    ("bs_rho", (SPOT, 100.0, 1.0, 0.05, 0.2), {"threads": 0}),
    ("bs_rho", (SPOT, 100.0, 1.0, 0.05, 0.2, 0.0, [1, 2]), {}),
    ("am_greeks", (SPOT, 100.0, 1.0), {}),
    # The rarer refusals of argument binding.
    ("bs_rho", (SPOT, 100.0, 1.0, 0.05, 0.2), {SURROGATE: SPOT}),
    ("bs_rho", (SPOT, 100.0, 1.0, 0.05, 0.2), {"s": SPOT}),
    ("bs_rho", (SPOT, 100.0, 1.0, 0.05, 0.2, 0.0, "call", SPOT), {}),
    ("bs_delta", (SPOT, 100.0, 1.0, 0.05, 0.2), {"out": OUT}),
    ("bs_greeks", (SPOT, 100.0, 1.0, 0.05, 0.2), {"out": (OUT,) * 5}),
]


def outcome(name, args, kwargs):
    try:
        return "result", batch_bits(name, getattr(velarix_batch, name)(*args, **kwargs))
    except Exception as error:
        return type(error).__name__, str(error)


def test_the_calls_of_the_sweeps_cover_success_and_every_kind_of_failure():
    kinds = {outcome(name, args, kwargs)[0] for name, args, kwargs in CALLS}
    assert kinds == {"result", "ValueError", "TypeError"}


def test_many_calls_succeeding_and_failing_leak_nothing():
    def run(times):
        for _ in range(times):
            for name, args, kwargs in CALLS:
                outcome(name, args, kwargs)

    rounds = max(1000, LEAK_CALLS // 1000)
    run(2000)  # until the interpreter's and numpy's caches have grown to their size (measured: 1000 to 2000)
    def references():
        return [sys.getrefcount(SPOT), sys.getrefcount(SPOT_OBJECTS[-1]), sys.getrefcount(velarix_batch.Greeks),
                sys.getrefcount(np.float64), sys.getrefcount(SURROGATE), sys.getrefcount(OUT)]

    before = references()
    # A leak grows the blocks in every window; a cache that fills up (seen
    # now and then: a few hundred blocks, in one window or over several)
    # leaves some window flat.
    windows = 5
    growths = []
    for _ in range(windows):
        gc.collect()
        blocks = sys.getallocatedblocks()
        run(rounds // windows)
        gc.collect()
        growths.append(sys.getallocatedblocks() - blocks)
    after = references()
    assert after == before
    # A leak of one block in one of the calls grows by a block per round.
    assert min(growths) < rounds // windows // 5, growths


FAULT_SWEEP = """
    import _testcapi, velarix_batch
    from test_batch_hardening import CALLS, outcome

    expected = [outcome(*call) for call in CALLS]
    surfaced = set()
    for name, args, kwargs in CALLS:
        for start in range(int(sys.argv[1])):
            _testcapi.set_nomemory(start, start + 1)
            try:
                try:
                    getattr(velarix_batch, name)(*args, **kwargs)
                except BaseException as error:
                    _testcapi.remove_mem_hooks()
                    surfaced.add(f"{type(error).__module__}.{type(error).__name__}")
            except MemoryError:  # the interpreter's own handling of a refusal failed
                surfaced.add("builtins.MemoryError")
            _testcapi.remove_mem_hooks()
            if [outcome(*call) for call in CALLS] != expected:
                print("broken after", name, start)
                raise SystemExit(1)
    print("surfaced", *sorted(surfaced))
"""


def test_failed_allocations_surface_as_documented_exceptions_and_the_next_calls_work():
    pytest.importorskip("_testcapi")
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.dirname(__file__), *sys.path]))
    script = "import sys\n" + textwrap.dedent(FAULT_SWEEP)
    result = subprocess.run([sys.executable, "-c", script, "60"], capture_output=True, text=True,
                            env=environment, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr[-3000:]
    surfaced = set(result.stdout.split("surfaced", 1)[1].split())
    documented = {"builtins.MemoryError", "pyo3_runtime.PanicException", "builtins.TypeError", "builtins.ValueError"}
    assert surfaced <= documented, surfaced - documented
    assert "builtins.MemoryError" in surfaced


WITHOUT_NUMPY = """
    import sys
    sys.modules["numpy"] = None  # as if it were not installed
    import velarix
    assert velarix.bs_delta(100, 100, 1.0, 0.05, 0.2) == 0.6368306511756191
    try:
        import velarix_batch
    except ImportError as error:
        print(type(error).__name__, error, "| caused by an ImportError:", isinstance(error.__cause__, ImportError))
"""


BROKEN_NUMPY = """
    import sys
    class Finder:
        def find_spec(self, name, path=None, target=None):
            if name == "numpy":
                raise {failure}
    sys.meta_path.insert(0, Finder())
    try:
        import velarix_batch
    except Exception as error:
        print(type(error).__name__, error)
"""


@pytest.mark.parametrize("failure, reported", [
    ('RuntimeError("numpy is broken here")', "RuntimeError numpy is broken here"),
    # An installed numpy that cannot load (a broken build; a second load in
    # one process after a subinterpreter loaded it) is not a missing package.
    ('ImportError("cannot load module more than once per process")',
     "ImportError cannot load module more than once per process"),
    ('ModuleNotFoundError("No module named \'numpy._core\'", name="numpy._core")',
     "ModuleNotFoundError No module named 'numpy._core'"),
])
def test_a_numpy_that_fails_otherwise_than_missing_is_reported_as_it_failed(failure, reported):
    code = textwrap.dedent(BROKEN_NUMPY).replace("{failure}", failure)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == reported


def test_velarix_needs_no_numpy_and_velarix_batch_names_the_extra_that_brings_it():
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(WITHOUT_NUMPY)], capture_output=True, text=True,
                            timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == (
        "ImportError velarix_batch needs numpy: pip install 'velarix[batch]' | caused by an ImportError: True")


ISOLATED = """
    try:
        import _interpreters as interpreters
    except ImportError:
        import _xxsubinterpreters as interpreters
    interpreter = interpreters.create()
    interpreters.run_string(interpreter, "try:\\n import velarix_batch\\nexcept ImportError as e:\\n print('refused', e)")
"""


SHARED_LOCK_CHECKED = """
    import sys
    code = "try:\\n import velarix_batch\\nexcept ImportError as e:\\n print('refused', e)"
    if sys.version_info >= (3, 13):
        import _interpreters as interpreters
        config = interpreters.new_config("legacy", check_multi_interp_extensions=True)
        interpreter = interpreters.create(config)
        interpreters.run_string(interpreter, code)
        interpreters.destroy(interpreter)
    else:
        import _testcapi
        _testcapi.run_in_subinterp_with_config(
            code, use_main_obmalloc=True, allow_fork=True, allow_exec=True, allow_threads=True,
            allow_daemon_threads=True, check_multi_interp_extensions=True, gil=1)
"""


def test_an_interpreter_that_shares_the_lock_but_checks_extensions_is_refused():
    """Refused as not supporting other interpreters at all, not only as not
    supporting one with a lock of its own."""
    result = subprocess.run([sys.executable, "-u", "-c", textwrap.dedent(SHARED_LOCK_CHECKED)],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("refused module velarix_batch does not support loading in subinterpreters")


def test_an_isolated_interpreter_is_refused():
    result = subprocess.run([sys.executable, "-u", "-c", textwrap.dedent(ISOLATED)], capture_output=True, text=True,
                            timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("refused module velarix_batch does not support loading in subinterpreters")
