import math
import struct


def bits(x):
    """The bit pattern of a double; every NaN maps to one pattern."""
    return "nan" if math.isnan(x) else struct.pack("<d", x).hex()
