"""velarix_batch.implied_volatility as callers see it: the inverse of
european_price and american_price over a book, the same bits however the
work is split or called, the reasons of the prices no volatility gives, and
the refusals of its keywords."""
import numpy as np
import pytest
import velarix_batch as vb
from conftest import bits

RNG = np.random.default_rng(20261209)
N = 300
BOOK = dict(s=100.0, k=RNG.uniform(70, 140, N), t=RNG.uniform(0.05, 3, N), r=RNG.uniform(0.0, 0.08, N),
            q=RNG.uniform(0.0, 0.06, N), option_type=np.where(RNG.random(N) < 0.5, "call", "put"))
SIGMA = RNG.uniform(0.1, 0.6, N)


@pytest.mark.parametrize("exercise, accuracy, tolerance", [("european", "fast", 1e-12), ("american", "fast", 1e-10),
                                                           ("american", "accurate", 1e-10)])
def test_prices_return_their_volatilities_with_the_same_bits_however_called(exercise, accuracy, tolerance):
    price_of = vb.european_price if exercise == "european" else vb.american_price
    keywords = {} if exercise == "european" else {"accuracy": accuracy}
    prices = price_of(sigma=SIGMA, **BOOK, **keywords)
    found, reasons = vb.implied_volatility(prices, **BOOK, exercise=exercise, accuracy=accuracy, reasons=True,
                                           threads=1)
    intrinsic = np.where(BOOK["option_type"] == "call", np.maximum(100 - BOOK["k"], 0), np.maximum(BOOK["k"] - 100, 0))
    exercised = (exercise == "american") & (prices == intrinsic)
    assert np.all(reasons[exercised] == 4) and np.all(np.isnan(found[exercised]))
    assert np.all(reasons[~exercised] == 0)
    # Where vega is tiny the price's rounding alone moves the volatility.
    allowed = tolerance + 64 * 2.0**-53 * prices / vb.bs_vega(100.0, BOOK["k"], BOOK["t"], BOOK["r"], SIGMA, BOOK["q"])
    assert np.all((np.abs(found - SIGMA) <= allowed)[~exercised])
    whole = [bits(v) for v in found.tolist()]
    again = vb.implied_volatility(prices, **BOOK, exercise=exercise, accuracy=accuracy, threads=3)
    assert [bits(v) for v in again.tolist()] == whole
    for i in range(0, N, 41):
        one = {key: (value[i] if isinstance(value, np.ndarray) else value) for key, value in BOOK.items()}
        result = vb.implied_volatility(prices[i], **one, exercise=exercise, accuracy=accuracy)
        assert isinstance(result, np.float64) and bits(result) == whole[i]


def test_prices_no_volatility_gives_are_nan_with_their_reason():
    # s = 100, k = 120, t = 0.5, r = 3%, q = 1%: a call lies in (0, s e^(-qT)).
    prices = np.array([[1.6713742953197156, 0.0, -1.0], [100.0, np.nan, 1.0]])
    t = np.array([0.5, 0.5, 0.5])
    found, reasons = vb.implied_volatility(prices, 100, 120, t, 0.03, 0.01, reasons=True)
    assert reasons.dtype == np.int8 and reasons.shape == (2, 3)
    assert reasons.tolist() == [[0, 0, 2], [3, 1, 0]]
    assert abs(found[0, 0] - 0.25) <= 1e-16 and found[0, 1] == 0.0 and np.isnan(found[1, :2]).all()
    assert vb.IMPLIED_VOLATILITY_REASONS[0] == "solved" and len(vb.IMPLIED_VOLATILITY_REASONS) == 7
    scalar, code = vb.implied_volatility(-1.0, 100, 120, 0.5, 0.03, reasons=True)
    assert np.isnan(scalar) and isinstance(code, np.int8) and code == 2
    # An American put deep in the money at its exercise value; one in the
    # band regime the engine does not solve.
    assert vb.implied_volatility([40.0, 8.0], [60, 100], 100, 0.5, [0.05, -0.01], [0.0, -0.03], "put",
                                 exercise="american", reasons=True)[1].tolist() == [4, 5]


@pytest.mark.parametrize("keywords, error, message", [
    ({"exercise": "bermudan"}, ValueError, "exercise must be 'european' or 'american', not 'bermudan'"),
    ({"accuracy": "exact"}, ValueError, "accuracy must be 'fast' or 'accurate', not 'exact'"),
    ({"exercise": 1}, TypeError, "argument 'exercise': 'int' object cannot be converted to 'str'"),
    ({"reasons": 1}, TypeError, "argument 'reasons': 'int' object cannot be converted to 'bool'"),
    ({"k": [100, 110, 120]}, ValueError, "shape mismatch: the inputs cannot be broadcast together: price (2,), k (3,)"),
    ({"price": ["x", 1.0]}, TypeError, "argument 'price': must be real number, not str"),
])
def test_keywords_and_arguments_are_refused_in_their_own_words(keywords, error, message):
    arguments = {"price": [10.0, 11.0], "s": 100, "k": 100, "t": 1.0, "r": 0.05} | keywords
    with pytest.raises(error) as raised:
        vb.implied_volatility(**arguments)
    assert str(raised.value) == message
