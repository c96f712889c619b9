// The American engine's valuation of the put of strike 1 every option
// reduces to, its Greeks, and the mapping back to the option asked for.
//
// With B the exercise boundary and S above B(T), the put is worth the
// European put plus the early-exercise premium
//   int_0^sqrt(T) 2z [ r e^(-r z^2) N(-d-(z^2, S/B(T - z^2)))
//                      - q S e^(-q z^2) N(-d+(z^2, S/B(T - z^2))) ] dz,
// integrated with the premium rule in y, z = sqrt(T)(1 + y)/2.
#include "american_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "european_price.h"
#include "exercise_boundary.h"
#include "precise_math.h"

namespace velarix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Below this sigma sqrt(T) an option with early exercise is priced on its
// deterministic path: the collocation's integrands become steps in time that
// its quadrature cannot resolve (measured: no finite value for some options
// below 9e-5), while the deterministic value is within about 0.4 sigma
// sqrt(T) of the strike of the true one.
constexpr double kDeterministicSpread = 1e-4;

// Vega and rho are forward differences of re-solved prices. The price at
// fixed settings is a smooth function of sigma and r (fixed iteration
// counts, QD+ solved to full precision), so the steps can be small: their
// truncation error, half the step times the second derivative, is what
// limits a forward difference. Measured against central differences of the
// engine at fine settings (benchmarks/american.py): steps of 1e-5 erred by
// up to 0.4% of rho near the boundary of a put with r < q, these by 3e-5;
// the prices' rounding adds about 1e-15 of the price, divided by the step.
constexpr double kVolatilityStep = 1e-7;  // relative to sigma
constexpr double kRateStep = 1e-7;        // absolute

enum class PutRegime { European, SingleBoundary, DoubleBoundary };

PutRegime regime_of(const StrikeOnePut& put) {
    if (put.r <= 0.0 && put.q >= put.r) {
        return PutRegime::European;
    }
    if (put.r < 0.0 && put.q < put.r) {
        return PutRegime::DoubleBoundary;
    }
    return PutRegime::SingleBoundary;
}

PutProblem problem_of(const StrikeOnePut& put) { return {.t = put.t, .r = put.r, .q = put.q, .sigma = put.sigma}; }

// Value, delta and gamma of the put of strike 1 in its spot, and whether it
// is exercised now.
struct SpotValue {
    double value;
    double delta;
    double gamma;
    bool exercised;
    double theta = kNaN;  // set where the Black-Scholes equation does not give it
};

constexpr SpotValue exercised_value(double spot) { return {1.0 - spot, -1.0, 0.0, true, 0.0}; }

SpotValue european_spot_value(const StrikeOnePut& put, bool with_greeks) {
    const EuropeanPut european = european_put(put);
    if (!with_greeks) {
        return {european.value, kNaN, kNaN, false};
    }
    return {european.value, -european.yield_discount * european.yield_tail,
            european.yield_discount * precise::normal_pdf(european.d_plus) / (put.spot * european.sigma_root_t),
            false};
}

// The deterministic path S e^((r - q) t): the best of exercising now, at
// expiry, and at t* where the path reaches r/q (r < q), and nothing.
SpotValue deterministic_value(const StrikeOnePut& put) {
    SpotValue best{0.0, 0.0, 0.0, false, 0.0};
    const double now = 1.0 - put.spot;
    if (now > best.value) {
        best = exercised_value(put.spot);
    }
    const double yield_discount = precise::exp(-put.q * put.t);
    const double at_expiry = precise::exp(-put.r * put.t) - put.spot * yield_discount;
    if (at_expiry > best.value) {
        // Only this candidate ages: its value moves with the time to expiry.
        best = {at_expiry, -yield_discount, 0.0, false,
                put.r * precise::exp(-put.r * put.t) - put.q * put.spot * yield_discount};
    }
    if (put.r > 0.0 && put.r < put.q && put.spot > put.r / put.q) {
        const double crossing = precise::log(put.r / (put.q * put.spot)) / (put.r - put.q);
        if (crossing > 0.0 && crossing < put.t) {
            const double crossing_discount = precise::exp(-put.q * crossing);
            const double at_crossing = precise::exp(-put.r * crossing) - put.spot * crossing_discount;
            if (at_crossing > best.value) {
                best = {at_crossing, -crossing_discount, 0.0, false, 0.0};
            }
        }
    }
    return best;
}

