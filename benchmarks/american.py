"""The accurate American engine of velarix_batch measured beside QuantLib,
one process, on this machine: accuracy, speed, Greeks and threads, each
against the targets it was built for.

- Accuracy on the standard grid of American puts (strike 100; spot 25-200;
  30-365 days; r 2-10%; q 0-12%; sigma 10-60%; the 4,495 of 6,000 worth at
  least 0.5), against the engine at fine settings (benchmarks/
  american_reference.cpp, within 1e-8 of the published high-precision
  values): RMS and worst error of american_price (fast and accurate),
  QuantLib's QdFp engine (fast and accurate schemes) and its
  Bjerksund-Stensland engine, and velarix's am_price.
- Speed per option on one thread: velarix_batch over the grid as one
  array; QuantLib one option per call from Python.
- american_greeks: its cost against american_price's, and each Greek
  against central differences of the fine reference on a sample.
- Five sets off the grid (calls on dividend payers, short and long
  maturities, low and high volatilities): worst errors of both settings and
  of QuantLib's QdFp engine against the fine settings.
- Two threads against one on a book of 100,000 options.

    python3 -m pip install ".[bench]" && python3 benchmarks/american.py

Figures are medians of interleaved rounds on a shared two-core machine.
"""
import statistics
import subprocess
import time

import numpy as np
import velarix
import velarix_batch as vb

from run import BUILD, ROOT, cmake_build, quantlib_market

DAYS = (30, 91, 182, 273, 365)
SPOTS = (25, 50, 80, 90, 100, 110, 120, 150, 175, 200)
RATES = (0.02, 0.04, 0.06, 0.08, 0.10)
YIELDS = (0.0, 0.04, 0.08, 0.12)
VOLATILITIES = (0.1, 0.2, 0.3, 0.4, 0.5, 0.6)
ROUNDS = 5


def grid():
    rows = [(s, 100.0, d, r, v, q) for s in SPOTS for d in DAYS for r in RATES for q in YIELDS for v in VOLATILITIES]
    s, k, days, r, sigma, q = (np.array(column, dtype=float) for column in zip(*rows))
    return dict(s=s, k=k, t=days / 365.0, r=r, sigma=sigma, q=q), days.astype(int)


def reference(book, put_types, differences=False):
    """The fine-settings engine's prices (and difference Greeks) of a book."""
    cmake_build(ROOT, BUILD, "-DVELARIX_BUILD_BENCHMARKS=ON", target="american_reference")
    columns = [np.broadcast_to(book[name], book["s"].shape).tolist() for name in ("s", "k", "t", "r", "sigma", "q")]
    lines = "".join(" ".join(map(repr, row)) + f" {int(put)}\n" for *row, put in zip(*columns, put_types))
    output = subprocess.run([BUILD / "benchmarks" / "american_reference", *(["--differences"] if differences else [])],
                            input=lines, capture_output=True, text=True, check=True).stdout
    return np.array([[float(x) for x in line.split()] for line in output.splitlines()])


def median_seconds(function, rounds=ROUNDS):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def quantlib_engines(book, days, calls, names=None):
    """Per option: QuantLib's values from its QdFp (fast, accurate) and
    Bjerksund-Stensland engines (or those of `names`), and each engine's
    seconds per option. The book's strike is 100; its times are whole days."""
    market = quantlib_market(100.0, 0.05, 0.0, 0.2)
    if market is None:
        return {}
    ql, today, (spot, rate, dividend, volatility), process = market
    engines = {"QuantLib QdFp fast": lambda: ql.QdFpAmericanEngine(process, ql.QdFpAmericanEngine.fastScheme()),
               "QuantLib QdFp accurate":
                   lambda: ql.QdFpAmericanEngine(process, ql.QdFpAmericanEngine.accurateScheme()),
               "QuantLib Bjerksund-Stensland": lambda: ql.BjerksundStenslandApproximationEngine(process)}
    kinds = {True: ql.Option.Call, False: ql.Option.Put}
    options = {(c, d): ql.VanillaOption(ql.PlainVanillaPayoff(kinds[c], 100.0), ql.AmericanExercise(today, today + d))
               for c, d in set(zip(calls.tolist(), days.tolist()))}
    results = {}
    for name in names or engines:
        engine = engines[name]()
        for option in options.values():
            option.setPricingEngine(engine)
        values = np.empty(len(days))

        def price_all():
            for i, (c, d) in enumerate(zip(calls.tolist(), days.tolist())):
                spot.setValue(book["s"][i])
                rate.setValue(book["r"][i])
                dividend.setValue(book["q"][i])
                volatility.setValue(book["sigma"][i])
                values[i] = options[c, d].NPV()
        seconds = median_seconds(price_all, rounds=1 if "accurate" in name or names else 3)
        results[name] = (values.copy(), seconds / len(days))
    return results


