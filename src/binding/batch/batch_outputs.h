// The arrays a velarix_batch call writes its results into: new ones, or the
// caller's own given with out= as numpy's ufuncs take them, each checked
// before anything is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "batch_columns.h"

namespace velarix {

inline constexpr const char* kOutParameter = "out";
inline constexpr std::size_t kMaxOutputs = 5;

// "(3, 4)", "(5,)", "()".
std::string shape_text(const Shape& shape);

// The arrays a call writes its results into: one float64 array of the
// broadcast shape per result, C-contiguous, and where asked an int8 array of
// reasons after them. New arrays, or the caller's own given with out=.
class Outputs {
public:
    // New arrays when `out` is null or None. Else `out` gives every array,
    // as numpy's out= does: an array for a single result, a tuple of one
    // per result otherwise (a tuple of one also for a single result). Each
    // must be a C-contiguous, writeable ndarray of exactly `shape` and of
    // dtype float64 (int8 for the reasons), no two sharing memory. Nothing
    // is written here, so a refused out= leaves every array as it was.
    Fallible<void> prepare(const NumpyHandles& numpy, const Shape& shape, std::size_t count, bool with_reasons,
                           PyObject* out);

    const std::array<double*, kMaxOutputs>& data() const { return data_; }
    std::int8_t* reasons() const { return reasons_; }

    // Whether the bytes of `operand`, items of `item_size` bytes, meet those
    // of an array the caller gave.
    bool overlaps(const StridedOperand& operand, Py_ssize_t item_size) const;

    // The arrays the caller gave, as given; new ones, or for a 0-d shape
    // their only element as numpy.float64, as numpy's own functions return
    // for scalar inputs.
    Fallible<OwnedRef> take(std::size_t i, const Shape& shape) { return take_array(arrays_[i], shape); }
    Fallible<OwnedRef> take_reasons(const Shape& shape) { return take_array(arrays_[count_], shape); }

private:
    Fallible<void> allocate(const NumpyHandles& numpy, const Shape& shape);
    Fallible<void> wrap(const NumpyHandles& numpy, const Shape& shape, PyObject* out);
    Fallible<OwnedRef> take_array(OwnedRef& array, const Shape& shape) const;
    void point_at_buffers();

    std::size_t count_ = 0;  // float64 arrays; the reasons, if any, come next
    std::size_t entries_ = 0;
    bool given_ = false;
    std::array<OwnedRef, kMaxOutputs + 1> arrays_;
    std::array<BufferView, kMaxOutputs + 1> buffers_;
    std::array<double*, kMaxOutputs> data_{};
    std::int8_t* reasons_ = nullptr;
};

}  // namespace velarix
