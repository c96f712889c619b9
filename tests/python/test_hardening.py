"""The module under resource failure, sustained load and concurrency: an
allocation that fails anywhere in a call surfaces as MemoryError or
PanicException and the next call works; a million calls of each function
leak nothing; eight threads get exactly the single-threaded results."""
import os
import random
import subprocess
import sys
import textwrap
import threading

import pytest
import velarix
from conftest import bits

A = (100.0, 95.0, 0.75, 0.06, 0.3, 0.04)
FUNCTIONS = [name for name in velarix.__all__ if name != "PyGreeks"]
WITHOUT_OPTION_TYPE = {"bs_gamma", "bs_vega"}
FIELDS = ("delta", "gamma", "theta", "vega", "rho")
LEAK_CALLS = int(os.environ.get("VELARIX_LEAK_CALLS", "1000000"))


def calls_of(name):
    """Successful and failing calls of one function: (args, kwargs)."""
    if name in WITHOUT_OPTION_TYPE:
        good = [(A, {}), (A[:5], {"q": 0.01}), ((), dict(zip("s k t r sigma".split(), A)))]
    else:
        good = [(A, {}), ((*A, "put"), {}), (A, {"option_type": "PuT"}), (A[:4], {"sigma": 0.2, "option_type": "c"})]
    bad = [(A[:3], {}), ((*A[:4], "vol"), {}), (A, {"foo": 1}), (A[:5], {"s": 1.0}), ((10 ** 400, *A[1:]), {})]
    if name not in WITHOUT_OPTION_TYPE:
        bad += [(A, {"option_type": "straddle"}), (A, {"option_type": 7})]
    return good + bad


def outcome(function, args, kwargs):
    try:
        result = function(*args, **kwargs)
    except Exception as error:
        return type(error).__name__, str(error)
    if isinstance(result, velarix.PyGreeks):
        return "greeks", tuple(bits(getattr(result, field)) for field in FIELDS)
    return "float", bits(result)


EVERY_CALL = [(name, args, kwargs) for name in FUNCTIONS for args, kwargs in calls_of(name)]


FAULT_SWEEP = """
    import _testcapi, velarix
    from test_hardening import EVERY_CALL, outcome

    def attempt(function, args, kwargs, start):
        _testcapi.set_nomemory(start, start + 1)
        try:
            function(*args, **kwargs)
        except BaseException as error:
            _testcapi.remove_mem_hooks()
            return type(error)
        _testcapi.remove_mem_hooks()
        return None

    expected = [outcome(getattr(velarix, name), args, kwargs) for name, args, kwargs in EVERY_CALL]
    surfaced = set()
    for index, (name, args, kwargs) in enumerate(EVERY_CALL):
        function = getattr(velarix, name)
        for start in range(40):
            raised = attempt(function, args, kwargs, start)
            if raised is not None:
                surfaced.add(f"{raised.__module__}.{raised.__name__}")
            again = [outcome(getattr(velarix, n), a, k) for n, a, k in EVERY_CALL]
            if again != expected:
                print("broken after", name, args, kwargs, start)
                raise SystemExit(1)
    print("surfaced", *sorted(surfaced))
"""


def test_failed_allocations_surface_as_documented_exceptions_and_the_next_calls_work():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.dirname(__file__), *sys.path]))
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(FAULT_SWEEP)], capture_output=True, text=True,
                            env=environment, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr[-3000:]
    surfaced = set(result.stdout.split("surfaced", 1)[1].split())
    documented = {"builtins.MemoryError", "pyo3_runtime.PanicException", "builtins.TypeError", "builtins.ValueError",
                  "builtins.OverflowError"}
    assert surfaced <= documented, surfaced - documented
    assert {"builtins.MemoryError", "pyo3_runtime.PanicException"} <= surfaced


def run_every_call(times):
    for _ in range(times):
        for name, args, kwargs in EVERY_CALL:
            try:
                getattr(velarix, name)(*args, **kwargs)
            except (TypeError, ValueError, OverflowError):
                pass


def test_a_million_calls_of_each_function_leak_nothing():
    rounds = max(1, LEAK_CALLS // max(len(calls_of(name)) for name in FUNCTIONS))
    run_every_call(100)
    blocks = sys.getallocatedblocks()
    type_references = sys.getrefcount(velarix.PyGreeks)
    run_every_call(rounds)
    # Read before asserting: the assertion's own temporaries hold references.
    type_growth = sys.getrefcount(velarix.PyGreeks) - type_references
    block_growth = sys.getallocatedblocks() - blocks
    assert type_growth == 0
    assert block_growth <= 20


def test_eight_threads_get_the_single_threaded_results():
    expected = [outcome(getattr(velarix, name), args, kwargs) for name, args, kwargs in EVERY_CALL]
    start = threading.Barrier(8)
    mismatches = []

    def worker(seed):
        order = list(range(len(EVERY_CALL)))
        random.Random(seed).shuffle(order)
        start.wait()
        for _ in range(30):
            for index in order:
                name, args, kwargs = EVERY_CALL[index]
                if outcome(getattr(velarix, name), args, kwargs) != expected[index]:
                    mismatches.append((seed, EVERY_CALL[index]))

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert mismatches == []


@pytest.mark.parametrize("name", FUNCTIONS)
def test_the_calls_of_the_sweep_cover_success_and_failure(name):
    kinds = {outcome(getattr(velarix, name), args, kwargs)[0] for args, kwargs in calls_of(name)}
    assert kinds >= {"TypeError", "OverflowError"} and kinds & {"float", "greeks"}
