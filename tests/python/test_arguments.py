"""Argument binding and conversion: every message, the precedence between
failures, and what each kind of argument object becomes."""
import sys

import pytest
import velarix
from conftest import bits

A = (100.0, 100.0, 1.0, 0.05, 0.2)  # s, k, t, r, sigma
FIELDS = ("delta", "gamma", "theta", "vega", "rho")


def raises_exactly(exception_type, message, call):
    with pytest.raises(BaseException) as caught:
        call()
    assert type(caught.value) is exception_type
    assert str(caught.value) == message
    assert caught.value.args == (message,)
    return caught.value


class SpelledOut(str):
    def __str__(self):
        return "spot"


BINDING_FAILURES = [
    (lambda: velarix.bs_gamma(*A, 0.0, "call"), "bs_gamma() takes from 5 to 6 positional arguments but 7 were given"),
    (lambda: velarix.bs_delta(*A, 0.0, "call", 1), "bs_delta() takes from 5 to 7 positional arguments but 8 were given"),
    (lambda: velarix.bs_gamma(*A, option_type="call"), "bs_gamma() got an unexpected keyword argument 'option_type'"),
    (lambda: velarix.bs_delta(1, 2, 3, 4, S=5), "bs_delta() got an unexpected keyword argument 'S'"),
    (lambda: velarix.bs_delta(1, 2, 3, 4, 5, s=1), "bs_delta() got multiple values for argument 's'"),
    (lambda: velarix.am_price(1, 2), "am_price() missing 3 required positional arguments: 't', 'r', and 'sigma'"),
    (lambda: velarix.am_price(1, 2, 3, 4), "am_price() missing 1 required positional argument: 'sigma'"),
    (lambda: velarix.am_price(s=1, k=2, t=3), "am_price() missing 2 required positional arguments: 'r' and 'sigma'"),
    (lambda: velarix.am_greeks(), "am_greeks() missing 5 required positional arguments: 's', 'k', 't', 'r', and 'sigma'"),
    (lambda: velarix.bs_vega(1, 2, 3, sigma=1, q=0), "bs_vega() missing 1 required positional argument: 'r'"),
    # Precedence: the positional count first, then the first bad keyword in call order.
    (lambda: velarix.bs_delta(*A, 0, "call", 1, foo=1), "bs_delta() takes from 5 to 7 positional arguments but 8 were given"),
    (lambda: velarix.bs_delta(1, 2, 3, 4, 5, foo=1, s=1), "bs_delta() got an unexpected keyword argument 'foo'"),
    (lambda: velarix.bs_delta(1, 2, 3, 4, 5, s=1, foo=1), "bs_delta() got multiple values for argument 's'"),
    (lambda: velarix.bs_delta(1, foo=1), "bs_delta() got an unexpected keyword argument 'foo'"),
    (lambda: velarix.bs_delta(**{"\ud800": 1}), "bs_delta() got an unexpected keyword argument '\ud800'"),
    (lambda: velarix.bs_delta(**{"s\x00": 1}), "bs_delta() got an unexpected keyword argument 's\x00'"),
    # A key is named by its str(), which a str subclass may define.
    (lambda: velarix.bs_delta(**{SpelledOut("s\ud800"): 1}), "bs_delta() got an unexpected keyword argument 'spot'"),
]


@pytest.mark.parametrize("call, message", BINDING_FAILURES)
def test_binding_failures_are_type_errors_with_exact_messages(call, message):
    raises_exactly(TypeError, message, call)
    assert bits(velarix.bs_delta(*A)) == bits(0.6368306511756191)  # nothing left behind


class FloatRaises:
    def __float__(self):
        raise ZeroDivisionError("no float here")


class FloatReturnsJunk:
    def __float__(self):
        return "junk"


class Index:
    def __index__(self):
        return 3


class FloatSubclass(float):
    pass


@pytest.mark.parametrize("value, expected", [
    (3, 3.0), (True, 1.0), (False, 0.0), (Index(), 3.0), (FloatSubclass(2.5), 2.5), (-1.0, -1.0), (-1, -1.0),
    (2 ** 1023, float(2 ** 1023)),
])
def test_numbers_convert_like_float(value, expected):
    assert bits(velarix.bs_delta(100, 100, 1, 0.05, 0.2, value)) == bits(velarix.bs_delta(100, 100, 1, 0.05, 0.2, expected))


@pytest.mark.parametrize("position", range(6))
@pytest.mark.parametrize("value, detail", [
    ("1.0", "must be real number, not str"),
    (None, "must be real number, not NoneType"),
    ([1.0], "must be real number, not list"),
    (FloatReturnsJunk(), "FloatReturnsJunk.__float__ returned non-float (type str)"),
])
def test_bad_numbers_are_tagged_with_the_parameter(position, value, detail):
    arguments = list(A) + [0.0]
    arguments[position] = value
    name = ("s", "k", "t", "r", "sigma", "q")[position]
    error = raises_exactly(TypeError, f"argument '{name}': {detail}", lambda: velarix.bs_gamma(*arguments))
    assert error.__cause__ is None and error.__suppress_context__


def test_retagging_keeps_the_original_cause_only():
    class ChainedFloat:
        def __float__(self):
            try:
                raise KeyError("inner")
            except KeyError as inner:
                raise TypeError("outer") from inner

    error = raises_exactly(TypeError, "argument 'k': outer", lambda: velarix.bs_vega(1, ChainedFloat(), 1, 1, 1))
    assert isinstance(error.__cause__, KeyError)


