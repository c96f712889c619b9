// The Black-Scholes value of a European put of strike 1 with a continuous
// yield, e^(-rT) N(-d-) - S e^(-qT) N(-d+), on the full-precision exp, log
// and N of precise_math.h.
#include "european_price.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "precise_math.h"

namespace velarix {

StrikeOnePut strike_one_put(const OptionInputs& o) {
    if (o.type == OptionType::Put) {
        return {.spot = o.s / o.k, .scale = o.k, .t = o.t, .r = o.r, .q = o.q, .sigma = o.sigma};
    }
    return {.spot = o.k / o.s, .scale = o.s, .t = o.t, .r = o.q, .q = o.r, .sigma = o.sigma};
}

bool is_priceable(const OptionInputs& o) {
    const bool finite = std::isfinite(o.s) && std::isfinite(o.k) && std::isfinite(o.t) && std::isfinite(o.r) &&
                        std::isfinite(o.sigma) && std::isfinite(o.q);
    return finite && o.s > 0.0 && o.k > 0.0 && o.t >= 0.0 && o.sigma >= 0.0;
}

EuropeanPut european_put(const StrikeOnePut& put) {
    const double sigma_root_t = put.sigma * std::sqrt(put.t);
    const double log_spot = precise::log(put.spot);
    const double d_plus = (log_spot + ((put.r - put.q) + 0.5 * put.sigma * put.sigma) * put.t) / sigma_root_t;
    const double d_minus = d_plus - sigma_root_t;
    const double yield_discount = precise::exp(-put.q * put.t);
    const double yield_tail = precise::normal_cdf(-d_plus);
    const double value =
        precise::exp(-put.r * put.t) * precise::normal_cdf(-d_minus) - put.spot * (yield_discount * yield_tail);
    return {value, d_plus, yield_discount, yield_tail, sigma_root_t};
}

double european_price(const OptionInputs& option) {
    if (!is_priceable(option)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const StrikeOnePut put = strike_one_put(option);
    if (put.t == 0.0 || put.sigma == 0.0) {
        const double forward_value =
            precise::exp(-put.r * put.t) - put.spot * precise::exp(-put.q * put.t);
        return put.scale * std::max(forward_value, 0.0);
    }
    return put.scale * european_put(put).value;
}

}  // namespace velarix
