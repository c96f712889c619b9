"""Draws the five Greeks of a call and a put against the spot, European
(Black-Scholes) beside American (Bjerksund-Stensland), to a PNG, with the
Greeks of a converged American tree (the accuracy report's Leisen-Reimer
lattice, benchmarks/accuracy_grid.py) as the reference: without it the
American curves' steps and spikes would pass for American behaviour.

    python examples/plot_greeks.py [output.png]    # default: docs/greeks.png

Needs matplotlib (`pip install ".[docs]"`) and numpy; the tree takes about a
minute.
"""
import pathlib
import sys

import matplotlib
import numpy as np

matplotlib.use("Agg")
import matplotlib.pyplot as plt

import velarix

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "benchmarks"))
import accuracy_grid  # noqa: E402  (the report's tree and its Greeks)

STRIKE, YEARS, RATE, VOLATILITY, DIVIDEND = 100.0, 1.0, 0.05, 0.25, 0.03
SPOTS = [50.0 + 0.5 * i for i in range(201)]
GREEKS = [
    ("delta", "delta"),
    ("gamma", "gamma"),
    ("theta", "theta (per calendar day)"),
    ("vega", "vega (per 1.00 of volatility)"),
    ("rho", "rho (per percentage point)"),
]
DEFAULT_OUTPUT = pathlib.Path(__file__).resolve().parent.parent / "docs" / "greeks.png"


def greeks_along_spot(greeks_function, option_type):
    return [greeks_function(spot, STRIKE, YEARS, RATE, VOLATILITY, DIVIDEND, option_type) for spot in SPOTS]


def tree_greeks_along_spot(option_type):
    n = len(SPOTS)
    options = accuracy_grid.Options(np.full(n, option_type == "call"), SPOTS, np.full(n, STRIKE), np.full(n, YEARS),
                                    np.full(n, RATE), np.full(n, VOLATILITY), np.full(n, DIVIDEND))
    return accuracy_grid.tree_greeks(options)


def peak_on_fine_grid(option_type, american_values):
    """The spike's height: the plotted spots step by 0.5 and miss its top,
    so the American gamma is searched again on 2,001 spots around the
    highest plotted one."""
    centre = SPOTS[int(np.argmax(american_values))]
    return max(velarix.am_gamma(float(spot), STRIKE, YEARS, RATE, VOLATILITY, DIVIDEND, option_type)
               for spot in np.linspace(centre - 0.5, centre + 0.5, 2001))


def clip_to_european_scale(axis, european_values, american_values, peak):
    """The finite-difference gamma of an American option spikes where its
    price meets the exercise value; a spike far beyond the European scale
    would flatten the other curves, so it is cut off and its height noted."""
    low, high = min(european_values), max(european_values)
    margin = 0.5 * (high - low)
    if peak > high + 4.0 * margin:
        axis.set_ylim(min(low, min(american_values)) - margin, high + margin)
        axis.annotate(f"American peak {peak:.3g} (fine grid)", xy=(0.98, 0.92), xycoords="axes fraction",
                      ha="right")


def main():
    output = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_OUTPUT
    figure, axes = plt.subplots(len(GREEKS), 2, figsize=(10, 13), sharex=True)
    for column, option_type in enumerate(("call", "put")):
        european = greeks_along_spot(velarix.bs_greeks, option_type)
        american = greeks_along_spot(velarix.am_greeks, option_type)
        tree = tree_greeks_along_spot(option_type)
        for row, (field, label) in enumerate(GREEKS):
            axis = axes[row][column]
            european_values = [getattr(g, field) for g in european]
            american_values = [getattr(g, field) for g in american]
            axis.plot(SPOTS, european_values, label="European")
            axis.plot(SPOTS, american_values, label="American (velarix)", linestyle="--")
            axis.plot(SPOTS, tree[field], label="American (tree)", color="black", linewidth=0.8, linestyle=":")
            peak = peak_on_fine_grid(option_type, american_values) if field == "gamma" else max(american_values)
            clip_to_european_scale(axis, european_values, american_values, peak)
            axis.axvline(STRIKE, color="grey", linewidth=0.5)
            axis.set_ylabel(label)
            axis.grid(alpha=0.3)
        axes[0][column].set_title(f"{option_type}, strike {STRIKE:g}")
        axes[-1][column].set_xlabel("spot")
    axes[0][0].legend()
    figure.suptitle(f"{YEARS:g} year, rate {RATE:g}, volatility {VOLATILITY:g}, dividend yield {DIVIDEND:g}")
    figure.tight_layout()
    output.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(output, dpi=80)
    print(f"wrote {output}")


if __name__ == "__main__":
    main()
