// exp, log and pow of runtime_math_lanes.h: glibc's algorithms, written out
// operation by operation as its x86-64 FMA variant evaluates them (read from
// that variant's machine code in glibc 2.36: which products it fuses with
// which sums, and in what order it adds), eight lanes at a time; the tables
// are the runtime's own (runtime_math_lanes_tables.h). -ffp-contract=off
// keeps the compiler from fusing anything itself, so every fused
// multiply-add below is one the runtime does, written as an intrinsic.
#include "runtime_math_lanes.h"

#include <atomic>
#include <cstdint>

#include "runtime_math.h"
#include "runtime_math_lanes_tables.h"
#include "testing/runtime_math_lanes_testing.h"

#if defined(__x86_64__) && defined(__GNUC__) && defined(__GLIBC__)
#define VELARIX_RUNTIME_LANES 1
// GCC 12 takes the deliberately undefined vectors inside its own AVX-512
// shift and conversion intrinsics for uninitialised ones.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif

namespace velarix::runtime_lanes {
namespace {

namespace t = tables;

struct Exp {
    static double scalar(double x) { return std::exp(x); }
};
struct Log {
    static double scalar(double x) { return std::log(x); }
};
struct Pow {
    static double scalar(double x, double y) { return std::pow(x, y); }
};

#ifdef VELARIX_RUNTIME_LANES

#define VELARIX_AVX512 __attribute__((target("avx512f")))
#define VELARIX_AVX512_INLINE __attribute__((target("avx512f"), always_inline)) inline

// Lanes' values, and which lanes followed the main path (the others take the
// scalar call).
struct LaneResults {
    __m512d value;
    __mmask8 main_path;
};

VELARIX_AVX512_INLINE __m512d all(double value) { return _mm512_set1_pd(value); }
VELARIX_AVX512_INLINE __m512i all_bits(std::uint64_t value) { return _mm512_set1_epi64(static_cast<long long>(value)); }
VELARIX_AVX512_INLINE __mmask8 unsigned_below(__m512i a, std::uint64_t limit) {
    return _mm512_cmplt_epu64_mask(a, all_bits(limit));
}
VELARIX_AVX512_INLINE __m512i shift_down(__m512i a, unsigned count) { return _mm512_srli_epi64(a, count); }
// An integer of at most 31 bits as a double, exactly.
VELARIX_AVX512_INLINE __m512d small_integer_to_double(__m512i k) {
    return _mm512_cvtepi32_pd(_mm512_cvtepi64_epi32(k));
}
VELARIX_AVX512_INLINE __m512d gather(const double* table, __m512i index) {
    return _mm512_i64gather_pd(index, table, 8);
}

// Sign and exponent of x, in the low 12 bits.
VELARIX_AVX512_INLINE __m512i top12(__m512d x) { return shift_down(_mm512_castpd_si512(x), 52); }

// exp(x + tail) for |x| in [2^-54, 512): x = k ln2/128 + r, then
// 2^(k/128) = scale (1 + T) from the table and exp(x) = scale + scale (T + r +
// r^2 (C2 + r C3) + r^4 (C4 + r C5)). For exp itself the tail is zero and is
// not added; pow adds its product's low part to r.
template <bool kWithTail>
VELARIX_AVX512_INLINE LaneResults exp_lanes(__m512d x, __m512d tail) {
    constexpr std::uint64_t kTopOfTiny = 0x3c9;  // exponent field of 2^-54
    constexpr std::uint64_t kTopOfLarge = 0x408;  // exponent field of 512
    const __m512i magnitude_top = _mm512_and_si512(top12(x), all_bits(0x7ff));
    const __mmask8 main_path = unsigned_below(_mm512_sub_epi64(magnitude_top, all_bits(kTopOfTiny)),
                                              kTopOfLarge - kTopOfTiny);
    // k rounded to nearest in the low bits of kd's pattern.
    __m512d kd = _mm512_fmadd_pd(x, all(t::kExpInvLn2N), all(t::kExpShift));
    const __m512i ki = _mm512_castpd_si512(kd);
    kd = _mm512_sub_pd(kd, all(t::kExpShift));
    __m512d r = _mm512_fmadd_pd(kd, all(t::kExpNegLn2HighN), x);
    r = _mm512_fmadd_pd(kd, all(t::kExpNegLn2LowN), r);
    if constexpr (kWithTail) {
        r = _mm512_add_pd(tail, r);
    }
    const __m512i row = _mm512_slli_epi64(_mm512_and_si512(ki, all_bits(127)), 1);
    const auto* table = reinterpret_cast<const double*>(t::kExpTable);
    const __m512d table_tail = gather(table, row);
    const __m512i scale_bits = _mm512_add_epi64(_mm512_castpd_si512(gather(table, _mm512_add_epi64(row, all_bits(1)))),
                                                _mm512_slli_epi64(ki, 45));
    const __m512d low_terms = _mm512_fmadd_pd(r, all(t::kExpC3), all(t::kExpC2));
    const __m512d tail_and_r = _mm512_add_pd(r, table_tail);
    const __m512d r2 = _mm512_mul_pd(r, r);
    const __m512d high_terms = _mm512_fmadd_pd(r, all(t::kExpC5), all(t::kExpC4));
    __m512d sum = _mm512_fmadd_pd(low_terms, r2, tail_and_r);
    const __m512d r4 = _mm512_mul_pd(r2, r2);
    sum = _mm512_fmadd_pd(r4, high_terms, sum);
    const __m512d scale = _mm512_castsi512_pd(scale_bits);
    return {_mm512_fmadd_pd(scale, sum, scale), main_path};
}

// log(x) for positive normal x. Near 1 (x in [1 - 2^-4, 1 + 0x1.09p-4)) by a
// polynomial in r = x - 1, its leading terms r - r^2/2 in extra precision
// (r split at 2^-27 into rhi + rlo); elsewhere x = 2^k z, r = z/c - 1 by one
// fused multiply-add, log(x) = k ln2 + log(c) + r + A0 r^2 + r^3 (...).
VELARIX_AVX512_INLINE LaneResults log_lanes(__m512d x) {
    constexpr std::uint64_t kNearOneLow = 0x3fee000000000000;   // 1 - 2^-4
    constexpr std::uint64_t kNearOneHigh = 0x3ff1090000000000;  // 1 + 0x1.09p-4
    constexpr std::uint64_t kTableOffset = 0x3fe6000000000000;  // 0x1.6p-1: z in [it, twice it)
    const __m512i ix = _mm512_castpd_si512(x);
    const __m512i top16 = shift_down(ix, 48);
    const __mmask8 positive_normal = unsigned_below(_mm512_sub_epi64(top16, all_bits(0x0010)), 0x7ff0 - 0x0010);
    const __mmask8 near_one = unsigned_below(_mm512_sub_epi64(ix, all_bits(kNearOneLow)), kNearOneHigh - kNearOneLow);

    const __m512i offset = _mm512_sub_epi64(ix, all_bits(kTableOffset));
    const __m512i row = _mm512_slli_epi64(_mm512_and_si512(shift_down(offset, 45), all_bits(127)), 1);
    const __m512d kd = small_integer_to_double(_mm512_srai_epi64(offset, 52));
    const __m512d z =
        _mm512_castsi512_pd(_mm512_sub_epi64(ix, _mm512_and_si512(offset, all_bits(0xfff0000000000000))));
    const __m512d invc = gather(t::kLogTable, row);
    const __m512d logc = gather(t::kLogTable, _mm512_add_epi64(row, all_bits(1)));
    const __m512d r = _mm512_fmadd_pd(z, invc, all(-1.0));
    const __m512d w = _mm512_fmadd_pd(kd, all(t::kLogLn2High), logc);
    const __m512d hi = _mm512_add_pd(r, w);
    __m512d lo = _mm512_add_pd(_mm512_sub_pd(w, hi), r);
    lo = _mm512_fmadd_pd(kd, all(t::kLogLn2Low), lo);
    const __m512d r2 = _mm512_mul_pd(r, r);
    const __m512d r3 = _mm512_mul_pd(r, r2);
    const __m512d a12 = _mm512_fmadd_pd(r, all(t::kLogA[2]), all(t::kLogA[1]));
    const __m512d a34 = _mm512_fmadd_pd(r, all(t::kLogA[4]), all(t::kLogA[3]));
    lo = _mm512_fmadd_pd(r2, all(t::kLogA[0]), lo);
    const __m512d poly = _mm512_fmadd_pd(a34, r2, a12);
    const __m512d away = _mm512_add_pd(_mm512_fmadd_pd(r3, poly, lo), hi);

    const __m512d s = _mm512_sub_pd(x, all(1.0));
    const __m512d s2 = _mm512_mul_pd(s, s);
    const __m512d s3 = _mm512_mul_pd(s, s2);
    const double* b = t::kLogB;
    __m512d b13 = _mm512_fmadd_pd(s, all(b[2]), all(b[1]));
    b13 = _mm512_fmadd_pd(s2, all(b[3]), b13);
    __m512d b46 = _mm512_fmadd_pd(s, all(b[5]), all(b[4]));
    b46 = _mm512_fmadd_pd(s2, all(b[6]), b46);
    __m512d b710 = _mm512_fmadd_pd(s, all(b[8]), all(b[7]));
    b710 = _mm512_fmadd_pd(s2, all(b[9]), b710);
    b710 = _mm512_fmadd_pd(s3, all(b[10]), b710);
    __m512d series = _mm512_fmadd_pd(b710, s3, b46);
    series = _mm512_fmadd_pd(series, s3, b13);
    // s = rhi + rlo, rhi with at most 26 significant bits, so rhi^2 is exact.
    const __m512d s_plus_w = _mm512_fmadd_pd(s, all(0x1p27), s);
    const __m512d shi = _mm512_fnmadd_pd(s, all(0x1p27), s_plus_w);
    const __m512d shi2 = _mm512_mul_pd(shi, shi);
    const __m512d slo = _mm512_sub_pd(s, shi);
    const __m512d near_hi = _mm512_fmadd_pd(shi2, all(b[0]), s);
    __m512d near_lo = _mm512_fmadd_pd(shi2, all(b[0]), _mm512_sub_pd(s, near_hi));
    near_lo = _mm512_fmadd_pd(_mm512_mul_pd(all(b[0]), slo), _mm512_add_pd(s, shi), near_lo);
    __m512d near = _mm512_add_pd(near_hi, _mm512_fmadd_pd(series, s3, near_lo));
    // log(1) is +0 in every rounding mode.
    near = _mm512_mask_mov_pd(near, _mm512_cmpeq_epi64_mask(ix, all_bits(0x3ff0000000000000)), all(0.0));
    return {_mm512_mask_mov_pd(away, near_one, near), positive_normal};
}

// pow(x, y) for positive normal x and 2^-65 <= |y| < 2^63: log(x) as
// hi + lo with some 15 bits beyond a double, y log(x) = ehi + elo by a fused
// product, then exp(ehi + elo) as exp_lanes.
VELARIX_AVX512_INLINE LaneResults pow_lanes(__m512d x, __m512d y) {
    constexpr std::uint64_t kTableOffset = 0x3fe6955500000000;
    const __m512i ix = _mm512_castpd_si512(x);
    const __mmask8 positive_normal = unsigned_below(_mm512_sub_epi64(top12(x), all_bits(0x001)), 0x7ff - 0x001);
    const __m512i y_top = _mm512_and_si512(top12(y), all_bits(0x7ff));
    const __mmask8 moderate_y = unsigned_below(_mm512_sub_epi64(y_top, all_bits(0x3be)), 0x43e - 0x3be);

    const __m512i offset = _mm512_sub_epi64(ix, all_bits(kTableOffset));
    const __m512i row = _mm512_slli_epi64(_mm512_and_si512(shift_down(offset, 45), all_bits(127)), 2);
    const __m512d kd = small_integer_to_double(_mm512_srai_epi64(offset, 52));
    const __m512d z =
        _mm512_castsi512_pd(_mm512_sub_epi64(ix, _mm512_and_si512(offset, all_bits(0xfff0000000000000))));
    const __m512d invc = gather(t::kPowTable, row);
    const __m512d logc = gather(t::kPowTable, _mm512_add_epi64(row, all_bits(2)));
    const __m512d logctail = gather(t::kPowTable, _mm512_add_epi64(row, all_bits(3)));
    const double* a = t::kPowA;
    const __m512d t1 = _mm512_fmadd_pd(kd, all(t::kPowLn2High), logc);
    const __m512d lo1 = _mm512_fmadd_pd(kd, all(t::kPowLn2Low), logctail);
    const __m512d r = _mm512_fmadd_pd(z, invc, all(-1.0));
    const __m512d ar = _mm512_mul_pd(r, all(a[0]));
    const __m512d a12 = _mm512_fmadd_pd(r, all(a[2]), all(a[1]));
    const __m512d a34 = _mm512_fmadd_pd(r, all(a[4]), all(a[3]));
    const __m512d t2 = _mm512_add_pd(r, t1);
    const __m512d ar2 = _mm512_mul_pd(r, ar);
    const __m512d ar3 = _mm512_mul_pd(r, ar2);
    const __m512d lo3 = _mm512_fmsub_pd(ar, r, ar2);
    const __m512d lo2 = _mm512_add_pd(_mm512_sub_pd(t1, t2), r);
    const __m512d a56 = _mm512_fmadd_pd(r, all(a[6]), all(a[5]));
    const __m512d hi = _mm512_add_pd(t2, ar2);
    const __m512d lo4 = _mm512_add_pd(_mm512_sub_pd(t2, hi), ar2);
    __m512d poly = _mm512_fmadd_pd(a56, ar2, a34);
    poly = _mm512_fmadd_pd(ar2, poly, a12);
    __m512d lo = _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(lo1, lo2), lo3), lo4);
    lo = _mm512_fmadd_pd(ar3, poly, lo);
    const __m512d log_hi = _mm512_add_pd(hi, lo);
    const __m512d log_lo = _mm512_add_pd(_mm512_sub_pd(hi, log_hi), lo);

