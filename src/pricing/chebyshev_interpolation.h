// Polynomial interpolation at the n + 1 extrema of the Chebyshev polynomial
// T_n, z_i = -cos(i pi / n) for i = 0..n (ascending, from -1 to 1). The
// American engine keeps its exercise boundary as values at these nodes and
// reads it between them through the weights below; interpolation is linear in
// the nodal values, so the weights of a fixed set of points are computed once
// and every later evaluation is one weighted sum.
#pragma once

#include <vector>

namespace velarix {

// cos(pi * a) for 0 <= a <= 1, to about an ulp, on + - * / only, so that the
// tables built from it are the same on every platform.
double cos_pi(double a);

// The nodes z_0 < ... < z_n.
std::vector<double> chebyshev_nodes(int n);

// Row j of the result holds the weights L_0(z_j) .. L_n(z_j) of the points
// z_j: the interpolant of values v_0..v_n at the nodes is sum_i L_i(z) v_i.
// The weights are those of the Chebyshev series through the nodes, summed
// by the three-term recurrence of T_k.
std::vector<double> cardinal_weights(int n, const std::vector<double>& points);

}  // namespace velarix
