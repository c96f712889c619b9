"""Results against an independent reference, bit for bit, and the documented
values at the edges, the sign of zero included."""
import math
import random

import pytest
import velarix
from conftest import bits

import reference

EUROPEAN_SINGLES = {"delta": velarix.bs_delta, "theta": velarix.bs_theta, "rho": velarix.bs_rho}
AMERICAN_SINGLES = {"delta": velarix.am_delta, "gamma": velarix.am_gamma, "theta": velarix.am_theta,
                    "vega": velarix.am_vega, "rho": velarix.am_rho}
FIELDS = ("delta", "gamma", "theta", "vega", "rho")


def random_options(seed, count):
    generator = random.Random(seed)
    for _ in range(count):
        yield (generator.uniform(1, 400), generator.uniform(1, 400), generator.uniform(0.01, 5),
               generator.uniform(-0.02, 0.15), generator.uniform(0.05, 1.0), generator.uniform(0.0, 0.15),
               generator.choice(["call", "put"]))


@pytest.mark.parametrize("seed", range(4))
def test_european_greeks_match_the_reference_bit_for_bit(seed):
    for s, k, t, r, sigma, q, option_type in random_options(seed, 1000):
        expected = reference.bs_greeks(s, k, t, r, sigma, q, option_type == "call")
        greeks = velarix.bs_greeks(s, k, t, r, sigma, q, option_type)
        singles = (velarix.bs_delta(s, k, t, r, sigma, q, option_type), velarix.bs_gamma(s, k, t, r, sigma, q),
                   velarix.bs_theta(s, k, t, r, sigma, q, option_type), velarix.bs_vega(s, k, t, r, sigma, q),
                   velarix.bs_rho(s, k, t, r, sigma, q, option_type))
        assert [bits(x) for x in singles] == [bits(x) for x in expected], (s, k, t, r, sigma, q, option_type)
        assert [bits(getattr(greeks, f)) for f in FIELDS] == [bits(x) for x in expected]


@pytest.mark.parametrize("seed", range(2))
def test_american_price_and_greeks_match_the_reference_bit_for_bit(seed):
    for s, k, t, r, sigma, q, option_type in random_options(100 + seed, 300):
        call = option_type == "call"
        assert bits(velarix.am_price(s, k, t, r, sigma, q, option_type)) == bits(
            reference.am_price(s, k, t, r, sigma, q, call))
        expected = reference.am_greeks(s, k, t, r, sigma, q, call)
        greeks = velarix.am_greeks(s, k, t, r, sigma, q, option_type)
        assert [bits(getattr(greeks, f)) for f in FIELDS] == [bits(x) for x in expected], (s, k, t, r, sigma, q)
        singles = [AMERICAN_SINGLES[f](s, k, t, r, sigma, q, option_type) for f in FIELDS]
        assert [bits(x) for x in singles] == [bits(x) for x in expected]


def test_integers_and_defaults_give_the_same_bits():
    expected = velarix.bs_delta(100.0, 100.0, 1.0, 0.05, 0.2, 0.0, "call")
    assert bits(velarix.bs_delta(100, 100, 1, 0.05, 0.2)) == bits(expected)
    assert bits(velarix.bs_delta(option_type="call", sigma=0.2, q=0.0, r=0.05, t=1, k=100, s=100)) == bits(expected)
    assert bits(velarix.bs_delta(True, True, True, 0.05, 0.2)) == bits(velarix.bs_delta(1.0, 1.0, 1.0, 0.05, 0.2))