    const __m512d ehi = _mm512_mul_pd(y, log_hi);
    const __m512d elo = _mm512_fmadd_pd(y, log_lo, _mm512_fmsub_pd(log_hi, y, ehi));
    const LaneResults power = exp_lanes<true>(ehi, elo);
    return {power.value, static_cast<__mmask8>(positive_normal & moderate_y & power.main_path)};
}

struct ExpLanes : Exp {
    VELARIX_AVX512_INLINE static LaneResults lanes(__m512d x) { return exp_lanes<false>(x, x); }
};
struct LogLanes : Log {
    VELARIX_AVX512_INLINE static LaneResults lanes(__m512d x) { return log_lanes(x); }
};

// Eight values at a time, the last count % 8 under a mask (their empty lanes
// hold 1.0, which no lane result depends on); then the scalar call for the
// lanes that left the main path.
template <class Function>
VELARIX_AVX512 void unary_lanes(const double* x, double* out, std::size_t count) {
    for (std::size_t i = 0; i < count; i += 8) {
        const std::size_t filled = count - i < 8 ? count - i : 8;
        const auto present = static_cast<__mmask8>((1u << filled) - 1u);
        const __m512d arguments = _mm512_mask_loadu_pd(all(1.0), present, x + i);
        const LaneResults results = Function::lanes(arguments);
        _mm512_mask_storeu_pd(out + i, present, results.value);
        unsigned others = present & ~results.main_path & 0xffu;
        if (others != 0) {
            alignas(64) double held[8];
            _mm512_store_pd(held, arguments);
            for (; others != 0; others &= others - 1) {
                const int lane = __builtin_ctz(others);
                out[i + lane] = Function::scalar(held[lane]);
            }
        }
    }
}

