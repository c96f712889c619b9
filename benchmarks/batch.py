"""Benchmarks velarix_batch on a book of 1,000,000 options against the
Python loop of the scalar functions, the core alone and QuantLib.

For bs_greeks and am_greeks it prints the seconds to price the book
- in a Python loop of the velarix function, one call per option;
- with the core alone: a C++ loop over the same book in arrays, on one
  thread (benchmarks/book_benchmark.cpp, built here);
- with velarix_batch on one thread and on two, and for bs_greeks on one
  thread writing into arrays given with out= (made once, as a caller that
  prices the book again and again keeps them);
- with QuantLib in a Python loop (its analytic European engine for the
  European Greeks; its Bjerksund-Stensland engine, which gives the price
  only, for the American);
then the time of one call of bs_delta and am_price on one option of Python
numbers, in velarix and in velarix_batch; and whether the targets are met.
The American Python loop and QuantLib are timed on a slice of the book and
scaled to its size, as the table says.

    python3 -m pip install ".[bench]" && python3 benchmarks/batch.py [--update-docs] [--grain]

The machine is shared and has two cores: each figure is the median of
rounds that interleave all the measurements, so that a slow spell slows
them alike. --grain prints instead the times of velarix_batch on one and on
two threads around the sizes from which it starts a second thread.
"""
import argparse
import pathlib
import functools
import statistics
import subprocess
import sys
import time
import timeit

import numpy as np
import velarix
import velarix_batch

from run import build_native_parts, machine, quantlib_market

ROOT = pathlib.Path(__file__).resolve().parent.parent
PAGE = ROOT / "docs" / "SPEED.md"
MARKERS = ("<!-- batch benchmark: start -->", "<!-- batch benchmark: end -->")
BOOK_SIZE = 1_000_000
# The constants of book_benchmark.cpp's kSteps: column j of option i is
# fract(i * BOOK_STEPS[j]), the same doubles in C++ and numpy.
BOOK_STEPS = (0.6180339887498949, 0.41421356237309515, 0.7320508075688772, 0.2360679774997898,
              0.6457513110645907, 0.3166247903553998, 0.16227766016837952)
ROUNDS = {"bs_greeks": 11, "am_greeks": 3}
SLICES = {"am_greeks loop": 100_000, "QuantLib": 20_000}
GRAINS = {"bs_vega": 16384, "am_price": 512}
# One option of Python numbers, as run.py prices it; the calls timed per round.
ONE_OPTION = (100.0, 95.0, 0.75, 0.06, 0.3, 0.04, "put")
ONE_OPTION_FUNCTIONS = ("bs_delta", "am_price")
ONE_OPTION_CALLS, ONE_OPTION_ROUNDS = 20_000, 15


def make_book(size):
    index = np.arange(1, size + 1, dtype=np.float64)
    u = [np.fmod(index * step, 1.0) for step in BOOK_STEPS]
    return {"s": 50.0 + 100.0 * u[0], "k": 50.0 + 100.0 * u[1], "t": 0.05 + 2.95 * u[2], "r": 0.1 * u[3],
            "sigma": 0.05 + 0.75 * u[4], "q": 0.05 * u[5], "option_type": np.where(u[6] < 0.5, "call", "put")}


def seconds(action):
    started = time.perf_counter()
    action()
    return time.perf_counter() - started


def python_loop(name, book, size):
    function = getattr(velarix, name)
    columns = [book[column][:size].tolist() for column in ("s", "k", "t", "r", "sigma", "q", "option_type")]
    return lambda: [function(*option) for option in zip(*columns)]


def batch_call(name, book, threads, out=None):
    function = getattr(velarix_batch, name)
    columns = [book[column] for column in ("s", "k", "t", "r", "sigma", "q")]
    if name not in ("bs_gamma", "bs_vega"):
        columns.append(book["option_type"])
    return lambda: function(*columns, out=out, threads=threads)


