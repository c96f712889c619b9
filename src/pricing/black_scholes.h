// European Greeks in the Black-Scholes model with a continuous dividend
// yield q. One computation per module function, under the same name, and
// the Greeks of a block of options at once, with the bits of bs_greeks.
// Nothing is validated: zeros, infinities and NaN follow IEEE-754 rules.
#pragma once

#include <array>
#include <cstddef>

#include "greeks.h"
#include "option_inputs.h"
#include "pricing_result.h"

namespace velarix {

// Gamma and vega are the same for calls and puts: they do not read the type.
PricingResult<double> bs_delta(const OptionInputs& option);
PricingResult<double> bs_gamma(const OptionInputs& option);
PricingResult<double> bs_theta(const OptionInputs& option);
PricingResult<double> bs_vega(const OptionInputs& option);
PricingResult<double> bs_rho(const OptionInputs& option);
PricingResult<Greeks> bs_greeks(const OptionInputs& option);

// Options in columns, as many as a block computation takes at once: enough
// for the batches of exp, log, pow and N to run mostly in full lanes, few
// enough that the block's columns and intermediates stay in the L1 cache.
inline constexpr std::size_t kOptionBlockSize = 256;

struct OptionBlock {
    std::array<double, kOptionBlockSize> s, k, t, r, sigma, q;
    std::array<OptionType, kOptionBlockSize> type;

    void set(std::size_t index, const OptionInputs& option) {
        s[index] = option.s;
        k[index] = option.k;
        t[index] = option.t;
        r[index] = option.r;
        sigma[index] = option.sigma;
        q[index] = option.q;
        type[index] = option.type;
    }
    OptionInputs option(std::size_t index) const {
        return {.s = s[index], .k = k[index], .t = t[index], .r = r[index], .sigma = sigma[index], .q = q[index],
                .type = type[index]};
    }
};

// Where a block's Greeks go: element i of each column for option i.
struct GreeksColumns {
    double* delta;
    double* gamma;
    double* theta;
    double* vega;
    double* rho;
};

// bs_greeks of options 0 .. count-1 of the block (count at most
// kOptionBlockSize), bit for bit, written to the columns.
void bs_greeks_block(const OptionBlock& options, std::size_t count, const GreeksColumns& greeks);

}  // namespace velarix