// The put above its boundary: the European value plus the premium, with the
// premium's delta and gamma when asked; never below the exercise value.
SpotValue collocated_value(const StrikeOnePut& put, const ExerciseBoundary& boundary, const Discretisation& grid,
                           bool with_greeks) {
    if (put.spot <= boundary.at_expiry()) {
        return exercised_value(put.spot);
    }
    const std::size_t nodes = boundary.log_ratio.size();
    const std::size_t points = grid.premium.size();
    const double root_t = std::sqrt(put.t);
    const double variance = put.sigma * put.sigma;
    const double mu_minus = (put.r - put.q) - 0.5 * variance;
    const double mu_plus = (put.r - put.q) + 0.5 * variance;
    const double log_spot_over_limit = precise::log(put.spot) - precise::log(boundary.limit);

    std::vector<double> storage(nodes + 12 * points);
    double* h = storage.data();
    double* exponents = h + nodes;            // -r s, -q s, -sqrt(H(u)) per point
    double* exponentials = exponents + 3 * points;
    double* tails = exponentials + 3 * points;  // N(-d-), N(-d+)
    double* d_plus = tails + 2 * points;
    double* tail_arguments = d_plus + points;  // -d-, -d+
    double* densities = tail_arguments + 2 * points;  // n(d+), for the Greeks
    for (std::size_t i = 0; i < nodes; ++i) {
        h[i] = boundary.log_ratio[i] * boundary.log_ratio[i];
    }
    for (std::size_t k = 0; k < points; ++k) {
        const double root_s = root_t * (0.5 * grid.premium.one_plus_y[k]);
        const double s = root_s * root_s;
        const double* row = grid.premium_weights.data() + k * nodes;
        double interpolated = 0.0;
        for (std::size_t j = 1; j < nodes; ++j) {
            interpolated = interpolated + row[j] * h[j];
        }
        const double root_h = std::sqrt(std::max(interpolated, 0.0));
        const double log_spot_over_b = log_spot_over_limit + root_h;  // ln(S/B(u))
        const double sigma_root_s = put.sigma * root_s;
        tail_arguments[k] = -((log_spot_over_b + mu_minus * s) / sigma_root_s);
        d_plus[k] = (log_spot_over_b + mu_plus * s) / sigma_root_s;
        tail_arguments[points + k] = -d_plus[k];
        exponents[k] = -put.r * s;
        exponents[points + k] = -put.q * s;
        exponents[2 * points + k] = -root_h;
    }
    precise::exp_batch(exponents, exponentials, with_greeks ? 3 * points : 2 * points);
    precise::normal_cdf_batch(tail_arguments, tails, 2 * points);
    double premium = 0.0;
    for (std::size_t k = 0; k < points; ++k) {
        const double weight = grid.premium.weight[k] * (put.t * (0.5 * grid.premium.one_plus_y[k]));
        premium = premium + weight * (put.r * exponentials[k] * tails[k] -
                                      put.q * put.spot * exponentials[points + k] * tails[points + k]);
    }
    const SpotValue european = european_spot_value(put, with_greeks);
    const double value = european.value + premium;
    if (std::isnan(value)) {
        return {kNaN, kNaN, kNaN, false};
    }
    if (value <= 1.0 - put.spot) {
        return exercised_value(put.spot);
    }
    if (!with_greeks) {
        return {value, kNaN, kNaN, false};
    }
    // The premium's delta and gamma in z = sqrt(s):
    //   -int e^(-q z^2) [2 z q N(-d+) + 2 (r - q B) n(d+) / (sigma B)] dz,
    //    int e^(-q z^2) n(d+)/(S sigma) [2 q + 2 (r - q B) d+ / (sigma B z)] dz.
    precise::normal_pdf_batch(d_plus, densities, points);
    double premium_delta = 0.0;
    double premium_gamma = 0.0;
    for (std::size_t k = 0; k < points; ++k) {
        const double one_plus_y = grid.premium.one_plus_y[k];
        const double root_s = root_t * (0.5 * one_plus_y);
        const double weight = grid.premium.weight[k] * (0.5 * root_t) * exponentials[points + k];
        const double b = boundary.limit * exponentials[2 * points + k];
        const double carry = 2.0 * (put.r - put.q * b) / (put.sigma * b);
        premium_delta = premium_delta - weight * (root_t * one_plus_y * put.q * tails[points + k] +
                                                  carry * densities[k]);
        premium_gamma = premium_gamma + weight * (densities[k] / (put.spot * put.sigma)) *
                                            (2.0 * put.q + carry * d_plus[k] / root_s);
    }
    return {value, european.delta + premium_delta, european.gamma + premium_gamma, false};
}

// The put's value at spot, in every regime, on the given boundary equation
// (kept from the unbumped option when a Greek re-solves a bumped one).
SpotValue put_value(const StrikeOnePut& put, BoundaryEquation equation, const Discretisation& grid,
                    bool with_greeks) {
    if (put.t == 0.0) {
        return put.spot < 1.0 ? exercised_value(put.spot) : SpotValue{0.0, 0.0, 0.0, false, 0.0};
    }
    switch (regime_of(put)) {
        case PutRegime::DoubleBoundary:
            return {kNaN, kNaN, kNaN, false};
        case PutRegime::European:
            if (put.sigma * std::sqrt(put.t) < kDeterministicSpread) {
                SpotValue value = deterministic_value(put);
                if (value.exercised) {  // exercise now is never optimal here
                    value = {0.0, 0.0, 0.0, false, 0.0};
                }
                return value;
            }
            return european_spot_value(put, with_greeks);
        case PutRegime::SingleBoundary:
            break;
    }
    if (put.sigma * std::sqrt(put.t) < kDeterministicSpread) {
        return deterministic_value(put);
    }
    const ExerciseBoundary boundary = solve_exercise_boundary(problem_of(put), equation, grid);
    return collocated_value(put, boundary, grid, with_greeks);
}

