// The discretisation of the American engine: how many collocation nodes
// carry the exercise boundary, how many fixed-point iterations refine it,
// how many quadrature points its integrals and the price's premium take, and
// by which rule. Everything that depends on these counts alone (nodes,
// weights, interpolation weights) is tabulated once per setting, independent
// of the option: the engine maps each option's times onto the same points.
#pragma once

#include <vector>

#include "quadrature_rules.h"

namespace velarix {

enum class QuadratureKind { GaussLegendre, TanhSinh };

struct EngineSettings {
    int collocation_nodes;  // n: the boundary at n + 1 nodes, the first at expiry
    int iterations;         // m: fixed-point iterations, the first a Jacobi-Newton step
    int quadrature_points;  // l: points of the integrals inside the iteration
    int premium_points;     // p: points of the price's premium integral
    QuadratureKind rule;
};

// The two settings users choose between. Their measured accuracy and cost
// are printed by benchmarks/american.py and quoted in the README.
enum class AmericanAccuracy { Fast, Accurate };

inline constexpr EngineSettings kFastSettings{6, 3, 10, 25, QuadratureKind::GaussLegendre};
inline constexpr EngineSettings kAccurateSettings{12, 8, 25, 51, QuadratureKind::TanhSinh};

// Tables of one setting. Times are written as fractions of the option's
// expiry T: node i sits at tau_i = T node_time[i], and quadrature point k of
// node i's integrals at remaining time s = tau_i remaining_share[k] and
// elapsed time u = tau_i elapsed_share[k].
class Discretisation {
public:
    explicit Discretisation(const EngineSettings& settings);

    const EngineSettings& settings() const { return settings_; }
    int nodes() const { return settings_.collocation_nodes; }

    std::vector<double> node_root_time;  // sqrt(tau_i / T) = (1 + z_i) / 2, i = 0..n
    QuadratureRule inner;                // the iteration's rule
    QuadratureRule premium;              // the premium's rule
    // Weights of the nodal values at each point where the boundary is read:
    // rows (i - 1) * l + k for node i >= 1 and inner point k, then the
    // premium points.
    std::vector<double> inner_weights;
    std::vector<double> premium_weights;

private:
    EngineSettings settings_;
};

// The tables of a preset, built on first use.
const Discretisation& discretisation_of(AmericanAccuracy accuracy);

}  // namespace velarix
