// The American price: the closed-form Bjerksund-Stensland (2002)
// approximation for a call with cost of carry b, and `american_value`, which
// prices calls directly and puts through the put-call transformation, floored
// at the intrinsic value.
//
// The call is computed in three layers, so that a caller pricing one option
// at several spots (the spot-bumped prices of the American Greeks) computes
// what does not depend on the spot once: `CallCarry` depends on time, rate,
// carry and volatility; `CallBoundary` adds the strike; the value at a spot
// needs both.
#pragma once

#include <array>

#include "option_inputs.h"

namespace velarix {

// What is spot- and strike-independent in one of the two horizons t1 and T,
// for each exponent of the formula's terms (beta, 1, 0).
struct HorizonTerms {
    double tau;
    double sqrt_tau;
    double sigma_sqrt_tau;
    std::array<double, 3> growth;  // e^lambda
    std::array<double, 3> drift;   // (b + (gamma - 1/2) sigma^2) tau
};

struct CallCarry {
    enum class Regime { Expired, European, EarlyExercise };
    Regime regime;
    double T, r, b, sigma;
    // European and early exercise: the whole-life horizon; on the European
    // path only sigma_sqrt_tau, the growth of exponents 1 and 0 and the drift
    // of exponent 1 are set, which is all the European value needs.
    HorizonTerms whole_life;
    // Early exercise only.
    HorizonTerms first_period;  // t1 = 0.618 T
    double beta;
    std::array<double, 3> kappa;
};

struct CallBoundary {
    double K;
    double i1, i2;  // the trigger prices at t1 and T
    double alpha1, alpha2;
};

CallCarry call_carry(double T, double r, double b, double sigma);
// Meaningful on the early-exercise path only; the strike is kept on every path.
CallBoundary call_boundary(const CallCarry& carry, double K);
double bjerksund_stensland_call(const CallCarry& carry, const CallBoundary& boundary, double S);

// American call on spot S with strike K, time T, rate r, carry b, volatility sigma.
double bjerksund_stensland_call(double S, double K, double T, double r, double b, double sigma);

// One American option priced at any number of spots. For a call everything
// but the spot is computed once; for a put, whose transformation turns the
// spot into the call's strike, only what depends on neither.
class AmericanAtSpot {
public:
    AmericanAtSpot(double k, double t, double r, double sigma, double q, OptionType type);
    double operator()(double s) const;

private:
    double k_;
    OptionType type_;
    CallCarry carry_;
    CallBoundary call_boundary_;  // calls only
};

// The price behind am_price and every American Greek.
PricingResult<double> american_value(double s, double k, double t, double r, double sigma, double q, OptionType type);

// The computation behind the module function am_price: the price itself.
inline PricingResult<double> am_price(double s, double k, double t, double r, double sigma, double q,
                                      OptionType type) {
    return american_value(s, k, t, r, sigma, q, type);
}

}  // namespace velarix
