"""velarix_batch.implied_volatility measured beside its peers, one process,
on one core of this machine: accuracy, speed and the American inversion,
each against the target it was built for.

- European accuracy: calls and puts with S = 100, |ln(K/F)| <= 1.2, T from
  2 days to 5 years, sigma from 0.02 to 2 (both log-uniform), r and q in
  [-2%, 8%]; 20,000 drawn with a fixed seed and the 96 corners of that box.
  Prices from mpmath at 50 digits (Black-Scholes with a dividend yield),
  rounded to double; kept where a volatility gives that double: above the
  discounted forward intrinsic value, below the upper limit (S e^-qT for a
  call, K e^-rT for a put), time value above 1e-12 of the price, price and
  vega normal doubles. The references are cached in
  benchmarks/accuracy_cache/implied_volatility.csv, keyed by the options.
  Error |sigma_hat - sigma| against 1e-13 sigma + 4uP/vega (the target;
  u = 2^-53, P the full price, vega = dP/dsigma), and in units of
  tol = max(4uP/vega, 2u sigma), the most a price rounded to double
  determines; beside velarix, py_vollib_vectorized and QuantLib.
- Speed on one thread: velarix_batch (threads=1) and py_vollib_vectorized
  on a book of 100,000 of those options in one call each; QuantLib's
  blackFormulaImpliedStdDev and blackFormulaImpliedStdDevLiRS (accuracy
  1e-12, at most 100 iterations) one option per call in a Python loop over
  20,000 of them, with the loop's own cost (the same loop calling QuantLib's
  two-argument close_enough) beside them and subtracted.
- American: calls and puts on a grid (strike 100, spot 80-120, 37 days to
  3 years, sigma 0.1-0.6, r 2-8%, q 0-6%) priced by
  velarix_batch.american_price and inverted with exercise="american" at the
  same accuracy (fast on the grid, accurate on every sixth option); errors
  where vega >= 0.01 and the price exceeds the exercise value. QuantLib's
  VanillaOption.impliedVolatility (its finite-difference Black-Scholes
  engine, its default accuracy 1e-4) on 40 of them.

    python3 -m venv build/venv-bench
    build/venv-bench/bin/python -m pip install ".[bench]" py_vollib_vectorized==0.1.1 \\
        py_vollib==1.0.1 py_lets_be_rational==1.0.1
    build/venv-bench/bin/python benchmarks/implied_volatility.py [--update-docs]

Both pins are needed: py_vollib_vectorized requires py_lets_be_rational
without a version and py_vollib >= 1.0.1. Unpinned, pip takes
py_lets_be_rational 1.1.2 and py_vollib 1.0.12, whose dependency
lets_be_rational 1.1.2 writes plain Python functions over
py_lets_be_rational's files, and the first call fails in numba ("Untyped
global name 'normalised_black_call'"). --update-docs writes the tables into
docs/ACCURACY.md and docs/SPEED.md. Times are medians of interleaved rounds
on a shared two-core machine.
"""
import argparse
import hashlib
import itertools
import math
import os
import statistics
import sys
import time

import mpmath
import numpy as np
import velarix_batch as vb

from run import ROOT, machine, quantlib_market, write_block

U = 2.0 ** -53
SEED = 20260115
RANDOM_OPTIONS = 20_000
DIGITS = 50
BOOK = 100_000
QUANTLIB_SLICE = 20_000
ROUNDS = 5
CACHE = ROOT / "benchmarks" / "accuracy_cache" / "implied_volatility.csv"
PAGES = {ROOT / "docs" / "ACCURACY.md": ("<!-- implied volatility accuracy: start -->",
                                         "<!-- implied volatility accuracy: end -->"),
         ROOT / "docs" / "SPEED.md": ("<!-- implied volatility speed: start -->",
                                      "<!-- implied volatility speed: end -->")}
COLUMNS = ("s", "k", "t", "r", "q", "sigma")

# The American grid: every combination, calls and puts, strike 100.
DAYS = (37, 91, 182, 365, 730, 1095)
SPOTS = (80.0, 90.0, 100.0, 110.0, 120.0)
VOLATILITIES = (0.1, 0.2, 0.3, 0.45, 0.6)
RATES = (0.02, 0.05, 0.08)
YIELDS = (0.0, 0.03, 0.06)
ACCURATE_EVERY = 6
QUANTLIB_AMERICAN = 40
AMERICAN_TARGET = 1e-8


