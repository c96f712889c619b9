"""Turns the measures of accuracy_measures.py into the American accuracy
report of docs/ACCURACY.md (Markdown) and its four figures beside it in docs/.

Each figure is drawn from arrays whose SHA-256 is written into the PNG as its
"Comment" and into the page beside the image; `accuracy.py --check`
recomputes the arrays and compares, so a figure left behind by a change of
the data fails the check without redrawing pixels. The hash is taken over
each array in steps of a thousandth of its largest magnitude, about a pixel
of the figure: what it draws, not the last bits, which differ between C
runtimes (glibc's FMA and plain exp, log and pow change American Greeks by
up to 3e-6 relative) while the figure stays the same.
"""
import hashlib
import pathlib
import struct
import zlib

import numpy as np

import accuracy_grid as grid_module
import accuracy_measures as measures_module

DOCS = pathlib.Path(__file__).resolve().parent.parent / "docs"
FIGURES = ("accuracy_prices.png", "accuracy_below_european.png", "accuracy_greeks.png", "accuracy_atm_put.png")
LINE_SPACING = grid_module.LINE_SPOTS[1] - grid_module.LINE_SPOTS[0]
MATURITY_NAMES = {30: "30 days", 91: "3 months", 182: "6 months", 365: "1 year", 730: "2 years", 1095: "3 years"}
MONEYNESS_ORDER = ("in the money", "at the money", "out of the money")
GREEK_UNITS = {"delta": "per unit of spot", "gamma": "per unit of spot, squared", "theta": "per day",
               "vega": "per 1.00 vol", "rho": "per point"}


def in_figure_steps(values):
    """The values in steps of a thousandth of the largest finite magnitude;
    adding 0.0 makes a negative zero positive."""
    values = np.ravel(np.asarray(values, dtype=float))
    finite = np.abs(values[np.isfinite(values)])
    scale = finite.max() if finite.size and finite.max() > 0 else 1.0
    return np.where(np.isfinite(values), np.rint(values / scale * 1000.0) + 0.0, values)


def data_hash(arrays):
    text = "\n".join(name + ":" + ",".join(f"{value:.0f}" for value in in_figure_steps(values))
                     for name, values in sorted(arrays.items()))
    return hashlib.sha256(text.encode()).hexdigest()[:16]


def days(options):
    return np.rint(options.t * 365.0).astype(int)


# --- the data each figure draws ---------------------------------------------

def prices_figure_data(m):
    p = m["prices"]
    options = p["options"]
    return {"error": p["error"], "quantlib_error": p["quantlib_error"], "is_call": options.is_call,
            "days": days(options),
            "captured": p["captured"], "quantlib_captured": p["quantlib_captured"]}


def below_figure_data(m):
    random = m["random"]
    grid_prices = m["prices"]
    return {"r": random["options"].r, "q": random["options"].q, "below": random["below"],
            "grid_r": grid_prices["options"].r[grid_prices["below"]],
            "grid_q": grid_prices["options"].q[grid_prices["below"]]}


def greeks_figure_data(m):
    g = m["greeks"]
    data = {"no_premium": g["no_premium"]}
    for name in measures_module.GREEK_NAMES:
        data["am_" + name] = g["am"][name]
        data["tree_" + name] = g["tree"][name]
    return data


def line_figure_data(m):
    line = m["line"]
    return {name: line[name] for name in ("am", "am_delta", "am_gamma", "european", "european_delta",
                                          "european_gamma", "tree", "tree_delta", "tree_gamma")} | {
        "spot": line["line"].s, "gamma_peak": [line["gamma_peak"]], "kink": [line["kink"]]}


FIGURE_DATA = dict(zip(FIGURES, (prices_figure_data, below_figure_data, greeks_figure_data, line_figure_data)))


def figure_hashes(m):
    return {name: data_hash(FIGURE_DATA[name](m)) for name in FIGURES}


# --- figures ----------------------------------------------------------------

def draw_figures(m):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    hashes = figure_hashes(m)
    for name, draw in zip(FIGURES, (draw_prices, draw_below, draw_greeks, draw_line)):
        figure = draw(plt, FIGURE_DATA[name](m), m)
        figure.savefig(DOCS / name, dpi=72, metadata={"Comment": f"data sha256 {hashes[name]}", "Software": None})
        plt.close(figure)


