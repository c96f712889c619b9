"""What the American accuracy report measures: velarix's American price and
Greeks, recomputed on every run, set against the cached reference values of
accuracy_grid.py, and reduced to the numbers docs/ACCURACY.md prints and the
arrays its figures draw.
"""
import numpy as np

import accuracy_grid as grid_module
import velarix

# A price counts as below the European price only beyond the normal
# distribution's error (1.5e-10 relative) and the closed form's rounding.
BELOW_EUROPEAN_TOLERANCE = 1e-6
PREMIUM_THRESHOLD = 0.01
CAPTURED_THRESHOLD = 0.01
WORST_CASES = 5
CARRY_BAND = 0.01  # |r - q| within which a below-European option counts as near r = q
GREEK_NAMES = ("delta", "gamma", "theta", "vega", "rho")
STEP_OFFSET = 1e-3  # how far from the exercise boundary, relative to it, delta is read on each side
VEGA_EDGE_OPTION = dict(s=110.0, k=100.0, t=1.0, r=0.05, q=0.0)
EDGE_VOLATILITIES = (0.00005, 0.0001, 0.001, 0.01)
THETA_EDGE_OPTION = dict(s=100.0, k=100.0, r=0.05, sigma=0.2, q=0.0)
EDGE_TIMES = (0.00005, 0.0001, 0.001, 0.01)


def moneyness(options):
    exercise = np.where(options.is_call, options.s - options.k, options.k - options.s)
    return np.where(exercise > 0, "in the money", np.where(exercise < 0, "out of the money", "at the money"))


def worst(values):
    """The value farthest from zero, with its sign."""
    return float(values[np.argmax(np.abs(values))])


def price_measures(grid_values):
    options = grid_module.grid()
    am = options.priced_by(velarix.am_price)
    european = options.european()
    exercise = options.exercise_value()
    tree = grid_values["tree"]
    quantlib = grid_values["quantlib"]
    floor = np.maximum(european, exercise)
    below = am < european - BELOW_EUROPEAN_TOLERANCE
    premium = tree - floor
    has_premium = premium > PREMIUM_THRESHOLD
    captured = (am - floor)[has_premium] / premium[has_premium]
    quantlib_captured = (quantlib - floor)[has_premium] / premium[has_premium]
    tree_theta = grid_values["tree_day_later"] - tree
    am_theta = options.priced_by(velarix.am_theta)
    european_day_later = options.replaced(t=options.t - grid_module.ONE_DAY).european()
    theta_positive = am_theta > 0.0
    european_rises = (np.abs(am - european) <= BELOW_EUROPEAN_TOLERANCE) & (european_day_later > european)
    return {
        "options": options, "error": am - tree, "quantlib_error": quantlib - tree,
        "moneyness": moneyness(options), "below": below,
        "tree_european_error": float(np.max(np.abs(grid_values["tree_european"] - european))),
        "step_change": np.abs(tree - grid_values["tree_coarse"]),
        "floor_gap": float(np.max(np.abs(am - floor)[~below])),
        "below_exercise_gap": float(np.max(np.abs(am - exercise)[below], initial=0.0)),
        "premium_count": int(np.sum(has_premium)),
        "captured": captured, "quantlib_captured": quantlib_captured,
        "am_theta_positive": int(np.sum(theta_positive)),
        "am_theta_positive_european": int(np.sum(theta_positive & european_rises)),
        "am_theta_positive_puts": int(np.sum(theta_positive & ~options.is_call)),
        "tree_theta_max": float(np.max(tree_theta)),
    }


def random_measures():
    options = grid_module.random_options()
    am = options.priced_by(velarix.am_price)
    european = options.european()
    shortfall = am - european
    below = shortfall < -BELOW_EUROPEAN_TOLERANCE
    order = np.argsort(shortfall)[:WORST_CASES]
    return {
        "options": options, "below": below, "shortfall": shortfall,
        "worst_rows": order, "am": am, "european": european,
        "exercise_gap": float(np.max(np.abs(am - options.exercise_value())[below], initial=0.0)),
        "carry": (options.r - options.q)[below],
        "band_share": float(np.mean(np.abs(options.r - options.q) <= CARRY_BAND)),
    }


def perpetual_call_bound(options):
    """(B_inf - K) (S / B_inf)^beta of the call behind each option (a put's
    has spot and strike exchanged, rate q and carry q - r), as am_price's
    formula computes its beta and B_inf; infinite where the call has no
    early exercise (carry not below the rate, or no time left)."""
    carry = options.r - options.q
    spot = np.where(options.is_call, options.s, options.k)
    strike = np.where(options.is_call, options.k, options.s)
    rate = np.where(options.is_call, options.r, options.r - carry)
    b = np.where(options.is_call, carry, -carry)
    sigma2 = options.sigma * options.sigma
    ratio = b / sigma2
    with np.errstate(invalid="ignore", over="ignore", divide="ignore"):
        beta = (0.5 - ratio) + np.sqrt((ratio - 0.5) * (ratio - 0.5) + (2.0 * rate) / sigma2)
        b_infinity = (beta / (beta - 1.0)) * strike
        bound = (b_infinity - strike) * np.power(spot / b_infinity, beta)
    return np.where((b < rate) & (options.t > 0.0), bound, np.inf)