# Sets of 200 random options off the grid, each stressing one regime: name,
# days, and the ranges of spot, r, q and sigma; calls where the name says.
REGIMES = (("calls on dividend payers", (30, 730), (60, 160), (0.0, 0.1), (0.02, 0.12), (0.1, 0.6)),
           ("short maturities, puts", (1, 14), (80, 120), (0.0, 0.1), (0.0, 0.1), (0.1, 0.6)),
           ("long maturities, puts", (1095, 3650), (50, 200), (0.01, 0.1), (0.0, 0.08), (0.1, 0.5)),
           ("low volatilities, puts", (30, 730), (80, 120), (0.01, 0.1), (0.0, 0.1), (0.02, 0.08)),
           ("high volatilities, puts", (30, 730), (50, 200), (0.01, 0.1), (0.0, 0.1), (0.8, 1.5)))


def regimes(rng):
    """The engine on each regime set against its fine settings, beside
    QuantLib's QdFp engine (whose accurate scheme agrees with the reference
    to within its own error, another method's check of it)."""
    print(f"\n{'regime (200 options; worst absolute errors)':44} {'fast':>10} {'accurate':>10}"
          f" {'QL fast':>10} {'QL accurate':>12}")
    for name, day_range, spots, rates, yields, vols in REGIMES:
        calls = np.full(200, name.startswith("calls"))
        days = rng.integers(day_range[0], day_range[1] + 1, 200)
        book = dict(s=rng.uniform(*spots, 200), k=100.0, t=days / 365.0, r=rng.uniform(*rates, 200),
                    sigma=rng.uniform(*vols, 200), q=rng.uniform(*yields, 200))
        types = np.where(calls, "call", "put")
        exact = reference(book, ~calls)[:, 0]
        row = []
        for accuracy in ("fast", "accurate"):
            row.append(np.max(np.abs(vb.american_price(**book, option_type=types, accuracy=accuracy) - exact)))
        peers = quantlib_engines(book, days, calls, names=("QuantLib QdFp fast", "QuantLib QdFp accurate"))
        row += [np.max(np.abs(peers[n][0] - exact)) if peers else float("nan")
                for n in ("QuantLib QdFp fast", "QuantLib QdFp accurate")]
        print(f"{name:44} {row[0]:10.1e} {row[1]:10.1e} {row[2]:10.1e} {row[3]:12.1e}")