@pytest.mark.parametrize("value, exception_type", [
    (10 ** 400, OverflowError), (FloatRaises(), ZeroDivisionError),
])
def test_other_conversion_errors_pass_through_unchanged(value, exception_type):
    with pytest.raises(exception_type) as caught:
        velarix.am_price(100, 100, 1, 0.05, value)
    assert not str(caught.value).startswith("argument")


def test_type_error_subclass_is_not_retagged():
    class CustomTypeError(TypeError):
        pass

    class Raiser:
        def __float__(self):
            raise CustomTypeError("custom")

    raises_exactly(CustomTypeError, "custom", lambda: velarix.bs_delta(Raiser(), 1, 1, 1, 1))


@pytest.mark.parametrize("word, same_as", [
    ("call", "call"), ("CALL", "call"), ("Call", "call"), ("c", "call"), ("C", "call"),
    ("put", "put"), ("PUT", "put"), ("pUt", "put"), ("p", "put"), ("P", "put"),
])
def test_option_type_words(word, same_as):
    assert bits(velarix.bs_delta(*A, 0.0, word)) == bits(velarix.bs_delta(*A, 0.0, same_as))
    assert bits(velarix.am_price(*A, option_type=word)) == bits(velarix.am_price(*A, option_type=same_as))


@pytest.mark.parametrize("word", ["call", "c", "put", "p"])
def test_literal_and_built_words_read_alike(word):
    # A literal is the interned word itself; a word built at run time is an
    # equal but distinct object and is read as text.
    built = "".join(list(word))
    assert built is not word or len(word) == 1
    expected = velarix.bs_greeks(*A, 0.02, word)
    actual = velarix.bs_greeks(*A, 0.02, built)
    assert [bits(getattr(actual, f)) for f in FIELDS] == [bits(getattr(expected, f)) for f in FIELDS]


class StrSubclass(str):
    pass


def test_str_subclass_is_an_option_type():
    assert bits(velarix.bs_delta(*A, 0.0, StrSubclass("put"))) == bits(velarix.bs_delta(*A, 0.0, "put"))


@pytest.mark.parametrize("word", [
    "", " call", "call ", "call\n", "ca ll", "calls", "ca", "cal", "pu", "x", "straddle", "call\x00",
    "\uff43all", "\u0441all", "CALL\u0130",
])
def test_refused_option_type_words(word):
    raises_exactly(ValueError, "Invalid option type. Use 'call' or 'put'.", lambda: velarix.bs_delta(*A, 0.0, word))


@pytest.mark.parametrize("value, type_name", [(1, "int"), (None, "NoneType"), (b"call", "bytes"), (1.5, "float")])
def test_option_type_must_be_a_str(value, type_name):
    raises_exactly(TypeError, f"argument 'option_type': '{type_name}' object cannot be converted to 'PyString'",
                   lambda: velarix.am_delta(*A, option_type=value))


class Outer:
    class Nested:
        pass


def test_option_type_of_a_nested_or_local_class_is_named_by_its_qualified_name():
    class Local:
        pass

    for value, type_name in [(Outer.Nested(), "Outer.Nested"),
                             (Local(), "test_option_type_of_a_nested_or_local_class_is_named_by_its_qualified_name."
                                       "<locals>.Local")]:
        raises_exactly(TypeError, f"argument 'option_type': '{type_name}' object cannot be converted to 'PyString'",
                       lambda: velarix.bs_theta(*A, option_type=value))


def test_a_type_name_that_utf8_cannot_hold_is_replaced_and_leaves_no_error_behind():
    Unspeakable = type("Unspeakable", (), {})
    Unspeakable.__qualname__ = "Un\ud800speakable"
    error = raises_exactly(
        TypeError, "argument 'option_type': '<failed to extract type name>' object cannot be converted to 'PyString'",
        lambda: velarix.bs_theta(*A, option_type=Unspeakable()))
    assert error.__cause__ is None and error.__context__ is None


def test_option_type_with_lone_surrogate_raises_the_encoding_error():
    with pytest.raises(UnicodeEncodeError):
        velarix.bs_rho(*A, 0.0, "call\ud800")


def test_first_bad_argument_in_parameter_order_is_reported():
    raises_exactly(TypeError, "argument 'k': must be real number, not str",
                   lambda: velarix.bs_delta(1, "k", 1, "r", 1, option_type="straddle"))
    raises_exactly(TypeError, "argument 'q': must be real number, not str",
                   lambda: velarix.bs_delta(*A, q="q", option_type=1))
    raises_exactly(TypeError, "argument 'option_type': 'int' object cannot be converted to 'PyString'",
                   lambda: velarix.bs_delta(*A, option_type=1))


def test_huge_and_negative_values_flow_through():
    assert velarix.bs_delta(100, 100, 1, -1.0, 0.2) == velarix.bs_delta(100, 100, 1, -1, 0.2)
    assert isinstance(velarix.am_greeks(1e308, 1e-308, 1e308, 1e308, 1e308, -1e308, "put"), velarix.PyGreeks)


@pytest.mark.parametrize("name", velarix.__all__[:-1])
def test_every_function_returns_a_new_object(name):
    function = getattr(velarix, name)
    first, second = function(*A), function(*A)
    assert first is not second
    expected_type = velarix.PyGreeks if name.endswith("greeks") else float
    assert type(first) is expected_type


def test_errors_leave_no_pending_exception():
    for _ in range(3):
        with pytest.raises(TypeError):
            velarix.bs_delta()
        assert sys.exc_info() == (None, None, None)
        assert isinstance(velarix.bs_delta(*A), float)