def european_options():
    """The random options and the corners of their box, as columns, with
    `call` true for a call. K = F e^x for the drawn log-moneyness x."""
    rng = np.random.default_rng(SEED)
    n = RANDOM_OPTIONS
    t = np.exp(rng.uniform(math.log(2 / 365), math.log(5.0), n))
    sigma = np.exp(rng.uniform(math.log(0.02), math.log(2.0), n))
    r, q = rng.uniform(-0.02, 0.08, (2, n))
    x = rng.uniform(-1.2, 1.2, n)
    call = rng.random(n) < 0.5
    corners = np.array(list(itertools.product((2 / 365, 5.0), (0.02, 2.0), (-0.02, 0.08), (-0.02, 0.08),
                                              (-1.2, 0.0, 1.2), (1.0, 0.0)))).T
    t, sigma, r, q, x = (np.concatenate([drawn, corner]) for drawn, corner in zip((t, sigma, r, q, x), corners))
    return dict(s=np.full(len(t), 100.0), k=100.0 * np.exp((r - q) * t + x), t=t, r=r, q=q, sigma=sigma,
                call=np.concatenate([call, corners[5] == 1.0]))


def reference(s, k, t, r, q, sigma, call):
    """The price rounded to double and P/vega, from mpmath; None where no
    volatility gives that double or the linearised bound means nothing."""
    with mpmath.workdps(DIGITS):
        s, k, t, r, q, sigma = (mpmath.mpf(float(v)) for v in (s, k, t, r, q, sigma))
        forward, discount, deviation = s * mpmath.exp((r - q) * t), mpmath.exp(-r * t), sigma * mpmath.sqrt(t)
        d1 = mpmath.log(forward / k) / deviation + deviation / 2
        d2 = d1 - deviation
        if call:
            price = discount * (forward * mpmath.ncdf(d1) - k * mpmath.ncdf(d2))
            intrinsic, upper = discount * max(forward - k, 0), discount * forward
        else:
            price = discount * (k * mpmath.ncdf(-d2) - forward * mpmath.ncdf(-d1))
            intrinsic, upper = discount * max(k - forward, 0), discount * k
        vega = discount * forward * mpmath.npdf(d1) * mpmath.sqrt(t)
        rounded = float(price)
        if (intrinsic < rounded < upper and price - intrinsic > 1e-12 * price
                and min(rounded, vega) >= sys.float_info.min):
            return rounded, float(price / vega)
        return None


def references(options):
    """Per option the double price and P/vega (NaN where not attainable),
    from the cache when it was written for these options."""
    digest = hashlib.sha256(str(DIGITS).encode())
    for name in (*COLUMNS, "call"):
        digest.update(np.ascontiguousarray(options[name]).tobytes())
    key = f"# options {digest.hexdigest()[:16]}, mpmath at {DIGITS} digits; price,price/vega (empty: unattainable)"
    lines = CACHE.read_text().splitlines() if CACHE.exists() else []
    if not lines or lines[0] != key:
        print(f"computing the references with mpmath into {CACHE.relative_to(ROOT)} (seconds)", file=sys.stderr)
        rows = [reference(*values) for values in zip(*(options[name] for name in (*COLUMNS, "call")))]
        lines = [key] + [f"{row[0]!r},{row[1]:.3e}" if row else "" for row in rows]
        CACHE.write_text("\n".join(lines) + "\n")
    values = np.array([[float(v) for v in line.split(",")] if line else [math.nan, math.nan] for line in lines[1:]])
    return values[:, 0], values[:, 1]


def interleaved_seconds(functions, rounds=ROUNDS):
    """Median seconds of each function over rounds that run them in turn,
    so that a slow spell of the machine hits them alike; after a warm-up."""
    for function in functions.values():
        function()
    times = {name: [] for name in functions}
    for _ in range(rounds):
        for name, function in functions.items():
            start = time.perf_counter()
            function()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(seconds) for name, seconds in times.items()}


# A solver takes the columns (price, s, k, t, r, q, call) and returns a
# function of no arguments that computes their volatilities: the conversion
# of the inputs into what each solver takes stays out of its timing.