def core_seconds(directory, name):
    output = subprocess.run([str(directory / "book_benchmark"), name, str(BOOK_SIZE), "1"], check=True, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    return float(output.split()[0])


def quantlib_loops(book, size):
    """Per option: its quotes set, its option built with its strike, type and
    expiry (whole days), and its results asked for."""
    market = quantlib_market(0.0, 0.0, 0.0, 0.0)
    if market is None:
        return {}
    ql, today, (spot, rate, dividend, volatility), process = market
    european_engine = ql.AnalyticEuropeanEngine(process)
    american_engine = ql.BjerksundStenslandApproximationEngine(process)
    options = list(zip(*(book[column][:size].tolist() for column in ("s", "k", "t", "r", "sigma", "q")),
                       (book["option_type"][:size] == "call").tolist()))

    def european():
        for s, k, t, r, sigma, q, is_call in options:
            spot.setValue(s), rate.setValue(r), dividend.setValue(q), volatility.setValue(sigma)
            payoff = ql.PlainVanillaPayoff(ql.Option.Call if is_call else ql.Option.Put, k)
            option = ql.VanillaOption(payoff, ql.EuropeanExercise(today + max(1, round(t * 365))))
            option.setPricingEngine(european_engine)
            option.delta(), option.gamma(), option.theta(), option.vega(), option.rho()

    def american():
        for s, k, t, r, sigma, q, is_call in options:
            spot.setValue(s), rate.setValue(r), dividend.setValue(q), volatility.setValue(sigma)
            payoff = ql.PlainVanillaPayoff(ql.Option.Call if is_call else ql.Option.Put, k)
            option = ql.VanillaOption(payoff, ql.AmericanExercise(today, today + max(1, round(t * 365))))
            option.setPricingEngine(american_engine)
            option.NPV()

    return {"bs_greeks": european, "am_greeks": american}


def measure(directory):
    """Median seconds for the whole book, by (function, way)."""
    book = make_book(BOOK_SIZE)
    peers = quantlib_loops(book, SLICES["QuantLib"])
    scale = {"loop": 1.0, "QuantLib": BOOK_SIZE / SLICES["QuantLib"]}
    medians = {}
    for name, rounds in ROUNDS.items():
        loop_size = BOOK_SIZE if name == "bs_greeks" else SLICES["am_greeks loop"]
        ways = {
            "loop": (python_loop(name, book, loop_size), BOOK_SIZE / loop_size),
            "core": (lambda name=name: core_seconds(directory, name), None),
            "batch 1": (batch_call(name, book, 1), 1.0),
            "batch 2": (batch_call(name, book, 2), 1.0),
        }
        if name == "bs_greeks":
            out = tuple(np.zeros(BOOK_SIZE) for _ in range(5))
            ways["batch 1 out"] = (batch_call(name, book, 1, out=out), 1.0)
        if name in peers:
            ways["QuantLib"] = (peers[name], scale["QuantLib"])
        samples = {way: [] for way in ways}
        for _ in range(rounds):
            for way, (action, factor) in ways.items():
                samples[way].append(action() if factor is None else seconds(action) * factor)
        medians[name] = {way: statistics.median(times) for way, times in samples.items()}
        print(f"{name}: " + ", ".join(f"{way} {value:.3f} s" for way, value in medians[name].items()),
              file=sys.stderr)
    return medians


def one_option_nanoseconds():
    """Median nanoseconds per call on ONE_OPTION, by (function, module), of
    rounds that alternate the two modules."""
    medians = {}
    for name in ONE_OPTION_FUNCTIONS:
        calls = {module.__name__: functools.partial(getattr(module, name), *ONE_OPTION)
                 for module in (velarix, velarix_batch)}
        samples = {module: [] for module in calls}
        for _ in range(ONE_OPTION_ROUNDS):
            for module, call in calls.items():
                best = min(timeit.repeat(call, number=ONE_OPTION_CALLS, repeat=3))
                samples[module].append(best / ONE_OPTION_CALLS * 1e9)
        medians[name] = {module: statistics.median(times) for module, times in samples.items()}
        print(f"{name}: " + ", ".join(f"{module} {ns:.0f} ns" for module, ns in medians[name].items()),
              file=sys.stderr)
    return medians


def report(medians):
    bs, am = medians["bs_greeks"], medians["am_greeks"]
    loop_note = {"bs_greeks": "", "am_greeks": f" (timed on {SLICES['am_greeks loop']:,} options)"}
    peer_name = {"bs_greeks": "QuantLib analytic European engine, five Greeks",
                 "am_greeks": "QuantLib Bjerksund-Stensland engine, price only"}
    lines = [f"Machine: {machine()}.", "",
             f"Seconds for a book of {BOOK_SIZE:,} options (spot and strike 50 to 150, 0.05 to 3 years, rate 0 to "
             "10%, volatility 5 to 80%, dividend yield 0 to 5%, half calls), medians of interleaved rounds:", "",
             "| computation | way | seconds | options per second | against the Python loop |",
             "|---|---|---:|---:|---:|"]
    for name in ROUNDS:
        times = medians[name]
        rows = [("Python loop of `velarix." + name + "`" + loop_note[name], times["loop"]),
                ("core alone, C++ loop, 1 thread", times["core"]),
                ("`velarix_batch`, 1 thread", times["batch 1"]),
                ("`velarix_batch`, 2 threads", times["batch 2"])]
        if "batch 1 out" in times:
            rows.append(("`velarix_batch`, 1 thread, into arrays given with `out=`", times["batch 1 out"]))
        if "QuantLib" in times:
            rows.append((f"{peer_name[name]} (Python loop, timed on {SLICES['QuantLib']:,} options)",
                         times["QuantLib"]))
        for way, value in rows:
            lines.append(f"| `{name}` | {way} | {value:.3f} | {BOOK_SIZE / value:,.0f} | "
                         f"{times['loop'] / value:.1f}x |")
    one = medians["one option"]
    lines += ["", "Nanoseconds per call on one option of Python numbers "
              f"(`{', '.join(repr(x) for x in ONE_OPTION)}`), medians of alternating rounds:", "",
              "| function | `velarix` | `velarix_batch` | ratio |", "|---|---:|---:|---:|"]
    for name, times in one.items():
        lines.append(f"| `{name}` | {times['velarix']:.0f} | {times['velarix_batch']:.0f} | "
                     f"{times['velarix_batch'] / times['velarix']:.2f}x |")
    met = lambda ok: "met" if ok else "not met"
    bs_speedup = bs["loop"] / bs["batch 1"]
    bs_overhead = bs["batch 1"] / bs["core"] - 1.0
    out_overhead = bs["batch 1 out"] / bs["core"] - 1.0
    am_scaling = am["batch 1"] / am["batch 2"]
    lines += ["", "Targets:", "",
              f"- `bs_greeks` on one thread at least 2x faster than the Python loop: {bs_speedup:.1f}x, "
              f"{met(bs_speedup >= 2.0)}",
              f"- `bs_greeks` on one thread within 15% of the core alone: {bs_overhead:+.1%}, "
              f"{met(bs_overhead <= 0.15)}",
              f"- `bs_greeks` on one thread into arrays given with `out=` within 15% of the core alone: "
              f"{out_overhead:+.1%}, {met(out_overhead <= 0.15)}",
              f"- `am_greeks` on two threads at least 1.7x faster than on one: {am_scaling:.2f}x, "
              f"{met(am_scaling >= 1.7)}"]
    for name, times in one.items():
        ratio = times["velarix_batch"] / times["velarix"]
        lines.append(f"- `velarix_batch.{name}` on one option of Python numbers at most 3x `velarix.{name}`: "
                     f"{ratio:.2f}x, {met(ratio <= 3.0)}")
    return "\n".join(lines)


def grain_table():
    """velarix_batch on one and two threads around the size from which it
    uses a second thread (twice the grain); below it, both run on one."""
    lines = ["| function | options | 1 thread (ms) | 2 threads (ms) | speedup |", "|---|---:|---:|---:|---:|"]
    for name, grain in GRAINS.items():
        for size in (grain, 2 * grain - 1, 2 * grain, 4 * grain, 16 * grain):
            book = make_book(size)
            one, two = batch_call(name, book, 1), batch_call(name, book, 2)
            samples = {1: [], 2: []}
            for _ in range(max(5, 200_000 // size)):
                samples[1].append(seconds(one))
                samples[2].append(seconds(two))
            first, second = (statistics.median(samples[threads]) * 1e3 for threads in (1, 2))
            lines.append(f"| `{name}` | {size:,} | {first:.3f} | {second:.3f} | {first / second:.2f}x |")
    return "\n".join(lines)


def update_page(text):
    content = PAGE.read_text()
    start, end = content.index(MARKERS[0]), content.index(MARKERS[1])
    PAGE.write_text(content[:start + len(MARKERS[0])] + "\n" + text + "\n" + content[end:])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--update-docs", action="store_true", help="write the table into docs/SPEED.md")
    parser.add_argument("--grain", action="store_true", help="time one and two threads around the grain")
    options = parser.parse_args()
    if options.grain:
        print(grain_table())
        return
    medians = measure(build_native_parts())
    medians["one option"] = one_option_nanoseconds()
    text = report(medians)
    print(text)
    if options.update_docs:
        update_page(text)


if __name__ == "__main__":
    main()
