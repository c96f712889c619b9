// Tables of a discretisation. Reading the boundary at elapsed time u from a
// node at tau_i means the Chebyshev variable z = 2 sqrt(u/T) - 1; with
// u = tau_i (1 - y)(3 + y)/4 and sqrt(tau_i/T) = (1 + z_i)/2 that is
// (1 + z_i)/2 sqrt((1 - y)(3 + y)) - 1, the same for every option.
#include "american_discretisation.h"

#include <cmath>

#include "chebyshev_interpolation.h"

namespace velarix {
namespace {

QuadratureRule rule_of(QuadratureKind kind, int count) {
    return kind == QuadratureKind::GaussLegendre ? gauss_legendre(count) : tanh_sinh(count);
}

// sqrt((1 - y)(3 + y)) with 3 + y = 2 + (1 + y).
double elapsed_root(const QuadratureRule& rule, std::size_t k) {
    return std::sqrt(rule.one_minus_y[k] * (2.0 + rule.one_plus_y[k]));
}

}  // namespace

Discretisation::Discretisation(const EngineSettings& settings)
    : inner(rule_of(settings.rule, settings.quadrature_points)),
      premium(rule_of(settings.rule, settings.premium_points)),
      settings_(settings) {
    const int n = settings.collocation_nodes;
    const std::vector<double> nodes = chebyshev_nodes(n);
    for (const double z : nodes) {
        node_root_time.push_back(0.5 * (1.0 + z));
    }
    std::vector<double> points;
    for (int i = 1; i <= n; ++i) {
        for (std::size_t k = 0; k < inner.size(); ++k) {
            points.push_back(node_root_time[static_cast<std::size_t>(i)] * elapsed_root(inner, k) - 1.0);
        }
    }
    inner_weights = cardinal_weights(n, points);
    points.clear();
    for (std::size_t k = 0; k < premium.size(); ++k) {
        points.push_back(elapsed_root(premium, k) - 1.0);
    }
    premium_weights = cardinal_weights(n, points);
}

const Discretisation& discretisation_of(AmericanAccuracy accuracy) {
    static const Discretisation fast(kFastSettings);
    static const Discretisation accurate(kAccurateSettings);
    return accuracy == AmericanAccuracy::Fast ? fast : accurate;
}

}  // namespace velarix
