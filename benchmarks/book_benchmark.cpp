// The pricing core alone over a book of options held in arrays, one loop on
// one thread writing each Greek to its own array: what velarix_batch does
// without Python, against which benchmarks/batch.py measures it. The book is
// the one batch.py builds, value for value: each column is the fractional
// part of i times a constant, exact in both languages.
//
//     book_benchmark bs_greeks|am_greeks SIZE REPETITIONS
//
// prints the seconds of each repetition, one per line.
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "american_functions.h"
#include "black_scholes.h"

namespace {

using velarix::Greeks;
using velarix::OptionType;
using velarix::PricingResult;

// The constants of benchmarks/batch.py's BOOK_STEPS.
constexpr std::array<double, 7> kSteps = {0.6180339887498949, 0.41421356237309515, 0.7320508075688772,
                                          0.2360679774997898, 0.6457513110645907, 0.3166247903553998,
                                          0.16227766016837952};

struct Book {
    std::vector<double> s, k, t, r, sigma, q;
    std::vector<OptionType> type;
};

Book make_book(std::size_t size) {
    Book book;
    for (std::size_t i = 1; i <= size; ++i) {
        std::array<double, 7> u{};
        for (std::size_t j = 0; j < u.size(); ++j) {
            u[j] = std::fmod(static_cast<double>(i) * kSteps[j], 1.0);
        }
        book.s.push_back(50.0 + 100.0 * u[0]);
        book.k.push_back(50.0 + 100.0 * u[1]);
        book.t.push_back(0.05 + 2.95 * u[2]);
        book.r.push_back(0.1 * u[3]);
        book.sigma.push_back(0.05 + 0.75 * u[4]);
        book.q.push_back(0.05 * u[5]);
        book.type.push_back(u[6] < 0.5 ? OptionType::Call : OptionType::Put);
    }
    return book;
}

using GreeksComputation = PricingResult<Greeks> (*)(const velarix::OptionInputs&);

double seconds_to_price(const Book& book, GreeksComputation computation, std::array<std::vector<double>, 5>& out) {
    const auto started = std::chrono::steady_clock::now();
    const std::size_t size = book.s.size();
    for (std::size_t i = 0; i < size; ++i) {
        const PricingResult<Greeks> result = computation({.s = book.s[i],
                                                          .k = book.k[i],
                                                          .t = book.t[i],
                                                          .r = book.r[i],
                                                          .sigma = book.sigma[i],
                                                          .q = book.q[i],
                                                          .type = book.type[i]});
        const Greeks& greeks = result.value();
        out[0][i] = greeks.delta;
        out[1][i] = greeks.gamma;
        out[2][i] = greeks.theta;
        out[3][i] = greeks.vega;
        out[4][i] = greeks.rho;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s bs_greeks|am_greeks SIZE REPETITIONS\n", argv[0]);
        return 2;
    }
    const std::string name = argv[1];
    const auto size = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10));
    const int repetitions = std::atoi(argv[3]);
    const GreeksComputation computation = name == "am_greeks" ? velarix::am_greeks : velarix::bs_greeks;
    const Book book = make_book(size);
    std::array<std::vector<double>, 5> out;
    for (std::vector<double>& column : out) {
        column.assign(size, 0.0);
    }
    double checksum = 0.0;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        std::printf("%.6f\n", seconds_to_price(book, computation, out));
        checksum += out[3][size / 2];
    }
    // Read the results, so that the loop's work cannot be dropped.
    std::fprintf(stderr, "checksum %g\n", checksum);
    return 0;
}
