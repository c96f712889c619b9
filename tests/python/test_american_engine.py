"""velarix_batch's accurate American engine and European price as callers
see them: the same bits however the work is split or called, the keywords
and their refusals, and the bounds tying the functions to each other."""
import numpy as np
import pytest
import velarix_batch as vb
from conftest import bits

RNG = np.random.default_rng(20261208)
N = 400
BOOK = dict(s=RNG.uniform(60, 140, N), k=100.0, t=RNG.uniform(0.02, 3, N), r=RNG.uniform(-0.01, 0.1, N),
            sigma=RNG.uniform(0.05, 0.8, N), q=RNG.uniform(-0.01, 0.1, N),
            option_type=np.where(RNG.random(N) < 0.5, "call", "put"))


def as_bits(result):
    fields = result if isinstance(result, tuple) else (result,)
    return [[bits(v) for v in np.ravel(field).tolist()] for field in fields]


@pytest.mark.parametrize("name", ["american_price", "american_greeks", "exercise_boundary", "european_price"])
def test_the_same_bits_on_any_threads_and_element_by_element(name):
    function = getattr(vb, name)
    book = {key: value for key, value in BOOK.items() if not (name == "exercise_boundary" and key == "s")}
    whole = as_bits(function(**book, threads=1))
    assert as_bits(function(**book, threads=3)) == whole
    for i in range(0, N, 37):
        one = {key: (value[i] if isinstance(value, np.ndarray) else value) for key, value in book.items()}
        assert as_bits(function(**one)) == [[field[i]] for field in whole]


def test_american_values_lie_between_their_bounds_and_the_settings_agree():
    american = vb.american_price(**BOOK)
    accurate = vb.american_price(**BOOK, accuracy="accurate")
    european = vb.european_price(**BOOK)
    intrinsic = np.where(BOOK["option_type"] == "put", np.maximum(100 - BOOK["s"], 0), np.maximum(BOOK["s"] - 100, 0))
    finite = ~np.isnan(american)  # the double-boundary cases are NaN
    both_negative = (BOOK["r"] < 0) & (BOOK["q"] < 0)
    assert np.all(finite | both_negative)
    assert np.all(american[finite] >= european[finite]) and np.all(american[finite] >= intrinsic[finite])
    assert np.max(np.abs(american - accurate)[finite]) < 2e-3
    assert np.any(american[finite] != accurate[finite])  # two settings, not one


def test_greeks_land_in_their_fields():
    # A put whose Greeks are published to many digits (per year / per unit).
    greeks = vb.american_greeks(100, 100, 1, 0.05, 0.25, 0.03, "put", accuracy="accurate")
    expected = (-0.4243323546, 0.0163936586, -3.83021853 / 365, 38.1835152, -38.3827544 / 100)
    assert np.allclose(greeks, expected, rtol=1e-4, atol=0)


def test_the_exercise_boundary_is_where_exercise_begins():
    k, t, r, sigma = 100.0, 1.0, 0.06, 0.3
    put = vb.exercise_boundary(k, t, r, sigma, 0.0, "put")
    assert 0 < put < k
    assert vb.american_price(put * 0.999, k, t, r, sigma, 0.0, "put") == k - put * 0.999
    assert vb.american_price(put * 1.01, k, t, r, sigma, 0.0, "put") > k - put * 1.01
    assert vb.exercise_boundary(k, t, r, sigma, 0.0, "call") == np.inf  # no dividends: never early
    call = vb.exercise_boundary(k, t, r, sigma, 0.08, "call")
    assert vb.american_price(call * 1.001, k, t, r, sigma, 0.08, "call") == call * 1.001 - k


def test_keyword_refusals():
    with pytest.raises(ValueError, match="accuracy must be 'fast' or 'accurate', not 'exact'"):
        vb.american_price(100, 100, 1, 0.05, 0.2, accuracy="exact")
    with pytest.raises(TypeError, match="argument 'accuracy'"):
        vb.american_greeks(100, 100, 1, 0.05, 0.2, accuracy=1)
    with pytest.raises(TypeError, match="unexpected keyword argument 's'"):
        vb.exercise_boundary(100, 1, 0.05, 0.2, s=100)
    with pytest.raises(TypeError, match="unexpected keyword argument 'accuracy'"):
        vb.european_price(100, 100, 1, 0.05, 0.2, accuracy="fast")
    with pytest.raises(ValueError, match="shape mismatch"):
        vb.american_price([1, 2], [1, 2, 3], 1, 0.05, 0.2)
    assert np.isnan(vb.american_price(100, 100, 1, 0.05, -0.2))