def breakdown_measures(unbounded):
    """Prices above the perpetual call's value, before the bound (recorded)
    and now, on the random set and the low-volatility one."""
    measures = {}
    for name, options in (("random", grid_module.random_options()),
                          ("low_volatility", grid_module.low_volatility_options())):
        am = options.priced_by(velarix.am_price)
        bound = perpetual_call_bound(options)
        rows = np.array(unbounded[name]["rows"], dtype=int)
        before = np.array(unbounded[name]["am_price"])
        excess = before - bound[rows]
        above_floor = am - np.maximum(options.european(), options.exercise_value())
        measures[name] = {
            "count": len(options), "before": len(rows), "before_by_cent": int(np.sum(excess > PREMIUM_THRESHOLD)),
            "before_by_one": int(np.sum(excess > 1.0)), "before_worst": float(np.max(excess, initial=0.0)),
            "before_shortest": float(np.min(options.t[rows], initial=np.inf)),
            "now": int(np.sum(am > bound)),
            "above_floor": int(np.sum(above_floor > BELOW_EUROPEAN_TOLERANCE)),
            "above_floor_by_cent": int(np.sum(above_floor > PREMIUM_THRESHOLD)),
            "above_floor_worst": float(np.max(above_floor)),
            "now_floor_gap": float(np.max(np.abs(am - np.maximum(options.european(), options.exercise_value()))[rows],
                                          initial=0.0)),
        }
    return measures


def greek_measures(cached_greeks):
    options = grid_module.grid()
    sample = options.subset(grid_module.greeks_sample(options))
    computed = sample.priced_by(lambda *option: tuple(getattr(velarix.am_greeks(*option), name)
                                                    for name in GREEK_NAMES))
    am = {name: computed[:, column] for column, name in enumerate(GREEK_NAMES)}
    # Calls without dividends at a positive rate: early exercise is worth
    # nothing there, and stays so under every bump (at r = 0 the rate bump goes
    # negative, where exercising a call early has value).
    no_premium = sample.is_call & (sample.q == 0.0) & (sample.r > 0.0)
    day_later = sample.replaced(t=sample.t - grid_module.ONE_DAY)
    closed_form = {
        "delta": sample.priced_by(velarix.bs_delta),
        "gamma": np.array([velarix.bs_gamma(*row) for row in zip(*sample.columns()[1:])]),
        "theta": day_later.european() - sample.european(),
        "vega": np.array([velarix.bs_vega(*row) for row in zip(*sample.columns()[1:])]),
        "rho": sample.priced_by(velarix.bs_rho),
    }
    # Every put of the grid at r = 0, whose down bump of the rate goes negative.
    zero_rate_puts = options.subset(~options.is_call & (options.r == 0.0))
    return {"sample": sample, "am": am, "tree": cached_greeks, "no_premium": no_premium,
            "closed_form": closed_form, "zero_rate_puts": len(zero_rate_puts),
            "zero_rate_put_rho": float(np.min(zero_rate_puts.priced_by(velarix.am_rho)))}


def line_measures(line_values):
    line = grid_module.line_options()
    option = grid_module.LINE_OPTION
    arguments = (option["k"], option["t"], option["r"], option["sigma"], option["q"], "put")

    def exercised(spot):
        return velarix.am_price(spot, *arguments) <= option["k"] - spot

    low, high = line.s[0], option["k"]
    while high - low > 1e-12 * high:
        middle = 0.5 * (low + high)
        low, high = (middle, high) if exercised(middle) else (low, middle)
    kink = high
    step = 1e-4 * kink
    gammas = [velarix.am_gamma(kink + offset * step, *arguments) for offset in np.linspace(-2.0, 2.0, 401)]
    tree_exercised = line_values["tree"] <= np.maximum(option["k"] - line.s, 0.0) + 1e-9
    return {
        "line": line,
        "am": line.priced_by(velarix.am_price), "am_delta": line.priced_by(velarix.am_delta),
        "am_gamma": line.priced_by(velarix.am_gamma), "european": line.european(),
        "european_delta": line.priced_by(velarix.bs_delta),
        "european_gamma": np.array([velarix.bs_gamma(*row) for row in zip(*line.columns()[1:])]),
        "tree": line_values["tree"], "tree_delta": line_values["tree_delta"], "tree_gamma": line_values["tree_gamma"],
        "kink": kink,
        "delta_below": velarix.am_delta(kink * (1.0 - STEP_OFFSET), *arguments),
        "delta_above": velarix.am_delta(kink * (1.0 + STEP_OFFSET), *arguments),
        "gamma_peak": max(gammas),
        "tree_gamma_max": float(np.max(line_values["tree_gamma"])),
        "tree_boundary": float(np.max(line.s[tree_exercised])),
    }


def edge_measures():
    o = VEGA_EDGE_OPTION
    vegas = [(sigma, velarix.am_vega(o["s"], o["k"], o["t"], o["r"], sigma, o["q"], "call"),
              velarix.bs_vega(o["s"], o["k"], o["t"], o["r"], sigma, o["q"])) for sigma in EDGE_VOLATILITIES]
    o = THETA_EDGE_OPTION
    thetas = [(t, option_type, velarix.am_theta(o["s"], o["k"], t, o["r"], o["sigma"], o["q"], option_type),
               velarix.bs_theta(o["s"], o["k"], t, o["r"], o["sigma"], o["q"], option_type))
              for t in EDGE_TIMES for option_type in ("call", "put")]
    return {"vegas": vegas, "thetas": thetas}


def measure(cache, unbounded):
    meta, grid_values, greeks, line_values = cache
    return {
        "breakdown": breakdown_measures(unbounded),
        "meta": meta,
        "cache_digest": grid_module.cache_digest(),
        "prices": price_measures(grid_values),
        "random": random_measures(),
        "greeks": greek_measures(greeks),
        "line": line_measures(line_values),
        "edges": edge_measures(),
    }
