"""What the velarix_batch tests share: the functions, and each element's
result as bits, from velarix_batch and from the scalar module element by
element (given the very element objects, so that every conversion is the
scalar module's own)."""
import numpy as np
import velarix
import velarix_batch
from conftest import bits

# The thirteen functions both modules offer.
NAMES = [name for name in velarix.__all__ if name != "PyGreeks"]
ENGINE_NAMES = ["american_price", "american_greeks", "exercise_boundary", "european_price", "implied_volatility"]
WITHOUT_OPTION_TYPE = {"bs_gamma", "bs_vega"}
FIELDS = ("delta", "gamma", "theta", "vega", "rho")


def batch_bits(name, result):
    """One entry per element in C order: the bits of a value, or a tuple of
    the five Greeks' bits."""
    if name.endswith("greeks"):
        columns = [np.asarray(getattr(result, field)).ravel().tolist() for field in FIELDS]
        return [tuple(bits(value) for value in values) for values in zip(*columns)]
    return [bits(value) for value in np.asarray(result).ravel().tolist()]


def scalar_bits(name, arguments):
    """The scalar function over the broadcast of `arguments` (positional),
    called with each element object as it is stored."""
    function = getattr(velarix, name)
    prepared = [argument if isinstance(argument, np.ndarray) else np.asarray(argument, dtype=object)
                for argument in arguments]
    results = []
    for element in np.broadcast(*prepared):
        result = function(*element)
        if name.endswith("greeks"):
            results.append(tuple(bits(getattr(result, field)) for field in FIELDS))
        else:
            results.append(bits(result))
    return results


def arguments_for(name, numbers, option_type):
    return [*numbers] if name in WITHOUT_OPTION_TYPE else [*numbers, option_type]
