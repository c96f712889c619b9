"""Benchmarks every velarix function against its floor, its core and its peers.

For each of the thirteen functions (the American ones for a call and a put)
it prints the time per Python call beside
- the floor: an empty function with the same calling convention, built here;
- the core alone, from the Google Benchmark program built here;
- the binding's own cost: the call minus the floor minus the core, and the
  part of it that reading the arguments through the stable ABI costs;
and then the peers on the same inputs (QuantLib, and a Black-Scholes delta in
plain Python on scipy and on math.erfc), the American Greeks in prices, the
shared-term work before and after, the American price and Greeks before and
after their normal distributions went into SIMD lanes (against the module
built from another revision, main by default, in batches alternating with
this one), and the heap allocations per call.

    python3 -m pip install ".[bench]" && python3 benchmarks/run.py [--update-docs] [--baseline REV]

Times are medians over repeated runs after a warm-up; they are this machine's
and move by a few percent from run to run.
"""
import argparse
import importlib.util
import io
import json
import math
import os
import pathlib
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tarfile
import timeit

import velarix

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
PAGE = ROOT / "docs" / "SPEED.md"
MARKERS = ("<!-- benchmark tables: start -->", "<!-- benchmark tables: end -->")

S, K, T, R, SIGMA, Q = 100.0, 95.0, 0.75, 0.06, 0.3, 0.04
WITHOUT_OPTION_TYPE = {"bs_gamma", "bs_vega"}
EUROPEAN = ["bs_delta", "bs_gamma", "bs_theta", "bs_vega", "bs_rho", "bs_greeks"]
AMERICAN = ["am_price", "am_delta", "am_gamma", "am_theta", "am_vega", "am_rho", "am_greeks"]
BINDING_TARGET_NS = 15.0
GREEKS_TARGET_PRICES = 8.0
ALLOCATION_CALLS = 20_000
# Per Python call, against the module before the normal distributions went
# into SIMD lanes, on a machine with AVX-512.
LANES_TARGETS = {"am_price": 0.80, "am_greeks": 0.75}


def run(command, **options):
    return subprocess.run(command, check=True, text=True, **options)


def build_native_parts():
    """Configures and builds the core benchmark, the floor module and the
    allocation counter; installs Debian's libbenchmark-dev when missing."""
    if not pathlib.Path("/usr/include/benchmark/benchmark.h").exists():
        print("installing Google Benchmark (libbenchmark-dev)", file=sys.stderr)
        run(["apt-get", "update", "-qq"])
        run(["apt-get", "install", "-y", "-qq", "libbenchmark-dev"], stdout=subprocess.DEVNULL)
    cmake_build(ROOT, BUILD, "-DVELARIX_BUILD_BENCHMARKS=ON")
    return BUILD / "benchmarks"


def cmake_build(source, build, option, target=None):
    """Configures `source` in `build` with one project option, for this
    Python, with the cmake and ninja beside it (else on PATH), and builds
    `target` (else everything)."""
    tools = pathlib.Path(sys.executable).parent
    cmake = shutil.which("cmake", path=str(tools)) or shutil.which("cmake")
    ninja = shutil.which("ninja", path=str(tools)) or shutil.which("ninja")
    generator = ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"] if ninja else []
    run([cmake, "-S", str(source), "-B", str(build), *generator, "-DCMAKE_BUILD_TYPE=Release", option,
         f"-DPython_EXECUTABLE={sys.executable}"], stdout=subprocess.DEVNULL)
    run([cmake, "--build", str(build), *(["--target", target] if target else [])], stdout=subprocess.DEVNULL)


def load_extension(name, path):
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def load_floor(directory):
    return load_extension("velarix_floor", next(directory.glob("velarix_floor*.so")))


def build_baseline(revision):
    """The module as it is at `revision`, built from a git archive of it in a
    directory of its own and loaded beside the installed one (a separate
    shared object, so a separate module state). Returns the module and the
    revision's short hash."""
    commit = run(["git", "-C", str(ROOT), "rev-parse", "--short", revision], stdout=subprocess.PIPE).stdout.strip()
    source, build = BUILD / "baseline-source", BUILD / "baseline"
    shutil.rmtree(source, ignore_errors=True)
    archive = subprocess.run(["git", "-C", str(ROOT), "archive", commit], check=True, stdout=subprocess.PIPE).stdout
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        tar.extractall(source, filter="data")
    cmake_build(source, build, "-DVELARIX_BUILD_MODULE=ON", target="velarix")
    return load_extension("velarix", next(build.glob("velarix*.so"))), commit


