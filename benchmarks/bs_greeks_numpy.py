"""Times velarix_batch.bs_greeks on one thread over a book of 1,000,000
options beside the numpy/scipy function a user would write for the same
five Greeks in the same units (theta per calendar day, vega per 1.00 of
volatility, rho per percentage point), and checks that the two agree.

Run it with the build to measure first on PYTHONPATH (a build of main's
sources for the time before a change, this tree's for after); it names the
module it timed and the path of velarix's exp/log/pow batches.

    PYTHONPATH=build/base python benchmarks/bs_greeks_numpy.py
    PYTHONPATH=build/dev python benchmarks/bs_greeks_numpy.py

The machine may be shared: each figure is the median of rounds that
interleave the two functions, so that a slow spell slows both alike.
"""
import statistics
import time

import numpy as np
from scipy.special import ndtr

import velarix_batch
from batch import BOOK_SIZE, make_book

ROUNDS = 11


def numpy_greeks(s, k, t, r, sigma, q, option_type):
    """The five Black-Scholes Greeks with a dividend yield, as arrays."""
    sign = np.where(option_type == "call", 1.0, -1.0)
    sqrt_t = np.sqrt(t)
    d1 = (np.log(s / k) + (r - q + 0.5 * sigma**2) * t) / (sigma * sqrt_t)
    d2 = d1 - sigma * sqrt_t
    dividend_discount = np.exp(-q * t)
    rate_discount = np.exp(-r * t)
    pdf = np.exp(-0.5 * d1**2) / np.sqrt(2 * np.pi)
    cdf_d1 = ndtr(sign * d1)
    cdf_d2 = ndtr(sign * d2)
    delta = sign * dividend_discount * cdf_d1
    gamma = dividend_discount * pdf / (s * sigma * sqrt_t)
    vega = s * dividend_discount * pdf * sqrt_t
    theta = (-s * dividend_discount * pdf * sigma / (2 * sqrt_t) - sign * r * k * rate_discount * cdf_d2
             + sign * q * s * dividend_discount * cdf_d1) / 365
    rho = sign * k * t * rate_discount * cdf_d2 / 100
    return delta, gamma, theta, vega, rho


def main():
    book = make_book(BOOK_SIZE)
    columns = [book[name] for name in ("s", "k", "t", "r", "sigma", "q", "option_type")]
    ours = velarix_batch.bs_greeks(*columns, threads=1)
    theirs = numpy_greeks(*columns)
    worst = max(float(np.max(np.abs(a - b) / np.maximum(np.abs(b), 1e-300))) for a, b in zip(ours, theirs))

    timings = {"velarix_batch.bs_greeks, 1 thread": [], "numpy/scipy function": []}
    actions = {"velarix_batch.bs_greeks, 1 thread": lambda: velarix_batch.bs_greeks(*columns, threads=1),
               "numpy/scipy function": lambda: numpy_greeks(*columns)}
    for _ in range(ROUNDS):
        for name, action in actions.items():
            started = time.perf_counter()
            action()
            timings[name].append(time.perf_counter() - started)
    medians = {name: statistics.median(values) for name, values in timings.items()}
    print(f"module: {velarix_batch.__file__}")
    print(f"bs_greeks over {BOOK_SIZE:,} options, median of {ROUNDS} rounds:")
    for name, value in medians.items():
        print(f"  {name:36} {value * 1e3:8.1f} ms")
    ratio = medians["numpy/scipy function"] / medians["velarix_batch.bs_greeks, 1 thread"]
    print(f"  velarix_batch is {ratio:.2f}x the speed of the numpy/scipy function (target 3x)")
    print(f"  largest relative difference between the two: {worst:.1e}")


if __name__ == "__main__":
    main()