def draw_prices(plt, d, m):
    figure, axes = plt.subplots(1, 3, figsize=(13, 4.2), gridspec_kw={"width_ratios": [1.2, 1.2, 1]})
    groups, labels = [], []
    for is_call in (False, True):
        for day, maturity in MATURITY_NAMES.items():
            groups.append((d["is_call"] == is_call) & (d["days"] == day))
            labels.append(f"{'call' if is_call else 'put'} {maturity}")
    for axis, key, title in ((axes[0], "error", "am_price - tree"), (axes[1], "quantlib_error", "QuantLib B-S - tree")):
        axis.boxplot([d[key][group] for group in groups], whis=(5, 95), flierprops={"markersize": 2})
        axis.set_xticks(range(1, len(labels) + 1), labels, rotation=70, fontsize=8)
        axis.set_title(title + " (boxes: quartiles, whiskers: 5%-95%)", fontsize=9)
        axis.grid(alpha=0.3)
    low = min(d["error"].min(), d["quantlib_error"].min())
    for axis in axes[:2]:
        axis.set_ylim(low * 1.05, 0.3)
    axes[0].set_ylabel("price difference (strike 100)")
    bins = np.linspace(0.0, 1.0, 21)
    axes[2].hist(np.clip(d["captured"], 0.0, 1.0), bins=bins, label="am_price", alpha=0.7)
    axes[2].hist(np.clip(d["quantlib_captured"], 0.0, 1.0), bins=bins, label="QuantLib B-S", alpha=0.7)
    axes[2].set_title("share captured of the tree's excess over\nmax(European, exercise value), where above 0.01",
                      fontsize=9)
    axes[2].set_xlabel("share captured (clipped to 0..1)")
    axes[2].set_ylabel("options")
    axes[2].legend(fontsize=8)
    figure.tight_layout()
    return figure


def draw_below(plt, d, m):
    figure, axis = plt.subplots(figsize=(6.4, 5))
    edges = np.linspace(0.0, 0.1, 11)
    total, _, _ = np.histogram2d(d["r"], d["q"], bins=(edges, edges))
    below, _, _ = np.histogram2d(d["r"][d["below"]], d["q"][d["below"]], bins=(edges, edges))
    image = axis.pcolormesh(edges, edges, (1000.0 * below / total).T, cmap="Reds", vmin=0.0)
    figure.colorbar(image, ax=axis, label="random options below European, per thousand")
    axis.scatter(d["r"][d["below"]], d["q"][d["below"]], s=14, marker="x", color="black",
                 label="random option below European")
    axis.scatter(d["grid_r"], d["grid_q"], s=40, facecolors="none", edgecolors="blue", label="grid option below European")
    axis.plot([0.0, 0.1], [0.0, 0.1], color="grey", linewidth=0.8, linestyle="--", label="r = q")
    axis.set_xlabel("rate r")
    axis.set_ylabel("dividend yield q")
    axis.set_title(f"am_price below the European price: {int(np.sum(d['below']))} of {len(d['below']):,} random options",
                   fontsize=9)
    axis.legend(fontsize=7, loc="upper left")
    figure.tight_layout()
    return figure


def draw_greeks(plt, d, m):
    figure, axes = plt.subplots(1, 5, figsize=(15, 3.3))
    no_premium = d["no_premium"].astype(bool)
    bins = np.linspace(-12.0, 2.0, 29)
    for axis, name in zip(axes, measures_module.GREEK_NAMES):
        scale = np.median(np.abs(d["tree_" + name]))
        error = np.log10(np.maximum(np.abs(d["am_" + name] - d["tree_" + name]) / scale, 1e-12))
        axis.hist([error[no_premium], error[~no_premium]], bins=bins, stacked=True,
                  label=["calls, no dividend, r > 0", "the others"])
        axis.set_title(f"am_{name}: log10 |am - tree| / {scale:.3g}", fontsize=9)
        axis.set_xlabel("log10 of the error in typical sizes", fontsize=8)
        axis.grid(alpha=0.3)
    axes[0].set_ylabel("options")
    axes[0].legend(fontsize=7)
    figure.tight_layout()
    return figure