def core_times(directory):
    """Nanoseconds per computation, by Google Benchmark name: the time of
    each repetition; and the path of the normal distribution the core takes
    on this machine. The repetitions of all computations are interleaved in
    random order, so that repetition i of two computations ran close in time."""
    output = run([str(directory / "core_benchmark"), "--benchmark_format=json", "--benchmark_repetitions=15",
                  "--benchmark_min_time=0.02", "--benchmark_enable_random_interleaving=true"],
                 stdout=subprocess.PIPE).stdout
    times = {}
    for entry in json.loads(output)["benchmarks"]:
        if entry.get("run_type") == "iteration":
            times.setdefault(entry["run_name"], []).append(entry.get("prices", entry["real_time"]))
    return times, json.loads(output)["context"]["normal_path"]


def median_core(core, name):
    return statistics.median(core[name])


def arguments_of(name, option_type):
    return (S, K, T, R, SIGMA, Q) if name in WITHOUT_OPTION_TYPE else (S, K, T, R, SIGMA, Q, option_type)


REPEATS = 25
BATCH_SECONDS = 0.01


def timers_for(functions, arguments):
    names = [f"a{i}" for i in range(len(arguments))]
    statement = f"f({', '.join(names)})"
    return [timeit.Timer(statement, globals=dict(zip(names, arguments), f=function)) for function in functions]


def batch_samples(timers):
    """Per-call seconds of each timer in every round. The timers run in turn,
    batch after batch, so that a slow spell of the machine hits them alike;
    a first batch of each is a warm-up."""
    numbers = []
    for timer in timers:
        elapsed = timer.timeit(100)
        numbers.append(max(100, int(BATCH_SECONDS * 100 / max(elapsed, 1e-9))))
    samples = [[] for _ in timers]
    for _ in range(REPEATS):
        for timer, number, sample in zip(timers, numbers, samples):
            sample.append(timer.timeit(number) / number)
    return samples


def median_times(timers, calls_per_statement=1):
    """Median nanoseconds per call for each timer."""
    return [statistics.median(sample) / calls_per_statement * 1e9 for sample in batch_samples(timers)]


def paired_differences(timers):
    """Median nanoseconds per call of the first timer, and the medians of the
    differences between it and each other timer, round by round."""
    samples = batch_samples(timers)
    first = statistics.median(samples[0]) * 1e9
    return first, [statistics.median(a - b for a, b in zip(samples[0], other)) * 1e9 for other in samples[1:]]


def time_call(function, arguments):
    """Median nanoseconds per call of function(*arguments)."""
    return median_times(timers_for([function], arguments))[0]


def time_statement(statement, namespace, calls_per_statement=1):
    return median_times([timeit.Timer(statement, globals=namespace)], calls_per_statement)[0]


def machine():
    model = platform.processor() or platform.machine()
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    compiler = run(["g++", "--version"], stdout=subprocess.PIPE).stdout.splitlines()[0]
    return (f"{model}, {os.cpu_count()} cores; {platform.system()} {platform.release()}; "
            f"{platform.python_implementation()} {platform.python_version()}; {compiler}")


def binding_table(floor, core):
    lines = ["| function | type | Python call (ns) | floor (ns) | core (ns) | binding (ns) | of which reading "
             "the arguments (ns) |",
             "|---|---|---:|---:|---:|---:|---:|"]
    worst_binding = -math.inf
    python_times = {}
    rows = [(name, "call") for name in EUROPEAN] + [(name, t) for t in ("call", "put") for name in AMERICAN]
    for name, option_type in rows:
        arguments = arguments_of(name, option_type)
        python, (above_floor, above_reading) = paired_differences(
            timers_for([getattr(velarix, name), floor.empty, floor.read_arguments], arguments))
        empty, reading = python - above_floor, python - above_reading
        python_times[name, option_type] = python
        core_name = name if name.startswith("bs_") else f"{name}/{option_type}"
        native = median_core(core, core_name)
        binding = above_floor - native
        if name.startswith("bs_") and binding > worst_binding:
            worst_binding, worst_reading = binding, reading - empty
        label = "-" if name in WITHOUT_OPTION_TYPE else option_type
        lines.append(f"| `{name}` | {label} | {python:.0f} | {empty:.0f} | {native:.0f} | {binding:.0f} "
                     f"| {reading - empty:.0f} |")
    return "\n".join(lines), (worst_binding, worst_reading), python_times


