"""Property test: a random batch (random shapes that broadcast, any float
values, random dtypes and layouts, option-type words in any letter case, any
thread count) is priced by velarix_batch bit for bit as the scalar module
prices each of its options."""
import numpy as np
import velarix_batch
from batch_helpers import NAMES, WITHOUT_OPTION_TYPE, batch_bits, scalar_bits
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

DTYPES = [np.float64, np.float32, np.float16, np.int64, np.uint64, np.int16, np.bool_, np.dtype(">f8")]
WORDS = st.sampled_from(["call", "put", "c", "p"]).flatmap(
    lambda word: st.tuples(*(st.sampled_from([letter, letter.upper()]) for letter in word)).map("".join))


@st.composite
def layouts(draw, shape):
    """An array of `shape` of a random dtype, possibly reversed or transposed."""
    dtype = np.dtype(draw(st.sampled_from(DTYPES)))
    if dtype.kind == "f":
        elements = st.floats(width=min(64, dtype.itemsize * 8), allow_subnormal=True)
    else:
        elements = None
    array = draw(hnp.arrays(dtype, shape, elements=elements))
    if array.ndim and draw(st.booleans()):
        array = array[..., ::-1]
    if array.ndim > 1 and draw(st.booleans()):
        array = np.ascontiguousarray(array.T).T
    return array


@st.composite
def batches(draw):
    name = draw(st.sampled_from(NAMES))
    shapes = draw(hnp.mutually_broadcastable_shapes(num_shapes=7, max_dims=3, max_side=5))
    numbers = []
    for shape in shapes.input_shapes[:6]:
        kind = draw(st.sampled_from(["array", "list", "scalar"]))
        if kind == "scalar" or shape == ():
            numbers.append(draw(st.floats() | st.integers(-(2 ** 70), 2 ** 70)))
        elif kind == "list":
            numbers.append(draw(hnp.arrays(np.float64, shape)).tolist())
        else:
            numbers.append(draw(layouts(shape)))
    words = np.array(draw(st.lists(WORDS, min_size=int(np.prod(shapes.input_shapes[6])),
                                   max_size=int(np.prod(shapes.input_shapes[6])))),
                     dtype=draw(st.sampled_from(["U4", "O"]))).reshape(shapes.input_shapes[6])
    arguments = numbers if name in WITHOUT_OPTION_TYPE else [*numbers, words]
    return name, arguments, draw(st.integers(1, 8))


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(batches())
def test_random_batches_equal_the_scalar_module_bit_for_bit(batch):
    name, arguments, threads = batch
    with np.errstate(all="ignore"):
        result = getattr(velarix_batch, name)(*arguments, threads=threads)
        assert batch_bits(name, result) == scalar_bits(name, arguments)