def draw_line(plt, d, m):
    figure, axes = plt.subplots(1, 3, figsize=(13, 3.8))
    spot = d["spot"]
    for axis, key, title in zip(axes, ("", "_delta", "_gamma"), ("price", "delta", "gamma")):
        axis.plot(spot, d["european" + key], color="grey", linestyle=":", label="European")
        axis.plot(spot, d["tree" + key], color="black", linestyle="--", label="tree (American)")
        axis.plot(spot, d["am" + key], color="tab:red", label="velarix am_*")
        axis.axvline(d["kink"][0], color="tab:red", linewidth=0.5)
        axis.set_title(title, fontsize=10)
        axis.set_xlabel("spot")
        axis.grid(alpha=0.3)
    axes[0].plot(spot, np.maximum(100.0 - spot, 0.0), color="tab:green", linewidth=0.8, label="exercise value")
    axes[0].set_xlim(70, 110)
    axes[0].set_ylim(0, 31)
    axes[0].legend(fontsize=8)
    axes[2].set_ylim(-0.005, 0.06)
    axes[2].annotate(f"am_gamma at the kink: {d['gamma_peak'][0]:.3g}", xy=(0.97, 0.92), xycoords="axes fraction",
                     ha="right", fontsize=8)
    o = grid_module.LINE_OPTION
    figure.suptitle(f"American put, strike {o['k']:g}, {o['t']:g} year, rate {o['r']:g}, volatility {o['sigma']:g}, "
                    f"no dividend", fontsize=10)
    figure.tight_layout()
    return figure


def png_comment(path):
    """The "Comment" text chunk of a PNG, or None."""
    data = path.read_bytes()
    position = 8
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"tEXt" and body.startswith(b"Comment\0"):
            return body[len(b"Comment\0"):].decode("latin-1")
        if kind == b"zTXt" and body.startswith(b"Comment\0"):
            return zlib.decompress(body[len(b"Comment\0") + 1:]).decode("latin-1")
        position += 12 + length
    return None


def figure_problems(m):
    problems = []
    for name, expected in figure_hashes(m).items():
        path = DOCS / name
        comment = png_comment(path) if path.exists() else None
        if comment != f"data sha256 {expected}":
            problems.append(f"docs/{name} was not drawn from the current data ({comment!r}, expected {expected})")
    return problems


# --- the page's text --------------------------------------------------------

def number(value, digits=3):
    """A value to `digits` significant digits: thousands separated, or in
    exponent form below 0.001."""
    if value == 0:
        return "0"
    if abs(value) < 1e-3:
        return f"{value:.{digits - 1}e}"
    rounded = float(f"{value:.{digits}g}")
    decimals = max(digits - 1 - int(np.floor(np.log10(abs(rounded)))), 0)
    return f"{rounded:,.{decimals}f}"


def signed(value, digits=3):
    text = number(value, digits)
    return text if text.startswith("-") or text == "0" else "+" + text


def share(count, total):
    return f"{count:,} of {total:,}"


def percentile(values, q):
    return float(np.percentile(values, q))


def error_row(label, error, quantlib_error):
    return (f"| {label} | {len(error):,} | {signed(np.median(error))} | {signed(percentile(error, 5))} "
            f"| {signed(measures_module.worst(error))} | {signed(np.median(quantlib_error))} "
            f"| {signed(measures_module.worst(quantlib_error))} |")


def price_tables(p):
    options = p["options"]
    header = ["| {} | options | median | 5th percentile | worst | QuantLib: median | QuantLib: worst |",
              "|---|---:|---:|---:|---:|---:|---:|"]
    by_moneyness = [header[0].format("type, moneyness"), header[1]]
    for type_name, is_call in (("put", False), ("call", True)):
        for moneyness in MONEYNESS_ORDER:
            rows = (options.is_call == is_call) & (p["moneyness"] == moneyness)
            by_moneyness.append(error_row(f"{type_name}, {moneyness}", p["error"][rows], p["quantlib_error"][rows]))
    by_maturity = [header[0].format("type, maturity"), header[1]]
    for type_name, is_call in (("put", False), ("call", True)):
        for day, maturity in MATURITY_NAMES.items():
            rows = (options.is_call == is_call) & (days(options) == day)
            by_maturity.append(error_row(f"{type_name}, {maturity}", p["error"][rows], p["quantlib_error"][rows]))
    return "\n".join(by_moneyness), "\n".join(by_maturity)


