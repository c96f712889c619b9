// The timing of the benchmarks that measure functions over arrays: the best
// of a few repetitions of many rounds, in nanoseconds per value, so that a
// shared machine's interruptions fall out rather than into the figure.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>

namespace velarix_benchmarks {

// `loop` evaluates `values` values per call.
template <class Loop>
double nanoseconds_per_value(std::size_t values, Loop loop, int rounds = 200, int repetitions = 7) {
    double best = 1e300;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        const auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < rounds; ++round) {
            loop();
        }
        const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / (static_cast<double>(rounds) * static_cast<double>(values)));
    }
    return best;
}

}  // namespace velarix_benchmarks
