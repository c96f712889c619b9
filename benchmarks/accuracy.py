"""The accuracy page of the American price, docs/ACCURACY.md: the 20-row table
against a Cox-Ross-Rubinstein tree, and the report over a grid of thousands
of options against a Leisen-Reimer tree and QuantLib.

The closed-form approximation is fast but not exact; this script shows where
it departs from a converged lattice. For each option in a fixed set the table
gives the European (Black-Scholes) price, the approximation, the tree (the
mean of 5000 and 5001 steps, which cancels most of the lattice's odd-even
oscillation), and their difference. The same tree without early exercise is
compared with the Black-Scholes price, so the last column shows how far the
tree itself can be trusted. The grid report (accuracy_grid.py,
accuracy_measures.py, accuracy_report.py) keeps its slow reference values in
benchmarks/accuracy_cache/ and recomputes everything velarix gives.

    python benchmarks/accuracy.py                  # print the table
    python benchmarks/accuracy.py --update-docs    # write the table, the report and docs/accuracy_*.png
    python benchmarks/accuracy.py --regenerate     # recompute the cache first (minutes; needs QuantLib)
    python benchmarks/accuracy.py --check          # fail unless the page, cache, figures and module agree
    python benchmarks/accuracy.py --record-unbounded  # with a module built before the perpetual bound: record
                                                      # its prices above the bound on the random sets

`--check` (numpy only, well under a minute) fails when
  - docs/ACCURACY.md's table differs from the one the tree and am_price give now;
  - the cache was computed for other options or step counts, or a seeded
    sample of it (48 grid options, 4 of the Greeks' options) differs from
    the tree recomputed now by more than 1e-8 in price (1e-5 in a Greek);
  - docs/ACCURACY.md's report differs from the one written from the cache and
    velarix's values now;
  - a figure's recorded data hash differs from the hash of the data it
    would be drawn from now.
Needs numpy; the figures need matplotlib, the regeneration QuantLib.
"""
import argparse
import math
import pathlib
import re

import numpy as np

import accuracy_grid
import accuracy_measures
import accuracy_report
import velarix

STEPS = 5000
PAGE = pathlib.Path(__file__).resolve().parent.parent / "docs" / "ACCURACY.md"
MARKERS = ("<!-- accuracy table: start -->", "<!-- accuracy table: end -->")
REPORT_MARKERS = ("<!-- accuracy report: start -->", "<!-- accuracy report: end -->")

# (type, spot, strike, years, rate, volatility, dividend yield)
CASES = [
    ("put", 90.0, 100.0, 0.25, 0.05, 0.20, 0.00),
    ("put", 100.0, 100.0, 0.25, 0.05, 0.20, 0.00),
    ("put", 110.0, 100.0, 0.25, 0.05, 0.20, 0.00),
    ("put", 90.0, 100.0, 1.00, 0.05, 0.20, 0.00),
    ("put", 100.0, 100.0, 1.00, 0.05, 0.20, 0.00),
    ("put", 110.0, 100.0, 1.00, 0.05, 0.20, 0.00),
    ("put", 100.0, 100.0, 1.00, 0.05, 0.40, 0.02),
    ("put", 90.0, 100.0, 3.00, 0.05, 0.20, 0.00),
    ("put", 100.0, 100.0, 3.00, 0.05, 0.20, 0.00),
    ("put", 110.0, 100.0, 3.00, 0.05, 0.20, 0.00),
    ("put", 100.0, 100.0, 3.00, 0.08, 0.30, 0.00),
    ("put", 80.0, 100.0, 1.00, 0.10, 0.20, 0.00),
    ("call", 100.0, 100.0, 1.00, 0.05, 0.20, 0.00),
    ("call", 90.0, 100.0, 0.25, 0.03, 0.20, 0.05),
    ("call", 100.0, 100.0, 0.25, 0.03, 0.20, 0.05),
    ("call", 110.0, 100.0, 0.25, 0.03, 0.20, 0.05),
    ("call", 100.0, 100.0, 1.00, 0.03, 0.20, 0.05),
    ("call", 100.0, 100.0, 3.00, 0.03, 0.20, 0.05),
    ("call", 120.0, 100.0, 1.00, 0.03, 0.30, 0.08),
    ("call", 100.0, 100.0, 3.00, 0.03, 0.40, 0.08),
]


def binomial_price(option_type, s, k, t, r, sigma, q, steps, american=True):
    """Backward induction on a CRR lattice of `steps` steps."""
    dt = t / steps
    up = math.exp(sigma * math.sqrt(dt))
    down = 1.0 / up
    growth = math.exp((r - q) * dt)
    p_up = (growth - down) / (up - down)
    discount = math.exp(-r * dt)
    sign = 1.0 if option_type == "call" else -1.0
    # Spots at the final step, highest first: s * up^(steps - 2j).
    spots = s * up ** (steps - 2.0 * np.arange(steps + 1))
    values = np.maximum(sign * (spots - k), 0.0)
    for _ in range(steps):
        values = discount * (p_up * values[:-1] + (1.0 - p_up) * values[1:])
        spots = spots[:-1] * down
        if american:
            np.maximum(values, sign * (spots - k), out=values)
    return float(values[0])


