"""The options of the American accuracy report and the reference values
measured on them, with the cache that keeps those values in the repository.

A converged tree over thousands of options takes minutes and QuantLib is not
installed in CI, so the reference values (tree prices and Greeks, QuantLib's
Bjerksund-Stensland prices) are computed once by `accuracy.py --regenerate`
and kept in benchmarks/accuracy_cache/. Everything velarix computes is
recomputed on every run, and `--check` recomputes a seeded sample of the
tree values to show the cache still comes from this tree.
"""
import csv
import hashlib
import itertools
import json
import pathlib

import numpy as np

import lattice
import velarix

CACHE = pathlib.Path(__file__).resolve().parent / "accuracy_cache"
STEPS = 2001
COARSE_STEPS = 1001
ONE_DAY = 1.0 / 365.0
MINIMUM_TIME = 1e-4  # am_theta never prices at less time than this, nor does the tree's theta

# Maturities are whole days, so that QuantLib's day-count dates give the same t.
TYPES = ("call", "put")
SPOTS = (70.0, 80.0, 90.0, 100.0, 110.0, 120.0, 130.0)
STRIKE = 100.0
DAYS = (30, 91, 182, 365, 730, 1095)
RATES = (0.0, 0.02, 0.05, 0.08)
VOLATILITIES = (0.1, 0.2, 0.35, 0.6)
DIVIDENDS = (0.0, 0.01, 0.02, 0.05)

GREEKS_SAMPLE_SEED, GREEKS_SAMPLE_SIZE = 12, 336
CHECK_SAMPLE_SEED, CHECK_SAMPLE_SIZE = 2024, 48
# numpy's exp and log may differ in the last bit between machines; the cache
# keeps ten decimals.
CHECK_TOLERANCE = 1e-8
CHECK_GREEKS_TOLERANCE = 1e-5  # the tree's Greeks divide price differences by bumps of 0.002 to 0.3

# The tree's finite-difference Greeks: bumps large enough for the lattice's
# own noise to stay small against them. The spot step is a fixed fraction of
# the spot's spread at expiry, s sigma sqrt t: a fixed fraction of the spot
# would be too coarse for short, calm options and needlessly fine for long,
# volatile ones.
TREE_SPOT_STEP = 0.015
TREE_VOLATILITY_STEP = 0.01
TREE_RATE_STEP = 0.001

# The random options searched for prices below the European price.
RANDOM_SEED, RANDOM_COUNT = 7, 100000
# Random options at low volatility, where the early-exercise formula's value
# can exceed the perpetual call's: volatility 1% to 12%, spot 20 to 300, the
# strike within a factor e^0.8 of the spot, 0.05 to 5 years, rate -2% to 12%,
# dividend yield -2% to 15%.
LOW_VOLATILITY_SEED, LOW_VOLATILITY_COUNT = 23, 300000

# The at-the-money put drawn across the spot.
LINE_OPTION = dict(k=100.0, t=1.0, r=0.05, sigma=0.2, q=0.0)
LINE_SPOTS = tuple(60.0 + 0.5 * i for i in range(161))


class Options:
    """Options as numpy columns: is_call, s, k, t, r, sigma, q."""

    def __init__(self, is_call, s, k, t, r, sigma, q):
        self.is_call = np.asarray(is_call, dtype=bool)
        self.s, self.k, self.t, self.r, self.sigma, self.q = (
            np.asarray(column, dtype=float) for column in (s, k, t, r, sigma, q))

    def __len__(self):
        return len(self.is_call)

    def columns(self):
        return self.is_call, self.s, self.k, self.t, self.r, self.sigma, self.q

    def subset(self, rows):
        return Options(*(column[rows] for column in self.columns()))

    def replaced(self, **changes):
        columns = dict(zip(("is_call", "s", "k", "t", "r", "sigma", "q"), self.columns()))
        columns.update(changes)
        return Options(**columns)

    def priced_by(self, function):
        """One velarix function over the options."""
        return np.array([function(s, k, t, r, sigma, q, "call" if is_call else "put")
                         for is_call, s, k, t, r, sigma, q in zip(*self.columns())])

    def european(self):
        return lattice.european_prices(*self.columns())

    def exercise_value(self):
        return np.maximum(np.where(self.is_call, self.s - self.k, self.k - self.s), 0.0)

    def tree(self, steps=STEPS, american=True):
        return lattice.tree_prices(*self.columns(), steps, american)


def grid():
    rows = list(itertools.product(TYPES, SPOTS, DAYS, RATES, VOLATILITIES, DIVIDENDS))
    option_type, s, days, r, sigma, q = zip(*rows)
    return Options(np.array(option_type) == "call", s, np.full(len(rows), STRIKE),
                   np.array(days) / 365.0, r, sigma, q)


