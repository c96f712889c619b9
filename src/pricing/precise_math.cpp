// The batch functions of precise_math.h: the kernels over arrays, in AVX-512
// lanes when the CPU has AVX-512F (asked once), else value by value. The
// last count % 8 values go through the lanes too, padded, so that a lane
// path never mixes in scalar code; the bits are the scalar ones either way.
#include "precise_math.h"

#include "testing/precise_math_paths.h"

// The Lanes kernels below pass Lanes by value between always-inlined
// functions; GCC's note that this changed its calling convention is moot.
#if defined(VELARIX_PRECISE_LANES)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace velarix::precise {
namespace {

// The kernels as types, so that one loop serves them all.
struct Exp {
    template <class V>
    VELARIX_ALWAYS_INLINE static V apply(V x) { return kernels::exp(x); }
};
struct Log {
    template <class V>
    VELARIX_ALWAYS_INLINE static V apply(V x) { return kernels::log(x); }
};
struct NormalCdf {
    template <class V>
    VELARIX_ALWAYS_INLINE static V apply(V x) { return kernels::normal_cdf(x); }
};
struct NormalPdf {
    template <class V>
    VELARIX_ALWAYS_INLINE static V apply(V x) { return kernels::normal_pdf(x); }
};

template <class Function>
void scalar_loop(const double* x, double* y, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        y[i] = Function::apply(x[i]);
    }
}

#if defined(VELARIX_PRECISE_LANES)

template <class Function>
__attribute__((target("avx512f"))) void lanes_loop(const double* x, double* y, std::size_t count) {
    constexpr std::size_t kLanes = Lanes::kCount;
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        store_lanes(y + i, Function::apply(load_lanes(x + i)));
    }
    if (i < count) {
        double padded[kLanes] = {};
        for (std::size_t j = 0; i + j < count; ++j) {
            padded[j] = x[i + j];
        }
        store_lanes(padded, Function::apply(load_lanes(padded)));
        for (std::size_t j = 0; i + j < count; ++j) {
            y[i + j] = padded[j];
        }
    }
}

bool cpu_has_avx512f() {
    static const bool has = __builtin_cpu_supports("avx512f");
    return has;
}

#endif

template <class Function>
void batch(PrecisePath path, const double* x, double* y, std::size_t count) {
#if defined(VELARIX_PRECISE_LANES)
    if (path == PrecisePath::Avx512) {
        lanes_loop<Function>(x, y, count);
        return;
    }
#endif
    (void)path;
    scalar_loop<Function>(x, y, count);
}

PrecisePath fastest_path() {
    static const PrecisePath path =
        precise_path_available(PrecisePath::Avx512) ? PrecisePath::Avx512 : PrecisePath::Scalar;
    return path;
}

}  // namespace

bool precise_path_available(PrecisePath path) {
#if defined(VELARIX_PRECISE_LANES)
    if (path == PrecisePath::Avx512) {
        return cpu_has_avx512f();
    }
#endif
    return path == PrecisePath::Scalar;
}

void exp_batch(PrecisePath path, const double* x, double* y, std::size_t count) { batch<Exp>(path, x, y, count); }
void log_batch(PrecisePath path, const double* x, double* y, std::size_t count) { batch<Log>(path, x, y, count); }
void normal_cdf_batch(PrecisePath path, const double* x, double* y, std::size_t count) {
    batch<NormalCdf>(path, x, y, count);
}
void normal_pdf_batch(PrecisePath path, const double* x, double* y, std::size_t count) {
    batch<NormalPdf>(path, x, y, count);
}

void exp_batch(const double* x, double* y, std::size_t count) { exp_batch(fastest_path(), x, y, count); }
void log_batch(const double* x, double* y, std::size_t count) { log_batch(fastest_path(), x, y, count); }
void normal_cdf_batch(const double* x, double* y, std::size_t count) {
    normal_cdf_batch(fastest_path(), x, y, count);
}
void normal_pdf_batch(const double* x, double* y, std::size_t count) {
    normal_pdf_batch(fastest_path(), x, y, count);
}

}  // namespace velarix::precise
