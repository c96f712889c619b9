"""velarix_batch against the scalar module, bit for bit: every function on a
random book with edge values on any number of threads; broadcasting, strides,
dtypes and option-type arrays; the shape and type of results; and the errors,
worded as the scalar module words them where it has words for them."""
import decimal
import importlib.metadata
import fractions
import inspect
import itertools
import math
import random
import struct

import numpy as np
import pytest
import velarix
import velarix_batch
from batch_helpers import ENGINE_NAMES, FIELDS, NAMES, WITHOUT_OPTION_TYPE, arguments_for, batch_bits, scalar_bits
from conftest import bits

EDGES = [0.0, -0.0, 5e-324, -1.0, 1e308, math.inf, -math.inf, math.nan]
WORDS = ["call", "put", "c", "p", "CALL", "Put", "P", "cALl"]
# Enough options that the largest thread counts get several chunks: each
# thread gets at least 16384 European or 512 American options.
BOOK_SIZE = {"bs": 70_000, "am": 4_500}


def make_book(size, seed):
    generator = random.Random(seed)
    columns = [[generator.uniform(1, 300) for _ in range(size)], [generator.uniform(1, 300) for _ in range(size)],
               [generator.uniform(0.001, 3) for _ in range(size)], [generator.uniform(-0.02, 0.1) for _ in range(size)],
               [generator.uniform(0.01, 1.0) for _ in range(size)], [generator.uniform(0.0, 0.1) for _ in range(size)]]
    for column in columns:  # each edge value once in every column, at random places
        for edge in EDGES:
            column[generator.randrange(size)] = edge
    types = [generator.choice(WORDS) for _ in range(size)]
    return [np.array(column) for column in columns], np.array(types)


BOOKS = {family: make_book(size, seed=len(family) + size) for family, size in BOOK_SIZE.items()}
EXPECTED = {}


def expected_for(name):
    if name not in EXPECTED:
        numbers, types = BOOKS[name[:2]]
        EXPECTED[name] = scalar_bits(name, arguments_for(name, numbers, types))
    return EXPECTED[name]


def poison_freed_memory(size):
    """Leaves freed blocks of the outputs' size holding other values, which
    the outputs' allocation is likely to reuse: an element the call failed to
    write then differs from its expected value."""
    poisoned = [np.full(size, -123.456) for _ in range(6)]
    del poisoned


@pytest.mark.parametrize("threads", [1, 2, 3, 8])
@pytest.mark.parametrize("name", NAMES)
def test_a_book_is_priced_bit_for_bit_as_the_scalar_module_prices_it(name, threads):
    numbers, types = BOOKS[name[:2]]
    poison_freed_memory(len(types))
    result = getattr(velarix_batch, name)(*arguments_for(name, numbers, types), threads=threads)
    assert batch_bits(name, result) == expected_for(name)


@pytest.mark.parametrize("name", NAMES)
def test_every_function_has_the_scalar_signature_and_the_keyword_only_out_and_threads(name):
    function = getattr(velarix_batch, name)
    scalar_signature = getattr(velarix, name).__text_signature__
    assert function.__text_signature__ == scalar_signature[:-1] + ", *, out=None, threads=None)"
    assert function.__doc__.startswith(getattr(velarix, name).__doc__.split("\n")[0] + "\n\nArgs:\n")
    assert function.__module__ == "velarix_batch"


BATCH_ARGUMENTS = """\
    out: Keyword only: arrays to write the results into, as numpy's out=
        (default: new arrays): a C-contiguous, writeable float64 array of
        the broadcast shape, for the Greeks a tuple of five; the call
        returns them. A refused call writes nothing into them.
    threads: Keyword only: the threads to compute on (default: the CPUs
        this process may use; 1 computes on the calling thread only)

Every argument but out and threads is a number (a str for option_type) or
an array-like of them; they broadcast against each other as numpy arrays
do. Each result is bit for bit the velarix function's on the same inputs.
Theta is per calendar day (a 365-day year), vega per 1.00 of volatility,
rho per percentage point of the rate.

Returns:
"""


