"""Property tests over arbitrary calls: any mix of positional and keyword
arguments of any kind either returns a float or PyGreeks, or raises exactly
the exception a model of the binding rules predicts, message included; and
for well-formed numbers the European results obey their identities."""
import math

import pytest
import velarix
from conftest import bits
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

PARAMETERS = ("s", "k", "t", "r", "sigma", "q", "option_type")
WITHOUT_OPTION_TYPE = {"bs_gamma", "bs_vega"}
FUNCTIONS = [name for name in velarix.__all__ if name != "PyGreeks"]
FIELDS = ("delta", "gamma", "theta", "vega", "rho")
INVALID_OPTION_TYPE = "Invalid option type. Use 'call' or 'put'."


class Conversion:
    """Returns what it was given, or raises a fresh copy of it: raising one
    instance again and again would grow its traceback."""

    def __init__(self, outcome):
        self.outcome = outcome

    def convert(self):
        if isinstance(self.outcome, BaseException):
            raise type(self.outcome)(*self.outcome.args)
        return self.outcome

    def __repr__(self):
        return f"{type(self).__name__}({self.outcome!r})"


class FloatLike(Conversion):
    def __float__(self):
        return self.convert()


class IndexLike(Conversion):
    def __index__(self):
        return self.convert()


class TypeErrorSubclass(TypeError):
    pass


floats = st.floats() | st.sampled_from([-0.0, 0.0, 5e-324, -5e-324, 2.2250738585072014e-308, math.inf, math.nan])
integers = st.integers() | st.integers(min_value=-(2 ** 1100), max_value=2 ** 1100) | st.sampled_from([10 ** 400, -1])
look_alikes = st.sampled_from([
    "call", "CALL", "Call", "c", "C", "put", "PUT", "p", "P", "pUt", "", " call", "call\x00", "\x00", "ca\x00ll",
    "\uff43all", "\u0441all", "CALL\u0130", "\u212aall", "call\ud800", "\ud800", "c" * 10_000, "put" * 3_000,
])
texts = st.text(alphabet=st.characters(exclude_categories=()), max_size=8) | look_alikes
raised = st.sampled_from([ValueError("bad value"), TypeError("bad type"), TypeErrorSubclass("subclass"),
                          ZeroDivisionError("zero"), OverflowError("big"), KeyError("key"), RecursionError("deep")])
outcomes = floats | integers | texts | st.none() | raised | st.builds(float, floats)
objects = st.builds(FloatLike, outcomes) | st.builds(IndexLike, outcomes)
values = floats | integers | st.booleans() | texts | st.none() | objects
keys = st.sampled_from(PARAMETERS) | st.sampled_from(["S", "foo", "", "\ud800", "option", "sigma\x00"])


def join_names(names):
    quoted = [f"'{name}'" for name in names]
    if len(quoted) == 1:
        return quoted[0]
    if len(quoted) == 2:
        return f"{quoted[0]} and {quoted[1]}"
    return ", ".join(quoted[:-1]) + f", and {quoted[-1]}"


def conversion_failure(parameter, value):
    """What PyFloat_AsDouble raises for `value`, tagged as the binding tags
    it; math.ldexp(x, 0) converts its argument with that very function."""
    try:
        math.ldexp(value, 0)
    except Exception as error:
        if type(error) is TypeError:
            return TypeError, f"argument '{parameter}': {error}"
        return type(error), str(error)
    return None


def expected_failure(name, args, kwargs):
    """The exception type and message the call must raise, or None."""
    count = 6 if name in WITHOUT_OPTION_TYPE else 7
    parameters = PARAMETERS[:count]
    if len(args) > count:
        return TypeError, f"{name}() takes from 5 to {count} positional arguments but {len(args)} were given"
    bound = dict(zip(parameters, args))
    for key, value in kwargs.items():
        if key not in parameters:
            return TypeError, f"{name}() got an unexpected keyword argument '{key}'"
        if key in bound:
            return TypeError, f"{name}() got multiple values for argument '{key}'"
        bound[key] = value
    missing = [parameter for parameter in parameters[:5] if parameter not in bound]
    if missing:
        noun = "argument" if len(missing) == 1 else "arguments"
        return TypeError, f"{name}() missing {len(missing)} required positional {noun}: {join_names(missing)}"
    for parameter in parameters[:6]:
        if parameter in bound and (failure := conversion_failure(parameter, bound[parameter])):
            return failure
    if count == 7 and "option_type" in bound:
        word = bound["option_type"]
        if not isinstance(word, str):
            return TypeError, f"argument 'option_type': '{type(word).__name__}' object cannot be converted to 'PyString'"
        try:
            word.encode("utf-8")
        except UnicodeEncodeError as error:
            return UnicodeEncodeError, str(error)
        folded = "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in word)
        if folded not in ("c", "call", "p", "put"):
            return ValueError, INVALID_OPTION_TYPE
    return None


