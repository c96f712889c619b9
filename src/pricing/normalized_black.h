// The normalized Black function of an out-of-the-money call,
//   b(x, s) = e^(x/2) N(x/s + s/2) - e^(-x/2) N(x/s - s/2),  x <= 0, s > 0,
// with x = ln(F/K) the log-moneyness and s = sigma sqrt(T) the total
// volatility: the undiscounted call on the forward, divided by sqrt(F K).
// Every European price reduces to it (european_implied_volatility.cpp), and inverting
// it to full precision needs b to full relative precision however small it
// is. The difference above cancels far out of the money and at small s, so b
// is computed as b'(s) times a difference of scaled normal tails, and that
// difference by series where it would cancel itself. Only the project's own
// exp, log and normal tail are used: the same bits everywhere.
//
// Accuracy: within 8 ulps (1 + (x/s)^2) of 40-digit values, the condition of
// b in s being about (x/s)^2, i.e. the exact b at an s a few ulps away
// (tests/cpp/implied_volatility_test.cpp); the inversion it serves recovers
// volatilities within 6.6 times what a price rounded to double determines
// (benchmarks/implied_volatility.py).
#pragma once

namespace velarix {

// N(z) e^(z^2/2) for z <= 0.85, to a few ulps: the normal distribution
// function with its Gaussian factor taken out, which never underflows.
double scaled_normal_cdf(double z);

// b(x, s) for x <= 0 and s > 0, and its derivative in s,
// b'(s) = exp(-(x^2/s^2 + s^2/4)/2) / sqrt(2 pi), which shares its exponential.
struct NormalizedCall {
    double value;
    double vega;
};
NormalizedCall normalized_black(double x, double s);

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
