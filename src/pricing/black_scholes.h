// European Greeks in the Black-Scholes model with a continuous dividend
// yield q. One computation per module function, under the same name, and
// each over a block of options at once, with the same bits.
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

    OptionInputs option(std::size_t index) const {
        return {.s = s[index], .k = k[index], .t = t[index], .r = r[index], .sigma = sigma[index], .q = q[index],
                .type = type[index]};
    }
};

// The European functions a block computes: one Greek, or all five.
enum class BlockFunction { Delta, Gamma, Theta, Vega, Rho, Greeks };

// Where a block's results go: element i of a column for option i; the
// first column for one Greek, the five in the order of Greeks for all.
using BlockColumns = std::array<double*, 5>;

// bs_delta .. bs_rho or bs_greeks of options 0 .. count-1 of the block
// (count at most kOptionBlockSize), bit for bit, written to the columns.
void european_block(BlockFunction function, const OptionBlock& options, std::size_t count,
                    const BlockColumns& columns);

}  // namespace velarix