@pytest.mark.parametrize("name, returns", [
    ("am_price", "    The price of the American option, per option: a float64 array of the broadcast\n"
                 "    shape (a numpy.float64 when every input is a scalar)"),
    ("bs_greeks", "    A Greeks named tuple (delta, gamma, theta, vega, rho) of float64 arrays\n"
                  "    of the broadcast shape (numpy.float64 values when every input is a scalar)"),
])
def test_docstrings_end_with_the_arrays_they_take_and_return(name, returns):
    assert getattr(velarix_batch, name).__doc__.endswith("    option_type: 'call' or 'put'\n" + BATCH_ARGUMENTS + returns)


def test_the_module_lists_the_functions_and_greeks():
    assert velarix_batch.__all__ == NAMES + ENGINE_NAMES + ["Greeks", "IMPLIED_VOLATILITY_REASONS"]
    assert velarix_batch.__version__ == importlib.metadata.version("velarix")
    assert velarix_batch.Greeks._fields == FIELDS
    assert velarix_batch.Greeks.__module__ == "velarix_batch"


SHAPES = [
    # s, k, option_type shapes; the other numbers are scalars
    ((3, 1), (1, 4), (4,)),
    ((2, 3, 1), (5,), ()),
    ((), (), (2, 2)),
    ((4,), (), ()),
    ((1,), (1, 1), (1, 1, 1)),
    ((0,), (), ()),
    ((0, 1), (4,), ()),
    ((3, 0), (1, 1), (3, 1)),
]


@pytest.mark.parametrize("name", ["bs_delta", "bs_gamma", "am_theta", "am_greeks", "bs_greeks"])
@pytest.mark.parametrize("s_shape, k_shape, type_shape", SHAPES)
def test_inputs_broadcast_as_numpy_broadcasts_them(name, s_shape, k_shape, type_shape):
    generator = np.random.default_rng(5)
    s = generator.uniform(50, 150, s_shape)
    k = generator.uniform(50, 150, k_shape)
    types = np.array(generator.choice(WORDS, type_shape))
    arguments = arguments_for(name, [s, k, 0.5, 0.05, 0.3, 0.01], types)
    result = getattr(velarix_batch, name)(*arguments, threads=2)
    shape = np.broadcast_shapes(*(np.shape(argument) for argument in arguments))
    values = [getattr(result, field) for field in FIELDS] if name.endswith("greeks") else [result]
    for value in values:
        if shape == ():
            assert type(value) is np.float64
        else:
            assert isinstance(value, np.ndarray) and value.dtype == np.float64 and value.shape == shape
            assert value.flags.c_contiguous and value.flags.writeable
    assert batch_bits(name, result) == scalar_bits(name, arguments)


@pytest.mark.skipif(np.lib.NumpyVersion(np.__version__) < "2.0.0", reason="numpy 1 stops at 32 dimensions")
def test_arrays_of_as_many_dimensions_as_numpy_allows_are_computed():
    """numpy 2 allows 64 dimensions: the most that velarix_batch walks."""
    spots = np.full((1,) * 63 + (2,), 100.0)
    spots[(0,) * 63 + (1,)] = 90.0
    result = velarix_batch.bs_delta(spots, 100.0, 1.0, 0.05, 0.2, 0.0, ["call", "put"])
    assert result.shape == spots.shape
    assert [bits(x) for x in result.ravel()] == [bits(velarix.bs_delta(100.0, 100.0, 1.0, 0.05, 0.2, 0.0, "call")),
                                                 bits(velarix.bs_delta(90.0, 100.0, 1.0, 0.05, 0.2, 0.0, "put"))]


def test_all_scalar_inputs_give_numpy_float64_values_as_numpy_functions_do():
    value = velarix_batch.bs_delta(100, 100, 1.0, 0.05, 0.2)
    assert type(value) is np.float64
    assert struct.pack("<d", value) == struct.pack("<d", velarix.bs_delta(100, 100, 1.0, 0.05, 0.2))
    greeks = velarix_batch.am_greeks(100, 95, 0.5, 0.05, 0.3, 0.02, "put")
    assert all(type(field) is np.float64 for field in greeks)
    zero_d = velarix_batch.bs_vega(np.array(100.0), 100, 1.0, 0.05, 0.2)
    assert type(zero_d) is np.float64


