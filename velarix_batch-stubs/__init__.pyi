"""Type information for the velarix_batch extension module."""
from typing import Generic, Literal, NamedTuple, TypeVar, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

__all__ = [
    "bs_delta", "bs_gamma", "bs_theta", "bs_vega", "bs_rho", "bs_greeks",
    "am_price", "am_delta", "am_gamma", "am_theta", "am_vega", "am_rho", "am_greeks",
    "american_price", "american_greeks", "exercise_boundary", "european_price", "implied_volatility",
    "Greeks", "IMPLIED_VOLATILITY_REASONS",
]

__version__: str

# Editors suggest "call" and "put"; any str is accepted and read case-insensitively.
_OptionType = Literal["call", "put"] | str
# Every input but option_type: a number or an array-like of numbers.
_Numbers = ArrayLike
_OptionTypes = _OptionType | ArrayLike
_Array = NDArray[np.float64]
# out=: the arrays to write into, returned as given (new ones when None).
_Out = _Array | tuple[_Array]
_GreeksOut = tuple[_Array, _Array, _Array, _Array, _Array]
# The American engine's settings.
_Accuracy = Literal["fast", "accurate"]
_Exercise = Literal["european", "american"]
_Field = TypeVar("_Field", np.float64, NDArray[np.float64])

class Greeks(NamedTuple, Generic[_Field]):
    """The five Greeks of every option: float64 arrays of the broadcast shape,
    or numpy.float64 values when every input is a scalar."""

    delta: _Field
    gamma: _Field
    theta: _Field
    vega: _Field
    rho: _Field

# Each function has two overloads: every input a scalar (and no out=) gives
# numpy.float64 values, anything else arrays. The first is a special case of the second
# with another return type, which mypy calls an overlap; it is the intent.
@overload
def bs_delta(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def bs_delta(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def bs_gamma(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def bs_gamma(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def bs_theta(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def bs_theta(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def bs_vega(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def bs_vega(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def bs_rho(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def bs_rho(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def bs_greeks(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> Greeks[np.float64]: ...  # type: ignore[overload-overlap]
@overload
def bs_greeks(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _GreeksOut | None = None, threads: int | None = None) -> Greeks[_Array]: ...
@overload
def am_price(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def am_price(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def am_delta(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def am_delta(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def am_gamma(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def am_gamma(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def am_theta(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def am_theta(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def am_vega(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def am_vega(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def am_rho(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def am_rho(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def am_greeks(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> Greeks[np.float64]: ...  # type: ignore[overload-overlap]
@overload
def am_greeks(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _GreeksOut | None = None, threads: int | None = None) -> Greeks[_Array]: ...
@overload
def american_price(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, accuracy: _Accuracy = "fast", out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def american_price(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, accuracy: _Accuracy = "fast", out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def american_greeks(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, accuracy: _Accuracy = "fast", out: None = None, threads: int | None = None) -> Greeks[np.float64]: ...  # type: ignore[overload-overlap]
@overload
def american_greeks(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, accuracy: _Accuracy = "fast", out: _GreeksOut | None = None, threads: int | None = None) -> Greeks[_Array]: ...
@overload
def exercise_boundary(k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, accuracy: _Accuracy = "fast", out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def exercise_boundary(k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, accuracy: _Accuracy = "fast", out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def european_price(s: float, k: float, t: float, r: float, sigma: float, q: float = 0.0, option_type: _OptionType = "call", *, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def european_price(s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, sigma: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def implied_volatility(price: float, s: float, k: float, t: float, r: float, q: float = 0.0, option_type: _OptionType = "call", *, exercise: _Exercise = "european", accuracy: _Accuracy = "fast", reasons: Literal[False] = False, out: None = None, threads: int | None = None) -> np.float64: ...  # type: ignore[overload-overlap]
@overload
def implied_volatility(price: float, s: float, k: float, t: float, r: float, q: float = 0.0, option_type: _OptionType = "call", *, exercise: _Exercise = "european", accuracy: _Accuracy = "fast", reasons: Literal[True], out: None = None, threads: int | None = None) -> tuple[np.float64, np.int8]: ...  # type: ignore[overload-overlap]
@overload
def implied_volatility(price: _Numbers, s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, exercise: _Exercise = "european", accuracy: _Accuracy = "fast", reasons: Literal[False] = False, out: _Out | None = None, threads: int | None = None) -> _Array: ...
@overload
def implied_volatility(price: _Numbers, s: _Numbers, k: _Numbers, t: _Numbers, r: _Numbers, q: _Numbers = 0.0, option_type: _OptionTypes = "call", *, exercise: _Exercise = "european", accuracy: _Accuracy = "fast", reasons: Literal[True], out: tuple[_Array, NDArray[np.int8]] | None = None, threads: int | None = None) -> tuple[_Array, NDArray[np.int8]]: ...

# The texts of implied_volatility's reason codes, indexed by code (0: "solved").
IMPLIED_VOLATILITY_REASONS: tuple[str, ...]