VELARIX_AVX512 void pow_lanes_loop(const double* x, const double* y, double* out, std::size_t count) {
    for (std::size_t i = 0; i < count; i += 8) {
        const std::size_t filled = count - i < 8 ? count - i : 8;
        const auto present = static_cast<__mmask8>((1u << filled) - 1u);
        const __m512d bases = _mm512_mask_loadu_pd(all(1.0), present, x + i);
        const __m512d exponents = _mm512_mask_loadu_pd(all(1.0), present, y + i);
        const LaneResults results = pow_lanes(bases, exponents);
        _mm512_mask_storeu_pd(out + i, present, results.value);
        unsigned others = present & ~results.main_path & 0xffu;
        if (others != 0) {
            alignas(64) double held_x[8];
            alignas(64) double held_y[8];
            _mm512_store_pd(held_x, bases);
            _mm512_store_pd(held_y, exponents);
            for (; others != 0; others &= others - 1) {
                const int lane = __builtin_ctz(others);
                out[i + lane] = Pow::scalar(held_x[lane], held_y[lane]);
            }
        }
    }
}

#endif  // VELARIX_RUNTIME_LANES

template <class Function>
void unary_scalar(const double* x, double* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = Function::scalar(x[i]);
    }
}

bool cpu_has_lanes() {
#ifdef VELARIX_RUNTIME_LANES
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
#else
    return false;
#endif
}