def test_the_greeks_unpack_and_become_a_data_frame_in_one_call():
    delta, gamma, theta, vega, rho = velarix_batch.bs_greeks([100.0, 110.0], 100, 1.0, 0.05, 0.2)
    assert delta.shape == (2,)
    columns = velarix_batch.bs_greeks([100.0, 110.0], 100, 1.0, 0.05, 0.2)._asdict()
    assert list(columns) == list(FIELDS) and columns["rho"] is not None


BASE = np.linspace(60.0, 140.0, 24).reshape(4, 6)
STRIDED = {
    "every other": BASE.ravel()[::2],
    "reversed": BASE.ravel()[::-1],
    "transposed": BASE.T,
    "a column": BASE[:, 2],
    "reversed 2-d": BASE[::-1, ::-2],
    "unaligned": np.frombuffer(b"\0" + BASE.tobytes(), dtype=np.float64, count=24, offset=1),
    "zero strides": np.broadcast_to(BASE[:1], (4, 6)),
}


@pytest.mark.parametrize("name", ["bs_rho", "am_price", "am_greeks"])
@pytest.mark.parametrize("layout", STRIDED)
def test_strided_inputs_are_read_where_they_are(name, layout):
    s = STRIDED[layout]
    k = s[..., ::-1] * 1.01  # a second operand with other strides
    types = np.array(["call", "put"] * (s.size // 2)).reshape(s.shape)[..., ::-1]
    arguments = arguments_for(name, [s, k, 0.75, 0.06, 0.3, 0.04], types)
    assert batch_bits(name, getattr(velarix_batch, name)(*arguments, threads=3)) == scalar_bits(name, arguments)


BIG = 2 ** 53 + 1
DTYPES = {
    "float32": np.array([1.1, 100.3, 3.4e38, -2.5], dtype=np.float32),
    "float16": np.array([1.1, 100.3, 65504, -2.5], dtype=np.float16),
    "int64": np.array([BIG, 2 ** 62 + 1, -(2 ** 63), 7], dtype=np.int64),
    "uint64": np.array([2 ** 64 - 1, 2 ** 63 + 1, BIG, 0], dtype=np.uint64),
    "int8": np.array([-128, 127, 0, 100], dtype=np.int8),
    "bool": np.array([True, False, True, True]),
    "big-endian float64": np.array([100.0, 1e-310, math.nan, 99.5], dtype=">f8"),
    "big-endian int32": np.array([100, -7, 2 ** 31 - 1, 3], dtype=">i4"),
    "little-endian float64": np.array([100.0, 1e-310, -0.0, 99.5], dtype="<f8"),
    "Python ints beyond int64": [2 ** 70 + 1, -(2 ** 65) - 3, BIG, 10 ** 300],
    "Python ints and floats": [BIG, 100.5, True, 2 ** 63],
    "objects with __float__": [decimal.Decimal("100.1"), fractions.Fraction(1, 3), np.float32(1.1), np.int64(BIG)],
    "object array": np.array([decimal.Decimal("0.1"), 2 ** 80, np.float16(0.1), False], dtype=object),
}


@pytest.mark.parametrize("parameter", [0, 4])
@pytest.mark.parametrize("dtype", DTYPES)
def test_every_number_is_converted_as_the_scalar_module_converts_it(dtype, parameter):
    numbers = [100.0, 95.0, 0.75, 0.06, 0.3, 0.04]
    numbers[parameter] = DTYPES[dtype]
    arguments = [*numbers, ["put", "call", "p", "c"]]
    result = velarix_batch.bs_greeks(*arguments)
    assert batch_bits("bs_greeks", result) == scalar_bits("bs_greeks", arguments)


OPTION_TYPES = {
    "list": ["call", "PUT", "c", "p"],
    "tuple": ("Call", "put", "C", "P"),
    "str array with NUL padding": np.array(["c", "call", "p", "PUT"]),
    "big-endian str array": np.array(["put", "c", "CALL", "p"], dtype=">U4"),
    "object array": np.array(["call", "put", "call", "pUt"], dtype=object),
    "str subclass": [type("Word", (str,), {})("put"), "call", "c", "p"],
    "2-d broadcast": np.array([["call"], ["put"], ["c"], ["p"]])[:, 0][::-1],
}


@pytest.mark.parametrize("kind", OPTION_TYPES)
def test_option_type_arrays_are_read_as_the_scalar_module_reads_one_word(kind):
    arguments = [np.array([90.0, 100.0, 110.0, 120.0]), 100.0, 0.5, 0.05, 0.25, 0.01, OPTION_TYPES[kind]]
    assert batch_bits("am_delta", velarix_batch.am_delta(*arguments)) == scalar_bits("am_delta", arguments)


def test_a_str_array_element_is_its_text_without_numpys_nul_padding_as_numpy_gives_it():
    padded = np.array(["call", "p"])  # dtype <U4: "p" is stored as "p\0\0\0"
    assert padded[1] == "p"
    assert velarix_batch.bs_rho(100.0, 100.0, 1.0, 0.05, 0.2, 0.0, padded)[1] == velarix.bs_rho(
        100.0, 100.0, 1.0, 0.05, 0.2, 0.0, "p")


def three_dimensional_words():
    """Words of shape (2, 3, 4) in a transposed layout, refused first at
    [1, 0, 2] (flat index 14, neither first nor last) and again later."""
    words = np.full((4, 3, 2), "call").T
    words[1, 0, 2] = "x"
    words[1, 2, 3] = "y"
    return words


@pytest.mark.parametrize("words, label, word", [
    (["call", "straddle"], "option_type[1]", "straddle"),
    (np.array([["c", "p"], ["put", "cal"]]), "option_type[1, 1]", "cal"),
    (np.array("x"), "option_type[()]", "x"),
    (["call", "call\0"], "option_type[1]", "call\0"),
    (np.array(["call", "calx"]), "option_type[1]", "calx"),  # a known word but for its last letter
    (np.array(["ca\0ll"]), "option_type[0]", "ca\0ll"),
    (np.array(["put", "c\0x"]), "option_type[1]", "c\0x"),  # a NUL inside a word is text, not padding
    (np.array([["c", "p", "c"], ["p", "c", "x"]]), "option_type[1, 2]", "x"),
    (three_dimensional_words(), "option_type[1, 0, 2]", "x"),
    (three_dimensional_words().astype(object), "option_type[1, 0, 2]", "x"),
    # Beyond U+FFFF in a big-endian array: U+10063 must not be read as its low byte "c".
    (np.array(["p", "\U00010063"], dtype=">U1"), "option_type[1]", "\U00010063"),
    (["cáll"], "option_type[0]", "cáll"),
    (np.array(["c", "\u212a"]), "option_type[1]", "\u212a"),
    ([" put"], "option_type[0]", " put"),
    ([""], "option_type[0]", ""),
    (np.array(["c", ""]), "option_type[1]", ""),  # all NUL, as a word slot not yet filled
])
def test_a_word_that_is_no_option_type_is_refused_with_its_element(words, label, word):
    with pytest.raises(ValueError) as raised:
        velarix_batch.am_price([100.0], 100.0, 1.0, 0.05, 0.2, 0.0, words)
    assert str(raised.value) == f"Invalid option type. Use 'call' or 'put'. ({label}: {word!r})"


def test_one_refused_word_is_refused_with_the_scalar_modules_text():
    for function in (velarix.bs_delta, velarix_batch.bs_delta):
        with pytest.raises(ValueError, match=r"^Invalid option type\. Use 'call' or 'put'\.$"):
            function([100.0] if function is velarix_batch.bs_delta else 100.0, 100, 1, 0.05, 0.2, 0.0, "straddle")


def scalar_error(name, arguments, keywords):
    with pytest.raises(Exception) as raised:
        getattr(velarix, name)(*arguments, **keywords)
    return type(raised.value), str(raised.value).replace(f"{name}()", "")


@pytest.mark.parametrize("arguments, keywords", [
    ((100, 100, 1), {}),
    ((100, 100, 1, 0.05, 0.2, 0.0, "call", "extra"), {}),
    ((100, 100, 1, 0.05, 0.2), {"volatility": 0.2}),
    ((100, 100, 1, 0.05), {"s": 1.0}),
    ((100, 100, 1, 0.05, "0.2"), {}),
    ((100, 100, 1, 0.05, 0.2, None), {}),
    ((100, 100, 1, 0.05, 1j), {}),
    ((10 ** 400, 100, 1, 0.05, 0.2), {}),
    ((100, 100, 1, 0.05, 0.2), {"option_type": 7}),
    ((100, 100, 1, 0.05, 0.2), {"option_type": b"call"}),
])
def test_refusals_of_one_option_are_the_scalar_modules(arguments, keywords):
    kind, text = scalar_error("bs_theta", arguments, keywords)
    with pytest.raises(kind) as raised:
        velarix_batch.bs_theta(*arguments, **keywords)
    assert str(raised.value).replace("bs_theta()", "") == text


@pytest.mark.parametrize("argument, kind, message", [
    (["1.0", 2.0], TypeError, "argument 'sigma': must be real number, not str"),
    ([0.2, None], TypeError, "argument 'sigma': must be real number, not NoneType"),
    (np.array(["0.2"]), TypeError, "argument 'sigma': must be real number, not str"),
    (np.array([b"0.2"]), TypeError, "argument 'sigma': must be real number, not bytes"),
    (np.array([0.2 + 0j]), TypeError, "argument 'sigma': must be real number, not complex128"),
    (np.array(["2024-01-01"], dtype="datetime64[D]"), TypeError, "argument 'sigma': must be real number, not datetime64[D]"),
    ([0.2, 1j], TypeError, "argument 'sigma': must be real number, not complex"),
    ([[0.2], 0.3], TypeError, "argument 'sigma': must be real number, not list"),
    ([0.2, 10 ** 400], OverflowError, "int too large to convert to float"),
    # A tuple is read element by element as a list is, not by numpy's rules.
    (((0.2, 0.3), (0.4,)), TypeError, "argument 'sigma': must be real number, not tuple"),
    ((0.2, "0.3"), TypeError, "argument 'sigma': must be real number, not str"),
])
def test_a_number_array_that_holds_no_numbers_is_refused_naming_the_parameter(argument, kind, message):
    with pytest.raises(kind) as raised:
        velarix_batch.bs_delta(100.0, 100.0, 1.0, 0.05, argument)
    assert str(raised.value) == message


@pytest.mark.parametrize("words, message", [
    ([7, "call"], "argument 'option_type': 'int' object cannot be converted to 'PyString'"),
    (["call", None], "argument 'option_type': 'NoneType' object cannot be converted to 'PyString'"),
    (np.array([b"call"]), "argument 'option_type': 'bytes' object cannot be converted to 'PyString'"),
    (np.array([1, 0]), "argument 'option_type': 'int64' object cannot be converted to 'PyString'"),
])
def test_an_option_type_array_without_words_is_refused_naming_the_parameter(words, message):
    with pytest.raises(TypeError) as raised:
        velarix_batch.am_vega([100.0, 90.0], 100.0, 1.0, 0.05, 0.2, 0.0, words)
    assert str(raised.value) == message


class IntWithItsOwnFloat(int):
    def __float__(self):
        return 42.0


@pytest.mark.parametrize("sequence", [list, tuple])
def test_lists_and_tuples_are_read_element_by_element_as_the_scalar_module_reads_each(sequence):
    """numpy would read an int subclass as its int value; the scalar module
    calls its __float__, and so must an element of a list or a tuple."""
    spots = sequence([IntWithItsOwnFloat(100), 90.0])
    assert [bits(x) for x in velarix_batch.bs_delta(spots, 100.0, 1.0, 0.05, 0.2)] == [
        bits(velarix.bs_delta(x, 100.0, 1.0, 0.05, 0.2)) for x in spots]
    with pytest.raises(TypeError, match=r"^argument 'option_type': 'int' object cannot be converted to 'PyString'$"):
        velarix_batch.bs_delta(100.0, 100.0, 1.0, 0.05, 0.2, 0.0, sequence(["call", 1]))


class Word(str):
    pass


# Options of Python numbers (and a str) only, which one_option_call computes:
# ordinary, edge values, and subclasses read through their own methods.
NUMBER_OPTIONS = [
    dict(price=7.5, s=100.0, k=95, t=0.5, r=0.05, sigma=0.3, q=0.02, option_type="put"),
    dict(price=0.0, s=-0.0, k=math.inf, t=math.nan, r=True, sigma=5e-324, q=-1, option_type="C"),
    dict(price=math.nan, s=IntWithItsOwnFloat(100), k=100.0, t=1e-300, r=-0.02, sigma=1e308, q=0.0,
         option_type=Word("P")),
]


def call_with(name, option, wrap=lambda x: x, **keywords):
    function = getattr(velarix_batch, name)
    parameters = inspect.signature(function).parameters
    return function(*(wrap(option[p]) for p in parameters if p in option), **keywords)


@pytest.mark.parametrize("name", NAMES + ENGINE_NAMES)
def test_a_call_of_numbers_gives_the_types_and_bits_of_the_array_path(name):
    """Python numbers take a path of their own; one-element lists take the
    array path, whose elements are read the same way."""
    keywords = [{}, {"reasons": True}] if name == "implied_volatility" else [{}]
    for option, extra in itertools.product(NUMBER_OPTIONS, keywords):
        one = call_with(name, option, **extra)
        array = call_with(name, option, wrap=lambda x: [x], **extra)
        if extra:
            assert [type(x) for x in one] == [np.float64, np.int8] and one[1] == array[1][0]
            one, array = one[0], array[0]
        fields = list(one) if name.endswith("greeks") else [one]
        assert all(type(field) is np.float64 for field in fields)
        assert batch_bits(name, one) == batch_bits(name, array)


class IntThatFails(int):
    def __float__(self):
        raise ArithmeticError("no float")


@pytest.mark.parametrize("change", [
    {"s": 10 ** 400}, {"q": IntThatFails(1)}, {"option_type": "straddle"},
    {"option_type": "\udc80"}, {"threads": 0}, {"threads": "2"}, {"accuracy": "slow"},
])
def test_a_call_of_numbers_is_refused_as_the_array_path_refuses_it(change):
    """A 0-d array for k sends the same call down the array path."""
    option = dict(s=100.0, k=95.0, t=0.5, r=0.05, sigma=0.3, q=0.02, option_type="put")
    outcomes = []
    for k in (95.0, np.array(95.0)):
        with pytest.raises(Exception) as raised:
            velarix_batch.american_price(**{**option, "k": k, **change})
        outcomes.append((type(raised.value), str(raised.value)))
    assert outcomes[0] == outcomes[1]


@pytest.mark.parametrize("empty, shape", [
    ([], (0,)), ((), (0,)), ([[], []], (2, 0)), (np.array([], dtype=object), (0,)),
    (np.empty((0, 3), dtype=object), (0, 3)),
])
def test_empty_lists_and_object_arrays_give_empty_results(empty, shape):
    """Read element by element, they have no element to read."""
    for arguments in ([empty, 100.0, 1.0, 0.05, 0.2, 0.0, "put"], [100.0, 100.0, 1.0, 0.05, 0.2, 0.0, empty]):
        result = velarix_batch.am_delta(*arguments)
        assert result.shape == shape and result.dtype == np.float64


def test_a_broadcast_shape_with_more_elements_than_an_index_holds_is_refused():
    tall = np.broadcast_to(100.0, (2 ** 40, 1))
    wide = np.broadcast_to(100.0, (1, 2 ** 40))
    with pytest.raises(ValueError) as raised:
        velarix_batch.bs_vega(tall, wide, 1.0, 0.05, 0.2)
    assert str(raised.value) == "the broadcast shape (1099511627776, 1099511627776) is too large"


def test_the_numbers_are_read_before_the_option_type_and_threads():
    """The first bad argument in parameter order is the one reported, as the
    velarix functions report it; threads comes last."""
    with pytest.raises(TypeError, match=r"^argument 'k': must be real number, not str$"):
        velarix_batch.bs_delta(100.0, "k", 1.0, 0.05, 0.2, 0.0, "straddle", threads=0)
    with pytest.raises(ValueError, match=r"^Invalid option type\. Use 'call' or 'put'\.$"):
        velarix_batch.bs_delta(100.0, 100.0, 1.0, 0.05, 0.2, 0.0, "straddle", threads=0)


@pytest.mark.parametrize("words", [["calls"], ["straddle", "put"], ["c", "callput"]])
def test_long_words_in_a_str_array_are_refused(words):
    """Longer than any option type: refused without being read past its fourth character."""
    with pytest.raises(ValueError, match=r"^Invalid option type"):
        velarix_batch.bs_rho([100.0] * len(words), 100.0, 1.0, 0.05, 0.2, 0.0, np.array(words))


@pytest.mark.parametrize("call, named", [
    (lambda: velarix_batch.bs_greeks(np.ones((2, 3)), 100.0, [1.0, 2.0], 0.05, 0.2, 0.0, ["c"] * 3),
     "s (2, 3), t (2,), option_type (3,)"),
    # An empty extent broadcasts against 1 only, whichever operand comes first.
    (lambda: velarix_batch.bs_delta(np.ones(3), np.ones(0), 1.0, 0.05, 0.2), "s (3,), k (0,)"),
    (lambda: velarix_batch.bs_delta(np.ones(0), np.ones(3), 1.0, 0.05, 0.2), "s (0,), k (3,)"),
])
def test_shapes_that_do_not_broadcast_are_named(call, named):
    with pytest.raises(ValueError) as raised:
        call()
    assert str(raised.value) == "shape mismatch: the inputs cannot be broadcast together: " + named


@pytest.mark.parametrize("threads, kind, message", [
    (0, ValueError, "threads must be at least 1, not 0"),
    (-3, ValueError, "threads must be at least 1, not -3"),
    (2.0, TypeError, "argument 'threads': 'float' object cannot be converted to 'int or None'"),
    ("2", TypeError, "argument 'threads': 'str' object cannot be converted to 'int or None'"),
    (True, TypeError, "argument 'threads': 'bool' object cannot be converted to 'int or None'"),
    (2 ** 70, OverflowError, None),
])
def test_threads_must_be_a_positive_int_or_none(threads, kind, message):
    with pytest.raises(kind) as raised:
        velarix_batch.bs_vega([100.0], 100.0, 1.0, 0.05, 0.2, threads=threads)
    if message is not None:
        assert str(raised.value) == message


def test_threads_is_keyword_only():
    with pytest.raises(TypeError, match=r"^bs_vega\(\) takes from 5 to 6 positional arguments but 7 were given$"):
        velarix_batch.bs_vega(100.0, 100.0, 1.0, 0.05, 0.2, 0.0, 2)
    with pytest.raises(TypeError, match=r"^bs_vega\(\) got an unexpected keyword argument 'option_type'$"):
        velarix_batch.bs_vega(100.0, 100.0, 1.0, 0.05, 0.2, option_type="call", threads=1)
    with pytest.raises(TypeError, match=r"^bs_delta\(\) got an unexpected keyword argument 'threads'$"):
        velarix.bs_delta(100.0, 100.0, 1.0, 0.05, 0.2, threads=1)
    assert velarix_batch.bs_vega(100.0, 100.0, 1.0, 0.05, 0.2, threads=None) == velarix.bs_vega(
        100.0, 100.0, 1.0, 0.05, 0.2)