def py_vollib_vectorized():
    """py_vollib_vectorized's vectorized_implied_volatility on arrays, or
    None (with the reason printed) when it is missing or its first call fails."""
    try:
        from py_vollib_vectorized import vectorized_implied_volatility
        vectorized_implied_volatility(10.0, 100.0, 100.0, 1.0, 0.05, "c", q=0.0, model="black_scholes_merton",
                                      return_as="numpy")
    except Exception as error:  # a failed compilation in numba raises its own error types
        print(f"py_vollib_vectorized unavailable ({type(error).__name__}: {str(error).splitlines()[0]}); "
              "install it with the pins in this script's header")
        return None

    def prepare(price, s, k, t, r, q, call):
        flags = np.where(call, "c", "p")
        return lambda: vectorized_implied_volatility(price, s, k, t, r, flags, q=q, model="black_scholes_merton",
                                                     return_as="numpy", on_error="ignore")
    return prepare


def quantlib_solvers():
    """QuantLib's Black-formula inversions one option per call in a Python
    loop (NaN where it throws), and the same loop calling close_enough;
    {} without QuantLib."""
    try:
        import QuantLib as ql
    except ImportError:
        return {}

    def loop(call_one):
        def prepare(price, s, k, t, r, q, call):
            forward, discount = s * np.exp((r - q) * t), np.exp(-r * t)
            kinds = np.where(call, ql.Option.Call, ql.Option.Put).tolist()
            rows = list(zip(kinds, k.tolist(), forward.tolist(), price.tolist(), discount.tolist()))
            root_t = np.sqrt(t)

            def solve():
                out = np.empty(len(rows))
                for i, row in enumerate(rows):
                    try:
                        out[i] = call_one(*row)
                    except RuntimeError:
                        out[i] = math.nan
                return out / root_t
            return solve
        return prepare

    null = ql.nullDouble()
    return {"QuantLib blackFormulaImpliedStdDev":
            loop(lambda *row: ql.blackFormulaImpliedStdDev(*row, 0.0, null, 1e-12, 100)),
            "QuantLib blackFormulaImpliedStdDevLiRS":
            loop(lambda *row: ql.blackFormulaImpliedStdDevLiRS(*row, 0.0, null, 1.0, 1e-12, 100)),
            "Python loop + QuantLib close_enough": loop(lambda kind, k, forward, *_: ql.close_enough(k, forward))}


def velarix(price, s, k, t, r, q, call):
    types = np.where(call, "call", "put")
    return lambda: vb.implied_volatility(price, s, k, t, r, q, types, threads=1)


def reason_lines(reason, label):
    codes, counts = np.unique(reason[reason != 0], return_counts=True)
    return [f"- {label}: {count} not solved: {vb.IMPLIED_VOLATILITY_REASONS[code]}"
            for code, count in zip(codes, counts)] or [f"- {label}: every option solved"]