calls = st.tuples(st.sampled_from(FUNCTIONS), st.lists(values, max_size=8),
                  st.dictionaries(keys, values, max_size=4))
numbers = floats | integers | st.booleans() | objects | st.sampled_from([1.0, 100.0, 0.05, 0.2])


@st.composite
def well_bound_calls(draw):
    """Calls that bind, so that conversion, the option type and the
    computation are reached: five or six numbers and maybe an option type,
    the first few by position and the rest by keyword."""
    name = draw(st.sampled_from(FUNCTIONS))
    arguments = draw(st.lists(numbers, min_size=5, max_size=6 if name in WITHOUT_OPTION_TYPE else 7))
    if len(arguments) == 7:
        arguments[6] = draw(texts | values)
    split = draw(st.integers(0, len(arguments)))
    return name, arguments[:split], dict(zip(PARAMETERS[split:], arguments[split:]))


@settings(max_examples=3000, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(calls | well_bound_calls())
def test_any_call_returns_a_result_or_raises_the_documented_exception(call):
    name, args, kwargs = call
    expected = expected_failure(name, args, kwargs)
    try:
        result = getattr(velarix, name)(*args, **kwargs)
    except Exception as error:
        assert expected is not None, f"raised {error!r}"
        assert (type(error), str(error)) == expected
    else:
        assert expected is None, f"returned {result!r}"
        assert type(result) is (velarix.PyGreeks if name.endswith("_greeks") else float)


# s, k, t, r, sigma, q
sane = st.tuples(st.floats(1.0, 1000.0), st.floats(1.0, 1000.0), st.floats(0.01, 10.0), st.floats(-0.05, 0.2),
                 st.floats(0.01, 2.0), st.floats(0.0, 0.2))


@settings(max_examples=2000, deadline=None)
@given(sane)
def test_european_identities(option):
    s, k, t, r, sigma, q = option
    call = velarix.bs_greeks(s, k, t, r, sigma, q, "call")
    put = velarix.bs_greeks(s, k, t, r, sigma, q, "put")
    dividend_discount = math.exp(-q * t)
    assert math.isclose(call.delta - put.delta, dividend_discount, rel_tol=1e-9, abs_tol=1e-12)
    assert bits(call.gamma) == bits(put.gamma) == bits(velarix.bs_gamma(s, k, t, r, sigma, q))
    assert bits(call.vega) == bits(put.vega) == bits(velarix.bs_vega(s, k, t, r, sigma, q))
    for option_type, greeks in (("call", call), ("put", put)):
        singles = (velarix.bs_delta(s, k, t, r, sigma, q, option_type), velarix.bs_gamma(s, k, t, r, sigma, q),
                   velarix.bs_theta(s, k, t, r, sigma, q, option_type), velarix.bs_vega(s, k, t, r, sigma, q),
                   velarix.bs_rho(s, k, t, r, sigma, q, option_type))
        assert [bits(getattr(greeks, field)) for field in FIELDS] == [bits(x) for x in singles]


@settings(max_examples=300, deadline=None)
@given(sane, st.sampled_from(["call", "put"]))
def test_american_greeks_equal_the_singles(option, option_type):
    arguments = (*option, option_type)
    greeks = velarix.am_greeks(*arguments)
    singles = [getattr(velarix, f"am_{field}")(*arguments) for field in FIELDS]
    assert [bits(getattr(greeks, field)) for field in FIELDS] == [bits(x) for x in singles]
    assert velarix.am_price(*arguments) >= max(0.0, (1 if option_type == "call" else -1) * (option[0] - option[1]))


@pytest.mark.parametrize("name", FUNCTIONS)
def test_model_agrees_on_a_plain_call(name):
    args = (100.0, 95.0, 0.5, 0.05, 0.25)
    assert expected_failure(name, args, {}) is None
    assert expected_failure(name, args, {"option_type": "straddle"}) == (
        (TypeError, f"{name}() got an unexpected keyword argument 'option_type'") if name in WITHOUT_OPTION_TYPE
        else (ValueError, INVALID_OPTION_TYPE))