# Documented outcomes at the edges: (function, arguments, expected result).
NAN = float("nan")
EDGES = [
    (velarix.bs_delta, (110, 100, 0, 0.05, 0.2, 0, "call"), 1.0),
    (velarix.bs_delta, (110, 100, 0, 0.05, 0.2, 0, "put"), -0.0),
    (velarix.bs_gamma, (110, 100, 0, 0.05, 0.2, 0), NAN),
    (velarix.bs_theta, (110, 100, 0, 0.05, 0.2, 0, "call"), NAN),
    (velarix.bs_vega, (110, 100, 0, 0.05, 0.2, 0), 0.0),
    (velarix.bs_rho, (110, 100, 0, 0.05, 0.2, 0, "call"), 0.0),
    (velarix.bs_rho, (110, 100, 0, 0.05, 0.2, 0, "put"), -0.0),
    (velarix.bs_delta, (90, 100, 0, 0.05, 0.2, 0, "call"), 0.0),
    (velarix.bs_delta, (90, 100, 0, 0.05, 0.2, 0, "put"), -1.0),
    (velarix.bs_rho, (90, 100, 0, 0.05, 0.2, 0, "put"), -0.0),
    (velarix.bs_delta, (100, 100, 0, 0.05, 0.2, 0, "call"), NAN),
    (velarix.bs_vega, (100, 100, 0, 0.05, 0.2, 0), NAN),
    (velarix.bs_delta, (0, 100, 1, 0.05, 0.2, 0.02, "call"), 0.0),
    (velarix.bs_delta, (0, 100, 1, 0.05, 0.2, 0.02, "put"), -math.exp(-0.02)),
    (velarix.bs_gamma, (0, 100, 1, 0.05, 0.2, 0.02), NAN),
    (velarix.bs_theta, (0, 100, 1, 0.05, 0.2, 0.02, "call"), 0.0),
    (velarix.bs_delta, (100, 0, 1, 0.05, 0.2, 0.02, "call"), math.exp(-0.02)),
    (velarix.bs_gamma, (100, 0, 1, 0.05, 0.2, 0.02), 0.0),
    (velarix.bs_delta, (100, 100, -1, 0.05, 0.2, 0, "call"), NAN),
    (velarix.bs_delta, (-100, 100, 1, 0.05, 0.2, 0, "call"), NAN),
    (velarix.bs_delta, (100, 100, 1, 0.05, NAN, 0, "call"), NAN),
    (velarix.bs_delta, (100, 100, 1, -1.0, 0.2, 0, "call"), reference.bs_greeks(100, 100, 1, -1.0, 0.2, 0, True)[0]),
    (velarix.am_price, (110, 100, 0, 0.05, 0.2, 0, "call"), 10.0),
    (velarix.am_price, (110, 100, -1, 0.05, 0.2, 0, "put"), 0.0),
    (velarix.am_price, (90, 100, 0, 0.05, 0.2, 0, "put"), 10.0),
    (velarix.am_price, (150, 100, 1, 0.05, 0.2, 0.10, "call"), 50.0),
    (velarix.am_price, (110, 100, 1, 0.05, NAN, 0.02, "call"), 10.0),
    (velarix.am_theta, (150, 100, 1, 0.05, 0.2, 0.10, "call"), 0.0),
    (velarix.am_vega, (150, 100, 1, 0.05, 0.2, 0.10, "call"), 0.0),
    (velarix.am_rho, (150, 100, 1, 0.05, 0.2, 0.10, "call"), 0.0),
    (velarix.am_delta, (0, 100, 1, 0.05, 0.2, 0, "put"), NAN),
    (velarix.am_gamma, (0, 100, 1, 0.05, 0.2, 0, "put"), NAN),
]


@pytest.mark.parametrize("function, arguments, expected", EDGES, ids=lambda v: getattr(v, "__name__", None))
def test_documented_edge_values(function, arguments, expected):
    assert bits(function(*arguments)) == bits(expected)


@pytest.mark.parametrize("option_type", ["call", "put"])
def test_european_identities(option_type):
    greeks = velarix.bs_greeks(100, 100, 1, 0.05, 0.2, 0, option_type)
    expected = {"call": (0.637, 0.0188, -0.0176, 37.52, 0.532), "put": (-0.363, 0.0188, -0.00454, 37.52, -0.419)}
    for field, value in zip(FIELDS, expected[option_type]):
        assert getattr(greeks, field) == pytest.approx(value, rel=3e-3)
    call_delta = velarix.bs_delta(100, 95, 0.5, 0.05, 0.3, 0.02, "call")
    put_delta = velarix.bs_delta(100, 95, 0.5, 0.05, 0.3, 0.02, "put")
    assert call_delta - put_delta == pytest.approx(math.exp(-0.02 * 0.5), abs=1e-15)


def test_american_values_stand_where_documented():
    assert velarix.am_price(100, 100, 1, 0.05, 0.2, 0, "put") == pytest.approx(5.5735, abs=1e-4)
    assert velarix.am_price(100, 100, 1, 0.05, 0.2, 0.03, "call") == pytest.approx(8.6525, abs=1e-4)
    call = velarix.am_greeks(100, 100, 1, 0.05, 0.2, 0.03, "call")
    assert (call.delta, call.vega, call.rho, call.theta) == pytest.approx((0.562, 37.9, 0.476, -0.0123), rel=3e-3)