def smoothed_tree(*arguments, american=True):
    option_type, s, k, t, r, sigma, q = arguments
    return 0.5 * (binomial_price(option_type, s, k, t, r, sigma, q, STEPS, american)
                  + binomial_price(option_type, s, k, t, r, sigma, q, STEPS + 1, american))


def european_price(option_type, s, k, t, r, sigma, q):
    d1 = (math.log(s / k) + (r - q + 0.5 * sigma * sigma) * t) / (sigma * math.sqrt(t))
    d2 = d1 - sigma * math.sqrt(t)

    def n(x):
        return 0.5 * math.erfc(-x / math.sqrt(2.0))

    if option_type == "call":
        return s * math.exp(-q * t) * n(d1) - k * math.exp(-r * t) * n(d2)
    return k * math.exp(-r * t) * n(-d2) - s * math.exp(-q * t) * n(-d1)


def table():
    lines = [
        "| type | spot | strike | years | rate | vol | div | European | am_price | tree | am_price - tree | tree error (European) |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for case in CASES:
        option_type, s, k, t, r, sigma, q = case
        approximation = velarix.am_price(s, k, t, r, sigma, q, option_type)
        tree = smoothed_tree(*case)
        european = european_price(*case)
        tree_error = smoothed_tree(*case, american=False) - european
        lines.append(
            f"| {option_type} | {s:g} | {k:g} | {t:g} | {r:g} | {sigma:g} | {q:g} | {european:.4f} "
            f"| {approximation:.4f} | {tree:.4f} | {signed(approximation - tree, 4)} | {signed(tree_error, 5)} |")
    return "\n".join(lines)


def signed(value, digits):
    """A difference with its sign, and a plain zero when it rounds to zero."""
    text = f"{value:+.{digits}f}"
    return text[1:] if float(text) == 0.0 else text


def page_block(page, markers):
    start, end = (re.escape(marker) for marker in markers)
    pattern = re.compile(f"{start}\n(.*?){end}", re.DOTALL)
    if not pattern.search(page):
        raise SystemExit(f"docs/{PAGE.name} has no block between {markers[0]} and {markers[1]}")
    return pattern


def replaced_block(page, markers, text):
    return page_block(page, markers).sub(lambda _: f"{markers[0]}\n{text}\n{markers[1]}", page)


def check(table_text, report_text, measures, cache):
    page = PAGE.read_text()
    problems = []
    if page_block(page, MARKERS).search(page).group(1) != table_text + "\n":
        problems.append(f"docs/{PAGE.name}'s accuracy table differs from the script's")
    problems += accuracy_grid.recheck_cache(cache[0], cache[1], cache[2])
    if page_block(page, REPORT_MARKERS).search(page).group(1) != report_text + "\n":
        problems.append(f"docs/{PAGE.name}'s accuracy report differs from the script's")
    problems += accuracy_report.figure_problems(measures)
    return problems


def record_unbounded():
    values = {}
    for name, options in (("random", accuracy_grid.random_options()),
                          ("low_volatility", accuracy_grid.low_volatility_options())):
        am = options.priced_by(velarix.am_price)
        rows = np.flatnonzero(am > accuracy_measures.perpetual_call_bound(options))
        values[name] = {"rows": rows.tolist(), "am_price": am[rows].tolist()}
    if not values["low_volatility"]["rows"]:
        raise SystemExit("no price above the perpetual bound: this module is bounded already")
    accuracy_grid.write_unbounded(values)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    action = parser.add_mutually_exclusive_group()
    action.add_argument("--update-docs", action="store_true",
                        help="write the table, the report and its figures into docs/ from the cache")
    action.add_argument("--regenerate", action="store_true",
                        help="recompute the cache (tree and QuantLib), then as --update-docs")
    action.add_argument("--check", action="store_true",
                        help="fail unless docs/ACCURACY.md, the cache and the figures agree with the script and module")
    action.add_argument("--record-unbounded", action="store_true",
                        help="record the prices above the perpetual call's value of a module built without the bound")
    arguments = parser.parse_args()
    if arguments.record_unbounded:
        record_unbounded()
        return
    table_text = table()
    print(table_text)
    if not (arguments.update_docs or arguments.regenerate or arguments.check):
        return
    if arguments.regenerate:
        accuracy_grid.write_cache(*accuracy_grid.measure_references())
    cache = accuracy_grid.read_cache()
    measures = accuracy_measures.measure(cache, accuracy_grid.read_unbounded())
    report_text = accuracy_report.report_markdown(measures).rstrip("\n")
    print(report_text)
    if arguments.check:
        problems = check(table_text, report_text, measures, cache)
        if problems:
            raise SystemExit("\n".join(problems) + "\nrun benchmarks/accuracy.py --update-docs "
                             "(or --regenerate if the tree or the grid changed)")
        return
    accuracy_report.draw_figures(measures)
    page = replaced_block(PAGE.read_text(), MARKERS, table_text)
    PAGE.write_text(replaced_block(page, REPORT_MARKERS, report_text))


if __name__ == "__main__":
    main()