def european_accuracy(options, price, price_over_vega, solvers):
    """The error table of every solver on the attainable options, and the
    figures of the targets (worst error over the target, options over it,
    NaNs) for velarix."""
    kept = np.isfinite(price)
    columns = [price[kept]] + [options[name][kept] for name in ("s", "k", "t", "r", "q", "call")]
    sigma, ratio = options["sigma"][kept], price_over_vega[kept]
    target, tol = 1e-13 * sigma + 4 * U * ratio, np.maximum(4 * U * ratio, 2 * U * sigma)
    lines = [f"{kept.sum()} of {len(price)} options attainable; tol = max(4uP/vega, 2u sigma).", "",
             "Errors over the options each solver gives a positive volatility.", "",
             "| solver | NaN | zero | worst err/tol | 99th percentile err/tol | over 1e-13 sigma + 4uP/vega "
             "| worst error over the target | worst abs error |", "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for name, prepare in solvers.items():
        found = prepare(*columns)()
        positive = found > 0
        error = np.abs(found - sigma)[positive]
        over = error / target[positive]
        scaled = error / tol[positive]
        zero = (found == 0).sum()
        lines.append(f"| {name} | {np.isnan(found).sum()} | {zero} | {scaled.max():.3g} "
                     f"| {np.percentile(scaled, 99):.3g} | {(over > 1).sum()} | {over.max():.3g} | {error.max():.1e} |")
        if name == "velarix_batch":
            figures = over.max(), (over > 1).sum() + zero, np.isnan(found).sum()
    _, reason = vb.implied_volatility(*columns[:6], np.where(columns[6], "call", "put"), reasons=True, threads=1)
    return lines + [""] + reason_lines(reason, "velarix_batch, attainable European prices"), figures


def european_speed(options, price, solvers):
    """Nanoseconds per option of every solver on one book, and the table."""
    kept = np.flatnonzero(np.isfinite(price))
    rows = np.random.default_rng(SEED + 1).choice(kept, BOOK)
    columns = [price[rows]] + [options[name][rows] for name in ("s", "k", "t", "r", "q", "call")]
    sliced = [column[:QUANTLIB_SLICE] for column in columns]
    sizes = {name: QUANTLIB_SLICE if "QuantLib" in name else BOOK for name in solvers}
    seconds = interleaved_seconds({name: prepare(*(sliced if sizes[name] < BOOK else columns))
                                   for name, prepare in solvers.items()})
    ns = {name: seconds[name] / sizes[name] * 1e9 for name in solvers}
    loop = ns.pop("Python loop + QuantLib close_enough", None)
    lines = [f"One thread; {BOOK:,} options in one call, QuantLib one option per call over {QUANTLIB_SLICE:,}.", "",
             "| solver | ns per option | less the loop's | times velarix_batch |", "|---|---:|---:|---:|"]
    for name, value in ns.items():
        net = f"{value - loop:.0f}" if loop is not None and "QuantLib" in name else ""
        lines.append(f"| {name} | {value:.0f} | {net} | {value / ns['velarix_batch']:.1f} |")
    if loop is not None:
        lines.append(f"| Python loop + QuantLib close_enough | {loop:.0f} | | |")
    return lines, ns


def american_grid():
    rows = list(itertools.product(SPOTS, DAYS, RATES, YIELDS, VOLATILITIES, (True, False)))
    s, days, r, q, sigma, call = (np.array(column) for column in zip(*rows))
    return dict(s=s, k=np.full(len(s), 100.0), t=days / 365.0, r=r, q=q, sigma=sigma), call, days


def american_setting(book, call, accuracy):
    """Prices of the book at one accuracy setting, inverted at the same one:
    the prices, the measured options, their errors, the reasons and the
    seconds per measured option (the others, mostly at the exercise value,
    take less)."""
    types = np.where(call, "call", "put")
    price = vb.american_price(**book, option_type=types, accuracy=accuracy, threads=1)
    vega = vb.american_greeks(**book, option_type=types, accuracy=accuracy, threads=1).vega
    measured = (vega >= 0.01) & (price > np.maximum(np.where(call, 1.0, -1.0) * (book["s"] - book["k"]), 0.0))
    arguments = (price, *(book[name] for name in ("s", "k", "t", "r", "q")), types)
    sigma, reason = vb.implied_volatility(*arguments, exercise="american", accuracy=accuracy, reasons=True,
                                          threads=1)
    timed = [column[measured] for column in arguments]
    seconds = interleaved_seconds({accuracy: lambda: vb.implied_volatility(
        *timed, exercise="american", accuracy=accuracy, threads=1)})[accuracy]
    return price, measured, np.abs(sigma - book["sigma"])[measured], reason, seconds / measured.sum()


def quantlib_american(book, call, days, price, rows):
    """QuantLib's American implied volatility of the chosen options: the
    volatilities (NaN where it throws) and the seconds per option."""
    market = quantlib_market(100.0, 0.05, 0.0, 0.2)
    if market is None:
        return None, math.nan
    ql, today, (spot, rate, dividend, _), process = market
    found = np.empty(len(rows))
    start = time.perf_counter()
    for j, i in enumerate(rows):
        spot.setValue(book["s"][i])
        rate.setValue(book["r"][i])
        dividend.setValue(book["q"][i])
        option = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Call if call[i] else ql.Option.Put, 100.0),
                                  ql.AmericanExercise(today, today + int(days[i])))
        try:
            found[j] = option.impliedVolatility(price[i], process)
        except RuntimeError:
            found[j] = math.nan
    return found, (time.perf_counter() - start) / len(rows)


