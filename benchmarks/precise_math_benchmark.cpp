// Nanoseconds per value of velarix::precise's functions over 4096 arguments
// spread over each function's working range, the best of several
// repetitions: "scalar" calls the function through a pointer, one call per
// value; "batch" is the batch function's scalar path (the inline function
// in a loop); "lanes" its AVX-512 path, where this CPU has one.
//
//     precise_math_benchmark
#include <algorithm>
#include <cstdio>
#include <vector>

#include "best_time.h"
#include "precise_math.h"
#include "precise_math_paths.h"

namespace {

namespace precise = velarix::precise;
using precise::PrecisePath;

constexpr std::size_t kCount = 4096;

double nanoseconds_per_value(const auto& loop) { return velarix_benchmarks::nanoseconds_per_value(kCount, loop); }

struct Function {
    const char* name;
    double (*scalar)(double);
    void (*batch)(PrecisePath, const double*, double*, std::size_t);
    double low, high;
};

}  // namespace

int main() {
    const Function functions[] = {
        {"exp", precise::exp, precise::exp_batch, -700.0, 700.0},
        {"log", precise::log, precise::log_batch, 1e-300, 1e300},
        {"normal_cdf", precise::normal_cdf, precise::normal_cdf_batch, -38.0, 9.0},
        {"normal_pdf", precise::normal_pdf, precise::normal_pdf_batch, -38.0, 38.0},
    };
    std::vector<double> x(kCount), y(kCount);
    volatile double sink = 0.0;
    std::printf("%-12s %10s %10s %10s   (ns per value)\n", "function", "scalar", "batch", "lanes");
    for (const Function& f : functions) {
        for (std::size_t i = 0; i < kCount; ++i) {
            double u = (i * 0.6180339887498949) - static_cast<double>(static_cast<long>(i * 0.6180339887498949));
            // log's arguments spread over the exponents, the others evenly.
            x[i] = f.scalar == precise::log
                       ? precise::exp(precise::log(f.low) + u * (precise::log(f.high) - precise::log(f.low)))
                       : f.low + u * (f.high - f.low);
        }
        double scalar = nanoseconds_per_value([&] {
            for (std::size_t i = 0; i < kCount; ++i) {
                y[i] = f.scalar(x[i]);
            }
            sink = sink + y[kCount - 1];
        });
        double batch = nanoseconds_per_value([&] {
            f.batch(PrecisePath::Scalar, x.data(), y.data(), kCount);
            sink = sink + y[kCount - 1];
        });
        std::printf("%-12s %10.2f %10.2f", f.name, scalar, batch);
        if (precise::precise_path_available(PrecisePath::Avx512)) {
            double lanes = nanoseconds_per_value([&] {
                f.batch(PrecisePath::Avx512, x.data(), y.data(), kCount);
                sink = sink + y[kCount - 1];
            });
            std::printf(" %10.2f", lanes);
        } else {
            std::printf(" %10s", "n/a");
        }
        std::printf("\n");
    }
    return 0;
}