def quantlib_market(*values):
    """QuantLib (None without it), its evaluation date, quotes of the spot,
    rate, dividend yield and volatility set to `values`, and the
    Black-Scholes-Merton process on them, with flat curves in days of 365."""
    try:
        import QuantLib as ql
    except ImportError:
        return None
    today = ql.Date(15, ql.January, 2026)
    ql.Settings.instance().evaluationDate = today
    day_count = ql.Actual365Fixed()
    spot, rate, dividend, volatility = quotes = tuple(ql.SimpleQuote(value) for value in values)
    process = ql.BlackScholesMertonProcess(
        ql.QuoteHandle(spot),
        ql.YieldTermStructureHandle(ql.FlatForward(today, ql.QuoteHandle(dividend), day_count)),
        ql.YieldTermStructureHandle(ql.FlatForward(today, ql.QuoteHandle(rate), day_count)),
        ql.BlackVolTermStructureHandle(ql.BlackConstantVol(today, ql.NullCalendar(), ql.QuoteHandle(volatility),
                                                           day_count)))
    return ql, today, quotes, process


def quantlib_peers():
    """QuantLib's analytic European engine and its Bjerksund-Stensland engine,
    built once; each timed call moves the spot quote and asks for the result."""
    market = quantlib_market(S, R, Q, SIGMA)
    if market is None:
        return {}
    ql, today, (spot, _, _, _), process = market
    maturity = today + int(round(T * 365))
    payoff = ql.PlainVanillaPayoff(ql.Option.Call, K)
    european = ql.VanillaOption(payoff, ql.EuropeanExercise(maturity))
    european.setPricingEngine(ql.AnalyticEuropeanEngine(process))
    american = ql.VanillaOption(payoff, ql.AmericanExercise(today, maturity))
    american.setPricingEngine(ql.BjerksundStenslandApproximationEngine(process))
    namespace = {"spot": spot, "european": european, "american": american, "up": S + 0.01, "down": S}
    peers = {}
    for greek in ("delta", "gamma", "theta", "vega", "rho"):
        peers[f"bs_{greek}"] = time_statement(
            f"spot.setValue(up); european.{greek}(); spot.setValue(down); european.{greek}()", namespace, 2)
    peers["bs_greeks"] = time_statement(
        "spot.setValue(up); european.delta(); european.gamma(); european.theta(); european.vega(); european.rho();"
        "spot.setValue(down); european.delta(); european.gamma(); european.theta(); european.vega(); european.rho()",
        namespace, 2)
    peers["am_price"] = time_statement("spot.setValue(up); american.NPV(); spot.setValue(down); american.NPV()",
                                       namespace, 2)
    return peers


def plain_python_deltas():
    """A Black-Scholes call delta in plain Python, on scipy's norm.cdf and on
    math.erfc."""
    times = {}
    try:
        from scipy.stats import norm

        def scipy_delta(s, k, t, r, sigma, q, option_type):
            d1 = (math.log(s / k) + (r - q + 0.5 * sigma * sigma) * t) / (sigma * math.sqrt(t))
            return math.exp(-q * t) * (norm.cdf(d1) if option_type == "call" else norm.cdf(d1) - 1.0)

        times["Python + scipy.stats.norm.cdf"] = time_call(scipy_delta, arguments_of("bs_delta", "call"))
    except ImportError:
        pass

    def erfc_delta(s, k, t, r, sigma, q, option_type):
        d1 = (math.log(s / k) + (r - q + 0.5 * sigma * sigma) * t) / (sigma * math.sqrt(t))
        n = 0.5 * math.erfc(-d1 / math.sqrt(2.0))
        return math.exp(-q * t) * (n if option_type == "call" else n - 1.0)

    times["Python + math.erfc"] = time_call(erfc_delta, arguments_of("bs_delta", "call"))
    return times


