// The record of the five Greeks and the units they are reported in, shared
// by the European and the American computations so that both scale theta and
// rho by the very same constants.
#pragma once

namespace velarix {

inline constexpr double kDaysPerYear = 365.0;       // theta per calendar day of a 365-day year
inline constexpr double kPercentagePoints = 100.0;  // rho per percentage point of r

// The five sensitivities, in the order the module reports them. Theta is per
// calendar day, vega per 1.00 of volatility, rho per percentage point of r.
struct Greeks {
    double delta;
    double gamma;
    double theta;
    double vega;
    double rho;
};

}  // namespace velarix