def greeks_sample(options):
    rows = np.random.default_rng(GREEKS_SAMPLE_SEED).choice(len(options), GREEKS_SAMPLE_SIZE, replace=False)
    return np.sort(rows)


def check_sample(options):
    rows = np.random.default_rng(CHECK_SAMPLE_SEED).choice(len(options), CHECK_SAMPLE_SIZE, replace=False)
    return np.sort(rows)


def random_options():
    """Wider than the grid, with any strike, to find the worst cases."""
    rng = np.random.default_rng(RANDOM_SEED)
    n = RANDOM_COUNT
    return Options(rng.random(n) < 0.5, rng.uniform(50.0, 150.0, n), rng.uniform(50.0, 150.0, n),
                   rng.uniform(0.02, 3.0, n), rng.uniform(0.0, 0.1, n), rng.uniform(0.05, 0.8, n),
                   rng.uniform(0.0, 0.1, n))


def low_volatility_options():
    rng = np.random.default_rng(LOW_VOLATILITY_SEED)
    n = LOW_VOLATILITY_COUNT
    s = rng.uniform(20.0, 300.0, n)
    return Options(rng.random(n) < 0.5, s, s * np.exp(rng.uniform(-0.8, 0.8, n)), rng.uniform(0.05, 5.0, n),
                   rng.uniform(-0.02, 0.12, n), rng.uniform(0.01, 0.12, n), rng.uniform(-0.02, 0.15, n))


def line_options():
    n = len(LINE_SPOTS)
    o = LINE_OPTION
    return Options(np.zeros(n, dtype=bool), LINE_SPOTS, np.full(n, o["k"]), np.full(n, o["t"]),
                   np.full(n, o["r"]), np.full(n, o["sigma"]), np.full(n, o["q"]))


def tree_greeks(options):
    """Delta, gamma, theta, vega, rho of the tree, in velarix's units: theta
    is the one-day change, vega per 1.00 of volatility, rho per point."""
    h = TREE_SPOT_STEP * options.s * options.sigma * np.sqrt(options.t)
    centre = options.tree()
    spot_up = options.replaced(s=options.s + h).tree()
    spot_down = options.replaced(s=options.s - h).tree()
    day_later = options.replaced(t=np.maximum(options.t - ONE_DAY, MINIMUM_TIME)).tree()
    vol_up = options.replaced(sigma=options.sigma + TREE_VOLATILITY_STEP).tree()
    vol_down = options.replaced(sigma=options.sigma - TREE_VOLATILITY_STEP).tree()
    rate_up = options.replaced(r=options.r + TREE_RATE_STEP).tree()
    rate_down = options.replaced(r=options.r - TREE_RATE_STEP).tree()
    return {
        "delta": (spot_up - spot_down) / (2.0 * h),
        "gamma": (spot_up - 2.0 * centre + spot_down) / (h * h),
        "theta": day_later - centre,
        "vega": (vol_up - vol_down) / (2.0 * TREE_VOLATILITY_STEP),
        "rho": (rate_up - rate_down) / (2.0 * TREE_RATE_STEP) / 100.0,
    }


