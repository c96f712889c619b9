// Each American Greek is a finite difference of the price P = american_value
// at bumped inputs; the dividend yield stays fixed, so a bump of r moves the
// cost of carry with it. The bumps are not guarded: a zero spot makes the spot
// step zero and delta and gamma NaN, as the formulas say. The spot-bumped
// prices come from one AmericanAtSpot, which computes what they share once,
// and the normal distributions of all the prices of one computation are
// evaluated together.
#include "american_greeks.h"

#include "bjerksund_stensland.h"

namespace velarix {
namespace {

constexpr double kRelativeSpotStep = 0.0001;
constexpr double kMinusOneDay = -1.0 / kDaysPerYear;
// The literal the theta bump has always added: the quotient rounds to it.
static_assert(kMinusOneDay == -0.0027397260273972603);
constexpr double kMinimumBumpedTime = 0.0001;
constexpr double kVolatilityStep = 0.0001;
constexpr double kRateStep = 0.0001;
constexpr double kCentralDivisor = 0.0002;  // 2 x the absolute steps

// The option being differenced, with one pricer per bumped input.
struct Bumps {
    double s, k, t, r, sigma, q;
    OptionType type;

    // Each bumped pricer takes from `known` (the unbumped one) what it shares.
    AmericanAtSpot at_any_spot() const { return AmericanAtSpot(k, t, r, sigma, q, type); }
    AmericanAtSpot at_time(double time, const AmericanAtSpot* known = nullptr) const {
        return AmericanAtSpot(k, time, r, sigma, q, type, known);
    }
    AmericanAtSpot at_volatility(double vol, const AmericanAtSpot* known = nullptr) const {
        return AmericanAtSpot(k, t, r, vol, q, type, known);
    }
    AmericanAtSpot at_rate(double rate, const AmericanAtSpot* known = nullptr) const {
        return AmericanAtSpot(k, t, rate, sigma, q, type, known);
    }

    double spot_step() const { return kRelativeSpotStep * s; }

    // The time to expiry one day later, a day shorter, but never below the
    // minimum (a NaN time also gives the minimum).
    double time_to_expiry_a_day_later() const {
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
    const auto [up, down] = prices_together<2>({{{&price, s + h}, {&price, s - h}}});
    return delta_of(up, down, h);
}

PricingResult<double> am_gamma(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    const AmericanAtSpot price = option.at_any_spot();
    const double h = option.spot_step();
    const auto [centre, up, down] = prices_together<3>({{{&price, s}, {&price, s + h}, {&price, s - h}}});
    return gamma_of(up, centre, down, h);
}

PricingResult<double> am_theta(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    const AmericanAtSpot now = option.at_time(t);
    const AmericanAtSpot later = option.at_time(option.time_to_expiry_a_day_later(), &now);
    const auto [now_price, later_price] = prices_together<2>({{{&now, s}, {&later, s}}});
    return theta_of(later_price, now_price);
}

PricingResult<double> am_vega(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    const AmericanAtSpot up = option.at_volatility(sigma + kVolatilityStep);
    const AmericanAtSpot down = option.at_volatility(sigma - kVolatilityStep, &up);
    const auto [up_price, down_price] = prices_together<2>({{{&up, s}, {&down, s}}});
    return vega_of(up_price, down_price);
}

PricingResult<double> am_rho(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const Bumps option{s, k, t, r, sigma, q, type};
    const AmericanAtSpot up = option.at_rate(r + kRateStep);
    const AmericanAtSpot down = option.at_rate(r - kRateStep, &up);
    const auto [up_price, down_price] = prices_together<2>({{{&up, s}, {&down, s}}});
    return rho_of(up_price, down_price);
}

PricingResult<Greeks> am_greeks(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    // Eight distinct prices, their 208 values of N evaluated together; the
    // unbumped one serves both gamma and theta.
    const Bumps option{s, k, t, r, sigma, q, type};
    const AmericanAtSpot price = option.at_any_spot();
    const AmericanAtSpot later = option.at_time(option.time_to_expiry_a_day_later(), &price);
    const AmericanAtSpot vol_up = option.at_volatility(sigma + kVolatilityStep, &price);
    const AmericanAtSpot vol_down = option.at_volatility(sigma - kVolatilityStep, &price);
    const AmericanAtSpot rate_up = option.at_rate(r + kRateStep, &price);
    const AmericanAtSpot rate_down = option.at_rate(r - kRateStep, &price);
    const double h = option.spot_step();
    const auto [centre, spot_up, spot_down, later_price, vol_up_price, vol_down_price, rate_up_price,
                rate_down_price] = prices_together<8>({{{&price, s},
                                                        {&price, s + h},
                                                        {&price, s - h},
                                                        {&later, s},
                                                        {&vol_up, s},
                                                        {&vol_down, s},
                                                        {&rate_up, s},
                                                        {&rate_down, s}}});
    return Greeks{
        delta_of(spot_up, spot_down, h),
        gamma_of(spot_up, centre, spot_down, h),
        theta_of(later_price, centre),
        vega_of(vol_up_price, vol_down_price),
        rho_of(rate_up_price, rate_down_price),
    };
}

}  // namespace velarix
