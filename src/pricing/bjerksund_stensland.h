// The American price: the closed-form Bjerksund-Stensland (2002)
// approximation for a call with cost of carry b, and `american_value`, which
// prices calls directly and puts through the put-call transformation, floored
// at the intrinsic value.
//
// The call is computed in three layers, so that a caller pricing one option
// at several spots (the spot-bumped prices of the American Greeks) computes
// what does not depend on the spot once: `CallHorizons` holds what the value
// depends on apart from strike and spot (time, rate, carry, volatility and
// what follows from them over the two horizons); `CallBoundary` adds the
// strike; the value at a spot needs both.
//
// A value at one spot is computed in two steps around its 26 values of the
// normal distribution function N: the first writes their arguments, the
// second combines their values, so that the N of several prices (the eight
// of am_greeks) are evaluated together in one batch, in SIMD lanes where the
// CPU has them, with the bits of N evaluated one by one.
//
// An exp, log or pow is not computed again for the bits of an argument that
// the same slot of a known computation already had: each layer may be given a
// known one (the unbumped option's, for the bumped prices of the Greeks), and
// takes from it the growth factors that a volatility bump leaves alone (and
// those of other bumps that round alike), the trigger growth, ln(S/K) and
// S^beta where their arguments have the same bits. A repeated argument gives
// the repeated value, so no bit changes.
//
// The exps, logs and pows go through RuntimeCalls, in rounds along their
// dependencies: the horizons' and the triggers' exps; then the powers of
// alpha with the logs and powers at the spot, which need the triggers. Where
// the runtime's lanes are in use, the calls of all the prices computed
// together are gathered round by round and evaluated in lanes; a value taken
// from a known computation is then copied when the round ends.
#pragma once

#include <array>
#include <cstddef>
#include <limits>

#include "normal_distribution.h"
#include "option_inputs.h"
#include "pricing_result.h"
#include "runtime_calls.h"

namespace velarix {

// Each struct below is filled by regime or stage, and not every field on
// every path. A field its path leaves unset holds this NaN, so that reading
// it by mistake poisons the result instead of passing for a zero; the code
// reads a field only on the paths that set it (the regime, the stage or
// has_triggers says which), so the value never reaches a result.
inline constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();
inline constexpr std::array<double, 2> kUnsetPair = {kUnset, kUnset};
inline constexpr std::array<double, 3> kUnsetTriple = {kUnset, kUnset, kUnset};

// What is spot- and strike-independent in one of the two horizons t1 and T,
// for each exponent of the formula's terms (beta, 1, 0).
struct HorizonTerms {
    double tau = kUnset;
    double sqrt_tau = kUnset;
    double sigma_sqrt_tau = kUnset;
    std::array<double, 3> lambda = kUnsetTriple;
    std::array<double, 3> growth = kUnsetTriple;  // e^lambda
    std::array<double, 3> drift = kUnsetTriple;   // (b + (gamma - 1/2) sigma^2) tau
};

// What a call's value depends on apart from strike and spot: time, rate,
// carry and volatility, and the terms of the horizons they give.
struct CallHorizons {
    enum class Regime { Expired, European, EarlyExercise };
    Regime regime = Regime::Expired;
    double T = kUnset, r = kUnset, b = kUnset, sigma = kUnset;
    // European and early exercise: the whole-life horizon; on the European
    // path only sigma_sqrt_tau, the growth of exponents 1 and 0 and the drift
    // of exponent 1 are set, which is all the European value needs.
    HorizonTerms whole_life;
    // Early exercise only.
    HorizonTerms first_period;  // t1 = 0.618 T
    double beta = kUnset;
    std::array<double, 3> kappa = kUnsetTriple;
};

struct CallBoundary {
    // Computed in three steps, a round of runtime calls apart: the trigger
    // exponents and their exps; the triggers and their powers I^-beta;
    // alpha. Complete at once off the early-exercise path.
    enum class Step { TriggerExps, TriggerPowers, Complete };
    Step step = Step::Complete;
    double K = kUnset;
    // Early exercise only: the trigger prices at t1 and T, and alpha of each;
    // B_inf, the trigger of the perpetual call, which bounds the value.
    double b_infinity = kUnset;
    double b_zero = kUnset;
    double beta = kUnset;
    double i1 = kUnset, i2 = kUnset;
    double alpha1 = kUnset, alpha2 = kUnset;
    // The trigger prices' exponents h and growth e^h, for t1 and T; set,
    // with has_triggers, on the early-exercise path only.
    bool has_triggers = false;
    std::array<double, 2> trigger_exponent = kUnsetPair;
    std::array<double, 2> trigger_growth = kUnsetPair;
    std::array<double, 2> trigger_power = kUnsetPair;  // I^-beta for t1 and T
};

// What the terms share at one spot S. Settled: S only; European: S, S/K and
// ln(S/K) only; early exercise: everything.
struct SpotTerms {
    double S = kUnset;
    double beta = kUnset;
    double spot_over_strike = kUnset;                    // S/K
    double s_power_beta = kUnset;                        // S^beta
    std::array<double, 3> log_spot_over = kUnsetTriple;  // ln(S/H) for H = I1, I2, K
    std::array<double, 3> barrier_power = kUnsetTriple;  // (I1/S)^kappa per exponent
    double log_barrier_ratio = kUnset;                   // ln(I1/S)
    std::array<double, 2> barrier_shift = kUnsetPair;    // 2 ln(I1/S) / (sigma sqrt tau) per horizon
};

// The most values of N one price needs: two for each of the twelve
// early-exercise terms and two for the European value.
inline constexpr std::size_t kNormalArgumentsPerPrice = 26;

// A call value at one spot whose values of N are still to be evaluated.
struct PendingCall {
    enum class Stage { Settled, European, EarlyExercise };
    Stage stage = Stage::Settled;
    double settled_value = kUnset;  // Settled only: the value, which needs no N
    std::size_t normal_count = 0;   // the arguments of N written: 0, 2 or 26
    SpotTerms spot;
};

// `known`, when given, is one already computed (whatever its inputs),
// whose exponentials are taken where the arguments have the same bits; so
// for the boundary and the pending call.
void call_horizons(CallHorizons& horizons, double T, double r, double b, double sigma, RuntimeCalls& calls,
                   const CallHorizons* known = nullptr);
// Meaningful on the early-exercise path only; the strike is kept on every
// path. Begun, then advanced a step after each round of the calls (at once,
// to the end right away); an advance of a complete boundary does nothing.
void begin_call_boundary(CallBoundary& boundary, const CallHorizons& horizons, double K, RuntimeCalls& calls,
                         const CallBoundary* known = nullptr);
void advance_call_boundary(CallBoundary& boundary, RuntimeCalls& calls);
// The call value at S in three steps: begin_call, on a boundary whose
// triggers are known, finds the stage and asks for the logs and powers at S;
// call_normal_arguments, once they are evaluated, writes the arguments of N
// to normal_arguments (room for kNormalArgumentsPerPrice); finish_call takes
// their values, in the same order.
void begin_call(PendingCall& pending, const CallHorizons& horizons, const CallBoundary& boundary, double S,
                RuntimeCalls& calls, const PendingCall* known = nullptr);
void call_normal_arguments(const CallHorizons& horizons, PendingCall& pending, double* normal_arguments);
// Where the early-exercise formula's value exceeds the European value but
// also the perpetual call's, which bounds every American call, it is not a
// price, and the European value is returned as for a NaN formula value.
double finish_call(const CallHorizons& horizons, const CallBoundary& boundary, const PendingCall& pending,
                   const double* normal_values);

// An American price at one spot, up to its values of N.
struct PendingAmerican {
    double s;
    CallBoundary boundary;  // of the call behind it: a put's depends on its spot
    PendingCall call;
};

// One American option priced at any number of spots: the option's own spot
// is not read. For a call everything but the spot is computed once; for a
// put, whose transformation turns the spot into the call's strike, only what
// depends on neither. Its exps go through `calls`: with gathered calls the
// pricer is complete when their round ends, and so must not move until then
// (it can be neither copied nor moved).
class AmericanPricer {
public:
    AmericanPricer(const OptionInputs& option, RuntimeCalls& calls, const AmericanPricer* known = nullptr);
    AmericanPricer(const AmericanPricer&) = delete;
    AmericanPricer& operator=(const AmericanPricer&) = delete;