def worst_below_table(random):
    o = random["options"]
    lines = ["| type | spot | strike | years | rate | vol | div | European | am_price | am_price - European |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for row in random["worst_rows"]:
        lines.append(f"| {'call' if o.is_call[row] else 'put'} | {o.s[row]:.2f} | {o.k[row]:.2f} | {o.t[row]:.2f} "
                     f"| {o.r[row]:.4f} | {o.sigma[row]:.3f} | {o.q[row]:.4f} | {random['european'][row]:.4f} "
                     f"| {random['am'][row]:.4f} | {random['shortfall'][row]:+.4f} |")
    return "\n".join(lines)


def greeks_table(g):
    no_premium = g["no_premium"]
    lines = ["| Greek | typical size (median of the tree's) | calls without dividend: velarix - closed form, worst "
             "| same: tree - closed form, worst | the others: median of abs(velarix - tree) | 95th percentile | worst |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    for name in measures_module.GREEK_NAMES:
        am, tree, closed = g["am"][name], g["tree"][name], g["closed_form"][name]
        error = (am - tree)[~no_premium]
        lines.append(
            f"| {name} ({GREEK_UNITS[name]}) "
            f"| {number(np.median(np.abs(tree)))} | {signed(measures_module.worst((am - closed)[no_premium]), 2)} "
            f"| {signed(measures_module.worst((tree - closed)[no_premium]), 2)} | {number(np.median(np.abs(error)), 2)} "
            f"| {number(percentile(np.abs(error), 95), 2)} | {signed(measures_module.worst(error), 3)} |")
    return "\n".join(lines)


def edges_table(edges):
    o = measures_module.VEGA_EDGE_OPTION
    vega = [f"Call, spot {o['s']:g}, strike {o['k']:g}, {o['t']:g} year, rate {o['r']:g}, no dividend:", "",
            "| volatility | am_vega | bs_vega |", "|---:|---:|---:|"]
    vega += [f"| {sigma:g} | {am:,.4f} | {bs:,.4f} |" for sigma, am, bs in edges["vegas"]]
    o = measures_module.THETA_EDGE_OPTION
    theta = [f"Spot and strike {o['s']:g}, rate {o['r']:g}, volatility {o['sigma']:g}, no dividend:", "",
             "| years | type | am_theta | bs_theta |", "|---:|---|---:|---:|"]
    theta += [f"| {t:g} | {option_type} | {am:+.4f} | {bs:+.4f} |" for t, option_type, am, bs in edges["thetas"]]
    return "\n".join(vega), "\n".join(theta)


def breakdown_text(b):
    random, low = b["random"], b["low_volatility"]
    return f"""\
**Above the perpetual call.** No American call with a finite expiry is worth
more than the perpetual one, (B∞ - K)(S/B∞)^β with the formula's own β and B∞
(a put through the put-call transformation). At low volatility and a large
carry the formula's twelve-term sum can exceed that bound, by far, and it is
the formula that does so, not rounding: of 284 such sums evaluated again at 60
digits, 283 are above the bound there too. `am_price` returns the European
value there, as where the sum is NaN. Before it did,
{share(random["before"], random["count"])} of the random options above were priced above the bound, and
{share(low["before"], low["count"])} random options at
low volatility (seed {grid_module.LOW_VOLATILITY_SEED}: volatility 1% to 12%, spot 20 to 300, strike within a factor
e^0.8 of the spot, 0.05 to 5 years, rate -2% to 12%, dividend yield -2% to 15%),
{low["before_by_cent"]:,} of these by more than {measures_module.PREMIUM_THRESHOLD:g} and {low["before_by_one"]:,} by more than 1 (the worst by
{number(low["before_worst"])}; on the random set the worst was {number(random["before_worst"])}); none of them expired in less than
{low["before_shortest"]:.2f} years. Now {random["now"]} of the first set and {low["now"]} of the second are, and
each of those options is priced at the larger of its European and exercise
values to within {max(random["now_floor_gap"], low["now_floor_gap"]):.0e}. Below the bound the sum is still returned
where it exceeds the European value: over the random set `am_price` is the
larger of the European and exercise values to within {number(random["above_floor_worst"], 2)}, but at low
volatility {low["above_floor"]:,} prices lie above both by more than {measures_module.BELOW_EUROPEAN_TOLERANCE:g}, {low["above_floor_by_cent"]} by more
than {measures_module.PREMIUM_THRESHOLD:g} (the most: {number(low["above_floor_worst"])}), and where the sum crosses the bound
the price steps down to the European value. The prices before the bound are kept in
`benchmarks/accuracy_cache/unbounded.json`, recorded with a module built
without it."""


def report_markdown(m):
    p, random, g, line, meta = m["prices"], m["random"], m["greeks"], m["line"], m["meta"]
    hashes = figure_hashes(m)
    options = p["options"]
    by_moneyness, by_maturity = price_tables(p)
    vega_table, theta_table = edges_table(m["edges"])
    put_error = p["error"][~options.is_call]
    grid_below = int(np.sum(p["below"]))
    random_below = int(np.sum(random["below"]))
    band = int(np.sum(np.abs(random["carry"]) <= measures_module.CARRY_BAND))
    exercise_gap = max(random["exercise_gap"], p["below_exercise_gap"])
    vegas = m["edges"]["vegas"]
    no_premium = g["no_premium"]
    relative = {name: np.max(np.abs(g["am"][name] - g["closed_form"][name])[no_premium]
                             / np.median(np.abs(g["tree"][name])))
                for name in measures_module.GREEK_NAMES}
    o = grid_module.LINE_OPTION
    return f"""\
**The grid.** {len(options):,} American options, every combination of:
calls and puts; strike 100; spot {", ".join(f"{s:g}" for s in grid_module.SPOTS)};
maturity {", ".join(MATURITY_NAMES.values())};
rate {", ".join(f"{r:.0%}" for r in grid_module.RATES)}; volatility {", ".join(f"{v:.0%}" for v in grid_module.VOLATILITIES)};
dividend yield {", ".join(f"{q:.0%}" for q in grid_module.DIVIDENDS)}. The Greeks are compared on {len(g["sample"])} of
them, drawn with seed {grid_module.GREEKS_SAMPLE_SEED}. Reference values: `benchmarks/accuracy_cache/`
(sha256 {m["cache_digest"]}, numpy {meta["numpy"]}, QuantLib {meta["QuantLib"]}), of which `--check`
recomputes the tree's on {grid_module.CHECK_SAMPLE_SIZE} grid options drawn with seed {grid_module.CHECK_SAMPLE_SEED}.

**The reference.** A Leisen-Reimer binomial tree of {meta["steps"]:,} steps
(`benchmarks/lattice.py`, numpy). Without early exercise it gives the
Black-Scholes price to within {p["tree_european_error"]:.1e} on every grid option. Its
American prices move by at most {number(np.max(p["step_change"]), 2)} between {meta["coarse_steps"]:,} and {meta["steps"]:,}
steps (median {float(np.median(p["step_change"])):.1e}, 99th percentile {number(percentile(p["step_change"], 99), 2)}), small against the
differences below. Its Greeks are central differences of its prices (spot
moved by {grid_module.TREE_SPOT_STEP:g} s·σ·√t, volatility by {grid_module.TREE_VOLATILITY_STEP:g}, rate by {grid_module.TREE_RATE_STEP:g}) and, for theta,
the one-day change, as velarix defines it.

**What `am_price` is.** On the grid, apart from the {grid_below} options below the European
price (further down), `am_price` is the larger of the European price and the
exercise value, to within {p["floor_gap"]:.0e} (at low volatility it can be more: see
the perpetual call below). It adds no early-exercise premium beyond
that: of the {p["premium_count"]:,} grid options whose tree price exceeds
max(European, exercise value) by more than {measures_module.PREMIUM_THRESHOLD:g}, `am_price` captures more than
{measures_module.CAPTURED_THRESHOLD:.0%} of that excess in {int(np.sum(p["captured"] > measures_module.CAPTURED_THRESHOLD))} of them (its largest share: {np.max(p["captured"]):.0e}).
QuantLib {meta["QuantLib"]}'s `BjerksundStenslandApproximationEngine`, run on the same
grid as a black box, captures a median {np.median(p["quantlib_captured"]):.0%} of it (5th percentile
{percentile(p["quantlib_captured"], 5):.0%}, 95th {percentile(p["quantlib_captured"], 95):.0%}).

On the grid, then, `am_price` is below the tree wherever early exercise is
worth something. For puts, `am_price` - tree has median {signed(np.median(put_error))}, 5th percentile
{signed(percentile(put_error, 5))}, worst {signed(np.min(put_error))}; it is never above the tree by more than
{number(np.max(p["error"]), 2)}, the tree's own error. By type and moneyness, then by maturity
(currency, strike 100; QuantLib - tree beside it):

{by_moneyness}

{by_maturity}

![am_price - tree and QuantLib - tree by type and maturity, and the share of the early-exercise excess each captures](accuracy_prices.png)
<!-- figure data sha256: {hashes["accuracy_prices.png"]} -->

**Below the European price.** `am_price` is below the European price
(by more than {measures_module.BELOW_EUROPEAN_TOLERANCE:g}) for {share(grid_below, len(options))} grid options and for
{share(random_below, len(random["below"]))} random options (seed {grid_module.RANDOM_SEED}: spot and strike
50 to 150, 0.02 to 3 years, rate and dividend yield 0 to 10%, volatility 5 to
80%). In every one of them `am_price` is the exercise value{" exactly" if exercise_gap == 0 else f", to within {exercise_gap:.0e}"}:
these are options whose spot is past the formula's trigger price, a branch
that returns the exercise value as designed, without the European floor.
They gather where the rate and the dividend yield are close, most densely
where both are small (the map): {band} of the {random_below} random ones have r and q within
{measures_module.CARRY_BAND:g} of each other, against {random["band_share"]:.0%} of all the random options, though
r - q ranges from {np.min(random["carry"]):+.3f} to {np.max(random["carry"]):+.3f} among them. An American price below
its European twin is an arbitrage. The branch bends the Greeks near it too,
since a bumped price can land in it where the option's own does not: the
step of `am_delta` in the put below, and a put at r = 0, whose down bump of
the rate is negative, where `am_rho` reaches {number(g["zero_rate_put_rho"])} (the least of the grid's
{g["zero_rate_puts"]} puts at r = 0; rho's typical size is {number(np.median(np.abs(g["tree"]["rho"])))}). The worst random cases:

{worst_below_table(random)}

![Where am_price falls below the European price, over rate and dividend yield](accuracy_below_european.png)
<!-- figure data sha256: {hashes["accuracy_below_european.png"]} -->

{breakdown_text(m["breakdown"])}

**The Greeks.** They are finite differences of `am_price`, so they inherit
its shape. For the at-the-money put below ({o["t"]:g} year, rate {o["r"]:g}, volatility
{o["sigma"]:g}, no dividend), `am_price` meets the exercise value at spot
{line["kink"]:.2f}, where the tree exercises only up to {line["tree_boundary"]:g} (on a {LINE_SPACING:g} spot grid): `am_delta` is
{line["delta_below"]:.4f} just below ({measures_module.STEP_OFFSET:.1%} away) and {line["delta_above"]:.4f} just above, a step where
the tree's delta is continuous, and `am_gamma` spikes to {number(line["gamma_peak"])} at the step,
where the tree's largest gamma along the spot is {number(line["tree_gamma_max"])}. `am_theta` is
positive for {share(p["am_theta_positive"], len(options))} grid options ({p["am_theta_positive_puts"]} of them puts); in
{p["am_theta_positive_european"]} of these `am_price` is the European price and the European price
rises over the day. The tree's one-day theta is never positive (its largest
is {p["tree_theta_max"]:g}), as it must not be: an American option with a day less to run is
worth no more.

![Price, delta and gamma of an at-the-money American put across the spot: velarix, the tree and the European](accuracy_atm_put.png)
<!-- figure data sha256: {hashes["accuracy_atm_put.png"]} -->

The five Greeks on the {len(g["sample"])} sampled options. Where early exercise is worth
nothing (the {int(np.sum(no_premium))} sampled calls without dividend at a positive rate) the
American Greeks are the European ones: they agree with the closed form (the
Black-Scholes Greeks, and its one-day change for theta) to {max(relative.values()):.0e} of the
Greek's typical size or better; the table gives the tree's own distance from
the closed form beside it. On the other {int(np.sum(~no_premium))} options, against the tree's
Greeks, the median difference is small but the worst are of the Greek's own
size. They are the worst of these {int(np.sum(~no_premium))} options, not bounds: larger samples
find larger ones, such as the rho above.

{greeks_table(g)}

![Distribution of the American Greeks' error against the tree](accuracy_greeks.png)
<!-- figure data sha256: {hashes["accuracy_greeks.png"]} -->

**Small volatility and small time.** `am_vega` bumps the volatility by
0.0001 each way, so below 0.0001 its down bump prices a negative volatility:
{number(vegas[0][1], 5)} at volatility {vegas[0][0]:g}, where the European vega is {vegas[0][2]:g}.
`am_theta` prices the option a day later but never at less than 0.0001
years: at t = 0.0001 it is zero, below it positive, and for t under a day
(plus 0.0001) it is the change over t - 0.0001 years rather than a day.

{vega_table}

{theta_table}
"""