def main():
    book, days = grid()
    puts = np.ones(len(days), dtype=bool)
    exact = reference(book, puts)[:, 0]
    kept = exact >= 0.5
    print(f"grid: {kept.sum()} of {len(days)} puts worth at least 0.5; reference: the engine at fine settings")

    rows = {}
    for accuracy in ("fast", "accurate"):
        values = vb.american_price(**book, option_type="put", accuracy=accuracy, threads=1)
        seconds = median_seconds(lambda: vb.american_price(**book, option_type="put", accuracy=accuracy, threads=1))
        rows[f"velarix_batch.american_price, {accuracy}"] = (values, seconds / len(days))
    rows.update(quantlib_engines(book, days, ~puts))
    am = np.array([velarix.am_price(*(book[n][i] if np.ndim(book[n]) else book[n] for n in ("s", "k", "t", "r", "sigma", "q")),
                                    "put") for i in range(len(days))])
    rows["velarix.am_price (Bjerksund-Stensland as specified)"] = (am, float("nan"))

    print(f"\n{'':54} {'RMS error':>10} {'worst':>10} {'us/option':>10}")
    for name, (values, seconds) in rows.items():
        error = (values - exact)[kept]
        print(f"{name:54} {np.sqrt(np.mean(error ** 2)):10.2e} {np.max(np.abs(error)):10.2e} {seconds * 1e6:10.2f}")

    fast_rms = np.sqrt(np.mean(((rows["velarix_batch.american_price, fast"][0] - exact)[kept]) ** 2))
    fast_worst = np.max(np.abs((rows["velarix_batch.american_price, fast"][0] - exact)[kept]))
    accurate_rms = np.sqrt(np.mean(((rows["velarix_batch.american_price, accurate"][0] - exact)[kept]) ** 2))
    fast_us = rows["velarix_batch.american_price, fast"][1]
    accurate_us = rows["velarix_batch.american_price, accurate"][1]

    # Greeks: cost, and a sample against central differences of the reference.
    greeks_seconds = median_seconds(lambda: vb.american_greeks(**book, option_type="put", threads=1)) / len(days)
    rng = np.random.default_rng(18)
    sample = rng.choice(np.flatnonzero(kept), 200, replace=False)
    sample_book = {n: (v[sample] if np.ndim(v) else np.full(len(sample), v)) for n, v in book.items()}
    differences = reference(sample_book, puts[sample], differences=True)
    greeks = vb.american_greeks(**sample_book, option_type="put", accuracy="accurate", threads=1)
    print(f"\namerican_greeks (fast): {greeks_seconds * 1e6:.2f} us/option, "
          f"{greeks_seconds / fast_us:.2f} times american_price")
    print("accurate Greeks against central differences of the reference, 200 grid puts:")
    worst_relative = 0.0
    for column, field in enumerate(("delta", "gamma", "theta", "vega", "rho"), start=1):
        truth = differences[:, column]
        error = np.abs(getattr(greeks, field) - truth)
        floor = 1e-4 * np.max(np.abs(truth))
        relative = np.max(error / np.maximum(np.abs(truth), floor))
        worst_relative = max(worst_relative, relative)
        print(f"  {field:6} worst {relative:.2e} of the Greek (floor {floor:.1e})")

    regimes(rng)

    # Threads on a book of 100,000 options.
    size = 100_000
    book_rows = rng.integers(0, len(days), size)
    big = {n: (v[book_rows] if np.ndim(v) else v) for n, v in book.items()}
    one = median_seconds(lambda: vb.american_price(**big, option_type="put", threads=1), rounds=3)
    two = median_seconds(lambda: vb.american_price(**big, option_type="put", threads=2), rounds=3)
    print(f"\n100,000 options: one thread {one:.2f} s, two {two:.2f} s: {one / two:.2f}x")

    print("\ntargets")
    targets = [(f"fast RMS {fast_rms:.1e} <= 5e-5 and worst {fast_worst:.1e} <= 1e-3",
                fast_rms <= 5e-5 and fast_worst <= 1e-3),
               (f"accurate RMS {accurate_rms:.1e} <= 4e-6", accurate_rms <= 4e-6),
               (f"american_greeks {greeks_seconds / fast_us:.2f}x american_price <= 3x",
                greeks_seconds / fast_us <= 3.0),
               (f"accurate Greeks within 0.2% (or the floor) of the differences: worst {worst_relative:.1e}",
                worst_relative <= 2e-3),
               (f"two threads {one / two:.2f}x one >= 1.8x", one / two >= 1.8)]
    peers = {name: seconds for name, (_, seconds) in rows.items() if name.startswith("QuantLib QdFp")}
    if peers:
        fast_peer, accurate_peer = peers["QuantLib QdFp fast"], peers["QuantLib QdFp accurate"]
        targets += [(f"fast {fast_peer / fast_us:.1f}x faster than QuantLib's fast scheme >= 4x",
                     fast_peer / fast_us >= 4.0),
                    (f"accurate {accurate_peer / accurate_us:.1f}x faster than QuantLib's accurate scheme >= 3x",
                     accurate_peer / accurate_us >= 3.0)]
    for text, met in targets:
        print(f"  {'met    ' if met else 'NOT MET'} {text}")


if __name__ == "__main__":
    main()
