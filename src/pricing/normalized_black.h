// The normalized Black function of an out-of-the-money call,
//   b(x, s) = e^(x/2) N(x/s + s/2) - e^(-x/2) N(x/s - s/2),  x <= 0, s > 0,
// with x = ln(F/K) the log-moneyness and s = sigma sqrt(T) the total
// volatility: the undiscounted call on the forward, divided by sqrt(F K).
// Every European price reduces to it (implied_volatility.cpp), and inverting
// it to full precision needs b to full relative precision however small it
// is. The difference above cancels far out of the money and at small s, so b
// is computed as b'(s) times a difference of scaled normal tails, and that
// difference by series where it would cancel itself. Only the project's own
// exp, log and normal tail are used: the same bits everywhere.
//
// Accuracy (measured against 50-digit arithmetic, benchmarks/normalized_black.py):
// the computed b is the exact b at an s perturbed by a few ulps.
#pragma once

namespace velarix {

// N(z) e^(z^2/2) for z <= 0.85, to a few ulps: the normal distribution
// function with its Gaussian factor taken out, which never underflows.
double scaled_normal_cdf(double z);

// b(x, s) for x <= 0 and s > 0.
double normalized_black(double x, double s);

// b'(s) = db/ds = exp(-(x^2/s^2 + s^2/4)/2) / sqrt(2 pi).
double normalized_black_vega(double x, double s);

// A logarithm and the ratio of b' to its argument: the terms the iterations
// at the two ends of the price range need, taken where the values themselves
// would underflow (b may be 1e-300 and far below; so may its shortfall).
struct LogTerms {
    double log;
    double vega_ratio;
};

// ln b(x, s) and b'/b.
LogTerms log_normalized_black(double x, double s);

// ln(e^(x/2) - b(x, s)) and b'/(e^(x/2) - b): the shortfall from the limit
// of b as s grows.
LogTerms log_normalized_black_shortfall(double x, double s);

}  // namespace velarix
