// Bjerksund-Stensland (2002): two flat exercise boundaries, the trigger I2 for
// the whole life T and I1 for the shorter time t1 = 0.618 T, and an
// early-exercise value that is a signed sum of twelve terms
//
//   phi(S, tau, gamma, H, I1) = e^lambda S^gamma [N(d) - (I1/S)^kappa N(d - 2 ln(I1/S) / (sigma sqrt tau))]
//
// with lambda and kappa depending on gamma only, and d on tau, gamma and the
// level H. Each term's expression is evaluated as written, left to right,
// without algebraic rearrangement: the order of the operations is part of the
// results. What the twelve terms have in common is computed once, with the
// very expression each term would use, so sharing changes no bit: six
// exponentials (two horizons by three exponents), three logarithms ln(S/H),
// one ln(I1/S), three powers (I1/S)^kappa and one S^beta. The European value
// reuses the whole-life horizon's square root, discount factors and drift.
//
// Every exp, log and pow goes through RuntimeCalls (see the header for its
// rounds); a value it gives is read only after the round that computes it.
#include "bjerksund_stensland.h"

#include <bit>
#include <cstdint>
#include <algorithm>
#include <initializer_list>
#include <optional>

#include "normal_distribution.h"
#include "runtime_math.h"
#include "testing/pricing_test_hooks.h"

