// Closed-form European Greeks. Each formula is evaluated in exactly the order
// written here: the order of the floating-point operations is part of the
// results, so that they are reproducible to the last bit for a given C
// runtime exp, log and pow. The all-Greeks computation shares d1 and the
// discount factors with the single Greeks without changing a bit, because it
// evaluates the very same expressions.
//
// The formulas take their exp, log, pow and N through a `math` argument with
// one member per slot of the formulas. For one option (CallRuntime) each
// member calls the function where the formula has it. A block of options
// runs the same formulas three times: once recording the arguments of log,
// once (log's values given) recording those of exp, pow and N, and once with
// every value given, the values computed in between in batches
// (runtime_math_lanes.h, standard_normal_cdf_batch) with the scalar calls'
// bits. The formulas are written once, and the scalar module compiles them
// as before: the same operations on the same operands. (An option of the
// block with a NaN result takes the scalar function's results, for the
// NaN's sign.)
#include "black_scholes.h"

#include <algorithm>

#include "normal_distribution.h"
#include "normal_distribution_lanes.h"
#include "runtime_math.h"
#include "runtime_math_lanes.h"

namespace velarix {
namespace {

// The double nearest to e: gamma takes its dividend discount through pow,
// which may differ in the last bit from exp.
constexpr double kEulersNumber = 2.718281828459045;

// The runtime functions, called where the formulas have them.
struct CallRuntime {
    double log_moneyness(double ratio) const { return std::log(ratio); }
    double dividend_discount(double exponent) const { return std::exp(exponent); }
    double rate_discount(double exponent) const { return std::exp(exponent); }
    double gamma_dividend_discount(double exponent) const { return std::pow(kEulersNumber, exponent); }
    double density_exp(double exponent) const { return std::exp(exponent); }
    double cdf_d1(double x) const { return standard_normal_cdf(x); }
    double cdf_d2(double x) const { return standard_normal_cdf(x); }
};

struct D1 {
    double sqrt_t;
    double sigma_sqrt_t;
    double d1;
};

template <class Math>
D1 compute_d1(const OptionInputs& option, const Math& math) {
    const double log_moneyness = math.log_moneyness(option.s / option.k);
    const double sqrt_t = std::sqrt(option.t);
    const double sigma_sqrt_t = sqrt_t * option.sigma;
    const double d1 =
        (((option.sigma * option.sigma) * 0.5 + (option.r - option.q)) * option.t + log_moneyness) / sigma_sqrt_t;
    return {sqrt_t, sigma_sqrt_t, d1};
}

template <class Math>
double dividend_discount(const OptionInputs& option, const Math& math) {
    return math.dividend_discount((-option.q) * option.t);
}

template <class Math>
double rate_discount(const OptionInputs& option, const Math& math) {
    return math.rate_discount((-option.r) * option.t);
}

// normal_pdf(d1), in its order of operations.
template <class Math>
double density(double d1, const Math& math) {
    return math.density_exp((-0.5 * d1) * d1) / kSqrtTwoPi;
}

template <class Math>
double delta_of(double d1, double dividend_discount, OptionType type, const Math& math) {
    if (type == OptionType::Call) {
        return math.cdf_d1(d1) * dividend_discount;
    }
    return math.cdf_d1(-d1) * (-dividend_discount);
}

template <class Math>
double gamma_of(const D1& terms, const OptionInputs& option, const Math& math) {
    const double dividend_discount = math.gamma_dividend_discount((-option.q) * option.t);
    return (density(terms.d1, math) * dividend_discount) / ((option.s * option.sigma) * terms.sqrt_t);
}

template <class Math>
double vega_of(const D1& terms, double s, double dividend_discount, const Math& math) {
    return (density(terms.d1, math) * (s * dividend_discount)) * terms.sqrt_t;
}

template <class Math>
double rho_of(double d2, const OptionInputs& option, double rate_discount, const Math& math) {
    if (option.type == OptionType::Call) {
        return (math.cdf_d2(d2) * ((option.k * option.t) * rate_discount)) / kPercentagePoints;
    }
    return (math.cdf_d2(-d2) * (((-option.k) * option.t) * rate_discount)) / kPercentagePoints;
}

template <class Math>
double theta_of(const D1& terms, const OptionInputs& option, double dividend_discount, double rate_discount,
                const Math& math) {
    const double d1 = terms.d1;
    const double d2 = d1 - terms.sigma_sqrt_t;
    // -s sigma e^(-qt) phi(d1) / (2 sqrt t): the density divided by the
    // negated constant, and 2 sqrt t formed as a sum.
    const double decay =
        (((option.sigma * option.s) * dividend_discount) * (math.density_exp((-0.5 * d1) * d1) / (-kSqrtTwoPi))) /
        (terms.sqrt_t + terms.sqrt_t);
    const double strike_carry = (option.k * option.r) * rate_discount;
    const double dividend_carry = (option.s * option.q) * dividend_discount;
    if (option.type == OptionType::Call) {
        return ((decay - strike_carry * math.cdf_d2(d2)) + math.cdf_d1(d1) * dividend_carry) / kDaysPerYear;
    }
    return ((strike_carry * math.cdf_d2(-d2) + decay) - math.cdf_d1(-d1) * dividend_carry) / kDaysPerYear;
}

template <class Math>
PricingResult<Greeks> greeks_of(const D1& terms, const OptionInputs& option, const Math& math) {
    const double dividend = dividend_discount(option, math);
    const double rate = rate_discount(option, math);
    return Greeks{
        delta_of(terms.d1, dividend, option.type, math),
        gamma_of(terms, option, math),
        theta_of(terms, option, dividend, rate, math),
        vega_of(terms, option.s, dividend, math),
        rho_of(terms.d1 - terms.sigma_sqrt_t, option, rate, math),
    };
}

constexpr CallRuntime kCalls;

// One slot per runtime value of a block's options: the arguments, recorded
// by the formulas, then in place the values.
struct BlockSlots {
    // Zeros first: GCC cannot see that the formulas write it before log_batch reads it.
    std::array<double, kOptionBlockSize> log_moneyness{};
    std::array<double, kOptionBlockSize> gamma_exponent;
    std::array<double, kOptionBlockSize> gamma_dividend_discount;
    // The arguments of exp: dividend discounts, rate discounts, density exps.
    std::array<std::array<double, kOptionBlockSize>, 3> exps;
    std::array<std::array<double, kOptionBlockSize>, 2> cdf_arguments;  // of N at d1, at d2
    std::array<std::array<double, kOptionBlockSize>, 2> cdfs;
};

// The formulas' math for option `index` of a block: each member records its
// argument in the slot and returns a stand-in. The formulas' results are
// then meaningless, and discarded (the compiler drops their arithmetic).
struct RecordArguments {
    BlockSlots& slots;
    std::size_t index;

