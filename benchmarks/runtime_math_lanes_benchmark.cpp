// Nanoseconds per value of runtime_math_lanes.h's exp, log and pow on each
// path, over 4096 arguments of a given range, the best of several
// repetitions: "scalar" calls the C runtime once per value, "lanes" is the
// AVX-512 path (where this CPU has it and the runtime is the variant the
// lanes repeat). Every argument of these ranges is on the lanes' main path,
// but for exp's beyond +-512 in [-745, 710] (three in ten), which take the
// scalar call.
//
//     runtime_math_lanes_benchmark
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "best_time.h"
#include "runtime_math.h"
#include "runtime_math_lanes.h"
#include "runtime_math_lanes_testing.h"

namespace {

namespace lanes = velarix::runtime_lanes;
using lanes::LanesPath;

constexpr std::size_t kCount = 4096;

double nanoseconds_per_value(const auto& loop) { return velarix_benchmarks::nanoseconds_per_value(kCount, loop); }

struct Case {
    const char* name;
    double x_low, x_high, y_low, y_high;  // pow only: y
};

// Evenly spread, in scrambled order (golden-ratio steps).
std::vector<double> spread(double low, double high, double offset) {
    std::vector<double> values(kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        const double u = static_cast<double>(i) * 0.6180339887498949 + offset;
        values[i] = low + (high - low) * (u - static_cast<double>(static_cast<long>(u)));
    }
    return values;
}

}  // namespace

int main() {
    const bool lanes_usable = lanes::lanes_path_available(LanesPath::Avx512) && lanes::witnesses_agree();
    std::printf("path taken: %s\n", lanes::lanes_decision());
    std::printf("%-30s %8s %8s %8s   (ns per value)\n", "function and range", "scalar", "lanes", "speedup");
    const Case cases[] = {
        {"exp  [-1, 1]", -1.0, 1.0, 0, 0},          {"exp  [-50, 50]", -50.0, 50.0, 0, 0},
        {"exp  [-745, 710]", -745.0, 710.0, 0, 0},  {"log  [0.5, 2]", 0.5, 2.0, 0, 0},
        {"log  [1e-3, 1e3]", 1e-3, 1e3, 0, 0},      {"pow  [0.5, 2]^[-5, 5]", 0.5, 2.0, -5.0, 5.0},
        {"pow  [0.01, 100]^[-60, 60]", 0.01, 100.0, -60.0, 60.0},
    };
    for (const Case& c : cases) {
        const std::vector<double> x = spread(c.x_low, c.x_high, 0.0);
        const std::vector<double> y = spread(c.y_low, c.y_high, 0.5);
        std::vector<double> out(kCount);
        const char kind = c.name[0];
        const auto run = [&](LanesPath path) {
            return nanoseconds_per_value([&] {
                if (kind == 'e') {
                    lanes::exp_batch(path, x.data(), out.data(), kCount);
                } else if (kind == 'l') {
                    lanes::log_batch(path, x.data(), out.data(), kCount);
                } else {
                    lanes::pow_batch(path, x.data(), y.data(), out.data(), kCount);
                }
            });
        };
        const double scalar = run(LanesPath::Scalar);
        if (!lanes_usable) {
            std::printf("%-30s %8.2f %8s\n", c.name, scalar, "-");
            continue;
        }
        const double vector = run(LanesPath::Avx512);
        std::printf("%-30s %8.2f %8.2f %7.2fx\n", c.name, scalar, vector, scalar / vector);
    }
}
