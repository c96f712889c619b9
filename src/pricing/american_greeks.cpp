// Each American Greek is a finite difference of the price P = american_value
// at bumped inputs; the dividend yield stays fixed, so a bump of r moves the
// cost of carry with it. The bumps are not guarded: a zero spot makes the spot
// step zero and delta and gamma NaN, as the formulas say. The spot-bumped
// prices come from one AmericanAtSpot, which computes what they share once.
#include "american_greeks.h"

#include "bjerksund_stensland.h"

namespace velarix {
namespace {

constexpr double kRelativeSpotStep = 0.0001;
constexpr double kMinusOneDay = -0.0027397260273972603;  // -1/365 years
constexpr double kMinimumBumpedTime = 0.0001;
constexpr double kVolatilityStep = 0.0001;
constexpr double kRateStep = 0.0001;
constexpr double kCentralDivisor = 0.0002;  // 2 x the absolute steps
constexpr double kPercentagePoints = 100.0;

// The option being differenced, with one price function per bumped input.
struct Bumps {
    double s, k, t, r, sigma, q;
    OptionType type;

    AmericanAtSpot at_any_spot() const { return AmericanAtSpot(k, t, r, sigma, q, type); }
    PricingResult<double> at_time(double time) const { return american_value(s, k, time, r, sigma, q, type); }
    PricingResult<double> at_volatility(double vol) const { return american_value(s, k, t, r, vol, q, type); }
    PricingResult<double> at_rate(double rate) const { return american_value(s, k, t, rate, sigma, q, type); }

    double spot_step() const { return kRelativeSpotStep * s; }

    // One day earlier in the option's life, but never below the minimum (a NaN
    // time also gives the minimum).
    double time_a_day_later() const {
        const double bumped = t + kMinusOneDay;
        return bumped > kMinimumBumpedTime ? bumped : kMinimumBumpedTime;
    }
};

double delta_of(double up, double down, double h) { return (up - down) / (h + h); }
double gamma_of(double up, double centre, double down, double h) { return ((up - (centre + centre)) + down) / (h * h); }
double theta_of(double later, double now) { return later - now; }
double vega_of(double up, double down) { return (up - down) / kCentralDivisor; }
double rho_of(double up, double down) { return ((up - down) / kCentralDivisor) / kPercentagePoints; }

}  // namespace

PricingResult<double> am_delta(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    const AmericanAtSpot price = option.at_any_spot();
    const double h = option.spot_step();
    return delta_of(price(s + h), price(s - h), h);
}

PricingResult<double> am_gamma(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    const AmericanAtSpot price = option.at_any_spot();
    const double h = option.spot_step();
    return gamma_of(price(s + h), price(s), price(s - h), h);
}

PricingResult<double> am_theta(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    return combine_results(theta_of, option.at_time(option.time_a_day_later()), option.at_time(t));
}

PricingResult<double> am_vega(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    return combine_results(vega_of, option.at_volatility(sigma + kVolatilityStep),
                           option.at_volatility(sigma - kVolatilityStep));
}

PricingResult<double> am_rho(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    return combine_results(rho_of, option.at_rate(r + kRateStep), option.at_rate(r - kRateStep));
}

PricingResult<Greeks> am_greeks(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    // Eight distinct prices; the unbumped one serves both gamma and theta.
    const Bumps option{s, k, t, r, sigma, q, type};
    const AmericanAtSpot price = option.at_any_spot();
    const double h = option.spot_step();
    const double spot_up = price(s + h);
    const double centre = price(s);
    const double spot_down = price(s - h);
    return combine_results(
        [&](double later, double vol_up, double vol_down, double rate_up, double rate_down) {
            return Greeks{
                delta_of(spot_up, spot_down, h),
                gamma_of(spot_up, centre, spot_down, h),
                theta_of(later, centre),
                vega_of(vol_up, vol_down),
                rho_of(rate_up, rate_down),
            };
        },
        option.at_time(option.time_a_day_later()),
        option.at_volatility(sigma + kVolatilityStep), option.at_volatility(sigma - kVolatilityStep),
        option.at_rate(r + kRateStep), option.at_rate(r - kRateStep));
}

}  // namespace velarix