    double log_moneyness(double ratio) const { return slots.log_moneyness[index] = ratio; }
    double dividend_discount(double exponent) const { return slots.exps[0][index] = exponent; }
    double rate_discount(double exponent) const { return slots.exps[1][index] = exponent; }
    double gamma_dividend_discount(double exponent) const { return slots.gamma_exponent[index] = exponent; }
    double density_exp(double exponent) const { return slots.exps[2][index] = exponent; }
    double cdf_d1(double x) const { return slots.cdf_arguments[0][index] = x; }
    double cdf_d2(double x) const { return slots.cdf_arguments[1][index] = x; }
};

// The formulas' math for option `index` of a block once the batches have
// replaced the arguments by their values.
struct GivenValues {
    const BlockSlots& slots;
    std::size_t index;

    double log_moneyness(double) const { return slots.log_moneyness[index]; }
    double dividend_discount(double) const { return slots.exps[0][index]; }
    double rate_discount(double) const { return slots.exps[1][index]; }
    double gamma_dividend_discount(double) const { return slots.gamma_dividend_discount[index]; }
    double density_exp(double) const { return slots.exps[2][index]; }
    double cdf_d1(double) const { return slots.cdfs[0][index]; }
    double cdf_d2(double) const { return slots.cdfs[1][index]; }
};

// The bases of gamma's pow over a block.
constexpr auto kEulersNumbers = [] {
    std::array<double, kOptionBlockSize> bases{};
    bases.fill(kEulersNumber);
    return bases;
}();

// Which batches a formula's slots need, found by running it once with
// NoteBatches (which slots it fills does not depend on the option): a block
// of one Greek runs only its own.
struct BatchesUsed {
    bool gamma_power = false;
    std::array<bool, 3> exps{};
    std::array<bool, 2> cdfs{};
};

struct NoteBatches {
    BatchesUsed& used;

