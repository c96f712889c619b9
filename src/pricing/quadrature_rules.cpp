// Nodes and weights of the two rules, on + - * /, sqrt and the project's own
// exp, so that every platform builds the same tables.
#include "quadrature_rules.h"



#include "chebyshev_interpolation.h"
#include "precise_math.h"

namespace velarix {
namespace {

constexpr double kHalfPi = 1.5707963267948966;

// P_count(x) and P_count-1(x) by the three-term recurrence.
struct LegendrePair {
    double value;
    double previous;
};

LegendrePair legendre(int count, double x) {
    double previous = 1.0;
    double value = x;
    for (int j = 1; j < count; ++j) {
        const double next = ((2.0 * j + 1.0) * x * value - j * previous) / (j + 1.0);
        previous = value;
        value = next;
    }
    return {value, previous};
}

}  // namespace

QuadratureRule gauss_legendre(int count) {
    QuadratureRule rule;
    const auto size = static_cast<std::size_t>(count);
    rule.weight.resize(size);
    rule.one_plus_y.resize(size);
    rule.one_minus_y.resize(size);
    for (int i = 1; i <= (count + 1) / 2; ++i) {
        // The i-th largest root, from the classical estimate; Newton's method
        // converges to it in a few steps, and a fixed count keeps the tables
        // independent of any tolerance.
        double x = cos_pi((i - 0.25) / (count + 0.5));
        double derivative = 1.0;
        for (int step = 0; step < 100; ++step) {
            const LegendrePair p = legendre(count, x);
            derivative = count * (x * p.value - p.previous) / (x * x - 1.0);
            const double next = x - p.value / derivative;
            if (next == x) {
                break;
            }
            x = next;
        }
        const LegendrePair p = legendre(count, x);
        derivative = count * (x * p.value - p.previous) / (x * x - 1.0);
        const double weight = 2.0 / ((1.0 - x * x) * derivative * derivative);
        // The roots are symmetric; the middle one of an odd count is 0.
        const auto high = size - static_cast<std::size_t>(i);
        const auto low = static_cast<std::size_t>(i) - 1;
        const double root = 2 * i - 1 == count ? 0.0 : x;
        rule.weight[high] = weight;
        rule.weight[low] = weight;
        rule.one_plus_y[high] = 1.0 + root;
        rule.one_minus_y[high] = 1.0 - root;
        rule.one_plus_y[low] = 1.0 - root;
        rule.one_minus_y[low] = 1.0 + root;
    }
    return rule;
}

QuadratureRule tanh_sinh(int count) {
    QuadratureRule rule;
    const int half = (count - 1) / 2;
    const double step = 3.0 / half;
    for (int k = -half; k <= half; ++k) {
        const double t = k * step;
        const double et = precise::exp(t);
        const double sinh_t = 0.5 * (et - 1.0 / et);
        const double cosh_t = 0.5 * (et + 1.0 / et);
        const double v = kHalfPi * sinh_t;
        const double ev = precise::exp(v);
        const double cosh_v = 0.5 * (ev + 1.0 / ev);
        rule.weight.push_back(step * kHalfPi * cosh_t / (cosh_v * cosh_v));
        // 1 + tanh(v) = 2 / (1 + e^(-2v)), 1 - tanh(v) = 2 / (1 + e^(2v)).
        const double e2v = ev * ev;
        rule.one_plus_y.push_back(2.0 / (1.0 + 1.0 / e2v));
        rule.one_minus_y.push_back(2.0 / (1.0 + e2v));
    }
    return rule;
}

}  // namespace velarix
