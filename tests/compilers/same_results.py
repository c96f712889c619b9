"""Checks that two builds of velarix give the same results bit for bit.

`dump` calls every function of the velarix module that Python imports (put
the build's folder first on PYTHONPATH to choose it) over a fixed set of
random and edge inputs, then velarix_batch's own engine over the same
options (the American engine at both settings, its exercise boundary, the
European price, and implied volatility of the prices both give), and writes
the raw doubles to a file; `compare` reads two such files and fails on the
first result whose bits differ. A NaN equals any NaN: builds by different
compilers may give NaNs of different signs.

    python tests/compilers/same_results.py dump gcc.bin
    PYTHONPATH=build/clang python tests/compilers/same_results.py dump clang.bin
    python tests/compilers/same_results.py compare gcc.bin clang.bin
"""
import argparse
import array
import itertools
import math
import random
import sys

import numpy as np
import velarix
import velarix_batch

EDGES = [0.0, -0.0, 1e-300, 5e-324, 1e-8, 0.0001, 0.5, 1.0, 100.0, 1e300, -1.0, -100.0,
         math.inf, -math.inf, math.nan]
FUNCTIONS = velarix.__all__[:-1]  # every function; PyGreeks comes last


def options():
    generator = random.Random(20261208)
    for _ in range(20000):
        yield (generator.uniform(1, 300), generator.uniform(1, 300), generator.uniform(0, 5),
               generator.uniform(-0.05, 0.15), generator.uniform(0.01, 1.5), generator.uniform(-0.05, 0.15),
               generator.choice(["call", "put"]))
    ordinary = [100.0, 95.0, 0.75, 0.06, 0.3, 0.04]
    for position, edge, kind in itertools.product(range(6), EDGES, ["call", "put"]):
        values = list(ordinary)
        values[position] = edge
        yield (*values, kind)
    # The carry equal to the rate, and the spot at and around the strike.
    for r, kind in itertools.product([-0.02, 0.0, 0.03, 0.08], ["call", "put"]):
        for s in [95.0, math.nextafter(95.0, 0.0), math.nextafter(95.0, 200.0)]:
            yield (s, 95.0, 1.5, r, 0.25, r, kind)


def results():
    for s, k, t, r, sigma, q, kind in options():
        for name in FUNCTIONS:
            function = getattr(velarix, name)
            if name in ("bs_gamma", "bs_vega"):
                value = function(s, k, t, r, sigma, q)
            else:
                value = function(s, k, t, r, sigma, q, kind)
            if isinstance(value, float):
                yield value
            else:
                yield from (value.delta, value.gamma, value.theta, value.vega, value.rho)


def engine_results():
    columns = list(zip(*options()))
    s, k, t, r, sigma, q = (np.array(column, dtype=float) for column in columns[:6])
    kind = np.array(columns[6])
    arrays = []
    for accuracy in ("fast", "accurate"):
        settings = {"accuracy": accuracy, "threads": 1}
        american = velarix_batch.american_price(s, k, t, r, sigma, q, kind, **settings)
        arrays += [american, *velarix_batch.american_greeks(s, k, t, r, sigma, q, kind, **settings),
                   velarix_batch.exercise_boundary(k, t, r, sigma, q, kind, **settings),
                   velarix_batch.implied_volatility(american, s, k, t, r, q, kind, exercise="american", **settings)]
    european = velarix_batch.european_price(s, k, t, r, sigma, q, kind, threads=1)
    arrays += [european, velarix_batch.implied_volatility(european, s, k, t, r, q, kind, threads=1)]
    for values in arrays:
        yield from values.tolist()


def dump(path):
    with open(path, "wb") as out:
        array.array("d", itertools.chain(results(), engine_results())).tofile(out)
    print(f"{path}: results of {velarix.__file__}")


def compare(first, second):
    left, right = (array.array("d", open(path, "rb").read()) for path in (first, second))
    if len(left) != len(right):
        sys.exit(f"{first} holds {len(left)} results, {second} {len(right)}")
    nan_signs = 0
    for index, (a, b) in enumerate(zip(left, right)):
        if math.isnan(a) and math.isnan(b):
            nan_signs += math.copysign(1.0, a) != math.copysign(1.0, b)
        elif array.array("d", [a]).tobytes() != array.array("d", [b]).tobytes():
            sys.exit(f"result {index} differs: {a!r} against {b!r}")
    print(f"{len(left)} results, equal bit for bit ({nan_signs} NaNs of the other sign)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("dump").add_argument("path")
    both = commands.add_parser("compare")
    both.add_argument("first")
    both.add_argument("second")
    arguments = parser.parse_args()
    if arguments.command == "dump":
        dump(arguments.path)
    else:
        compare(arguments.first, arguments.second)


if __name__ == "__main__":
    main()