    double log_moneyness(double ratio) const { return ratio; }
    double dividend_discount(double exponent) const { return used.exps[0] = true, exponent; }
    double rate_discount(double exponent) const { return used.exps[1] = true, exponent; }
    double gamma_dividend_discount(double exponent) const { return used.gamma_power = true, exponent; }
    double density_exp(double exponent) const { return used.exps[2] = true, exponent; }
    double cdf_d1(double x) const { return used.cdfs[0] = true, x; }
    double cdf_d2(double x) const { return used.cdfs[1] = true, x; }
};

// The functions a block computes: each a formula of the templates above, as
// its scalar function evaluates it, the scalar function itself (for the
// options with a NaN result), and its results as columns.
struct DeltaFormula {
    static constexpr auto scalar = bs_delta;
    template <class Math>
    double operator()(const D1& terms, const OptionInputs& option, const Math& math) const {
        return delta_of(terms.d1, dividend_discount(option, math), option.type, math);
    }
};
struct GammaFormula {
    static constexpr auto scalar = bs_gamma;
    template <class Math>
    double operator()(const D1& terms, const OptionInputs& option, const Math& math) const {
        return gamma_of(terms, option, math);
    }
};
struct ThetaFormula {
    static constexpr auto scalar = bs_theta;
    template <class Math>
    double operator()(const D1& terms, const OptionInputs& option, const Math& math) const {
        return theta_of(terms, option, dividend_discount(option, math), rate_discount(option, math), math);
    }
};
struct VegaFormula {
    static constexpr auto scalar = bs_vega;
    template <class Math>
    double operator()(const D1& terms, const OptionInputs& option, const Math& math) const {
        return vega_of(terms, option.s, dividend_discount(option, math), math);
    }
};
struct RhoFormula {
    static constexpr auto scalar = bs_rho;
    template <class Math>
    double operator()(const D1& terms, const OptionInputs& option, const Math& math) const {
        return rho_of(terms.d1 - terms.sigma_sqrt_t, option, rate_discount(option, math), math);
    }
};
struct GreeksFormula {
    static constexpr auto scalar = bs_greeks;
    template <class Math>
    Greeks operator()(const D1& terms, const OptionInputs& option, const Math& math) const {
        return greeks_of(terms, option, math).value();
    }
};

// Each scalar function is its formula on the runtime's functions.
template <class Formula>
auto at_once(const OptionInputs& option) {
    return Formula{}(compute_d1(option, kCalls), option, kCalls);
}

std::array<double, 1> as_columns(double value) { return {value}; }
std::array<double, 5> as_columns(const Greeks& greeks) {
    return {greeks.delta, greeks.gamma, greeks.theta, greeks.vega, greeks.rho};
}

// The scalar function's results for one option of a block, as columns.
template <class Formula>
auto scalar_columns(const OptionInputs& option) {
    return as_columns(Formula::scalar(option).value());
}

template <class Formula>
const BatchesUsed& batches_used() {
    static const BatchesUsed used = [] {
        BatchesUsed noted;
        const OptionInputs any{.s = 1.0, .k = 1.0, .t = 1.0, .r = 0.0, .sigma = 1.0, .q = 0.0, .type = OptionType::Call};
        static_cast<void>(Formula{}(compute_d1(any, NoteBatches{noted}), any, NoteBatches{noted}));
        return noted;
    }();
    return used;
}

// A block's computation: three loops of arithmetic over its columns around
// the batches. The loops are plain enough for the compilers to vectorise,
// and a vector operation rounds each lane as the scalar one would, so any
// width gives the scalar bits. The results are gathered in the block's own
// columns, mended where they hold a NaN, and copied out whole (the compilers
// do not vectorise stores to caller's columns that may overlap).
template <class Formula>
void formula_block(const OptionBlock& options, std::size_t count, const BlockColumns& columns) {
    const BatchesUsed& used = batches_used<Formula>();
    const Formula formula;
    BlockSlots slots;
    std::array<D1, kOptionBlockSize> terms;
    for (std::size_t i = 0; i < count; ++i) {
        compute_d1(options.option(i), RecordArguments{slots, i});
    }
    runtime_lanes::log_batch(slots.log_moneyness.data(), slots.log_moneyness.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
        const OptionInputs option = options.option(i);
        terms[i] = compute_d1(option, GivenValues{slots, i});
        static_cast<void>(formula(terms[i], option, RecordArguments{slots, i}));
    }
    if (used.gamma_power) {
        runtime_lanes::pow_batch(kEulersNumbers.data(), slots.gamma_exponent.data(),
                                 slots.gamma_dividend_discount.data(), count);
    }
    for (std::size_t j = 0; j < slots.exps.size(); ++j) {
        if (used.exps[j]) {
            runtime_lanes::exp_batch(slots.exps[j].data(), slots.exps[j].data(), count);
        }
    }
    for (std::size_t j = 0; j < slots.cdfs.size(); ++j) {
        if (used.cdfs[j]) {
            standard_normal_cdf_batch(slots.cdf_arguments[j].data(), slots.cdfs[j].data(), count);
        }
    }
    constexpr std::size_t kWidth = std::tuple_size_v<decltype(as_columns(formula(D1{}, OptionInputs{}, kCalls)))>;
    std::array<std::array<double, kOptionBlockSize>, kWidth> results;
    for (std::size_t i = 0; i < count; ++i) {
        const auto values = as_columns(formula(terms[i], options.option(i), GivenValues{slots, i}));
        for (std::size_t g = 0; g < kWidth; ++g) {
            results[g][i] = values[g];
        }
    }
    // Where two NaNs meet in an addition or a multiplication, the result is
    // the NaN of the operand the compiler put first, which it chooses here
    // and in the scalar functions alike but not alike. Any other result has
    // the same bits whatever the order; an option with a NaN takes the
    // scalar function's results, NaN signs included. (Counted first, in
    // lanes: NaNs are rare.)
    std::size_t nans = 0;
    for (std::size_t g = 0; g < kWidth; ++g) {
        for (std::size_t i = 0; i < count; ++i) {
            nans += static_cast<std::size_t>(results[g][i] != results[g][i]);
        }
    }
    for (std::size_t i = 0; nans > 0 && i < count; ++i) {
        bool has_nan = false;
        for (std::size_t g = 0; g < kWidth; ++g) {
            has_nan = has_nan || std::isnan(results[g][i]);
        }
        if (has_nan) {
            const auto values = scalar_columns<Formula>(options.option(i));
            for (std::size_t g = 0; g < kWidth; ++g) {
                results[g][i] = values[g];
            }
        }
    }
    for (std::size_t g = 0; g < kWidth; ++g) {
        std::copy_n(results[g].data(), count, columns[g]);
    }
}

// Each block compiled twice: for every CPU of the architecture (on x86-64,
// SSE2's two lanes) and for AVX-512 (eight lanes), taken where the core's
// own lanes are in use. Flattened: the formulas' templates are too large
// for the compilers to inline on their own, and the loops vectorise only
// once they are inlined.
template <class Formula>
[[gnu::flatten]] void portable_block(const OptionBlock& options, std::size_t count, const BlockColumns& columns) {
    formula_block<Formula>(options, count, columns);
}

#ifdef VELARIX_AVX512_LANES
template <class Formula>
[[gnu::flatten]] __attribute__((target("avx512f"))) void avx512_block(const OptionBlock& options, std::size_t count,
                                                                       const BlockColumns& columns) {
    formula_block<Formula>(options, count, columns);
}
#endif

// Fewer options than this cost less one by one than as a block, whose
// batches have a fixed cost: about 100 ns, some two options' worth.
constexpr std::size_t kFewestOptionsForABlock = 4;

template <class Formula>
void block_of(const OptionBlock& options, std::size_t count, const BlockColumns& columns) {
    if (count < kFewestOptionsForABlock) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto values = scalar_columns<Formula>(options.option(i));
            for (std::size_t g = 0; g < values.size(); ++g) {
                columns[g][i] = values[g];
            }
        }
        return;
    }
#ifdef VELARIX_AVX512_LANES
    if (core_lanes_in_use()) {
        avx512_block<Formula>(options, count, columns);
        return;
    }
#endif
    portable_block<Formula>(options, count, columns);
}

}  // namespace

