// American implied volatility: the root of V(sigma) = price, V the accurate
// engine's American price (american_engine.h) at the setting the caller
// names, so that a price the engine gave returns the volatility it was
// given. V rises with sigma from its value at zero volatility (the
// deterministic path, at least the exercise value) towards S for a call and
// K for a put.
//
// The search starts close: sigma_e, the European implied volatility of the
// price, gives the early-exercise premium V(sigma_e) - V_european(sigma_e),
// which varies slowly with sigma, and the European implied volatility of the
// price less that premium is within a few percent of the answer. From those
// two points a secant search, kept inside the bracket the signs of
// V - price have established (bisecting, or widening the bracket upwards,
// when a secant step leaves it), needs no derivative: about five American
// solves in all.
#include <algorithm>
#include <cmath>
#include <limits>

#include "american_engine.h"
#include "european_price.h"
#include "implied_volatility.h"

namespace velarix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The search ends when a step or the bracket is below this share of sigma...
constexpr double kConvergence = 1e-12;
// ... or after this many American solves, converged if the bracket is then
// within this share of sigma (the engine's value is smooth in sigma only to
// about 1e-13 relative, which can stall the last digits).
constexpr int kSolveCap = 40;
constexpr double kAcceptedBracket = 1e-9;
// Where the European price of the price cannot start the search (it is above
// the European range), it starts here.
constexpr double kFallbackStart = 0.5;
// A slope of V in sigma below this share of price per unit of sigma does not
// determine sigma: the price would barely move over the bracket.
constexpr double kVegaFloor = 1e-12;

OptionInputs with_volatility(const OptionInputs& option, double sigma) {
    OptionInputs at = option;
    at.sigma = sigma;
    return at;
}

}  // namespace

ImpliedVolatility american_implied_volatility(double price, const OptionInputs& option, AmericanAccuracy accuracy) {
    if (!is_invertible(price, option)) {
        return {kNaN, VolatilityOutcome::InvalidInput};
    }
    const bool call = option.type == OptionType::Call;
    if (price >= (call ? option.s : option.k)) {
        return {kNaN, VolatilityOutcome::AboveRange};
    }
    const double floor = american_price(with_volatility(option, 0.0), accuracy);
    if (std::isnan(floor)) {
        return {kNaN, VolatilityOutcome::NoEngineValue};
    }
    if (price <= floor) {
        const double exercise_value = std::max(call ? option.s - option.k : option.k - option.s, 0.0);
        if (price < floor) {
            return {kNaN, VolatilityOutcome::BelowRange};
        }
        if (floor == exercise_value && exercise_value > 0.0) {
            return {kNaN, VolatilityOutcome::ExerciseRegion};
        }
        return {0.0, VolatilityOutcome::Solved};
    }

    // The bracket: V(lower) < price < V(upper), upper infinite until found.
    double lower = 0.0;
    double upper = std::numeric_limits<double>::infinity();
    int solves = 0;
    auto excess = [&](double sigma) {
        ++solves;
        const double value = american_price(with_volatility(option, sigma), accuracy) - price;
        if (value < 0.0) {
            lower = std::max(lower, sigma);
        } else if (value > 0.0) {
            upper = std::min(upper, sigma);
        }
        return value;
    };

    const ImpliedVolatility european = european_implied_volatility(price, option);
    double previous = european.outcome == VolatilityOutcome::Solved && european.volatility > 0.0 ? european.volatility
                                                                                                 : kFallbackStart;
    double previous_excess = excess(previous);
    if (previous_excess == 0.0) {
        return {previous, VolatilityOutcome::Solved};
    }
    const double premium = previous_excess + price - european_price(with_volatility(option, previous));
    const ImpliedVolatility adjusted = european_implied_volatility(price - premium, option);
    double sigma = adjusted.outcome == VolatilityOutcome::Solved && adjusted.volatility > 0.0 ? adjusted.volatility
                                                                                              : previous;
    if (sigma == previous) {
        // A secant needs two points: one a little towards the root.
        sigma = previous * (previous_excess > 0.0 ? 0.99 : 1.01);
    }

    while (true) {
        const double current_excess = excess(sigma);
        if (current_excess == 0.0) {
            break;
        }
        double next = sigma - current_excess * (sigma - previous) / (current_excess - previous_excess);
        if (!(next > lower && next < upper)) {
            next = std::isinf(upper) ? 2.0 * std::max(sigma, lower) : 0.5 * (lower + upper);
        }
        const double step = std::fabs(next - sigma);
        const double slope = (current_excess - previous_excess) / (sigma - previous);
        previous = sigma;
        previous_excess = current_excess;
        sigma = next;
        if (step <= kConvergence * sigma || upper - lower <= kConvergence * sigma) {
            if (!(slope * sigma >= kVegaFloor * price)) {
                return {kNaN, VolatilityOutcome::NotDetermined};
            }
            break;
        }
        if (solves >= kSolveCap) {
            if (upper - lower <= kAcceptedBracket * sigma) {
                break;
            }
            return {kNaN, VolatilityOutcome::NotDetermined};
        }
    }
    return {sigma, VolatilityOutcome::Solved};
}

}  // namespace velarix