def quantlib_prices(options):
    """QuantLib's BjerksundStenslandApproximationEngine, as a black box."""
    import QuantLib as ql

    today = ql.Date(1, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    day_count = ql.Actual365Fixed()
    spot = ql.SimpleQuote(0.0)
    rate = ql.SimpleQuote(0.0)
    dividend = ql.SimpleQuote(0.0)
    volatility = ql.SimpleQuote(0.0)
    process = ql.BlackScholesMertonProcess(
        ql.QuoteHandle(spot),
        ql.YieldTermStructureHandle(ql.FlatForward(today, ql.QuoteHandle(dividend), day_count)),
        ql.YieldTermStructureHandle(ql.FlatForward(today, ql.QuoteHandle(rate), day_count)),
        ql.BlackVolTermStructureHandle(ql.BlackConstantVol(today, ql.NullCalendar(),
                                                           ql.QuoteHandle(volatility), day_count)))
    engine = ql.BjerksundStenslandApproximationEngine(process)
    prices = np.empty(len(options))
    for row, (is_call, s, k, t, r, sigma, q) in enumerate(zip(*options.columns())):
        spot.setValue(s)
        rate.setValue(r)
        dividend.setValue(q)
        volatility.setValue(sigma)
        maturity = today + int(round(t * 365.0))
        payoff = ql.PlainVanillaPayoff(ql.Option.Call if is_call else ql.Option.Put, k)
        option = ql.VanillaOption(payoff, ql.AmericanExercise(today, maturity))
        option.setPricingEngine(engine)
        prices[row] = option.NPV()
    return prices


def options_fingerprint(options):
    """Identifies the options a cache was computed for."""
    text = "\n".join(repr(tuple(float(value) for value in row)) for row in zip(*options.columns()))
    return hashlib.sha256(text.encode()).hexdigest()[:16]


# --- the cache -------------------------------------------------------------

GRID_COLUMNS = ("tree", "tree_coarse", "tree_european", "tree_day_later", "quantlib")
GREEKS_COLUMNS = ("delta", "gamma", "theta", "vega", "rho")
LINE_COLUMNS = ("tree", "tree_delta", "tree_gamma")


def measure_references():
    """The slow part: every reference value, from the tree and QuantLib."""
    import QuantLib as ql

    options = grid()
    day_later = options.replaced(t=options.t - ONE_DAY)
    grid_values = {
        "tree": options.tree(),
        "tree_coarse": options.tree(COARSE_STEPS),
        "tree_european": options.tree(american=False),
        "tree_day_later": day_later.tree(),
        "quantlib": quantlib_prices(options),
    }
    greeks = tree_greeks(options.subset(greeks_sample(options)))
    line = line_options()
    line_greeks = tree_greeks(line)
    line_values = {"tree": line.tree(), "tree_delta": line_greeks["delta"], "tree_gamma": line_greeks["gamma"]}
    meta = {
        "steps": STEPS, "coarse_steps": COARSE_STEPS, "grid": options_fingerprint(options),
        "line": options_fingerprint(line), "numpy": np.__version__, "QuantLib": ql.__version__,
    }
    return meta, grid_values, greeks, line_values


def write_cache(meta, grid_values, greeks, line_values):
    CACHE.mkdir(exist_ok=True)
    (CACHE / "meta.json").write_text(json.dumps(meta, indent=1, sort_keys=True) + "\n")
    _write_columns(CACHE / "grid.csv", grid_values, GRID_COLUMNS)
    _write_columns(CACHE / "greeks.csv", greeks, GREEKS_COLUMNS)
    _write_columns(CACHE / "line.csv", line_values, LINE_COLUMNS)


# am_price before it was bounded by the perpetual call: on each random set, the
# rows where it exceeded the bound and its values there. Recorded once, with a
# module built before the bound, by `accuracy.py --record-unbounded`.
UNBOUNDED = CACHE / "unbounded.json"


def write_unbounded(values):
    UNBOUNDED.write_text(json.dumps(values, indent=1, sort_keys=True) + "\n")


def read_unbounded():
    return json.loads(UNBOUNDED.read_text())


def read_cache():
    meta = json.loads((CACHE / "meta.json").read_text())
    return (meta, _read_columns(CACHE / "grid.csv"), _read_columns(CACHE / "greeks.csv"),
            _read_columns(CACHE / "line.csv"))


def cache_digest():
    """SHA-256 of the cache's files, for docs/ACCURACY.md to name the cache it was written from."""
    digest = hashlib.sha256()
    for name in ("meta.json", "grid.csv", "greeks.csv", "line.csv"):
        digest.update((CACHE / name).read_bytes())
    return digest.hexdigest()[:16]


def _write_columns(path, values, names):
    with path.open("w", newline="") as file:
        writer = csv.writer(file, lineterminator="\n")
        writer.writerow(names)
        for row in zip(*(values[name] for name in names)):
            writer.writerow(f"{value:.10f}" for value in row)


def _read_columns(path):
    with path.open(newline="") as file:
        reader = csv.reader(file)
        names = next(reader)
        rows = np.array([[float(value) for value in row] for row in reader])
    return {name: rows[:, column] for column, name in enumerate(names)}


def recheck_cache(meta, grid_values, greeks):
    """Recomputes a seeded sample of the cached tree values; returns the
    problems found, empty if the cache comes from this grid and this tree."""
    options = grid()
    problems = []
    if meta["grid"] != options_fingerprint(options) or meta["line"] != options_fingerprint(line_options()):
        problems.append("the cache was computed for other options than the script's grid or line")
    if (meta["steps"], meta["coarse_steps"]) != (STEPS, COARSE_STEPS):
        problems.append("the cache was computed with other step counts")
    if problems:
        return problems
    rows = check_sample(options)
    sample = options.subset(rows)
    recomputed = {
        "tree": sample.tree(),
        "tree_coarse": sample.tree(COARSE_STEPS),
        "tree_european": sample.tree(american=False),
        "tree_day_later": sample.replaced(t=sample.t - ONE_DAY).tree(),
    }
    greek_rows = greeks_sample(options)[:4]
    recomputed_greeks = tree_greeks(options.subset(greek_rows))
    for name, values in recomputed.items():
        worst = np.max(np.abs(values - grid_values[name][rows]))
        if not worst <= CHECK_TOLERANCE:
            problems.append(f"cached {name} differs from the tree by {worst:.3g} on the check sample")
    for name, values in recomputed_greeks.items():
        worst = np.max(np.abs(values - greeks[name][:4]))
        if not worst <= CHECK_GREEKS_TOLERANCE:
            problems.append(f"cached tree {name} differs from the tree by {worst:.3g} on the check sample")
    return problems