def american_bits(s, k, t, r, sigma, q, option_type):
    """am_price, am_greeks and the five single Greeks, as bits."""
    greeks = velarix.am_greeks(s, k, t, r, sigma, q, option_type)
    return ([bits(velarix.am_price(s, k, t, r, sigma, q, option_type))]
            + [bits(getattr(greeks, f)) for f in FIELDS]
            + [bits(AMERICAN_SINGLES[f](s, k, t, r, sigma, q, option_type)) for f in FIELDS])


def reference_bits(s, k, t, r, sigma, q, option_type):
    call = option_type == "call"
    price = bits(reference.am_price(s, k, t, r, sigma, q, call))
    greeks = [bits(x) for x in reference.am_greeks(s, k, t, r, sigma, q, call)]
    return [price] + greeks + greeks


# Where the American formula changes branch. A carry exactly equal to the
# rate (a call without dividends; a put at a zero rate, whose transformed
# rate and carry are then both q) is priced as European; with a negative
# rate or yield the early-exercise formula would give a finite value there,
# so the branch shows in the bits. The bumps of r keep the carry equal to it.
CARRY_EQUALS_RATE = [
    (100.0, 90.0, 1.0, 0.05, 0.2, 0.0, "call"),
    (100.0, 90.0, 1.0, -0.05, 0.2, 0.0, "call"),
    (100.0, 110.0, 2.0, -0.08, 0.15, 0.0, "call"),
    (100.0, 110.0, 1.0, 0.0, 0.2, 0.03, "put"),
    (100.0, 110.0, 1.0, 0.0, 0.2, -0.05, "put"),
    (90.0, 100.0, 2.0, 0.0, 0.15, -0.08, "put"),
    (100.0, 100.0, 1.0, 0.0, 0.2, 0.0, "put"),
]


# A rate the size of rho's bump, so that a bumped rate is zero or twice the
# bump, where the bump's last bit shows in the price.
RATE_AT_THE_BUMP = [
    (56.32897882252741, 100.0, 1.669349183442805, 0.0001, 0.5987856365572959, 0.04, "call"),
    (100.0, 100.0, 1.0, 0.0001, 0.2, 0.03, "call"),
    (100.0, 110.0, 1.0, -0.0001, 0.3, 0.0, "put"),
    (90.0, 100.0, 0.5, 0.0001, 0.25, 0.0, "put"),
]


@pytest.mark.parametrize("option", RATE_AT_THE_BUMP + CARRY_EQUALS_RATE, ids=str)
def test_american_results_at_the_edges_of_branches_and_bumps_match_the_reference(option):
    assert american_bits(*option) == reference_bits(*option)


def spot_at_call_trigger(k, t, r, sigma, q):
    return reference.call_trigger(k, t, r, r - q, sigma)


def strike_at_put_trigger(s, t, r, sigma, q):
    b = r - q
    return reference.call_trigger(s, t, r - b, -b, sigma)


@pytest.mark.parametrize("option_type", ["call", "put"])
def test_a_spot_exactly_at_the_trigger_price_is_exercised_at_once(option_type):
    """The trigger I2 is where immediate exercise begins: the price there is
    the intrinsic value exactly, and one ulp inside it the formula's value."""
    t, r, sigma, q = 1.0, 0.06, 0.25, 0.1
    if option_type == "call":
        k = 100.0
        s = spot_at_call_trigger(k, t, r, sigma, q)
        inside, intrinsic = (math.nextafter(s, 0.0), k), s - k
    else:
        t, r, q = 1.0, 0.1, 0.02
        s = 80.0
        k = strike_at_put_trigger(s, t, r, sigma, q)
        inside, intrinsic = (s, math.nextafter(k, 0.0)), k - s
    assert bits(velarix.am_price(s, k, t, r, sigma, q, option_type)) == bits(intrinsic)
    assert american_bits(s, k, t, r, sigma, q, option_type) == reference_bits(s, k, t, r, sigma, q, option_type)
    assert american_bits(*inside, t, r, sigma, q, option_type) == reference_bits(*inside, t, r, sigma, q, option_type)