struct Decision {
    bool lanes;
    const char* why;
};

Decision decide() {
#ifndef VELARIX_RUNTIME_LANES
    return {false, "scalar calls: not glibc on x86-64 built by GCC or Clang"};
#else
    if (!cpu_has_lanes()) {
        return {false, "scalar calls: the CPU lacks AVX-512F"};
    }
    if (!witnesses_agree()) {
        return {false, "scalar calls: the C runtime's exp, log or pow differ from the lanes on a witness argument"};
    }
    return {true, "AVX-512 lanes: the C runtime's exp, log and pow are glibc's FMA variant on every witness"};
#endif
}

// Decided once, at first use (a function-local static is initialised once,
// even when threads race to it).
const Decision& decision() {
    static const Decision made = decide();
    return made;
}

std::atomic<LanesPath>& chosen_path() {
    static std::atomic<LanesPath> path{decision().lanes ? LanesPath::Avx512 : LanesPath::Scalar};
    return path;
}

LanesPath active_path() { return chosen_path().load(std::memory_order_relaxed); }

}  // namespace

bool lanes_path_available(LanesPath path) { return path == LanesPath::Scalar || cpu_has_lanes(); }

void exp_batch(LanesPath path, const double* x, double* out, std::size_t count) {
#ifdef VELARIX_RUNTIME_LANES
    if (path == LanesPath::Avx512) {
        unary_lanes<ExpLanes>(x, out, count);
        return;
    }
#endif
    (void)path;
    unary_scalar<Exp>(x, out, count);
}