namespace velarix {
namespace {

constexpr double kGoldenFraction = 0.6180339887498949;  // (sqrt 5 - 1) / 2

// Indices of the exponent gamma of a term into the per-exponent tables.
constexpr std::size_t kBeta = 0;
constexpr std::size_t kOne = 1;
constexpr std::size_t kZero = 2;

// Indices of the horizons t1 and T.
constexpr std::size_t kFirstPeriod = 0;
constexpr std::size_t kWholeLife = 1;

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

double positive_part(double payoff) { return payoff > 0.0 ? payoff : 0.0; }  // a NaN payoff gives 0

// E = S e^((b - r) T) N(d1) - K e^(-r T) N(d2), with the horizon's
// sigma sqrt T, e^((b - r) T), e^(-r T) and (b + sigma^2 / 2) T: the
// arguments d1 and d2, then the value from N(d1) and N(d2).
void european_call_arguments(const HorizonTerms& whole_life, double log_spot_over_strike, double* arguments) {
    const double d1 = (log_spot_over_strike + whole_life.drift[kOne]) / whole_life.sigma_sqrt_tau;
    arguments[0] = d1;
    arguments[1] = d1 - whole_life.sigma_sqrt_tau;
}

double european_call(const HorizonTerms& whole_life, double S, double K, const double* normal_values) {
    return (S * whole_life.growth[kOne]) * normal_values[0] - (K * whole_life.growth[kZero]) * normal_values[1];
}

HorizonTerms horizon(double tau, double sigma) {
    HorizonTerms terms{};
    terms.tau = tau;
    terms.sqrt_tau = std::sqrt(tau);
    terms.sigma_sqrt_tau = sigma * terms.sqrt_tau;
    return terms;
}

// e^lambda for one exponent, taken from the first of the `computed` horizons
// (null, or holding that exponent's growth) whose lambda has the same bits,
// else asked of the calls.
void set_growth(HorizonTerms& terms, std::size_t exponent, double lambda,
                std::initializer_list<const HorizonTerms*> computed, RuntimeCalls& calls) {
    terms.lambda[exponent] = lambda;
    for (const HorizonTerms* known : computed) {
        if (known != nullptr && same_bits(known->lambda[exponent], lambda)) {
            calls.copy(known->growth[exponent], terms.growth[exponent]);
            return;
        }
    }
    calls.exp(lambda, terms.growth[exponent]);
}

// e^lambda of the exponents 1 and 0, and the drift of exponent 1: what the
// European value needs, set once for the whole life whether or not the
// early-exercise terms follow.
void set_simple_exponents(HorizonTerms& terms, double r, double b, double sigma2,
                          std::initializer_list<const HorizonTerms*> computed, RuntimeCalls& calls) {
    const double tau = terms.tau;
    set_growth(terms, kOne, (b - r) * tau, computed, calls);
    set_growth(terms, kZero, (-r) * tau, computed, calls);
    terms.drift[kOne] = (b + (1.0 - 0.5) * sigma2) * tau;
}

// Trigger price I(tau) = B0 + (B_inf - B0) (1 - e^h(tau)),
// h(tau) = -(b tau + 2 sigma sqrt tau) B0 / (B_inf - B0); e^h is taken from
// the known boundary when its h has the same bits, else asked of the calls.
void begin_trigger(const CallHorizons& horizons, std::size_t horizon_index, CallBoundary& boundary,
                   const CallBoundary* known, RuntimeCalls& calls) {
    const HorizonTerms& horizon = horizon_index == kFirstPeriod ? horizons.first_period : horizons.whole_life;
    const double b_zero = boundary.b_zero;
    const double b_infinity = boundary.b_infinity;
    const double h = ((-(horizons.b * horizon.tau + (2.0 * horizons.sigma) * horizon.sqrt_tau)) * b_zero) /
                     (b_infinity - b_zero);
    const bool repeated = known != nullptr && known->has_triggers && same_bits(known->trigger_exponent[horizon_index], h);
    boundary.trigger_exponent[horizon_index] = h;
    if (repeated) {
        calls.copy(known->trigger_growth[horizon_index], boundary.trigger_growth[horizon_index]);
    } else {
        calls.exp(h, boundary.trigger_growth[horizon_index]);
    }
}

double trigger(const CallBoundary& boundary, std::size_t horizon_index) {
    const double b_zero = boundary.b_zero;
    const double b_infinity = boundary.b_infinity;
    return b_zero + (b_infinity - b_zero) * (1.0 - boundary.trigger_growth[horizon_index]);
}

enum Level : std::size_t { kLevelI1 = 0, kLevelI2 = 1, kLevelK = 2 };

// The twelve terms in the order of the sum, each phi(S, tau, gamma, H, I1).
struct Term {
    std::size_t horizon;  // kFirstPeriod (tau = t1) or kWholeLife (tau = T)
    std::size_t exponent;
    Level level;
};
constexpr std::array<Term, 12> kTerms = {{
    {kFirstPeriod, kBeta, kLevelI1},
    {kFirstPeriod, kBeta, kLevelI2},
    {kFirstPeriod, kOne, kLevelI2},
    {kFirstPeriod, kOne, kLevelK},
    {kFirstPeriod, kZero, kLevelI2},
    {kFirstPeriod, kZero, kLevelK},
    {kWholeLife, kBeta, kLevelI2},
    {kWholeLife, kBeta, kLevelI1},
    {kWholeLife, kOne, kLevelI1},
    {kWholeLife, kOne, kLevelI2},
    {kWholeLife, kZero, kLevelI1},
    {kWholeLife, kZero, kLevelI2},
}};
constexpr std::size_t kEuropeanArguments = 2 * kTerms.size();

const HorizonTerms& horizon_of(const CallHorizons& horizons, const Term& term) {
    return term.horizon == kFirstPeriod ? horizons.first_period : horizons.whole_life;
}

// The bracket N(d) - (I1/S)^kappa N(d - 2 ln(I1/S) / (sigma sqrt tau)) needs N
// at d = -(ln(S/H) + (b + (gamma - 1/2) sigma^2) tau) / (sigma sqrt tau) and
// at d shifted.
void term_arguments(const HorizonTerms& horizon, const Term& term, const SpotTerms& spot, double* arguments) {
    const double d = (-(spot.log_spot_over[term.level] + horizon.drift[term.exponent])) / horizon.sigma_sqrt_tau;
    arguments[0] = d;
    arguments[1] = d - spot.barrier_shift[term.horizon];
}

// phi for gamma = beta, 1 and 0: e^lambda S^beta, e^lambda S and e^lambda
// times the bracket, from the bracket's two values of N.
double phi(const HorizonTerms& horizon, const Term& term, const SpotTerms& spot, const double* normal_values) {
    const double bracket = normal_values[0] - spot.barrier_power[term.exponent] * normal_values[1];
    switch (term.exponent) {
        case kBeta:
            return (horizon.growth[kBeta] * spot.s_power_beta) * bracket;
        case kOne:
            return (horizon.growth[kOne] * spot.S) * bracket;
        default:
            return horizon.growth[kZero] * bracket;
    }
}

// The perpetual American call exercised at B_inf, (B_inf - K) (S / B_inf)^beta
// for S below B_inf (every S below I2), is worth at least as much as the call
// with any finite expiry. The twelve-term sum v can exceed it, by far, at low
// volatility and a large carry (kappa in the tens to hundreds): 2.85 against
// a bound of 2.6e-11 and a European value of 3.7e-13 for s = 92, k = 135,
// t = 2.64, r = 0.017, sigma = 0.0512, q = 0.098. The sum says so in exact
// arithmetic as well (evaluated at 60 digits it agrees with the double to
// about 1e-9 in nearly every such case), so this is the formula leaving its
// domain, with rounding adding to it only where v is near zero. A v above the
// bound is no price. Computed only where v would be returned.
double perpetual_call(const CallHorizons& horizons, const CallBoundary& boundary, double S) {
    const double b_infinity = boundary.b_infinity;
    return (b_infinity - boundary.K) * std::pow(S / b_infinity, horizons.beta);
}

}  // namespace

void call_horizons(CallHorizons& horizons, double T, double r, double b, double sigma, RuntimeCalls& calls,
                   const CallHorizons* known) {
    horizons = CallHorizons{};
    horizons.T = T;
    horizons.r = r;
    horizons.b = b;
    horizons.sigma = sigma;
    if (T <= 0.0) {  // expired; a NaN T does not take this branch
        horizons.regime = CallHorizons::Regime::Expired;
        return;
    }
    const double sigma2 = sigma * sigma;
    // The known horizons hold growth factors on the paths that set them.
    const bool known_european = known != nullptr && known->regime != CallHorizons::Regime::Expired;
    const bool known_early = known != nullptr && known->regime == CallHorizons::Regime::EarlyExercise;
    const HorizonTerms* known_whole_life = known_european ? &known->whole_life : nullptr;
    const HorizonTerms* known_first_period = known_early ? &known->first_period : nullptr;
    horizons.whole_life = horizon(T, sigma);
    set_simple_exponents(horizons.whole_life, r, b, sigma2, {known_whole_life}, calls);
    if (b >= r) {  // never optimal to exercise early
        horizons.regime = CallHorizons::Regime::European;
        return;
    }
    horizons.regime = CallHorizons::Regime::EarlyExercise;

    const double carry_ratio = b / sigma2;
    const double beta = (0.5 - carry_ratio) + std::sqrt((carry_ratio - 0.5) * (carry_ratio - 0.5) + (2.0 * r) / sigma2);
    horizons.beta = beta;
    const double two_carry_ratio = (2.0 * b) / sigma2;
    horizons.kappa = {two_carry_ratio + (2.0 * beta - 1.0), 1.0 + two_carry_ratio, two_carry_ratio - 1.0};

    // lambda = (-r + gamma b + (gamma / 2)(gamma - 1) sigma^2) tau; for gamma = 1
    // and 0 the simplified forms (b - r) tau and -r tau.
    const double beta_rate = (-r + beta * b) + ((0.5 * beta) * (beta - 1.0)) * sigma2;
    horizons.first_period = horizon(kGoldenFraction * T, sigma);
    set_simple_exponents(horizons.first_period, r, b, sigma2, {known_first_period, &horizons.whole_life}, calls);
    // lambda of beta is zero in exact arithmetic, and often in rounded: then
    // the two horizons raise e to the same bits.
    set_growth(horizons.first_period, kBeta, beta_rate * horizons.first_period.tau, {known_first_period}, calls);
    set_growth(horizons.whole_life, kBeta, beta_rate * horizons.whole_life.tau,
               {known_early ? known_whole_life : nullptr, &horizons.first_period}, calls);
    for (HorizonTerms* terms : {&horizons.first_period, &horizons.whole_life}) {
        const double tau = terms->tau;
        terms->drift[kBeta] = (b + (beta - 0.5) * sigma2) * tau;
        terms->drift[kZero] = (b + (0.0 - 0.5) * sigma2) * tau;
    }
}

CallHorizons call_horizons(double T, double r, double b, double sigma, const CallHorizons* known) {
    RuntimeCalls calls(RuntimeCalls::Mode::AtOnce);
    CallHorizons horizons;
    call_horizons(horizons, T, r, b, sigma, calls, known);
    return horizons;
}

void begin_call_boundary(CallBoundary& boundary, const CallHorizons& horizons, double K, RuntimeCalls& calls,
                         const CallBoundary* known) {
    boundary = CallBoundary{};
    boundary.K = K;
    if (horizons.regime != CallHorizons::Regime::EarlyExercise) {
        return;
    }
    const double beta = horizons.beta;
    const double b_infinity = (beta / (beta - 1.0)) * K;
    boundary.b_infinity = b_infinity;
    const double b_zero_candidate = (horizons.r / (horizons.r - horizons.b)) * K;
    boundary.b_zero = b_zero_candidate > K ? b_zero_candidate : K;
    boundary.beta = beta;
    begin_trigger(horizons, kWholeLife, boundary, known, calls);
    begin_trigger(horizons, kFirstPeriod, boundary, known, calls);
    boundary.has_triggers = true;
    boundary.step = CallBoundary::Step::TriggerExps;
    if (!calls.gathered()) {
        advance_call_boundary(boundary, calls);
        advance_call_boundary(boundary, calls);
    }
}

// alpha = (I - K) I^-beta for both triggers, the power in the round between.
void advance_call_boundary(CallBoundary& boundary, RuntimeCalls& calls) {
    const double K = boundary.K;
    switch (boundary.step) {
        case CallBoundary::Step::TriggerExps:
            boundary.i2 = trigger(boundary, kWholeLife);
            boundary.i1 = trigger(boundary, kFirstPeriod);
            calls.pow(boundary.i1, -boundary.beta, boundary.trigger_power[kFirstPeriod]);
            calls.pow(boundary.i2, -boundary.beta, boundary.trigger_power[kWholeLife]);
            boundary.step = CallBoundary::Step::TriggerPowers;
            return;
        case CallBoundary::Step::TriggerPowers:
            boundary.alpha1 = (boundary.i1 - K) * boundary.trigger_power[kFirstPeriod];
            boundary.alpha2 = (boundary.i2 - K) * boundary.trigger_power[kWholeLife];
            boundary.step = CallBoundary::Step::Complete;
            return;
        case CallBoundary::Step::Complete:
            return;
    }
}

CallBoundary call_boundary(const CallHorizons& horizons, double K, const CallBoundary* known) {
    RuntimeCalls calls(RuntimeCalls::Mode::AtOnce);
    CallBoundary boundary;
    begin_call_boundary(boundary, horizons, K, calls, known);
    return boundary;
}

void begin_call(PendingCall& pending, const CallHorizons& horizons, const CallBoundary& boundary, double S,
                RuntimeCalls& calls, const PendingCall* known) {
    pending = PendingCall{};
    SpotTerms& spot = pending.spot;
    spot.S = S;
    const double K = boundary.K;
    // ln(S/K), or the known one for the same bits of S/K.
    const auto log_spot_over_strike = [&] {
        spot.spot_over_strike = S / K;
        const bool repeated = known != nullptr && known->stage != PendingCall::Stage::Settled &&
                              same_bits(known->spot.spot_over_strike, spot.spot_over_strike);
        if (repeated) {
            calls.copy(known->spot.log_spot_over[kLevelK], spot.log_spot_over[kLevelK]);
        } else {
            calls.log(spot.spot_over_strike, spot.log_spot_over[kLevelK]);
        }
    };
    switch (horizons.regime) {
        case CallHorizons::Regime::Expired:
            pending.stage = PendingCall::Stage::Settled;
            pending.settled_value = positive_part(S - K);
            return;
        case CallHorizons::Regime::European:
            pending.stage = PendingCall::Stage::European;
            pending.normal_count = 2;
            log_spot_over_strike();
            return;
        case CallHorizons::Regime::EarlyExercise:
            break;
    }
    if (S >= boundary.i2) {  // immediate exercise, no floor; a NaN S or I2 does not take this branch
        pending.stage = PendingCall::Stage::Settled;
        pending.settled_value = S - K;
        return;
    }
    pending.stage = PendingCall::Stage::EarlyExercise;
    pending.normal_count = kNormalArgumentsPerPrice;

    const double barrier_ratio = boundary.i1 / S;
    calls.log(barrier_ratio, spot.log_barrier_ratio);
    spot.beta = horizons.beta;
    const bool repeated_power = known != nullptr && known->stage == PendingCall::Stage::EarlyExercise &&
                                same_bits(known->spot.S, S) && same_bits(known->spot.beta, spot.beta);
    if (repeated_power) {
        calls.copy(known->spot.s_power_beta, spot.s_power_beta);
    } else {
        calls.pow(S, spot.beta, spot.s_power_beta);
    }
    calls.log(S / boundary.i1, spot.log_spot_over[kLevelI1]);
    calls.log(S / boundary.i2, spot.log_spot_over[kLevelI2]);
    log_spot_over_strike();
    for (std::size_t exponent : {kBeta, kOne, kZero}) {
        calls.pow(barrier_ratio, horizons.kappa[exponent], spot.barrier_power[exponent]);
    }
}

void call_normal_arguments(const CallHorizons& horizons, PendingCall& pending, double* normal_arguments) {
    SpotTerms& spot = pending.spot;
    switch (pending.stage) {
        case PendingCall::Stage::Settled:
            return;
        case PendingCall::Stage::European:
            european_call_arguments(horizons.whole_life, spot.log_spot_over[kLevelK], normal_arguments);
            return;
        case PendingCall::Stage::EarlyExercise:
            break;
    }
    const double log_barrier_ratio = spot.log_barrier_ratio;
    spot.barrier_shift = {(2.0 * log_barrier_ratio) / horizons.first_period.sigma_sqrt_tau,
                          (2.0 * log_barrier_ratio) / horizons.whole_life.sigma_sqrt_tau};
    for (std::size_t index = 0; index < kTerms.size(); ++index) {
        term_arguments(horizon_of(horizons, kTerms[index]), kTerms[index], spot, normal_arguments + 2 * index);
    }
    european_call_arguments(horizons.whole_life, spot.log_spot_over[kLevelK], normal_arguments + kEuropeanArguments);
}

PendingCall begin_call(const CallHorizons& horizons, const CallBoundary& boundary, double S, double* normal_arguments,
                       const PendingCall* known) {
    RuntimeCalls calls(RuntimeCalls::Mode::AtOnce);
    PendingCall pending;
    begin_call(pending, horizons, boundary, S, calls, known);
    call_normal_arguments(horizons, pending, normal_arguments);
    return pending;
}

double early_exercise_value(const CallHorizons& horizons, const CallBoundary& boundary, const PendingCall& pending,
                            const double* normal_values) {
    const double K = boundary.K;
    const auto term = [&](std::size_t index) {
        return phi(horizon_of(horizons, kTerms[index]), kTerms[index], pending.spot, normal_values + 2 * index);
    };
    const double alpha1 = boundary.alpha1;
    const double alpha2 = boundary.alpha2;
    double v = alpha1 * term(0);
    v = v - alpha1 * term(1);
    v = v + term(2);
    v = v - term(3);
    v = v - K * term(4);
    v = v + K * term(5);
    v = v + alpha2 * term(6);
    v = v - alpha2 * term(7);
    v = v + term(8);
    v = v - term(9);
    v = v - K * term(10);
    v = v + K * term(11);
    return v;
}

double finish_call(const CallHorizons& horizons, const CallBoundary& boundary, const PendingCall& pending,
                   const double* normal_values) {
    const double K = boundary.K;
    const SpotTerms& spot = pending.spot;
    switch (pending.stage) {
        case PendingCall::Stage::Settled:
            return pending.settled_value;
        case PendingCall::Stage::European:
            return european_call(horizons.whole_life, spot.S, K, normal_values);
        case PendingCall::Stage::EarlyExercise:
            break;
    }
    const double v = early_exercise_value(horizons, boundary, pending, normal_values);
    const double e = european_call(horizons.whole_life, spot.S, K, normal_values + kEuropeanArguments);
    if (std::isnan(v)) {
        return e;
    }
    if (std::isnan(e)) {
        return v;
    }
    if (v > e && v > perpetual_call(horizons, boundary, spot.S)) {
        return e;  // not a price: as for a NaN v
    }
    return e > v ? e : v;
}

double bjerksund_stensland_call(const CallHorizons& horizons, const CallBoundary& boundary, double S) {
    // Zeroed because begin_call sets only the first normal_count arguments,
    // which is all that is read, but g++ cannot see that and warns.
    std::array<double, kNormalArgumentsPerPrice> arguments{};
    std::array<double, kNormalArgumentsPerPrice> values;
    const PendingCall pending = begin_call(horizons, boundary, S, arguments.data());
    standard_normal_cdf_batch(arguments.data(), values.data(), pending.normal_count);
    return finish_call(horizons, boundary, pending, values.data());
}

double bjerksund_stensland_call(double S, double K, double T, double r, double b, double sigma) {
    const CallHorizons horizons = call_horizons(T, r, b, sigma);
    return bjerksund_stensland_call(horizons, call_boundary(horizons, K), S);
}

// b = r - q. A put is the call with spot and strike exchanged, rate r - b
// (computed so, not taken from q) and carry -b.
AmericanPricer::AmericanPricer(const OptionInputs& option, RuntimeCalls& calls, const AmericanPricer* known)
    : k_(option.k), type_(option.type) {
    const double b = option.r - option.q;
    const CallHorizons* known_horizons = known != nullptr ? &known->horizons_ : nullptr;
    if (option.type == OptionType::Call) {
        call_horizons(horizons_, option.t, option.r, b, option.sigma, calls, known_horizons);
        begin_call_boundary(call_boundary_, horizons_, option.k, calls,
                            known != nullptr ? &known->call_boundary_ : nullptr);
    } else {
        call_horizons(horizons_, option.t, option.r - b, -b, option.sigma, calls, known_horizons);
    }
}

void AmericanPricer::begin_boundary(PendingAmerican& pending, double s, RuntimeCalls& calls,
                                    const PendingAmerican* known) const {
    pending.s = s;
    if (type_ == OptionType::Put) {
        begin_call_boundary(pending.boundary, horizons_, s, calls, known != nullptr ? &known->boundary : nullptr);
    }
}

// A call's boundary is the pricer's, which gathered calls have completed
// by now up to its triggers' exps.
void AmericanPricer::begin_value(PendingAmerican& pending, RuntimeCalls& calls, const PendingAmerican* known) const {
    const PendingCall* known_call = known != nullptr ? &known->call : nullptr;
    if (type_ == OptionType::Call) {
        pending.boundary = call_boundary_;
    }
    advance_call_boundary(pending.boundary, calls);
    const double S = type_ == OptionType::Call ? pending.s : k_;
    begin_call(pending.call, horizons_, pending.boundary, S, calls, known_call);
}

std::size_t AmericanPricer::normal_arguments(PendingAmerican& pending, RuntimeCalls& calls,
                                             double* normal_arguments) const {
    advance_call_boundary(pending.boundary, calls);
    call_normal_arguments(horizons_, pending.call, normal_arguments);
    return pending.call.normal_count;
}

double AmericanPricer::finish(const PendingAmerican& pending, const double* normal_values) const {
    const double core = finish_call(horizons_, pending.boundary, pending.call, normal_values);
    const double intrinsic = type_ == OptionType::Call ? positive_part(pending.s - k_) : positive_part(k_ - pending.s);
    return core > intrinsic ? core : intrinsic;  // a NaN core value gives the intrinsic value
}

PricingResult<double> american_value(const OptionInputs& option) {
    RuntimeCalls calls(RuntimeCalls::Mode::AtOnce);
    const AmericanPricer pricer(option, calls);
    return prices_together<1>({{{&pricer, option.s}}}, calls)[0];
}

// A group short of kPricesInLanes repeats its last option to the full
// count, and drops the repeated prices. Eight prices together cost about
// six one by one (1,510 against 260 ns each): a group of fewer than six
// options is priced one by one.
constexpr std::size_t kFewestPricesToGather = 6;

void american_values(const OptionInputs* options, std::size_t count, double* prices) {
    RuntimeCalls calls(RuntimeCalls::where_lanes_pay());
    if (!calls.gathered() || count < kFewestPricesToGather) {
        for (std::size_t i = 0; i < count; ++i) {
            prices[i] = american_value(options[i]).value();
        }
        return;
    }
    std::array<std::optional<AmericanPricer>, kPricesInLanes> pricers;
    std::array<PriceRequest, kPricesInLanes> requests;
    for (std::size_t i = 0; i < kPricesInLanes; ++i) {
        const OptionInputs& option = options[i < count ? i : count - 1];
        pricers[i].emplace(option, calls);
        requests[i] = {&*pricers[i], option.s};
    }
    const std::array<double, kPricesInLanes> together = prices_together(requests, calls);
    std::copy_n(together.begin(), count, prices);
}

}  // namespace velarix
