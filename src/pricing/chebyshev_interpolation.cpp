// Chebyshev interpolation weights. The series through values v_i at the
// extrema z_i = -cos(i pi/n) has coefficients
//   a_k = (1/n) [(-1)^k v_0 + v_n] + (2/n) (-1)^k sum_{i=1}^{n-1} v_i cos(i k pi/n),
// with a_0 and a_n halved; the weight of v_i at z is then sum_k c_ki T_k(z),
// c_ki being v_i's share of a_k.
#include "chebyshev_interpolation.h"

namespace velarix {
namespace {

constexpr double kPi = 3.141592653589793;

// Taylor series of cos and sin on [0, pi/4], where twelve terms are exact to
// well below an ulp.
double cos_taylor(double x) {
    const double x2 = x * x;
    double sum = 0.0;
    double term = 1.0;
    for (int k = 1; k <= 12; ++k) {
        sum = sum + term;
        term = -term * x2 / ((2.0 * k - 1.0) * (2.0 * k));
    }
    return sum;
}

double sin_taylor(double x) {
    const double x2 = x * x;
    double sum = 0.0;
    double term = x;
    for (int k = 1; k <= 12; ++k) {
        sum = sum + term;
        term = -term * x2 / ((2.0 * k) * (2.0 * k + 1.0));
    }
    return sum;
}

}  // namespace

double cos_pi(double a) {
    if (a > 0.5) {
        return -cos_pi(1.0 - a);  // exact subtraction on [0.5, 1]
    }
    if (a > 0.25) {
        return sin_taylor(kPi * (0.5 - a));
    }
    return cos_taylor(kPi * a);
}

std::vector<double> chebyshev_nodes(int n) {
    std::vector<double> nodes(static_cast<std::size_t>(n) + 1);
    for (int i = 0; i <= n; ++i) {
        nodes[static_cast<std::size_t>(i)] = -cos_pi(static_cast<double>(i) / n);
    }
    nodes[0] = -1.0;
    nodes[static_cast<std::size_t>(n)] = 1.0;
    return nodes;
}

std::vector<double> cardinal_weights(int n, const std::vector<double>& points) {
    const auto size = static_cast<std::size_t>(n) + 1;
    // share[k][i]: the part of a_k that v_i contributes per unit value.
    std::vector<double> share(size * size);
    for (std::size_t k = 0; k < size; ++k) {
        const double sign = k % 2 == 0 ? 1.0 : -1.0;
        for (std::size_t i = 0; i < size; ++i) {
            double c;
            if (i == 0) {
                c = sign / n;
            } else if (i == size - 1) {
                c = 1.0 / n;
            } else {
                // cos(i k pi / n), reduced to a multiple of pi/n in [0, n].
                const std::size_t turn = (i * k) % (2 * static_cast<std::size_t>(n));
                const std::size_t folded = turn <= static_cast<std::size_t>(n) ? turn : 2 * n - turn;
                c = 2.0 * sign * cos_pi(static_cast<double>(folded) / n) / n;
            }
            if (k == 0 || k == size - 1) {
                c = 0.5 * c;
            }
            share[k * size + i] = c;
        }
    }
    std::vector<double> weights(points.size() * size, 0.0);
    for (std::size_t j = 0; j < points.size(); ++j) {
        const double z = points[j];
        double previous = 1.0;  // T_0
        double current = z;     // T_1
        for (std::size_t k = 0; k < size; ++k) {
            const double chebyshev = k == 0 ? 1.0 : current;
            for (std::size_t i = 0; i < size; ++i) {
                weights[j * size + i] = weights[j * size + i] + share[k * size + i] * chebyshev;
            }
            if (k >= 1) {
                const double next = 2.0 * z * current - previous;
                previous = current;
                current = next;
            }
        }
    }
    return weights;
}

}  // namespace velarix
