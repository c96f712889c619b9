import math
import os
import struct

from hypothesis import settings

# The mutation run (scripts/mutation.py) derandomizes the property tests, so
# that whether a planted fault is caught does not depend on the examples drawn.
settings.register_profile("mutation", derandomize=True, database=None)
if os.environ.get("VELARIX_HYPOTHESIS_PROFILE"):
    settings.load_profile(os.environ["VELARIX_HYPOTHESIS_PROFILE"])


def bits(x):
    """The bit pattern of a double; every NaN maps to one pattern."""
    return "nan" if math.isnan(x) else struct.pack("<d", x).hex()
