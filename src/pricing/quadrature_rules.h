// Quadrature rules on [-1, 1] for the American engine's integrals: Gauss-
// Legendre for the fast settings, tanh-sinh for the accurate ones, whose
// nodes crowd towards the ends where the boundary's short-time behaviour
// lives. Each node is kept with 1 + y and 1 - y computed directly, since near
// the ends the difference from 1 would be inexact or zero and the engine's
// remaining time, proportional to (1 + y)^2, must stay positive.
#pragma once

#include <vector>

namespace velarix {

struct QuadratureRule {
    std::vector<double> weight;
    std::vector<double> one_plus_y;
    std::vector<double> one_minus_y;

    std::size_t size() const { return weight.size(); }
};

// The count-point Gauss-Legendre rule, exact for polynomials of degree
// 2 count - 1; nodes found by Newton's method on the Legendre recurrence.
QuadratureRule gauss_legendre(int count);

// The tanh-sinh rule of count = 2m + 1 points, y_k = tanh(pi/2 sinh(kh)),
// k = -m..m, with step h = 3/m (abscissae |kh| <= 3).
QuadratureRule tanh_sinh(int count);

}  // namespace velarix
