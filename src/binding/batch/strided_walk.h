// Walking arrays of any shape and strides in C order without copying them:
// broadcasting computes, for each operand, byte strides over the common
// shape (zero along the dimensions it is repeated in), and an odometer steps
// all operands together from any flat index. Nothing here touches Python, so
// worker threads use it with the interpreter lock released.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "python_prelude.h"

namespace velarix {

// numpy's limit on dimensions (NPY_MAXDIMS in numpy 2; 32 in numpy 1).
inline constexpr std::size_t kMaxDimensions = 64;

struct Shape {
    std::size_t ndim = 0;
    std::array<Py_ssize_t, kMaxDimensions> extent{};

    std::span<const Py_ssize_t> dimensions() const { return std::span(extent).first(ndim); }
};

// One operand: its first element, its own shape and byte strides.
struct StridedOperand {
    const char* data = nullptr;
    Shape shape;
    std::array<Py_ssize_t, kMaxDimensions> strides{};
};

// The broadcast shape of the operands, or nothing when two disagree.
inline std::optional<Shape> broadcast_shape(std::span<const StridedOperand* const> operands) {
    Shape result;
    for (const StridedOperand* operand : operands) {
        result.ndim = std::max(result.ndim, operand->shape.ndim);
    }
    for (std::size_t d = 0; d < result.ndim; ++d) {
        result.extent[d] = 1;
    }
    for (const StridedOperand* operand : operands) {
        const std::size_t offset = result.ndim - operand->shape.ndim;
        for (std::size_t d = 0; d < operand->shape.ndim; ++d) {
            const Py_ssize_t own = operand->shape.extent[d];
            Py_ssize_t& common = result.extent[offset + d];
            if (own != common) {
                if (common == 1) {
                    common = own;
                } else if (own != 1) {
                    return std::nullopt;
                }
            }
        }
    }
    return result;
}

// The byte strides of `operand` over the broadcast `shape`: aligned to the
// last dimension, zero where the operand has no dimension or extent 1.
inline std::array<Py_ssize_t, kMaxDimensions> broadcast_strides(const StridedOperand& operand, const Shape& shape) {
    std::array<Py_ssize_t, kMaxDimensions> strides{};
    const std::size_t offset = shape.ndim - operand.shape.ndim;
    for (std::size_t d = 0; d < operand.shape.ndim; ++d) {
        strides[offset + d] = operand.shape.extent[d] == 1 ? 0 : operand.strides[d];
    }
    return strides;
}

// Steps N operands through `shape` in C order, starting at flat index `start`.
template <std::size_t N>
class Odometer {
public:
    using Strides = std::array<Py_ssize_t, kMaxDimensions>;

    Odometer(const Shape& shape, const std::array<const char*, N>& bases, const std::array<Strides, N>& strides,
             Py_ssize_t start)
        : shape_(shape), strides_(strides), pointers_(bases) {
        for (std::size_t d = shape.ndim; d-- > 0;) {
            index_[d] = start % shape.extent[d];
            start /= shape.extent[d];
            for (std::size_t i = 0; i < N; ++i) {
                pointers_[i] += index_[d] * strides[i][d];
            }
        }
    }

    const char* operator[](std::size_t operand) const { return pointers_[operand]; }

    // The elements left along the last dimension from where the walk
    // stands, and an operand's byte stride along it: a run the caller may
    // read with a plain loop before advance_run() steps over it.
    Py_ssize_t run_length() const { return shape_.ndim == 0 ? 1 : shape_.extent[last()] - index_[last()]; }
    Py_ssize_t run_stride(std::size_t operand) const { return shape_.ndim == 0 ? 0 : strides_[operand][last()]; }

    // Steps over `count` elements, 1 <= count <= run_length().
    void advance_run(Py_ssize_t count) {
        if (shape_.ndim > 0 && count > 1) {
            for (std::size_t i = 0; i < N; ++i) {
                pointers_[i] += (count - 1) * strides_[i][last()];
            }
            index_[last()] += count - 1;
        }
        advance();
    }

    void advance() {
        for (std::size_t d = shape_.ndim; d-- > 0;) {
            for (std::size_t i = 0; i < N; ++i) {
                pointers_[i] += strides_[i][d];
            }
            if (++index_[d] < shape_.extent[d]) {
                return;
            }
            for (std::size_t i = 0; i < N; ++i) {
                pointers_[i] -= strides_[i][d] * shape_.extent[d];
            }
            index_[d] = 0;
        }
    }

private:
    std::size_t last() const { return shape_.ndim - 1; }

    const Shape& shape_;
    const std::array<Strides, N>& strides_;
    std::array<const char*, N> pointers_;
    std::array<Py_ssize_t, kMaxDimensions> index_{};
};

// The addresses an operand's elements of `item_size` bytes occupy, from
// the lowest to one past the highest; empty (begin == end) when it has none.
struct ByteRange {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;

    bool meets(const ByteRange& other) const { return begin < other.end && other.begin < end; }
};

inline ByteRange byte_range(const StridedOperand& operand, Py_ssize_t item_size) {
    const auto first = reinterpret_cast<std::uintptr_t>(operand.data);
    std::uintptr_t low = first;
    std::uintptr_t high = first;
    for (std::size_t d = 0; d < operand.shape.ndim; ++d) {
        const Py_ssize_t extent = operand.shape.extent[d];
        if (extent == 0) {
            return {};
        }
        const Py_ssize_t reach = operand.strides[d] * (extent - 1);
        if (reach < 0) {
            low -= static_cast<std::uintptr_t>(-reach);
        } else {
            high += static_cast<std::uintptr_t>(reach);
        }
    }
    return {low, high + static_cast<std::uintptr_t>(item_size)};
}

// The number of elements of `shape`, or nothing when it overflows.
inline std::optional<Py_ssize_t> element_count(const Shape& shape) {
    Py_ssize_t count = 1;
    for (Py_ssize_t extent : shape.dimensions()) {
        if (extent != 0 && count > PY_SSIZE_T_MAX / extent) {
            return std::nullopt;
        }
        count *= extent;
    }
    return count;
}

}  // namespace velarix