def peer_table(python_times):
    velarix_times = {name: python_times[name, "call"] for name in EUROPEAN + ["am_price"]}
    lines = ["| computation | velarix (ns) | peer | peer (ns) | speedup |", "|---|---:|---|---:|---:|"]
    for name, peer_time in quantlib_peers().items():
        what = "QuantLib Bjerksund-Stensland NPV" if name == "am_price" else "QuantLib analytic European engine"
        ours = velarix_times[name]
        lines.append(f"| `{name}` call | {ours:.0f} | {what} | {peer_time:.0f} | {peer_time / ours:.1f}x |")
    for what, peer_time in plain_python_deltas().items():
        ours = velarix_times["bs_delta"]
        lines.append(f"| `bs_delta` call | {ours:.0f} | {what} | {peer_time:.0f} | {peer_time / ours:.1f}x |")
    return "\n".join(lines)


def shared_terms_table(core):
    """The American core before and after sharing terms, and the cost of
    am_greeks in prices, from batches of both timed in turn."""
    lines = ["| core computation | type | term by term (ns) | shared terms (ns) | in prices |",
             "|---|---|---:|---:|---:|"]
    worst_ratio = 0.0
    for option_type in ("call", "put"):
        for name in ("am_price", "am_greeks"):
            before = median_core(core, f"before/{name}/{option_type}")
            after = median_core(core, f"{name}/{option_type}")
            ratio = 1.0 if name == "am_price" else median_core(core, f"am_greeks_in_prices/{option_type}")
            if name == "am_greeks":
                worst_ratio = max(worst_ratio, ratio)
            lines.append(f"| `{name}` | {option_type} | {before:.0f} | {after:.0f} | {ratio:.2f} |")
    return "\n".join(lines), worst_ratio


def lanes_table(baseline, commit, core, path):
    """am_price and am_greeks per Python call, before (the baseline module)
    and after (this one), in alternating batches; the ratio is the median of
    the rounds' ratios. Beside them the core on the scalar path and on the
    path this machine takes."""
    lines = [f"Path of the normal distribution on this machine: {path}. Before: the module at {commit}.", "",
             "| function | type | before (ns) | after (ns) | after / before | target | core, scalar path (ns) "
             f"| core, {path} path (ns) |",
             "|---|---|---:|---:|---:|---:|---:|---:|"]
    verdicts = []
    for name in LANES_TARGETS:
        for option_type in ("call", "put"):
            before, after = batch_samples(timers_for([getattr(baseline, name), getattr(velarix, name)],
                                                     arguments_of(name, option_type)))
            ratio = statistics.median(a / b for a, b in zip(after, before))
            target = LANES_TARGETS[name]
            scalar = median_core(core, f"path/scalar/{name}/{option_type}")
            active = median_core(core, f"path/{path}/{name}/{option_type}")
            lines.append(f"| `{name}` | {option_type} | {statistics.median(before) * 1e9:.0f} "
                         f"| {statistics.median(after) * 1e9:.0f} | {ratio:.2f} | {target:.2f} | {scalar:.0f} "
                         f"| {active:.0f} |")
            verdicts.append(f"- `{name}` {option_type} at most {target:.2f} of the time before, per Python call: "
                            f"{ratio:.2f}, {'met' if ratio <= target else 'not met'}")
    return "\n".join(lines), verdicts


ALLOCATION_PROBE = """
import ctypes, importlib.util, itertools, sys
import velarix
spec = importlib.util.spec_from_file_location("velarix_floor", sys.argv[1])
floor = importlib.util.module_from_spec(spec)
spec.loader.exec_module(floor)
count = ctypes.CDLL(None).velarix_allocation_count
calls = int(sys.argv[2])
arguments = (100.0, 95.0, 0.75, 0.06, 0.3, 0.04, "PuT")
def per_call(function, arguments):
    for _ in itertools.repeat(None, 1000):
        function(*arguments)
    before = count()
    for _ in itertools.repeat(None, calls):
        function(*arguments)
    return (count() - before) / calls
print(per_call(floor.empty, arguments))
for name in velarix.__all__:
    if callable(getattr(velarix, name)) and name != "PyGreeks":
        function = getattr(velarix, name)
        given = arguments[:6] if name in ("bs_gamma", "bs_vega") else arguments
        print(name, per_call(function, given))
"""


