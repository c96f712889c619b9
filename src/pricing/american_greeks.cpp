// Each American Greek is a finite difference of the price P = american_value
// at bumped inputs; the dividend yield stays fixed, so a bump of r moves the
// cost of carry with it. The bumps are not guarded: a zero spot makes the spot
// step zero and delta and gamma NaN, as the formulas say. The spot-bumped
// prices come from one AmericanPricer, which computes what they share once,
// and the normal distributions of all the prices of one computation are
// evaluated together, as are their exps, logs and pows, round by round,
// where the runtime's lanes are in use. The pricers are not const: gathered
// calls write their values when the round ends.
#include "american_functions.h"

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
    const OptionInputs& option;
    RuntimeCalls& calls;

    // Each bumped pricer takes from `known` (the unbumped one) what it shares.
    AmericanPricer at_any_spot() const { return AmericanPricer(option, calls); }
    AmericanPricer at_time(double time, const AmericanPricer* known = nullptr) const {
        OptionInputs bumped = option;
        bumped.t = time;
        return AmericanPricer(bumped, calls, known);
    }
    AmericanPricer at_volatility(double vol, const AmericanPricer* known = nullptr) const {
        OptionInputs bumped = option;
        bumped.sigma = vol;
        return AmericanPricer(bumped, calls, known);
    }
    AmericanPricer at_rate(double rate, const AmericanPricer* known = nullptr) const {
        OptionInputs bumped = option;
        bumped.r = rate;
        return AmericanPricer(bumped, calls, known);
    }

    double spot_step() const { return kRelativeSpotStep * option.s; }

    // The time to expiry one day later, a day shorter, but never below the
    // minimum (a NaN time also gives the minimum).
    double time_to_expiry_a_day_later() const {
        const double bumped = option.t + kMinusOneDay;
        return bumped > kMinimumBumpedTime ? bumped : kMinimumBumpedTime;
    }
};

double delta_of(double up, double down, double h) { return (up - down) / (h + h); }
double gamma_of(double up, double centre, double down, double h) { return ((up - (centre + centre)) + down) / (h * h); }
double theta_of(double later, double now) { return later - now; }
double vega_of(double up, double down) { return (up - down) / kCentralDivisor; }
double rho_of(double up, double down) { return ((up - down) / kCentralDivisor) / kPercentagePoints; }

}  // namespace

PricingResult<double> am_delta(const OptionInputs& option) {
    RuntimeCalls calls(RuntimeCalls::where_lanes_pay());
    const Bumps bumps{option, calls};
    AmericanPricer price = bumps.at_any_spot();
    const double s = option.s;
    const double h = bumps.spot_step();
    const auto [up, down] = prices_together<2>({{{&price, s + h}, {&price, s - h}}}, calls);
    return delta_of(up, down, h);
}

PricingResult<double> am_gamma(const OptionInputs& option) {
    RuntimeCalls calls(RuntimeCalls::where_lanes_pay());
    const Bumps bumps{option, calls};
    AmericanPricer price = bumps.at_any_spot();
    const double s = option.s;
    const double h = bumps.spot_step();
    const auto [centre, up, down] = prices_together<3>({{{&price, s}, {&price, s + h}, {&price, s - h}}}, calls);
    return gamma_of(up, centre, down, h);
}

PricingResult<double> am_theta(const OptionInputs& option) {
    RuntimeCalls calls(RuntimeCalls::where_lanes_pay());
    const Bumps bumps{option, calls};
    AmericanPricer now = bumps.at_time(option.t);
    AmericanPricer later = bumps.at_time(bumps.time_to_expiry_a_day_later(), &now);
    const auto [now_price, later_price] = prices_together<2>({{{&now, option.s}, {&later, option.s}}}, calls);
    return theta_of(later_price, now_price);
}

PricingResult<double> am_vega(const OptionInputs& option) {
    RuntimeCalls calls(RuntimeCalls::where_lanes_pay());
    const Bumps bumps{option, calls};
    AmericanPricer up = bumps.at_volatility(option.sigma + kVolatilityStep);
    AmericanPricer down = bumps.at_volatility(option.sigma - kVolatilityStep, &up);
    const auto [up_price, down_price] = prices_together<2>({{{&up, option.s}, {&down, option.s}}}, calls);
    return vega_of(up_price, down_price);
}

PricingResult<double> am_rho(const OptionInputs& option) {
    RuntimeCalls calls(RuntimeCalls::where_lanes_pay());
    const Bumps bumps{option, calls};
    AmericanPricer up = bumps.at_rate(option.r + kRateStep);
    AmericanPricer down = bumps.at_rate(option.r - kRateStep, &up);
    const auto [up_price, down_price] = prices_together<2>({{{&up, option.s}, {&down, option.s}}}, calls);
    return rho_of(up_price, down_price);
}

PricingResult<Greeks> am_greeks(const OptionInputs& option) {
    // Eight distinct prices, their 208 values of N evaluated together; the
    // unbumped one serves both gamma and theta.
    RuntimeCalls calls(RuntimeCalls::where_lanes_pay());
    const Bumps bumps{option, calls};
    AmericanPricer price = bumps.at_any_spot();
    AmericanPricer later = bumps.at_time(bumps.time_to_expiry_a_day_later(), &price);
    AmericanPricer vol_up = bumps.at_volatility(option.sigma + kVolatilityStep, &price);
    AmericanPricer vol_down = bumps.at_volatility(option.sigma - kVolatilityStep, &price);
    AmericanPricer rate_up = bumps.at_rate(option.r + kRateStep, &price);
    AmericanPricer rate_down = bumps.at_rate(option.r - kRateStep, &price);
    const double s = option.s;
    const double h = bumps.spot_step();
    const auto [centre, spot_up, spot_down, later_price, vol_up_price, vol_down_price, rate_up_price,
                rate_down_price] = prices_together<8>({{{&price, s},
                                                        {&price, s + h},
                                                        {&price, s - h},
                                                        {&later, s},
                                                        {&vol_up, s},
                                                        {&vol_down, s},
                                                        {&rate_up, s},
                                                        {&rate_down, s}}}, calls);
    return Greeks{
        delta_of(spot_up, spot_down, h),
        gamma_of(spot_up, centre, spot_down, h),
        theta_of(later_price, centre),
        vega_of(vol_up_price, vol_down_price),
        rho_of(rate_up_price, rate_down_price),
    };
}

}  // namespace velarix