def american(rng):
    """The American accuracy and speed tables and the figures of the targets."""
    book, call, days = american_grid()
    lines = [f"Grid of {len(call)} calls and puts; errors where vega >= 0.01 and the price exceeds the exercise "
             "value.", "", "| setting | options | measured | worst error | over 1e-8 | NaN among measured |",
             "|---|---:|---:|---:|---:|---:|"]
    speed = ["", "| American implied volatility, one thread | us per option | times the fast setting |",
             "|---|---:|---:|"]
    figures, reasons = {}, []
    for accuracy, rows in (("fast", np.arange(len(call))), ("accurate", np.arange(0, len(call), ACCURATE_EVERY))):
        subset = {name: column[rows] for name, column in book.items()}
        price, measured, error, reason, seconds = american_setting(subset, call[rows], accuracy)
        finite = error[np.isfinite(error)]
        worst = finite.max() if finite.size else math.nan
        failures = (finite > AMERICAN_TARGET).sum() + (~np.isfinite(error)).sum()
        lines.append(f"| {accuracy} | {len(rows)} | {measured.sum()} | {worst:.1e} | {(finite > AMERICAN_TARGET).sum()} "
                     f"| {(~np.isfinite(error)).sum()} |")
        figures[accuracy] = worst, failures, seconds
        speed.append(f"| velarix_batch, {accuracy} ({measured.sum()} options) | {seconds * 1e6:.1f} "
                     f"| {seconds / figures['fast'][2]:.1f} |")
        reasons += reason_lines(reason, f"{accuracy}, all {len(rows)} options")
        if accuracy == "fast":
            fast_price, fast_measured = price, measured
    chosen = rng.choice(np.flatnonzero(fast_measured), QUANTLIB_AMERICAN, replace=False)
    found, quantlib_seconds = quantlib_american(book, call, days, fast_price, chosen)
    if found is not None:
        failed = ~np.isfinite(found)
        lines += ["", f"QuantLib VanillaOption.impliedVolatility on {len(chosen)} of the measured options (prices of "
                  f"the fast setting): {failed.mean():.0%} failed, worst |sigma - sigma_QL| "
                  f"{np.max(np.abs(found - book['sigma'][chosen])[~failed], initial=0.0):.1e}."]
        speed.append(f"| QuantLib VanillaOption.impliedVolatility ({len(chosen)} options, one per call) "
                     f"| {quantlib_seconds * 1e6:,.0f} | {quantlib_seconds / figures['fast'][2]:,.0f} |")
    return lines + [""] + reasons, speed, figures, quantlib_seconds


def update_pages(texts):
    for (page, markers), text in zip(PAGES.items(), texts):
        write_block(page, markers, text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--update-docs", action="store_true",
                        help="write the tables into docs/ACCURACY.md and docs/SPEED.md")
    arguments = parser.parse_args()
    # One core for every measurement: one thread for every solver, whatever it would start.
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {max(os.sched_getaffinity(0))})

    options = european_options()
    price, price_over_vega = references(options)
    solvers = {"velarix_batch": velarix}
    vollib = py_vollib_vectorized()
    if vollib is not None:
        solvers["py_vollib_vectorized"] = vollib
    solvers.update(quantlib_solvers())
    accuracy_solvers = {name: solve for name, solve in solvers.items() if "close_enough" not in name}
    accuracy_lines, (worst_over, over, nan) = european_accuracy(options, price, price_over_vega, accuracy_solvers)
    speed_lines, ns = european_speed(options, price, solvers)
    american_lines, american_speed, figures, quantlib_seconds = american(np.random.default_rng(SEED + 2))

    # The targets, each with the page it belongs on: ACCURACY.md (0) or SPEED.md (1).
    targets = [(0, f"European: every error within 1e-13 sigma + 4uP/vega: worst {worst_over:.2f} of it, "
                   f"{over} over (zeros included)", over == 0),
               (0, f"European: no NaN on attainable prices: {nan}", nan == 0)]
    if "py_vollib_vectorized" in ns:
        ratio = ns["py_vollib_vectorized"] / ns["velarix_batch"]
        targets.append((1, f"European: {ratio:.1f}x faster than py_vollib_vectorized >= 4x", ratio >= 4.0))
    for accuracy, (worst, failures, _) in figures.items():
        targets.append((0, f"American, {accuracy}: worst error {worst:.1e}, {failures} over 1e-8 or NaN",
                        failures == 0))
    if not math.isnan(quantlib_seconds):
        ratio = quantlib_seconds / figures["fast"][2]
        targets.append((1, f"American: {ratio:,.0f}x faster than QuantLib's impliedVolatility >= 200x",
                        ratio >= 200))
    blocks = [["### European", "", *accuracy_lines, "", "### American", "", *american_lines],
              [f"Machine: {machine()}.", "", *speed_lines, *american_speed]]
    texts = ["\n".join(block) for block in blocks]
    print("\n\n".join(texts) + "\n\ntargets")
    for _, text, met in targets:
        print(f"  {'met    ' if met else 'NOT MET'} {text}")
    if arguments.update_docs:
        update_pages([text + "\n\nTargets:\n\n" + "\n".join(f"- {target}: {'met' if met else 'not met'}"
                                                         for on, target, met in targets if on == page)
                      for page, text in enumerate(texts)])


if __name__ == "__main__":
    main()