    // The price at s in four steps, rounds of `calls` ending between them:
    // the boundary begun (a put's depends on s), the value begun at s, the
    // arguments of N written (their count returned), the price from N's values.
    void begin_boundary(PendingAmerican& pending, double s, RuntimeCalls& calls,
                        const PendingAmerican* known = nullptr) const;
    void begin_value(PendingAmerican& pending, RuntimeCalls& calls, const PendingAmerican* known = nullptr) const;
    std::size_t normal_arguments(PendingAmerican& pending, RuntimeCalls& calls, double* normal_arguments) const;
    double finish(const PendingAmerican& pending, const double* normal_values) const;

private:
    double k_;
    OptionType type_;
    CallHorizons horizons_;
    CallBoundary call_boundary_;  // calls only
};

// Prices of one or several options at one or several spots, with every value
// of N they need evaluated in one batch, and the calls of each round in one
// (the first round takes the calls the pricers have gathered). The first
// price is computed first, and the others take from it what they share.
struct PriceRequest {
    const AmericanPricer* option;
    double s;
};

template <std::size_t Count>
std::array<double, Count> prices_together(const std::array<PriceRequest, Count>& requests, RuntimeCalls& calls) {
    std::array<PendingAmerican, Count> pending;
    const auto known = [&](std::size_t i) { return i == 0 ? nullptr : &pending[0]; };
    for (std::size_t i = 0; i < Count; ++i) {
        requests[i].option->begin_boundary(pending[i], requests[i].s, calls, known(i));
    }
    calls.evaluate();
    for (std::size_t i = 0; i < Count; ++i) {
        requests[i].option->begin_value(pending[i], calls, known(i));
    }
    calls.evaluate();
    std::array<double, Count * kNormalArgumentsPerPrice> arguments;
    std::array<double, Count * kNormalArgumentsPerPrice> values;
    std::array<std::size_t, Count> first_argument;
    std::size_t count = 0;
    for (std::size_t i = 0; i < Count; ++i) {
        first_argument[i] = count;
        count += requests[i].option->normal_arguments(pending[i], calls, arguments.data() + count);
    }
    standard_normal_cdf_batch(arguments.data(), values.data(), count);
    std::array<double, Count> prices;
    for (std::size_t i = 0; i < Count; ++i) {
        prices[i] = requests[i].option->finish(pending[i], values.data() + first_argument[i]);
    }
    return prices;
}

// The price behind am_price and every American Greek.
PricingResult<double> american_value(const OptionInputs& option);

// american_value of `count` options (at most kPricesInLanes), written to
// prices: where the runtime's lanes are in use, priced together so that
// their calls fill the lanes, else one by one. The same bits either way.
inline constexpr std::size_t kPricesInLanes = 8;
void american_values(const OptionInputs* options, std::size_t count, double* prices);

}  // namespace velarix