double option_value(const OptionInputs& option, const Discretisation& grid) {
    if (!is_priceable(option)) {
        return kNaN;
    }
    const StrikeOnePut put = strike_one_put(option);
    if (put.t > 0.0 && regime_of(put) == PutRegime::European) {
        return european_price(option);  // the European function's very bits
    }
    const SpotValue value = put_value(put, equation_for(problem_of(put)), grid, false);
    if (value.exercised) {  // K - S or S - K as the option's own difference, exactly
        return option.type == OptionType::Put ? option.k - option.s : option.s - option.k;
    }
    return put.scale * value.value;
}

}  // namespace

double american_price(const OptionInputs& option, const Discretisation& grid) { return option_value(option, grid); }

Greeks american_greeks(const OptionInputs& option, const Discretisation& grid) {
    if (!is_priceable(option)) {
        return {kNaN, kNaN, kNaN, kNaN, kNaN};
    }
    const StrikeOnePut put = strike_one_put(option);
    const BoundaryEquation equation = equation_for(problem_of(put));
    const SpotValue at = put_value(put, equation, grid, true);
    // Above the boundary the value solves the Black-Scholes equation, which
    // gives theta from the spot Greeks.
    const double theta = std::isnan(at.theta) ? put.r * at.value - (put.r - put.q) * put.spot * at.delta -
                                                    0.5 * put.sigma * put.sigma * put.spot * put.spot * at.gamma
                                              : at.theta;
    double vega = 0.0;
    double rate_slope = 0.0;  // of the option's own r: the put's r, or for a call the put's q
    if (!at.exercised && put.t > 0.0 && put.sigma > 0.0) {
        StrikeOnePut bumped = put;
        bumped.sigma = put.sigma * (1.0 + kVolatilityStep);
        vega = (put_value(bumped, equation, grid, false).value - at.value) / (bumped.sigma - put.sigma);
        bumped = put;
        double& rate = option.type == OptionType::Put ? bumped.r : bumped.q;
        rate = rate + kRateStep;
        const double step = option.type == OptionType::Put ? bumped.r - put.r : bumped.q - put.q;
        rate_slope = (put_value(bumped, equation, grid, false).value - at.value) / step;
    }
    Greeks greeks{};
    if (option.type == OptionType::Put) {
        greeks.delta = at.delta;
        greeks.gamma = at.gamma / put.scale;
    } else {
        // C = S P*(K/S): delta = P* - (K/S) P*', gamma = (K/S)^2 P*'' / S.
        greeks.delta = at.value - put.spot * at.delta;
        greeks.gamma = put.spot * put.spot * at.gamma / put.scale;
    }
    greeks.theta = put.scale * theta / kDaysPerYear;
    greeks.vega = put.scale * vega;
    greeks.rho = put.scale * rate_slope / kPercentagePoints;
    return greeks;
}

double american_exercise_boundary(const OptionInputs& option, const Discretisation& grid) {
    OptionInputs at_strike = option;
    at_strike.s = option.k;  // the boundary does not depend on spot, which is not read
    if (!is_priceable(at_strike)) {
        return kNaN;
    }
    const StrikeOnePut put = strike_one_put(at_strike);
    const bool call = option.type == OptionType::Call;
    double boundary;  // of the put of strike 1
    if (put.t == 0.0) {
        boundary = 1.0;
    } else {
        switch (regime_of(put)) {
            case PutRegime::DoubleBoundary:
                return kNaN;
            case PutRegime::European:
                return call ? std::numeric_limits<double>::infinity() : 0.0;
            case PutRegime::SingleBoundary:
                break;
        }
        const PutProblem problem = problem_of(put);
        boundary = put.sigma * std::sqrt(put.t) < kDeterministicSpread
                       ? exercise_limit(problem)
                       : solve_exercise_boundary(problem, equation_for(problem), grid).at_expiry();
    }
    // A call of strike K is exercised above K / b, a put below K b.
    return call ? option.k / boundary : option.k * boundary;
}

double american_price(const OptionInputs& option, AmericanAccuracy accuracy) {
    return american_price(option, discretisation_of(accuracy));
}

Greeks american_greeks(const OptionInputs& option, AmericanAccuracy accuracy) {
    return american_greeks(option, discretisation_of(accuracy));
}

double american_exercise_boundary(const OptionInputs& option, AmericanAccuracy accuracy) {
    return american_exercise_boundary(option, discretisation_of(accuracy));
}

}  // namespace velarix
