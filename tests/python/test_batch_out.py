"""velarix_batch's out=, as numpy's ufuncs take it: results written into the
caller's arrays, bit for bit those of new arrays, on any number of threads,
and those very arrays returned; arrays that cannot take the results refused
before anything is written; and outputs that are inputs too, or overlap
them, still giving the results of separate arrays."""
import numpy as np
import pytest
import velarix
import velarix_batch
from batch_helpers import batch_bits

GENERATOR = np.random.default_rng(11)
# 40,000 European options: two threads get a chunk each.
SPOT, STRIKE = GENERATOR.uniform(50, 150, (200, 200)), GENERATOR.uniform(50, 150, 200)
TYPES = np.where(GENERATOR.uniform(size=200) < 0.5, "call", "put")
CALLS = {
    "bs_delta": lambda **kw: velarix_batch.bs_delta(SPOT, STRIKE, 0.5, 0.05, 0.3, 0.01, TYPES, **kw),
    "bs_greeks": lambda **kw: velarix_batch.bs_greeks(SPOT, STRIKE, 0.5, 0.05, 0.3, 0.01, TYPES, **kw),
    "american_greeks": lambda **kw: velarix_batch.american_greeks(SPOT[:2, :70], STRIKE[:70], 0.5, 0.05, 0.3, **kw),
    "implied_volatility": lambda **kw: velarix_batch.implied_volatility(
        SPOT[:, :3] / 10, 100.0, STRIKE[:3], 0.5, 0.05, reasons=True, **kw),
}


def poisoned_like(result):
    """Arrays of the results' shapes and dtypes holding values no result has."""
    if isinstance(result, tuple):
        return tuple(poisoned_like(field) for field in result)
    return np.full_like(result, -123.456 if result.dtype == np.float64 else 99)


def entries(result):
    return result if isinstance(result, tuple) else (result,)


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("name", CALLS)
def test_results_are_written_into_the_arrays_given_which_are_returned(name, threads):
    expected = CALLS[name](threads=1)
    out = poisoned_like(expected)
    result = CALLS[name](out=out, threads=threads)
    assert type(result) is type(expected)
    assert all(returned is given for returned, given in zip(entries(result), entries(out), strict=True))
    assert [x.tobytes() for x in entries(result)] == [x.tobytes() for x in entries(expected)]


def test_a_0d_out_and_a_tuple_of_one_are_returned_as_given():
    out = np.full((), -1.0)
    assert velarix_batch.bs_delta(100.0, 95.0, 0.5, 0.05, 0.3, out=out) is out
    assert out.tobytes() == np.float64(velarix.bs_delta(100.0, 95.0, 0.5, 0.05, 0.3)).tobytes()
    assert velarix_batch.bs_delta([100.0], 95.0, 0.5, 0.05, 0.3, out=(row := np.zeros(1),)) is row


READ_ONLY = np.zeros((2, 3))
READ_ONLY.flags.writeable = False
SHARED = np.zeros(9)  # two arrays of (2, 3) in it overlap by a row
REFUSALS = [
    ("bs_rho", [[0.0] * 3] * 2, TypeError, "out must be a numpy.ndarray, not list"),
    ("bs_rho", np.zeros((2, 3), np.float32), TypeError, "out must have dtype float64, not float32"),
    ("bs_rho", np.zeros((2, 3), ">f8"), TypeError, "out must have dtype float64, not >f8"),
    ("bs_rho", np.zeros(6), ValueError, "out has shape (6,), not the broadcast shape (2, 3)"),
    ("bs_rho", np.zeros((3, 2)).T, ValueError, "out must be C-contiguous"),
    ("bs_rho", READ_ONLY, ValueError, "out is read-only"),
    ("bs_rho", (np.zeros((2, 3)),) * 2, ValueError, "the 'out' tuple must have one array per output, 1, not 2"),
    ("bs_greeks", np.zeros((2, 3)), TypeError, "'out' must be a tuple of arrays"),
    ("bs_greeks", (np.zeros((2, 3)),) * 3 + (None, np.zeros((2, 3))), TypeError,
     "out[3] must be a numpy.ndarray, not NoneType"),
    ("bs_greeks", (np.zeros((2, 3)), SHARED[:6].reshape(2, 3), SHARED[3:].reshape(2, 3)) + (np.zeros((2, 3)),) * 2,
     ValueError, "out[2] shares memory with out[1]"),
    ("implied_volatility", (np.zeros((2, 3)),) * 2, TypeError, "out[1] must have dtype int8, not float64"),
    # Another argument refused: nothing is written either.
    ("bs_rho_bad_word", np.zeros((2, 3)), ValueError, "Invalid option type. Use 'call' or 'put'. (option_type[1, 2]: 'x')"),
]


def arrays_in(out):
    return [x for x in entries(out) if isinstance(x, np.ndarray)]


@pytest.mark.parametrize("name, out, kind, message", REFUSALS)
def test_a_refused_call_writes_nothing_into_out(name, out, kind, message):
    before = [array.tobytes() for array in arrays_in(out)]
    words = [["c", "p", "c"], ["p", "c", "x" if name == "bs_rho_bad_word" else "c"]]
    keywords = {"reasons": True} if name == "implied_volatility" else {}
    with pytest.raises(kind) as raised:
        getattr(velarix_batch, name.removesuffix("_bad_word"))(
            np.full((2, 3), 100.0), 100.0, 1.0, 0.05, 0.2, 0.0, words, out=out, **keywords)
    assert str(raised.value) == message
    assert [array.tobytes() for array in arrays_in(out)] == before


# Written while read: element i of an input broadcast from out's first row,
# or of out reversed, is read after other elements' results were written.
OVERLAPS = {
    "out is s": ("bs_delta", lambda d: (d[0], d[1], 0.5, 0.05, 0.3), lambda d: d[0]),
    "s is out's first row": ("bs_delta", lambda d: (d[0, 0], d[1, :, :1], 0.5, 0.05, 0.3), lambda d: d[0]),
    "s is out reversed": ("bs_theta", lambda d: (d[0, ::-1], d[1], 0.5, 0.05, 0.3), lambda d: d[0]),
    "the Greeks into their inputs": ("bs_greeks", lambda d: (d[0], d[1], d[2] - 49, d[3] / 1e3, d[4] / 300),
                                     lambda d: (d[2], d[0], d[1], d[4], d[3])),
}


@pytest.mark.parametrize("case", OVERLAPS)
def test_outputs_sharing_memory_with_inputs_give_the_results_of_separate_arrays(case):
    name, arguments, out = OVERLAPS[case]
    data = GENERATOR.uniform(50, 150, (5, 300, 300))  # 90,000 options: two chunks
    expected = batch_bits(name, getattr(velarix_batch, name)(*arguments(data.copy())))
    result = getattr(velarix_batch, name)(*arguments(data), out=out(data), threads=2)
    assert batch_bits(name, result) == expected
