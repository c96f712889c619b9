"""Compares am_price with a Cox-Ross-Rubinstein binomial tree.

The closed-form approximation is fast but not exact; this script shows where
it departs from a converged lattice. For each option in a fixed set it prints
the European (Black-Scholes) price, the approximation, the tree (the mean of 5000 and 5001 steps, which cancels
most of the lattice's odd-even oscillation), and their difference. The same
tree without early exercise is compared with the Black-Scholes price, so the
last column shows how far the tree itself can be trusted.

    python benchmarks/accuracy.py                  # print the table
    python benchmarks/accuracy.py --update-readme  # and write it into README.md
    python benchmarks/accuracy.py --check          # fail if README.md shows another table
"""
import argparse
import math
import pathlib
import re

import numpy as np

import velarix

STEPS = 5000
README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
MARKERS = ("<!-- accuracy table: start -->", "<!-- accuracy table: end -->")

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


def readme_block():
    start, end = (re.escape(marker) for marker in MARKERS)
    pattern = re.compile(f"{start}\n(.*?){end}", re.DOTALL)
    readme = README.read_text()
    if not pattern.search(readme):
        raise SystemExit(f"README.md has no block between {MARKERS[0]} and {MARKERS[1]}")
    return pattern, readme


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    action = parser.add_mutually_exclusive_group()
    action.add_argument("--update-readme", action="store_true", help="write the table into README.md")
    action.add_argument("--check", action="store_true", help="fail unless README.md shows this table")
    arguments = parser.parse_args()
    text = table()
    print(text)
    if arguments.update_readme or arguments.check:
        pattern, readme = readme_block()
        if arguments.check:
            if pattern.search(readme).group(1) != text + "\n":
                raise SystemExit("README.md's accuracy table differs: run benchmarks/accuracy.py --update-readme")
        else:
            README.write_text(pattern.sub(lambda _: f"{MARKERS[0]}\n{text}\n{MARKERS[1]}", readme))


if __name__ == "__main__":
    main()
