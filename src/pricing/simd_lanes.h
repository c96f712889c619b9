// The value types the precise math kernels are written over, and the few
// primitives that differ between them: a plain double, and (x86-64 with GCC
// or Clang) Lanes, eight doubles in one AVX-512 register. A kernel written
// once as a template over V does, in each lane, exactly the operations it
// does on a double, in the same order, so every lane gives the scalar bits.
//
// Lanes wraps the compilers' vector extension in a struct: Clang refuses to
// pass a bare 512-bit vector by value between a target("avx512f") function and
// an inline helper that lacks that target, while a struct of one passes. The
// operators are always inlined, so code using Lanes must itself be compiled
// for AVX-512F (inside a __attribute__((target("avx512f"))) function), and
// only run where __builtin_cpu_supports("avx512f") says so.
//
// Selection is select(mask, a, b) for both types: comparisons of doubles
// give bool, those of Lanes a LaneMask of all-ones or all-zeros lanes.
#pragma once

#include <bit>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#define VELARIX_PRECISE_LANES 1
#endif

// Kernels and primitives are inlined into their callers, so that the Lanes
// instances end up in a target("avx512f") function.
#if defined(__GNUC__)
#define VELARIX_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define VELARIX_ALWAYS_INLINE inline
#endif

namespace velarix::precise {

// The signed 64-bit integer type of V's bit patterns.
template <class V>
struct IntegerOf;
template <>
struct IntegerOf<double> {
    using type = std::int64_t;
};
template <class V>
using Int = typename IntegerOf<V>::type;

VELARIX_ALWAYS_INLINE std::int64_t bits(double x) { return std::bit_cast<std::int64_t>(x); }
VELARIX_ALWAYS_INLINE double from_bits(std::int64_t b) { return std::bit_cast<double>(b); }
VELARIX_ALWAYS_INLINE double select(bool mask, double a, double b) { return mask ? a : b; }
VELARIX_ALWAYS_INLINE std::int64_t select(bool mask, std::int64_t a, std::int64_t b) { return mask ? a : b; }
VELARIX_ALWAYS_INLINE double gather(const double* table, std::int64_t index) { return table[index]; }
// row[e] = table[index + e] for e < Count: the entries of one table row.
template <int Count>
VELARIX_ALWAYS_INLINE void gather_row(const double* table, std::int64_t index, double (&row)[Count]) {
    for (int e = 0; e < Count; ++e) {
        row[e] = table[index + e];
    }
}

#if defined(VELARIX_PRECISE_LANES)

// Lanes pass by value only between functions that end up inlined into a
// target("avx512f") caller, so the compilers' warning that such arguments
// change the calling convention of functions without the target is moot.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

typedef double LaneVector __attribute__((vector_size(64)));
typedef std::int64_t LaneIntegerVector __attribute__((vector_size(64)));

// Per lane all ones (true) or all zeros (false).
struct LaneMask {
    LaneIntegerVector v;
};

struct LaneIntegers {
    LaneIntegerVector v;
    LaneIntegers() = default;
    VELARIX_ALWAYS_INLINE LaneIntegers(LaneIntegerVector lanes) : v(lanes) {}
    VELARIX_ALWAYS_INLINE LaneIntegers(std::int64_t value) : v(LaneIntegerVector{} + value) {}
};

struct Lanes {
    LaneVector v;
    static constexpr int kCount = 8;
    Lanes() = default;
    VELARIX_ALWAYS_INLINE Lanes(LaneVector lanes) : v(lanes) {}
    VELARIX_ALWAYS_INLINE Lanes(double value) : v(LaneVector{} + value) {}
};

template <>
struct IntegerOf<Lanes> {
    using type = LaneIntegers;
};

VELARIX_ALWAYS_INLINE Lanes operator+(Lanes a, Lanes b) { return a.v + b.v; }
VELARIX_ALWAYS_INLINE Lanes operator-(Lanes a, Lanes b) { return a.v - b.v; }
VELARIX_ALWAYS_INLINE Lanes operator*(Lanes a, Lanes b) { return a.v * b.v; }
VELARIX_ALWAYS_INLINE Lanes operator/(Lanes a, Lanes b) { return a.v / b.v; }
VELARIX_ALWAYS_INLINE Lanes operator-(Lanes a) { return -a.v; }
VELARIX_ALWAYS_INLINE LaneMask operator<(Lanes a, Lanes b) { return {(LaneIntegerVector)(a.v < b.v)}; }
VELARIX_ALWAYS_INLINE LaneMask operator>(Lanes a, Lanes b) { return {(LaneIntegerVector)(a.v > b.v)}; }
VELARIX_ALWAYS_INLINE LaneMask operator==(Lanes a, Lanes b) { return {(LaneIntegerVector)(a.v == b.v)}; }
VELARIX_ALWAYS_INLINE LaneMask operator!=(Lanes a, Lanes b) { return {(LaneIntegerVector)(a.v != b.v)}; }

VELARIX_ALWAYS_INLINE LaneIntegers operator+(LaneIntegers a, LaneIntegers b) { return a.v + b.v; }
VELARIX_ALWAYS_INLINE LaneIntegers operator-(LaneIntegers a, LaneIntegers b) { return a.v - b.v; }
VELARIX_ALWAYS_INLINE LaneIntegers operator&(LaneIntegers a, LaneIntegers b) { return a.v & b.v; }
VELARIX_ALWAYS_INLINE LaneIntegers operator<<(LaneIntegers a, int shift) { return a.v << shift; }
VELARIX_ALWAYS_INLINE LaneIntegers operator>>(LaneIntegers a, int shift) { return a.v >> shift; }  // arithmetic
VELARIX_ALWAYS_INLINE LaneMask operator<(LaneIntegers a, LaneIntegers b) { return {(LaneIntegerVector)(a.v < b.v)}; }
VELARIX_ALWAYS_INLINE LaneMask operator>(LaneIntegers a, LaneIntegers b) { return {(LaneIntegerVector)(a.v > b.v)}; }

VELARIX_ALWAYS_INLINE LaneIntegers bits(Lanes x) { return __builtin_bit_cast(LaneIntegerVector, x.v); }
VELARIX_ALWAYS_INLINE Lanes from_bits(LaneIntegers b) { return __builtin_bit_cast(LaneVector, b.v); }
VELARIX_ALWAYS_INLINE Lanes select(LaneMask mask, Lanes a, Lanes b) { return mask.v ? a.v : b.v; }
VELARIX_ALWAYS_INLINE LaneIntegers select(LaneMask mask, LaneIntegers a, LaneIntegers b) {
    return mask.v ? a.v : b.v;
}

// table[index] in each lane. Written as eight loads: GCC will not inline an
// intrinsic's target("avx512f") into a kernel template that lacks the target,
// and vgatherqpd (tried through inline assembly) made the normal tail's
// lanes half again slower on this machine's CPU (6.3 against 4.3 ns a value).
VELARIX_ALWAYS_INLINE Lanes gather(const double* table, LaneIntegers index) {
    LaneVector lanes;
    for (int lane = 0; lane < Lanes::kCount; ++lane) {
        lanes[lane] = table[index.v[lane]];
    }
    return lanes;
}

// The 8 x 8 block `rows` transposed: columns[e] holds entry e of every row.
// Three rounds of two-vector shuffles, which move values without
// changing them.
VELARIX_ALWAYS_INLINE void transpose(const LaneVector (&rows)[8], LaneVector (&columns)[8]) {
    LaneVector pairs[8];  // rows 2i and 2i + 1 interleaved: even entries, then odd
    for (int i = 0; i < 4; ++i) {
        pairs[2 * i] = __builtin_shufflevector(rows[2 * i], rows[2 * i + 1], 0, 8, 2, 10, 4, 12, 6, 14);
        pairs[2 * i + 1] = __builtin_shufflevector(rows[2 * i], rows[2 * i + 1], 1, 9, 3, 11, 5, 13, 7, 15);
    }
    LaneVector quads[8];  // four rows' entries e and e + 4, for e = 0, 1, 2, 3
    for (int half = 0; half < 2; ++half) {
        const LaneVector* p = pairs + 4 * half;
        LaneVector* q = quads + 4 * half;
        q[0] = __builtin_shufflevector(p[0], p[2], 0, 1, 8, 9, 4, 5, 12, 13);
        q[1] = __builtin_shufflevector(p[1], p[3], 0, 1, 8, 9, 4, 5, 12, 13);
        q[2] = __builtin_shufflevector(p[0], p[2], 2, 3, 10, 11, 6, 7, 14, 15);
        q[3] = __builtin_shufflevector(p[1], p[3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (int e = 0; e < 4; ++e) {
        columns[e] = __builtin_shufflevector(quads[e], quads[4 + e], 0, 1, 2, 3, 8, 9, 10, 11);
        columns[4 + e] = __builtin_shufflevector(quads[e], quads[4 + e], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// row[e] = table[index + e] in each lane, for e < Count <= 16: each lane's
// row read whole, eight entries at a time, then transposed, in place of
// Count gathers of eight loads each.
template <int Count>
VELARIX_ALWAYS_INLINE void gather_row(const double* table, LaneIntegers index, Lanes (&row)[Count]) {
    static_assert(Count <= 16);
    for (int block = 0; block * 8 < Count; ++block) {
        LaneVector rows[8];
        LaneVector columns[8];
        for (int lane = 0; lane < Lanes::kCount; ++lane) {
            __builtin_memcpy(&rows[lane], table + index.v[lane] + 8 * block, sizeof rows[lane]);
        }
        transpose(rows, columns);
        for (int e = 0; e < 8 && 8 * block + e < Count; ++e) {
            row[8 * block + e] = columns[e];
        }
    }
}

VELARIX_ALWAYS_INLINE Lanes load_lanes(const double* x) {
    Lanes lanes;
    __builtin_memcpy(&lanes.v, x, sizeof lanes.v);
    return lanes;
}
VELARIX_ALWAYS_INLINE void store_lanes(double* y, Lanes lanes) { __builtin_memcpy(y, &lanes.v, sizeof lanes.v); }

#pragma GCC diagnostic pop

#endif  // VELARIX_PRECISE_LANES

}  // namespace velarix::precise
