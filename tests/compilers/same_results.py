"""Checks that two builds of velarix give the same results bit for bit.

`dump` calls every function of the velarix module, and the engine functions
of velarix_batch (the American engine at both accuracies, european_price and
implied_volatility), of the build that Python imports (put the build's folder
first on PYTHONPATH to choose it) over a fixed set of random and edge inputs,
and writes the raw doubles to a file. `compare` reads two such files and
counts, function by function, the results whose bits differ; it fails if any
does. A NaN equals any NaN: builds by different compilers may give NaNs of
different signs.

Builds for different C runtimes may differ in the thirteen functions of
velarix, which call the runtime's exp, log and pow; `--runtime-math-differs`
reports those differences without failing. The engine functions use no
runtime function but the square root, and must be equal everywhere.

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

EDGES = [0.0, -0.0, 1e-300, 5e-324, 1e-8, 0.0001, 0.5, 1.0, 100.0, 1e300, -1.0, -100.0,
         math.inf, -math.inf, math.nan]
# The functions of velarix (its __all__ without PyGreeks), with how many
# values each gives.
FUNCTIONS = {"bs_delta": 1, "bs_gamma": 1, "bs_theta": 1, "bs_vega": 1, "bs_rho": 1, "bs_greeks": 5,
             "am_price": 1, "am_delta": 1, "am_gamma": 1, "am_theta": 1, "am_vega": 1, "am_rho": 1,
             "am_greeks": 5}
# The engine functions of velarix_batch, each over every option at once.
ENGINE = {"european_price": 1, "american_price fast": 1, "american_price accurate": 1,
          "american_greeks fast": 5, "american_greeks accurate": 5, "exercise_boundary fast": 1,
          "exercise_boundary accurate": 1, "implied_volatility european": 1,
          "implied_volatility american fast": 1}


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


def labels():
    """The function that gives each result of a dump, in the dump's order."""
    count = sum(1 for _ in options())
    for _ in range(count):
        for name, width in FUNCTIONS.items():
            yield from [name] * width
    for name, width in ENGINE.items():
        yield from [name] * (width * count)


def results():
    import numpy as np
    import velarix
    import velarix_batch

    assert velarix.__all__[:-1] == list(FUNCTIONS)
    every = list(options())
    for s, k, t, r, sigma, q, kind in every:
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
    s, k, t, r, sigma, q = (np.array([option[i] for option in every]) for i in range(6))
    kind = np.array([option[6] for option in every])
    european = velarix_batch.european_price(s, k, t, r, sigma, q, kind)
    yield from european
    american = {}
    for accuracy in ("fast", "accurate"):
        american[accuracy] = velarix_batch.american_price(s, k, t, r, sigma, q, kind, accuracy=accuracy)
        yield from american[accuracy]
    for accuracy in ("fast", "accurate"):
        for field in velarix_batch.american_greeks(s, k, t, r, sigma, q, kind, accuracy=accuracy):
            yield from field
    for accuracy in ("fast", "accurate"):
        yield from velarix_batch.exercise_boundary(k, t, r, sigma, q, kind, accuracy=accuracy)
    # The volatilities of the prices just computed, which puts most of them
    # on the solver's ordinary path and the edge options on its refusals.
    yield from velarix_batch.implied_volatility(european, s, k, t, r, q, kind)
    yield from velarix_batch.implied_volatility(american["fast"], s, k, t, r, q, kind, exercise="american")


def dump(path):
    import velarix

    with open(path, "wb") as out:
        array.array("d", results()).tofile(out)
    print(f"{path}: results of {velarix.__file__}")


def compare(first, second, runtime_math_differs):
    left, right = (array.array("d", open(path, "rb").read()) for path in (first, second))
    names = list(labels())
    for path, values in ((first, left), (second, right)):
        if len(values) != len(names):
            sys.exit(f"{path} holds {len(values)} results, not the {len(names)} of this script")
    nan_signs = 0
    differing = dict.fromkeys([*FUNCTIONS, *ENGINE], 0)
    for name, a, b in zip(names, left, right):
        if math.isnan(a) and math.isnan(b):
            nan_signs += math.copysign(1.0, a) != math.copysign(1.0, b)
        elif array.array("d", [a]).tobytes() != array.array("d", [b]).tobytes():
            differing[name] += 1
    totals = dict.fromkeys(differing, 0)
    for name in names:
        totals[name] += 1
    for name, count in differing.items():
        if count:
            print(f"{name}: {count} of {totals[name]} results differ")
    runtime = sum(differing[name] for name in FUNCTIONS)
    engine = sum(differing[name] for name in ENGINE)
    print(f"{len(names)} results: {runtime} of {sum(totals[n] for n in FUNCTIONS)} of the thirteen functions and "
          f"{engine} of {sum(totals[n] for n in ENGINE)} of the engine functions differ "
          f"({nan_signs} NaNs of the other sign)")
    if engine or (runtime and not runtime_math_differs):
        sys.exit("the builds' results differ")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("dump").add_argument("path")
    both = commands.add_parser("compare")
    both.add_argument("first")
    both.add_argument("second")
    both.add_argument("--runtime-math-differs", action="store_true",
                      help="count but allow differences in the functions that call the C runtime's exp, log, pow")
    arguments = parser.parse_args()
    if arguments.command == "dump":
        dump(arguments.path)
    else:
        compare(arguments.first, arguments.second, arguments.runtime_math_differs)


if __name__ == "__main__":
    main()
