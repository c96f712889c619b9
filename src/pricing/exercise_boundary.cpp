// The boundary solve: QD+ values at the nodes, then a fixed number of
// fixed-point iterations, all nodes updated together from the previous
// iterate. Each node's integrals run over the quadrature points of the inner
// rule; the boundary between nodes is read through the Chebyshev interpolant
// of H = (ln(B/X))^2 in sqrt(time), which is nearly linear where B itself
// has a square-root-like start. The distribution function is evaluated for all
// points of an iteration in one batch, in SIMD lanes where the CPU has them.
#include "exercise_boundary.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "precise_math.h"

namespace velarix {
namespace {

// Boundary values are kept within [kLowestShare X, X]; an iterate below
// would leave the logarithm's domain. No option's boundary comes close.
constexpr double kLowestShare = 1e-12;

// The QD+ root is solved to this width in ln B: a root that moved with the
// tolerance would make prices step as the inputs move by tiny amounts, which
// differences for vega and rho and the implied volatility would see.
constexpr double kRootWidth = 1e-15;
constexpr double kNewtonFinish = 1e-9;
constexpr int kRootSteps = 200;

// What F of QD+ needs of one node's time.
struct QdPlusNode {
    double tau;
    double root_tau;
    double sigma_root_tau;
    double drift_plus;  // ((r - q) + sigma^2/2) tau
    double discount_r;  // e^(-r tau)
    double discount_q;  // e^(-q tau)
    double lambda;
    double c0_constant;
    double root;        // R
};

QdPlusNode qd_plus_node(const PutProblem& p, double tau) {
    const double variance = p.sigma * p.sigma;
    // rho = r / (1 - e^(-r tau)), 1/tau at r = 0, without the 0/0.
    const double rho = p.r == 0.0 ? 1.0 / tau : -p.r / precise::expm1(-p.r * tau);
    const double omega = 2.0 * (p.r - p.q) / variance;
    const double root = std::sqrt((omega - 1.0) * (omega - 1.0) + 8.0 * rho / variance);
    QdPlusNode node{};
    node.tau = tau;
    node.root_tau = std::sqrt(tau);
    node.sigma_root_tau = p.sigma * node.root_tau;
    node.drift_plus = ((p.r - p.q) + 0.5 * variance) * tau;
    node.discount_r = precise::exp(-p.r * tau);
    node.discount_q = precise::exp(-p.q * tau);
    node.lambda = 0.5 * (-(omega - 1.0) - root);
    node.c0_constant = node.discount_r * (2.0 * rho / variance) * (1.0 - 2.0 * rho / (variance * root * root));
    node.root = root;
    return node;
}

// F of QD+ as a function of x = ln B, whose root in (0, X) is the
// approximate boundary (F < 0 near 0, F > 0 near X), and its derivative in
// x, which costs no further exponential or distribution function: with
// a = sigma sqrt(tau), n(d-) e^(-r tau) = B e^(-q tau) n(d+) for strike 1.
struct QdPlusValue {
    double value;
    double slope;
};

QdPlusValue qd_plus_function(const PutProblem& p, const QdPlusNode& node, double log_b) {
    const double b = precise::exp(log_b);
    const double a = node.sigma_root_tau;
    const double d_plus = (log_b + node.drift_plus) / a;
    const double d_minus = d_plus - a;
    const double tail_minus = precise::normal_cdf(-d_minus);
    const double tail_plus = precise::normal_cdf(-d_plus);
    const double density = node.discount_q * precise::normal_pdf(d_plus);  // e^(-q tau) n(d+)
    const double yield_tail = node.discount_q * tail_plus;                  // e^(-q tau) N(-d+)
    const double european = node.discount_r * tail_minus - b * yield_tail;
    const double decay = p.sigma * b / (2.0 * node.root_tau) * density;
    const double theta = p.r * node.discount_r * tail_minus - p.q * b * yield_tail - decay;
    const double gap = 1.0 - b - european;
    const double variance = p.sigma * p.sigma;
    const double c0 = (node.c0_constant - 2.0 * theta / (variance * gap)) / node.root;
    const double ratio = gap / b;
    const double value = -yield_tail + (node.lambda + c0) * ratio + 1.0;

    const double gap_slope = -b * (1.0 - yield_tail);
    const double theta_slope = -p.r * b * density / a - p.q * b * yield_tail + p.q * b * density / a -
                               decay * (1.0 - d_plus / a);
    const double c0_slope = -(2.0 / (variance * node.root)) * (theta_slope * gap - theta * gap_slope) / (gap * gap);
    const double ratio_slope = -(1.0 - yield_tail) - ratio;
    return {value, density / a + c0_slope * ratio + (node.lambda + c0) * ratio_slope};
}

// The root of F in ln B by Newton's method from `log_guess`, kept inside the
// bracket that the signs seen so far establish, bisecting where a step would
// leave it; ends when a step no longer moves ln B by more than kRootWidth,
// or when a Newton step inside the bracket was so small that the next could not.
double qd_plus_log_root(const PutProblem& p, double tau, double log_guess, double log_limit) {
    const QdPlusNode node = qd_plus_node(p, tau);
    double low = -std::numeric_limits<double>::infinity();  // F < 0 seen here
    double high = log_limit;                                  // F > 0 near X
    double x = std::min(log_guess, log_limit);
    for (int step = 0; step < kRootSteps; ++step) {
        const QdPlusValue f = qd_plus_function(p, node, x);
        if (f.value == 0.0) {
            return x;
        }
        if (f.value < 0.0) {
            low = x;
        } else if (f.value > 0.0) {
            high = x;
        } else {
            return std::numeric_limits<double>::quiet_NaN();
        }
        double next = x - f.value / f.slope;
        if (!(next > low && next < high)) {
            next = std::isinf(low) ? high - 2.0 * std::max(high - x, 0.5) : 0.5 * (low + high);
        }
        // Newton's error squares with each step: after a step below
        // kNewtonFinish the next would move ln B by less than its rounding.
        const double moved = std::fabs(next - x);
        const double scale = std::max(1.0, std::fabs(x));
        if (moved <= kRootWidth * scale || (moved <= kNewtonFinish * scale && next > low && next < high)) {
            return next;
        }
        x = next;
    }
    return x;
}

// ln(X/B(tau)) at short times to leading order: with k1 = 2 sigma^2,
// sqrt(-k1 tau ln(k2 tau)), k2 = 4 sqrt(pi) r, where r = q;
// sqrt(-k1 tau ln(k3 tau) / 2), k3 = 8 pi ((r - q)/sigma)^2, where r > q;
// 0.451723 sqrt(2) sigma sqrt(tau) where r < q. Only a starting guess.
double short_time_depth(const PutProblem& p, double tau) {
    constexpr double kPi = 3.141592653589793;
    const double k1 = 2.0 * p.sigma * p.sigma;
    if (p.r < p.q) {
        return 0.451723 * 1.4142135623730951 * p.sigma * std::sqrt(tau);
    }
    if (p.r == p.q) {
        return std::sqrt(std::max(-k1 * tau * precise::log(4.0 * std::sqrt(kPi) * p.r * tau), 0.0));
    }
    const double drift = (p.r - p.q) / p.sigma;
    return std::sqrt(std::max(-0.5 * k1 * tau * precise::log(8.0 * kPi * drift * drift * tau), 0.0));
}

// Everything of a node's integrals that stays fixed across iterations.
struct NodeTerms {
    double log_limit;
    double sigma_root_tau;
    double drift_minus;   // ((r - q) - sigma^2/2) tau
    double drift_plus;
    double carry_discount;  // e^(-(r - q) tau)
    double half_tau;
    double root_tau_over_sigma;
};

}  // namespace

BoundaryEquation equation_for(const PutProblem& problem) {
    return problem.r == problem.q ? BoundaryEquation::SmoothPasting : BoundaryEquation::ValueMatching;
}

double exercise_limit(const PutProblem& problem) { return problem.r >= problem.q ? 1.0 : problem.r / problem.q; }

double ExerciseBoundary::at_expiry() const { return limit * precise::exp(log_ratio.back()); }

ExerciseBoundary solve_exercise_boundary(const PutProblem& p, BoundaryEquation equation,
                                         const Discretisation& grid) {
    const int n = grid.nodes();
    const std::size_t nodes = static_cast<std::size_t>(n) + 1;
    const std::size_t points = grid.inner.size();
    const std::size_t pairs = static_cast<std::size_t>(n) * points;
    const double limit = exercise_limit(p);
    const double log_limit = precise::log(limit);
    const double root_t = std::sqrt(p.t);
    const double variance = p.sigma * p.sigma;
    const double mu_minus = (p.r - p.q) - 0.5 * variance;
    const double mu_plus = (p.r - p.q) + 0.5 * variance;
    const bool smooth_pasting = equation == BoundaryEquation::SmoothPasting;

    // One allocation for every per-node and per-pair array.
    std::vector<double> storage(11 * nodes + 12 * pairs);
    double* log_b = storage.data();           // ln B at the nodes
    double* next_b = log_b + nodes;           // the next iterate, kept apart until every node has read this one
    double* h = next_b + nodes;               // (ln(B/X))^2 at the nodes
    double* drift_minus = h + nodes;          // per pair: ((r-q) - sigma^2/2) s
    double* drift_plus = drift_minus + pairs;
    double* inverse_sigma_root_s = drift_plus + pairs;
    double* rate_weight = inverse_sigma_root_s + pairs;   // quadrature weight times e^(r u) (and 1 + y for value matching)
    double* yield_weight = rate_weight + pairs;   // the same with e^(q u)
    double* yield_weight_plain = yield_weight + pairs;  // smooth pasting: weight times e^(q u) alone
    double* arguments = yield_weight_plain + pairs;     // d-, then d+, for every pair
    double* cdf = arguments + 2 * pairs;
    double* pdf = cdf + 2 * pairs;
    double* node_arguments = pdf + 2 * pairs;          // d- and d+ at the nodes
    double* node_values = node_arguments + 4 * nodes;  // N(d-), N(d+), n(d-), n(d+) there

    std::vector<NodeTerms> terms(nodes);
    for (std::size_t i = 1; i < nodes; ++i) {
        const double root_tau = root_t * grid.node_root_time[i];
        const double tau = root_tau * root_tau;
        NodeTerms& node = terms[i];
        node.sigma_root_tau = p.sigma * root_tau;
        node.drift_minus = mu_minus * tau;
        node.drift_plus = mu_plus * tau;
        node.carry_discount = precise::exp(-(p.r - p.q) * tau);
        node.half_tau = 0.5 * tau;
        node.root_tau_over_sigma = root_tau / p.sigma;
        for (std::size_t k = 0; k < points; ++k) {
            const std::size_t pair = (i - 1) * points + k;
            const double one_plus_y = grid.inner.one_plus_y[k];
            const double root_s = root_tau * (0.5 * one_plus_y);
            const double s = root_s * root_s;
            const double u = tau * (grid.inner.one_minus_y[k] * (2.0 + one_plus_y)) * 0.25;
            drift_minus[pair] = mu_minus * s;
            drift_plus[pair] = mu_plus * s;
            inverse_sigma_root_s[pair] = 1.0 / (p.sigma * root_s);
            arguments[pair] = p.r * u;
            arguments[pairs + pair] = p.q * u;
        }
    }
    precise::exp_batch(arguments, cdf, 2 * pairs);
    for (std::size_t pair = 0; pair < pairs; ++pair) {
        const std::size_t k = pair % points;
        const double weight = grid.inner.weight[k];
        const double one_plus_y = grid.inner.one_plus_y[k];
        if (smooth_pasting) {
            rate_weight[pair] = weight * cdf[pair];
            yield_weight[pair] = weight * one_plus_y * cdf[pairs + pair];
            yield_weight_plain[pair] = weight * cdf[pairs + pair];
        } else {
            rate_weight[pair] = weight * one_plus_y * cdf[pair];
            yield_weight[pair] = weight * one_plus_y * cdf[pairs + pair];
        }
    }

    // The QD+ start, node by node from short times to long: the first root
    // from the boundary's short-time behaviour, each later one from the line
    // through the two before it in sqrt(tau), along which ln B is nearly
    // straight. Better guesses only save Newton steps: the roots are the same.
    log_b[0] = log_limit;
    double guess = log_limit - short_time_depth(p, 2.0 * terms[1].half_tau);
    for (std::size_t i = 1; i < nodes; ++i) {
        // Within a few millionths of a year of expiry QD+'s equation divides
        // a vanishing time value by itself and has no computable root; there
        // the guess, from the boundary's short-time behaviour, is the start.
        const double root = qd_plus_log_root(p, 2.0 * terms[i].half_tau, guess, log_limit);
        log_b[i] = std::isnan(root) ? std::min(guess, log_limit) : root;
        if (i + 1 < nodes) {
            const double* x = grid.node_root_time.data();
            guess = log_b[i] + (log_b[i] - log_b[i - 1]) * (x[i + 1] - x[i]) / (x[i] - x[i - 1]);
        }
    }

    for (int iteration = 0; iteration < grid.settings().iterations; ++iteration) {
        h[0] = 0.0;
        for (std::size_t i = 1; i < nodes; ++i) {
            const double log_ratio = log_b[i] - log_limit;
            h[i] = log_ratio * log_ratio;
        }
        for (std::size_t pair = 0; pair < pairs; ++pair) {
            const std::size_t i = pair / points + 1;
            const double* row = grid.inner_weights.data() + pair * nodes;
            double interpolated = 0.0;
            for (std::size_t j = 1; j < nodes; ++j) {
                interpolated = interpolated + row[j] * h[j];
            }
            // ln(B(tau_i)/B(u)) = ln(B_i/X) + sqrt(H(u)).
            const double log_ratio = (log_b[i] - log_limit) + std::sqrt(std::max(interpolated, 0.0));
            arguments[pair] = (log_ratio + drift_minus[pair]) * inverse_sigma_root_s[pair];
            arguments[pairs + pair] = (log_ratio + drift_plus[pair]) * inverse_sigma_root_s[pair];
        }
        for (std::size_t i = 1; i < nodes; ++i) {
            node_arguments[i] = (log_b[i] + terms[i].drift_minus) / terms[i].sigma_root_tau;
            node_arguments[nodes + i] = (log_b[i] + terms[i].drift_plus) / terms[i].sigma_root_tau;
        }
        const bool newton_step = iteration == 0;
        precise::normal_cdf_batch(node_arguments, node_values, 2 * nodes);
        if (newton_step || smooth_pasting) {  // the densities at the nodes enter only there
            precise::normal_pdf_batch(node_arguments, node_values + 2 * nodes, 2 * nodes);
        }
        if (smooth_pasting) {
            precise::normal_cdf_batch(arguments + pairs, cdf + pairs, pairs);
            precise::normal_pdf_batch(arguments, pdf, 2 * pairs);
        } else {
            precise::normal_cdf_batch(arguments, cdf, 2 * pairs);
        }
        for (std::size_t i = 1; i < nodes; ++i) {
            const NodeTerms& node = terms[i];
            const double cdf_minus0 = node_values[i];
            const double cdf_plus0 = node_values[nodes + i];
            const double pdf_minus0 = node_values[2 * nodes + i];
            const double pdf_plus0 = node_values[3 * nodes + i];
            const std::size_t first = (i - 1) * points;
            double numerator;
            double denominator;
            if (smooth_pasting) {
                double k1 = 0.0;
                double k2 = 0.0;
                double k3 = 0.0;
                for (std::size_t pair = first; pair < first + points; ++pair) {
                    k1 = k1 + yield_weight[pair] * cdf[pairs + pair];
                    k2 = k2 + yield_weight_plain[pair] * pdf[pairs + pair];
                    k3 = k3 + rate_weight[pair] * pdf[pair];
                }
                numerator = pdf_minus0 / node.sigma_root_tau + p.r * (node.root_tau_over_sigma * k3);
                denominator = pdf_plus0 / node.sigma_root_tau + cdf_plus0 +
                              p.q * (node.half_tau * k1 + node.root_tau_over_sigma * k2);
            } else {
                double rate_sum = 0.0;
                double yield_sum = 0.0;
                for (std::size_t pair = first; pair < first + points; ++pair) {
                    rate_sum = rate_sum + rate_weight[pair] * cdf[pair];
                    yield_sum = yield_sum + yield_weight[pair] * cdf[pairs + pair];
                }
                numerator = cdf_minus0 + p.r * (node.half_tau * rate_sum);
                denominator = cdf_plus0 + p.q * (node.half_tau * yield_sum);
            }
            const double f = node.carry_discount * numerator / denominator;
            double next = f;
            if (newton_step) {
                // One Jacobi-Newton step: the derivative of f in B(tau_i)
                // through the terms outside the integrals only.
                const double b = precise::exp(log_b[i]);
                double numerator_slope;
                double denominator_slope;
                if (smooth_pasting) {
                    const double scale = -node_arguments[i] / (b * node.sigma_root_tau * node.sigma_root_tau);
                    numerator_slope = scale * pdf_minus0;
                    denominator_slope = scale * pdf_plus0;
                } else {
                    numerator_slope = pdf_minus0 / (b * node.sigma_root_tau);
                    denominator_slope = pdf_plus0 / (b * node.sigma_root_tau);
                }
                const double slope = node.carry_discount * (numerator_slope / denominator -
                                                            denominator_slope * numerator / (denominator * denominator));
                const double newton = b + (b - f) / (slope - 1.0);
                if (newton > 0.0 && newton <= limit) {
                    next = newton;
                }
            }
            next = std::min(std::max(next, kLowestShare * limit), limit);
            next_b[i] = next;
        }
        for (std::size_t i = 1; i < nodes; ++i) {
            log_b[i] = precise::log(next_b[i]);
        }
    }

    ExerciseBoundary boundary{limit, std::vector<double>(nodes)};
    for (std::size_t i = 0; i < nodes; ++i) {
        boundary.log_ratio[i] = i == 0 ? 0.0 : std::min(log_b[i] - log_limit, 0.0);
    }
    return boundary;
}

}  // namespace velarix