// The scalar functions are never inlined into this file's blocks, which call
// them for their options with a NaN: compiled anew there, the code would be
// free to order commutative operands otherwise, and a NaN's sign could
// differ from the one the module functions give.
#define VELARIX_CALLED_AS_IS [[gnu::noinline]]

VELARIX_CALLED_AS_IS PricingResult<double> bs_delta(const OptionInputs& option) { return at_once<DeltaFormula>(option); }
VELARIX_CALLED_AS_IS PricingResult<double> bs_gamma(const OptionInputs& option) { return at_once<GammaFormula>(option); }
VELARIX_CALLED_AS_IS PricingResult<double> bs_theta(const OptionInputs& option) { return at_once<ThetaFormula>(option); }
VELARIX_CALLED_AS_IS PricingResult<double> bs_vega(const OptionInputs& option) { return at_once<VegaFormula>(option); }
VELARIX_CALLED_AS_IS PricingResult<double> bs_rho(const OptionInputs& option) { return at_once<RhoFormula>(option); }
// greeks_of gives bs_greeks its result as it is, which a detour through
// GreeksFormula's plain Greeks would copy.
VELARIX_CALLED_AS_IS PricingResult<Greeks> bs_greeks(const OptionInputs& option) {
    const D1 terms = compute_d1(option, kCalls);
    return greeks_of(terms, option, kCalls);
}

void european_block(BlockFunction function, const OptionBlock& options, std::size_t count,
                    const BlockColumns& columns) {
    switch (function) {
        case BlockFunction::Delta:
            return block_of<DeltaFormula>(options, count, columns);
        case BlockFunction::Gamma:
            return block_of<GammaFormula>(options, count, columns);
        case BlockFunction::Theta:
            return block_of<ThetaFormula>(options, count, columns);
        case BlockFunction::Vega:
            return block_of<VegaFormula>(options, count, columns);
        case BlockFunction::Rho:
            return block_of<RhoFormula>(options, count, columns);
        case BlockFunction::Greeks:
            return block_of<GreeksFormula>(options, count, columns);
    }
}

}  // namespace velarix