def allocation_table(directory):
    """Heap allocations per call beyond the floor's, counted by preloading the
    counter into an interpreter that sends every allocation to malloc."""
    counter = directory / "libcount_allocations.so"
    floor_path = next(directory.glob("velarix_floor*.so"))
    environment = dict(os.environ, LD_PRELOAD=str(counter), PYTHONMALLOC="malloc")
    output = run([sys.executable, "-c", ALLOCATION_PROBE, str(floor_path), str(ALLOCATION_CALLS)],
                 stdout=subprocess.PIPE, env=environment).stdout.split("\n")
    floor_count = float(output[0])
    lines = ["| function | heap allocations per call, beyond the floor's | expected |", "|---|---:|---:|"]
    all_as_expected = True
    for line in filter(None, output[1:]):
        name, count = line.split()
        extra = float(count) - floor_count
        expected = 1 if name.endswith("_greeks") else 0
        all_as_expected &= math.isclose(extra, expected, abs_tol=1e-3)
        lines.append(f"| `{name}` | {extra:.3f} | {expected} |")
    return "\n".join(lines), all_as_expected


def write_block(page, markers, text):
    """Replaces the text between a page's two marker lines (the generated
    block every benchmark writes with --update-docs)."""
    start, end = (re.escape(marker) for marker in markers)
    pattern = re.compile(f"{start}\n.*?{end}", re.DOTALL)
    content = page.read_text()
    if not pattern.search(content):
        raise SystemExit(f"docs/{page.name} has no block between {markers[0]} and {markers[1]}")
    page.write_text(pattern.sub(lambda _: f"{markers[0]}\n{text}\n{markers[1]}", content))


def update_page(text):
    write_block(PAGE, MARKERS, text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--update-docs", action="store_true", help="write the tables into docs/SPEED.md")
    parser.add_argument("--baseline", default="main",
                        help="the revision to time the American core against (default: main)")
    arguments = parser.parse_args()

    directory = build_native_parts()
    baseline, commit = build_baseline(arguments.baseline)
    # One core for every measurement, this process's and the core benchmark's:
    # no migrations between caches in the middle of a batch.
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {max(os.sched_getaffinity(0))})
    floor = load_floor(directory)
    core, path = core_times(directory)
    binding, (worst_binding, worst_reading), python_times = binding_table(floor, core)
    shared, worst_ratio = shared_terms_table(core)
    lanes, lanes_verdicts = lanes_table(baseline, commit, core, path)
    allocations, allocations_as_expected = allocation_table(directory)
    sections = [
        f"Machine: {machine()}.",
        f"Inputs: s={S:g}, k={K:g}, t={T:g}, r={R:g}, sigma={SIGMA:g}, q={Q:g}, positional arguments.",
        "## Each function against its floor and its core\n\n" + binding,
        "## Peers on the same inputs\n\n" + peer_table(python_times),
        "## Shared terms in the American core\n\n" + shared,
        "## The American core with its normal distributions in SIMD lanes\n\n" + lanes,
        "## Heap allocations\n\n" + allocations,
        "## Targets\n\n" + "\n".join([
            f"- binding cost of every `bs_*` function at most {BINDING_TARGET_NS:g} ns: "
            f"worst {worst_binding:.1f} ns, of which {worst_reading:.1f} ns reading the arguments; "
            f"{'met' if worst_binding <= BINDING_TARGET_NS else 'not met'}",
            f"- `am_greeks` at most {GREEKS_TARGET_PRICES:g} prices: worst {worst_ratio:.2f}, "
            f"{'met' if worst_ratio <= GREEKS_TARGET_PRICES else 'not met'}",
            "- nothing allocated on success but the result: "
            f"{'met' if allocations_as_expected else 'not met'}",
            *lanes_verdicts,
        ]),
    ]
    text = "\n\n".join(sections)
    print(text)
    if arguments.update_docs:
        update_page(text)


if __name__ == "__main__":
    main()
