// velarix::precise's functions over the doubles on stdin (raw, native byte
// order), their results raw on stdout: what scripts/measure_precise_math.py
// compares with mpmath.
//
//     precise_math_values exp|expm1|log|normal_cdf|normal_pdf < arguments > results
#include <cstdio>
#include <cstring>
#include <vector>

#include "precise_math.h"

int main(int argc, char** argv) {
    namespace precise = velarix::precise;
    if (argc != 2) {
        std::fputs("usage: precise_math_values exp|expm1|log|normal_cdf|normal_pdf\n", stderr);
        return 2;
    }
    double (*function)(double) = nullptr;
    const char* name = argv[1];
    if (std::strcmp(name, "exp") == 0) function = precise::exp;
    if (std::strcmp(name, "expm1") == 0) function = precise::expm1;
    if (std::strcmp(name, "log") == 0) function = precise::log;
    if (std::strcmp(name, "normal_cdf") == 0) function = precise::normal_cdf;
    if (std::strcmp(name, "normal_pdf") == 0) function = precise::normal_pdf;
    if (function == nullptr) {
        std::fprintf(stderr, "unknown function %s\n", name);
        return 2;
    }
    std::vector<double> values;
    double x;
    while (std::fread(&x, sizeof x, 1, stdin) == 1) {
        values.push_back(function(x));
    }
    std::fwrite(values.data(), sizeof(double), values.size(), stdout);
    return 0;
}