void log_batch(LanesPath path, const double* x, double* out, std::size_t count) {
#ifdef VELARIX_RUNTIME_LANES
    if (path == LanesPath::Avx512) {
        unary_lanes<LogLanes>(x, out, count);
        return;
    }
#endif
    (void)path;
    unary_scalar<Log>(x, out, count);
}

void pow_batch(LanesPath path, const double* x, const double* y, double* out, std::size_t count) {
#ifdef VELARIX_RUNTIME_LANES
    if (path == LanesPath::Avx512) {
        pow_lanes_loop(x, y, out, count);
        return;
    }
#endif
    (void)path;
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = Pow::scalar(x[i], y[i]);
    }
}

void use_lanes_path_for_testing(LanesPath path) { chosen_path().store(path, std::memory_order_relaxed); }

void exp_batch(const double* x, double* out, std::size_t count) { exp_batch(active_path(), x, out, count); }
void log_batch(const double* x, double* out, std::size_t count) { log_batch(active_path(), x, out, count); }
void pow_batch(const double* x, const double* y, double* out, std::size_t count) {
    pow_batch(active_path(), x, y, out, count);
}

bool lanes_in_use() { return active_path() == LanesPath::Avx512; }
const char* lanes_decision() { return decision().why; }

}  // namespace velarix::runtime_lanes
