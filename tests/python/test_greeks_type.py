"""The PyGreeks result class: no constructor, read-only, exact fields and a
six-decimal repr."""
import copy
import gc
import pickle
import sys

import pytest
import velarix
from conftest import bits

FIELDS = ("delta", "gamma", "theta", "vega", "rho")


@pytest.fixture
def greeks():
    return velarix.bs_greeks(100, 100, 1, 0.05, 0.2)


@pytest.mark.parametrize("call", [lambda: velarix.PyGreeks(), lambda: velarix.PyGreeks(1.0, 2.0, 3.0, 4.0, 5.0),
                                  lambda: velarix.PyGreeks.__new__(velarix.PyGreeks), lambda: velarix.PyGreeks(delta=1)])
def test_there_is_no_constructor(call):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == "No constructor defined for PyGreeks"


def test_class_identity():
    cls = velarix.PyGreeks
    assert (cls.__name__, cls.__qualname__, cls.__module__) == ("PyGreeks", "PyGreeks", "builtins")
    assert cls.__doc__ == "Container for all option Greeks returned to Python"
    assert [getattr(cls, f).__doc__ for f in FIELDS] == [""] * 5
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


@pytest.mark.parametrize("field", FIELDS)
def test_attributes_are_read_only(greeks, field):
    before = getattr(greeks, field)
    with pytest.raises(AttributeError):
        setattr(greeks, field, 1.0)
    with pytest.raises(AttributeError):
        delattr(greeks, field)
    assert getattr(greeks, field) == before


def test_no_new_attributes_and_identity_semantics(greeks):
    with pytest.raises(AttributeError):
        greeks.extra = 1
    other = velarix.bs_greeks(100, 100, 1, 0.05, 0.2)
    assert greeks != other and greeks == greeks
    assert hash(greeks) == hash(greeks)


@pytest.mark.parametrize("option_type", ["call", "put"])
@pytest.mark.parametrize("family", ["bs", "am"])
def test_fields_equal_the_single_functions(family, option_type):
    arguments = (100, 95, 0.5, 0.05, 0.3, 0.02)
    result = getattr(velarix, f"{family}_greeks")(*arguments, option_type)
    for field in FIELDS:
        single = getattr(velarix, f"{family}_{field}")
        value = single(*arguments) if (family, field) in {("bs", "gamma"), ("bs", "vega")} else single(*arguments, option_type)
        assert bits(getattr(result, field)) == bits(value)


def test_each_read_is_a_new_float_with_the_same_bits():
    greeks = velarix.bs_greeks(110, 100, 0, 0.05, 0.2, 0, "put")  # delta is -0.0
    first, second = greeks.delta, greeks.delta
    assert first is not second and bits(first) == bits(second) == bits(-0.0)


def test_repr_and_str(greeks):
    text = ("Greeks(delta=0.636831, gamma=0.018762, theta=-0.017573, vega=37.524035, rho=0.532325)")
    assert repr(greeks) == str(greeks) == text


def test_repr_of_special_values():
    expired = velarix.bs_greeks(110, 100, 0, 0.05, 0.2, 0, "put")
    assert repr(expired) == "Greeks(delta=-0.000000, gamma=NaN, theta=NaN, vega=0.000000, rho=-0.000000)"
    infinite = velarix.bs_greeks(100, 100, 1, 0.05, 0.2, -1e300, "call")
    assert "inf" in repr(infinite)


def test_repr_of_the_longest_values_writes_every_digit():
    """Five finite values of over 300 digits each: the longest repr there is,
    every digit of each exact value rounded to six decimals, as Python's own
    formatting writes them (a buffer too short shows under the sanitizers)."""
    huge = velarix.bs_greeks(0.1, 10, 1, -700, 1, -705, "call")
    values = [getattr(huge, field) for field in ("delta", "gamma", "theta", "vega", "rho")]
    assert min(abs(value) for value in values) > 1e300
    assert repr(huge) == "Greeks(delta=%.6f, gamma=%.6f, theta=%.6f, vega=%.6f, rho=%.6f)" % tuple(values)


def test_not_copyable_or_picklable(greeks):
    with pytest.raises(TypeError):
        pickle.dumps(greeks)
    with pytest.raises(TypeError):
        copy.copy(greeks)


def test_type_reference_count_stays_flat():
    def count_after_many_instances():
        for _ in range(10000):
            velarix.am_greeks(100, 100, 1, 0.05, 0.2)
        gc.collect()
        return sys.getrefcount(velarix.PyGreeks)

    first = count_after_many_instances()
    assert count_after_many_instances() == first
