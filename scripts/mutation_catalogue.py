"""The faults the mutation run (scripts/mutation.py) plants, one at a time.

Each is a plausible slip a developer or a refactoring could make: a constant
off in its last digit, operations regrouped, an interval bound moved by one
comparison, a wrong index or sign, a name list off by one, a reference
taken or released once too often, a rounding rule changed. Each is an exact
text replacement whose anchor occurs once in its file; a fault whose anchor
is gone is reported by the run, so the catalogue is kept in step with the
code.

A mutant that cannot change any observable result (its bits, its messages,
its references, its memory) is marked `equivalent`, with the reason; the run
expects it to survive. `ci` marks the subset CI runs: at least one fault of
each kind, across the core, both modules and their shared binding.
"""
from dataclasses import dataclass


@dataclass(frozen=True)
class Mutant:
    id: str
    file: str
    anchor: str
    replacement: str
    fault: str
    ci: bool = False
    equivalent: str | None = None


NORMAL = "src/pricing/normal_distribution.cpp"
NORMAL_H = "src/pricing/normal_distribution.h"
BS = "src/pricing/black_scholes.cpp"
BJS = "src/pricing/bjerksund_stensland.cpp"
BJS_H = "src/pricing/bjerksund_stensland.h"
AMG = "src/pricing/american_greeks.cpp"
ERRORS = "src/binding/error_translation.cpp"
ERRORS_H = "src/binding/error_translation.h"
CONVERT = "src/binding/value_conversion.cpp"
BIND = "src/binding/argument_binding.cpp"
TABLE = "src/binding/function_table.h"
GREEKS = "src/binding/greeks_type.cpp"
DECIMAL = "src/binding/decimal_text.cpp"
MODULE = "src/binding/module.cpp"
COLUMNS = "src/binding/batch_columns.cpp"
COLUMNS_H = "src/binding/batch_columns.h"
BATCH = "src/binding/batch_dispatch.cpp"
WALK = "src/binding/strided_walk.h"
BATCH_MODULE = "src/binding/batch_module.cpp"
PRECISE = "src/pricing/precise_math.h"
PRECISE_CPP = "src/pricing/precise_math.cpp"
PRECISE_KERNELS = "src/pricing/precise_math_kernels.h"
PRECISE_TABLES = "src/pricing/precise_math_tables.h"
LANES = "src/pricing/simd_lanes.h"

CATALOGUE = [
    # The normal distribution: constants, interval bounds, reflections, both paths.
    Mutant("normal-tiny-bound", NORMAL, "kTinyArgument = 1e-10;", "kTinyArgument = 1e-9;",
           "the linear form's range ends ten times too late"),
    Mutant("normal-small-coefficient", NORMAL, "-0.0007369565304816795, -0.3747323373929196",
           "-0.0007369565340816795, -0.3747323373929196", "a rational coefficient with two digits transposed",
           ci=True),
    Mutant("normal-interval-offset", NORMAL, "{24.0, 0.5638477802,", "{24.0, 0.5638477801,",
           "a far interval's Y off in its last digit"),
    Mutant("normal-interval-bound", NORMAL, "z >= kErfcIntervals[index + 1].lower",
           "z > kErfcIntervals[index + 1].lower", "a z equal to an interval bound taken by the interval below",
           ci=True),
    Mutant("normal-cutoff", NORMAL, "} else if (z >= kUpperCutoff) {", "} else if (z > kUpperCutoff) {",
           "z exactly at the cutoff falls through to the NaN branch"),
    Mutant("normal-reflection-bound", NORMAL, "if (z < -kLowerRangeLimit) {", "if (z <= -kLowerRangeLimit) {",
           "z = -0.5 reflected through erfc instead of erf",
           equivalent="it changes only z = -0.5 itself, where (1 - erfc(0.5)) + 1 and 2 - erfc(0.5) are "
                      "the same double"),
    Mutant("normal-erfc-order", NORMAL, "v = correction * scale + interval.offset * scale;",
           "v = (correction + interval.offset) * scale;", "the erfc form factored"),
    Mutant("normal-horner-constant", NORMAL, "for (std::size_t power = Size - 1; power-- > 0;)",
           "for (std::size_t power = Size - 1; power-- > 1;)",
           "Horner's scheme stops before the constant term"),
    Mutant("normal-infinity", NORMAL, "if (z == -INFINITY) {\n        return 1.0;",
           "if (z == -INFINITY) {\n        return 0.0;", "N(+inf) is 0"),
    Mutant("normal-lanes-bound", NORMAL, "compare<_CMP_GE_OQ>(lanes[g].a, kErfcIntervals[index].lower)",
           "compare<_CMP_GT_OQ>(lanes[g].a, kErfcIntervals[index].lower)",
           "the SIMD lanes put a bound in the interval below", ci=True),
    Mutant("normal-lanes-tiny", NORMAL, "compare<_CMP_LT_OQ>(a, kTinyArgument), tiny_erf",
           "compare<_CMP_LE_OQ>(a, kTinyArgument), tiny_erf", "the SIMD lanes' linear range includes its bound",
           equivalent="the lanes compute N only, and N takes erf near zero through 1 - erf or erf + 1, whose "
                      "rounding absorbs the difference of the two forms (checked over 200,000 arguments near "
                      "the bound); the form of erf itself there is tested on the scalar path"),
    Mutant("normal-lanes-reflection", NORMAL, "compare<_CMP_LT_OQ>(lanes[g].z, -kLowerRangeLimit)",
           "compare<_CMP_LE_OQ>(lanes[g].z, -kLowerRangeLimit)", "the SIMD lanes reflect z = -0.5 through erfc",
           equivalent="as normal-reflection-bound: at a = 0.5 both forms give the same double"),
    Mutant("normal-lanes-scale", NORMAL, "_mm512_set1_pd(1.0 * kSqrt2)", "_mm512_set1_pd(1.4142135623730950)",
           "the SIMD lanes scale by a sqrt 2 one bit off"),
    Mutant("normal-first-interval-top", NORMAL, "0.0025083967216806575},", "0.0025083967216806557},",
           "the first erfc interval's highest coefficient with two digits transposed (about one result in a "
           "million changes)"),
    Mutant("normal-underflowed-interval", NORMAL, "6.037155055427153e-11}", "6.037155055427135e-11}",
           "a coefficient of the last erfc interval with two digits transposed",
           equivalent="from z = 27.3 on exp(-z*z) is zero in double precision, so the intervals from 38 on "
                      "give erfc = +0 whatever their coefficients; the SIMD lanes likewise"),
    Mutant("normal-dispatch", NORMAL, "cpu_has(NormalPath::Avx512) ? NormalPath::Avx512 : NormalPath::Scalar",
           "NormalPath::Scalar", "the SIMD path is never taken",
           equivalent="both paths give the same bits by design (a test compares them over every region); "
                      "only the speed changes, which the benchmarks measure"),
    Mutant("normal-pdf-constant", NORMAL_H, "kSqrtTwoPi = 2.5066282746310007", "kSqrtTwoPi = 2.5066282746310002",
           "sqrt(2 pi) a few bits off"),

    # Black-Scholes: operation orders, the dividend discount through pow, signs.
    Mutant("bs-d1-grouping", BS, "((option.sigma * option.sigma) * 0.5 + (option.r - option.q)) * option.t",
           "(((option.sigma * option.sigma) * 0.5 + option.r) - option.q) * option.t",
           "d1's carry regrouped", ci=True),
    Mutant("bs-euler", BS, "kEuler = 2.718281828459045;", "kEuler = 2.7182818284590455;",
           "gamma's e one bit off"),
    Mutant("bs-gamma-exp", BS, "std::pow(kEuler, (-option.q) * option.t)", "std::exp((-option.q) * option.t)",
           "gamma discounts the dividend through exp, not pow"),
    Mutant("bs-put-delta", BS, "return standard_normal_cdf(-d1) * (-dividend_discount);",
           "return (standard_normal_cdf(d1) - 1.0) * dividend_discount;", "put delta by parity"),
    Mutant("bs-vega-grouping", BS, "(normal_pdf(terms.d1) * (s * dividend_discount)) * terms.sqrt_t",
           "((normal_pdf(terms.d1) * s) * dividend_discount) * terms.sqrt_t", "vega's product regrouped"),
    Mutant("bs-theta-two-sqrt", BS, "(terms.sqrt_t + terms.sqrt_t)", "(2.0 * terms.sqrt_t)",
           "2 sqrt t as a product",
           equivalent="x + x and 2.0 * x are the same correctly rounded double for every x"),
    Mutant("bs-theta-put-sign", BS, "+ decay) - standard_normal_cdf(-d1) * dividend_carry)",
           "+ decay) + standard_normal_cdf(-d1) * dividend_carry)", "put theta adds the dividend carry"),
    Mutant("bs-theta-call-d2", BS, "+ standard_normal_cdf(d1) * dividend_carry)",
           "+ standard_normal_cdf(d2) * dividend_carry)", "call theta's dividend term at d2"),
    Mutant("bs-rho-scale", BS, "(((-option.k) * option.t) * rate_discount)) / kPercentagePoints;",
           "(((-option.k) * option.t) * rate_discount)) * 0.01;",
           "put rho scaled by a product with 0.01"),
    Mutant("bs-greeks-discount", BS, "const double rate_discount = discount(option.r, option.t);",
           "const double rate_discount = discount(option.q, option.t);",
           "bs_greeks discounts the strike at the dividend yield"),
    Mutant("greeks-percentage-points", "src/pricing/greeks.h", "kPercentagePoints = 100.0;",
           "kPercentagePoints = 100.00000000000001;", "rho's percentage point one bit off"),

    # The option-type text.
    Mutant("type-fold-range", "src/pricing/option_type.cpp", "c >= 'A' && c <= 'Z'", "c > 'A' && c <= 'Z'",
           "the upper-case A is not folded"),
    Mutant("type-word", "src/pricing/option_type.cpp", 'lowered == "put"', 'lowered == "puts"',
           "the word put misspelt"),
    Mutant("type-longest", "src/pricing/option_type.cpp", "kLongestWord = 4;", "kLongestWord = 3;",
           "texts of four letters refused before reading"),
    Mutant("type-message", "src/pricing/option_type.h", "Use 'call' or 'put'.\";", "Use 'call' or 'put'\";",
           "the refusal's message loses its final period"),
    Mutant("result-message", "src/pricing/pricing_result.cpp", '"Invalid parameters: " + detail_',
           '"Invalid parameters:" + detail_', "the parameter failure's message loses its space"),
    Mutant("result-has-value", "src/pricing/pricing_result.h", "return outcome_.index() == 0;",
           "return outcome_.index() != 1 && outcome_.index() != 0;", "every result reads as a failure"),
    Mutant("runtime-log-wrapper", "src/pricing/runtime_math.h",
           '__asm__(".symver log,__log_finite@" VELARIX_GLIBC_FINITE_ALIASES);',
           '__asm__(".symver log,log@GLIBC_2.2.5");', "log bound to glibc's old error-handling wrapper"),

    # Bjerksund-Stensland: regimes, boundaries, the twelve terms, the put transformation.
    Mutant("am-golden", BJS, "kGoldenFraction = 0.6180339887498949;", "kGoldenFraction = 0.618;",
           "t1 from the rounded 0.618"),
    Mutant("am-regime-boundary", BJS, "if (b >= r) {  // never optimal", "if (b > r) {  // never optimal",
           "a carry exactly equal to the rate takes the early-exercise path", ci=True),
    Mutant("am-expired-boundary", BJS, "if (T <= 0.0) {  // expired", "if (T < 0.0) {  // expired",
           "T = 0 is priced as a live option"),
    Mutant("am-b-zero", BJS, "(horizons.r / (horizons.r - horizons.b)) * K",
           "(horizons.r * K) / (horizons.r - horizons.b)", "B0 computed in another order"),
    Mutant("am-b-zero-tie", BJS, "b_zero_candidate > K ? b_zero_candidate : K",
           "b_zero_candidate >= K ? b_zero_candidate : K", "B0's maximum prefers the candidate on a tie",
           equivalent="on a tie both sides are the same double, so either choice gives the same bits"),
    Mutant("am-b-infinity", BJS, "(beta / (beta - 1.0)) * K", "(beta * K) / (beta - 1.0)",
           "B_inf computed in another order"),
    Mutant("am-trigger-h", BJS, "(2.0 * horizons.sigma) * horizon.sqrt_tau",
           "2.0 * (horizons.sigma * horizon.sqrt_tau)", "h's volatility term regrouped",
           equivalent="doubling is exact, so 2 (sigma sqrt tau) and (2 sigma) sqrt tau are the same double"),
    Mutant("am-trigger-form", BJS, "return b_zero + (b_infinity - b_zero) * (1.0 - boundary.trigger_growth[horizon_index]);",
           "return b_infinity - (b_infinity - b_zero) * boundary.trigger_growth[horizon_index];",
           "the trigger rearranged algebraically", ci=True),
    Mutant("am-alpha", BJS, "(boundary.i2 - K) * std::pow(boundary.i2, -beta)",
           "(boundary.i2 - K) / std::pow(boundary.i2, beta)", "alpha2 divides by I2^beta"),
    Mutant("am-immediate-exercise", BJS, "if (S >= boundary.i2) {", "if (S > boundary.i2) {",
           "a spot exactly at the trigger is priced by the formula", ci=True),
    Mutant("am-kappa", BJS, "two_carry_ratio + (2.0 * beta - 1.0)", "(two_carry_ratio + 2.0 * beta) - 1.0",
           "kappa of beta regrouped"),
    Mutant("am-beta-rate", BJS, "((0.5 * beta) * (beta - 1.0)) * sigma2", "(0.5 * beta) * ((beta - 1.0) * sigma2)",
           "lambda of beta regrouped (near zero: rarely seen in the price)", ci=True),
    Mutant("am-term-level", BJS, "    {kFirstPeriod, kZero, kLevelI2},", "    {kFirstPeriod, kZero, kLevelI1},",
           "one of the twelve terms at the wrong level"),
    Mutant("am-term-sign", BJS, "v = v - K * term(10);", "v = v + K * term(10);", "one term's sign flipped"),
    Mutant("am-term-grouping", BJS, "v = v - K * term(4);\n    v = v + K * term(5);",
           "v = v + (K * term(5) - K * term(4));", "two terms summed before they are added"),
    Mutant("am-drift-one", BJS, "(b + (1.0 - 0.5) * sigma2) * tau", "(b + 0.5 * sigma2) * tau",
           "gamma - 1/2 for gamma = 1 written as 0.5",
           equivalent="1.0 - 0.5 is exactly 0.5"),
    Mutant("am-barrier-shift", BJS, "(2.0 * log_barrier_ratio) / horizons.whole_life.sigma_sqrt_tau",
           "(2.0 * log_barrier_ratio) / horizons.first_period.sigma_sqrt_tau",
           "the whole-life terms shifted by the first period's sigma sqrt tau"),
    Mutant("am-shift-sign", BJS, "arguments[1] = d - spot.barrier_shift[term.horizon];",
           "arguments[1] = d + spot.barrier_shift[term.horizon];", "the bracket's second argument shifted up"),
    Mutant("am-log-level", BJS, "std::log(S / boundary.i2)", "-std::log(boundary.i2 / S)",
           "ln(S/I2) as -ln(I2/S)"),
    Mutant("am-european-d1", BJS, "(log_spot_over_strike + whole_life.drift[kOne]) / whole_life.sigma_sqrt_tau",
           "log_spot_over_strike / whole_life.sigma_sqrt_tau + whole_life.drift[kOne] / whole_life.sigma_sqrt_tau",
           "the European d1 divided term by term"),
    Mutant("am-european-floor", BJS, "return e > v ? e : v;", "return v > e ? v : e;",
           "the European floor's maximum prefers the other side on a tie",
           equivalent="a tie of e and v differs at most in the sign of a zero, and then the value is "
                      "floored by the intrinsic value +0.0 anyway"),
    Mutant("am-nan-formula", BJS, "if (std::isnan(v)) {\n        return e;", "if (std::isnan(v) && false) {\n        return e;",
           "a NaN early-exercise value no longer falls back to the European one"),
    Mutant("am-positive-part", BJS, "payoff > 0.0 ? payoff : 0.0;", "payoff >= 0.0 ? payoff : 0.0;",
           "the payoff's floor keeps a negative zero"),
    Mutant("am-put-rate", BJS, "call_horizons(option.t, option.r - b, -b,", "call_horizons(option.t, option.q, -b,",
           "the put's rate taken from q rather than computed as r - b", ci=True),
    Mutant("am-put-intrinsic", BJS, ": positive_part(k_ - pending.s);", ": positive_part(pending.s - k_);",
           "the put's intrinsic value is the call's"),
    Mutant("am-trigger-share", BJS, "repeated ? known->trigger_growth[horizon_index]",
           "repeated ? known->trigger_growth[kWholeLife]", "a shared trigger exponential from the wrong horizon"),
    Mutant("am-power-share", BJS, "same_bits(known->spot.S, S) && same_bits(known->spot.beta, spot.beta)",
           "same_bits(known->spot.S, S)", "S^beta shared although beta differs"),
    Mutant("am-growth-share", BJS, "same_bits(terms->lambda[exponent], lambda)", "terms->lambda[exponent] == lambda",
           "exponentials shared by value rather than by bits",
           equivalent="the comparisons differ only for a NaN lambda, whose exponential is NaN either way, and "
                      "for zeros of opposite sign, whose exponentials are both exactly 1"),
    Mutant("am-prices-share", BJS_H, "i == 0 ? nullptr : &pending[0]", "i == 0 ? nullptr : &pending[i - 1]",
           "each price shares with the one before it instead of the first",
           equivalent="a price takes from the one it is given only values whose arguments have the same bits, "
                      "so sharing with any earlier price gives the same results; only the speed changes"),

    # American Greeks: steps, difference formulas, which price goes where.
    Mutant("amg-spot-step", AMG, "kRelativeSpotStep = 0.0001;", "kRelativeSpotStep = 0.001;",
           "a spot step ten times too large"),
    Mutant("amg-min-time", AMG, "return bumped > kMinimumBumpedTime ? bumped : kMinimumBumpedTime;",
           "return option.t > kMinimumBumpedTime ? bumped : kMinimumBumpedTime;",
           "the floor of the bumped time tested on the time before the bump"),
    Mutant("amg-gamma-order", AMG, "((up - (centre + centre)) + down) / (h * h)",
           "((up + down) - (centre + centre)) / (h * h)", "gamma's numerator regrouped", ci=True),
    Mutant("amg-delta-two-h", AMG, "(up - down) / (h + h)", "(up - down) / (2.0 * h)", "2h as a product",
           equivalent="h + h and 2.0 * h are the same correctly rounded double"),
    Mutant("amg-rho-scale", AMG, "((up - down) / kCentralDivisor) / kPercentagePoints",
           "(up - down) / (kCentralDivisor * kPercentagePoints)", "rho's two divisions merged"),
    Mutant("amg-rate-step", AMG, "kRateStep = 0.0001;", "kRateStep = 0.00010000000000000002;",
           "rho's bump one bit off (seen only where a bumped rate is near zero)"),
    Mutant("amg-greeks-vega", AMG, "vega_of(vol_up_price, vol_down_price)", "vega_of(vol_down_price, vol_up_price)",
           "am_greeks' vega from the prices the wrong way round"),
    Mutant("amg-greeks-theta", AMG, "theta_of(later_price, centre)", "theta_of(later_price, spot_up)",
           "am_greeks' theta against the spot-bumped price"),

    # The shared binding: error translation, conversions, argument binding.
    Mutant("errors-cause-leak", ERRORS, "cause = OwnedRef::steal(PyException_GetCause(original));",
           "cause = OwnedRef::borrow(PyException_GetCause(original));",
           "re-tagging a TypeError leaks a reference to its cause", ci=True),
    Mutant("errors-type-name", ERRORS, "PyType_GetQualName(reinterpret_cast<PyTypeObject*>(type))",
           "PyType_GetName(reinterpret_cast<PyTypeObject*>(type))",
           "messages name a nested or local type by its bare name"),
    Mutant("errors-mismatch-text", ERRORS, "\"' object cannot be converted to '\"",
           "\"' object can not be converted to '\"", "the mismatch message reworded"),
    Mutant("errors-tag-subclasses", ERRORS, "Py_TYPE(original) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)",
           "!PyErr_GivenExceptionMatches(original, PyExc_TypeError)",
           "subclasses of TypeError re-tagged too"),
    Mutant("errors-suppress-context", ERRORS, "    PyException_SetCause(exception.get(), cause.release());",
           "    if (cause) {\n        PyException_SetCause(exception.get(), cause.release());\n    }",
           "a re-tagged error without a cause shows the original as its context"),
    Mutant("errors-utf8-clear", ERRORS, "    if (data == nullptr) {\n        PyErr_Clear();\n        return std::nullopt;",
           "    if (data == nullptr) {\n        return std::nullopt;",
           "a type name UTF-8 cannot hold leaves its UnicodeEncodeError pending"),
    Mutant("errors-panic-report", ERRORS, "        PyErr_SetRaisedException(exception.release());\n        PyErr_PrintEx(0);",
           "        PyErr_Clear();", "a PanicException passed on is not printed"),
    Mutant("errors-panic-base", ERRORS, "kPanicDoc, PyExc_BaseException, nullptr", "kPanicDoc, PyExc_Exception, nullptr",
           "PanicException caught by except Exception"),
    Mutant("errors-panic-message", ERRORS_H, "    } catch (const InternalFailure& failure) {\n        raise_panic(failure.what());",
           "    } catch (const InternalFailure& failure) {\n        raise_panic(nullptr);",
           "internal failures lose their message"),
    Mutant("errors-borrow", "src/binding/python_prelude.h", "        Py_XINCREF(object);\n", "",
           "a borrowed reference is not taken"),
    Mutant("errors-move-assign", "src/binding/python_prelude.h", "        OwnedRef(std::move(other)).swap(*this);",
           "        object_ = other.release();", "a holder assigned a new reference drops its old one unreleased"),
    Mutant("convert-interned-word", CONVERT, '{"p", OptionType::Put}', '{"p", OptionType::Call}',
           "the interned word p reads as a call"),
    Mutant("convert-failure-check", "src/binding/scalar_dispatch.cpp", "if (numbers[i] == -1.0) {",
           "if (numbers[i] == -1.0 && i != kDividendSlot) {", "a failed conversion of q goes unnoticed", ci=True),
    Mutant("convert-failure-any-negative", "src/binding/scalar_dispatch.cpp", "if (numbers[i] == -1.0) {",
           "if (numbers[i] < 0.0) {", "every negative number checked for a pending error",
           equivalent="conversion_failure finds no pending error for a negative number that converted; only "
                      "the speed of calls with negative numbers changes"),
    Mutant("convert-default-type", "src/binding/scalar_dispatch.cpp", "OptionType type = OptionType::Call;",
           "OptionType type = OptionType::Put;", "the default option type is put"),
    Mutant("bind-missing-comma", BIND, 'names += count > 2 ? "," : "";', 'names += count > 1 ? "," : "";',
           "two missing names joined with an Oxford comma"),
    Mutant("bind-too-many", BIND, "if (given_count > spec.parameter_count) {",
           "if (given_count >= spec.parameter_count) {", "all parameters given by position refused", ci=True),
    Mutant("bind-fast-path", BIND, "given > static_cast<Py_ssize_t>(spec.parameter_count)) {",
           "given >= static_cast<Py_ssize_t>(spec.parameter_count)) {",
           "the fast path refuses calls with every argument",
           equivalent="the full binding binds the same calls into the same slots; only their speed changes"),
    Mutant("bind-multiple", BIND, "            if (slots[slot] != nullptr) {\n                return multiple_values(spec, slot);\n            }\n",
           "", "a keyword silently overrides a positional argument"),
    Mutant("bind-name-list", BIND, "for (std::size_t i = 0; i < spec.parameter_count; ++i) {\n        if (key == kParameterNames[i]) {",
           "for (std::size_t i = 0; i < kParameterNames.size(); ++i) {\n        if (key == kParameterNames[i]) {",
           "gamma and vega accept an option_type keyword"),
    Mutant("bind-required", BIND, "for (std::size_t i = given_count; i < spec.required_count; ++i) {",
           "for (std::size_t i = given_count; i + 1 < spec.required_count; ++i) {",
           "a missing sigma goes unnoticed"),
    Mutant("bind-key-clear", BIND, "            if (name == nullptr) {\n                PyErr_Clear();\n",
           "            if (name == nullptr) {\n", "a keyword UTF-8 cannot hold leaves its error pending"),
    Mutant("bind-call-fallback", "src/binding/argument_binding.h", "    slots = bound.value();\n", "",
           "the full binding's slots are dropped"),
    Mutant("table-required", TABLE, "kRequiredCount = 5;", "kRequiredCount = 4;", "sigma becomes optional"),
    Mutant("table-returns", TABLE, '"The theta of the option (per day)"', '"The theta of the option per day"',
           "a docstring's Returns line reworded"),
    Mutant("table-positions", TABLE, "const auto& [s, k, t, r, sigma, q] = numbers;",
           "const auto& [s, k, t, sigma, r, q] = numbers;", "r and sigma read from each other's positions", ci=True),
    Mutant("methods-default-q", "src/binding/method_table.cpp", '"(s, k, t, r, sigma, q=0.0"', '"(s, k, t, r, sigma, q=0"',
           "the text signature's default for q"),
    Mutant("methods-batch-returns", "src/binding/method_table.cpp",
           '"    of the broadcast shape (numpy.float64 values when every input is a scalar)"',
           '"    of the broadcast shape (numpy.float64 values when all inputs are scalars)"',
           "the batch Greeks' Returns line reworded"),
    Mutant("methods-batch-keyword-only", "src/binding/method_table.cpp", '", *, threads=None)"', '", threads=None)"',
           "threads shown as a positional parameter"),

    # PyGreeks and its repr.
    Mutant("greeks-repr-field", GREEKS, '{", vega=", greeks.vega},', '{", vega=", greeks.rho},',
           "the repr shows rho as vega", ci=True),
    Mutant("greeks-dealloc", GREEKS, "        Py_DECREF(reinterpret_cast<PyObject*>(type));\n", "",
           "instances never release their type"),
    Mutant("greeks-name", GREEKS, '"builtins.PyGreeks",', '"velarix.PyGreeks",', "the class's module"),
    Mutant("greeks-subclassable", GREEKS, "    Py_TPFLAGS_DEFAULT,\n", "    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,\n",
           "PyGreeks may be subclassed"),
    Mutant("decimal-longest", "src/binding/decimal_text.h", "kFixed6MaxLength = 317;", "kFixed6MaxLength = 316;",
           "the longest text's room one character short"),
    Mutant("decimal-ties", DECIMAL, "if (above_half && (!exactly_half || bit_at(result, 0))) {",
           "if (above_half) {", "ties rounded away from zero", ci=True),
    Mutant("decimal-carry", DECIMAL, "        if (++limb != 0) {\n            return;\n        }",
           "        ++limb;\n        return;", "rounding up carries into no higher limb"),
    Mutant("decimal-round-bit", DECIMAL, "bit_at(scaled, dropped - 1);", "bit_at(scaled, dropped);",
           "the rounding bit read one place too high"),
    Mutant("decimal-subnormal", DECIMAL, "(biased_exponent == 0 ? 1 : biased_exponent) - 1075",
           "biased_exponent - 1075", "subnormals scaled by one binary place too little",
           equivalent="every subnormal is below 1e-307, so its six decimals are 0.000000 either way"),
    Mutant("decimal-digits", DECIMAL, "while (count <= kDecimals || !is_zero(n)) {",
           "while (count < kDecimals || !is_zero(n)) {", "no digit before the point for values below one"),

    # The velarix module object.
    Mutant("module-greeks-name", MODULE, 'PyUnicode_FromStringAndSize("PyGreeks", 8)',
           'PyUnicode_FromStringAndSize("PyGreeks", 7)', "__all__ lists PyGreek"),
    Mutant("module-reimport", MODULE, "&& expected != interpreter) {", ") {",
           "a second import in the owning interpreter refused"),
    Mutant("module-cached-reference", MODULE, "    if (cached_module != nullptr) {\n        return OwnedRef::borrow(cached_module);",
           "    if (cached_module != nullptr) {\n        return OwnedRef::steal(cached_module);",
           "a repeated import returns the cached module without a reference"),
    Mutant("module-first-import-reference", MODULE,
           "        cached_module = module.release();\n    }\n    return OwnedRef::borrow(cached_module);",
           "        cached_module = module.release();\n    }\n    return OwnedRef::steal(cached_module);",
           "the first import hands out the module's own cached reference"),
    Mutant("module-doc", MODULE, "- Bjerksund-Stensland model (American options): am_* functions",
           "- Bjerksund-Stensland model (American options): am_* functions.", "the module docstring reworded"),

    # velarix_batch: inputs, broadcasting, the work split, outputs.
    Mutant("batch-ucs4-swap", COLUMNS, "((unit << 8) & 0xFF0000U)", "((unit << 8) & 0xFF00U)",
           "big-endian words byte-swapped wrongly"),
    Mutant("batch-inner-nul", COLUMNS, "                if (unit != 0) {\n                    return std::nullopt;\n                }\n",
           "", "a NUL inside a word read as padding"),
    Mutant("batch-known-words", COLUMNS, "for (std::size_t i = 0; i < count_; ++i) {",
           "for (std::size_t i = 0; i <= count_ && i < keys_.size(); ++i) {",
           "an empty word matches a remembered slot not yet filled", ci=True),
    Mutant("batch-bool-dtype", COLUMNS, "        case 'b':\n", "", "bool arrays refused"),
    Mutant("batch-element-label", COLUMNS, "+ std::to_string(index[d]);", "+ std::to_string(index[shape.ndim - 1 - d]);",
           "an invalid element named by its index reversed"),
    Mutant("batch-max-dimensions", COLUMNS, "view_.ndim) > kMaxDimensions", "view_.ndim) >= kMaxDimensions",
           "arrays of exactly as many dimensions as numpy allows refused"),
    Mutant("batch-buffer-release", COLUMNS_H, "        if (held_) {\n            PyBuffer_Release(&view_);\n        }\n",
           "", "buffers never released"),
    Mutant("batch-tuples", COLUMNS, "Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_TUPLE_SUBCLASS", "Py_TPFLAGS_LIST_SUBCLASS",
           "tuples read by numpy's rules rather than element by element"),
    Mutant("batch-threads-first", BATCH, "    const BatchState& state = *module_state;\n",
           "    const BatchState& state = *module_state;\n"
           "    if (Fallible<std::size_t> early = requested_threads(slots[kKeywordOnlySlot]); !early.ok()) {\n"
           "        return std::move(early.error());\n    }\n", "threads checked before the numbers"),
    Mutant("batch-too-large-text", BATCH, '" is too large"', '" is too big"', "the overflow message reworded"),
    Mutant("batch-chunks", BATCH, "return count / chunks * whole + std::min(whole, count % chunks);",
           "return count / chunks * whole;", "the remainder of the split left uncomputed", ci=True),
    Mutant("batch-threads-zero", BATCH, "if (threads < 1) {", "if (threads < 0) {", "threads=0 accepted"),
    Mutant("batch-lock-kept", BATCH, "        ReleasedInterpreterLock unlocked;\n", "",
           "the interpreter lock kept while computing"),
    Mutant("batch-shape-text", BATCH, '(shape.ndim == 1 ? "," : ', '(shape.ndim == 1 ? "" : ',
           "a one-dimensional shape written (3)"),
    Mutant("batch-zero-d", BATCH, "        if (shape.ndim > 0) {\n            return std::move(arrays_[i]);",
           "        if (shape.ndim >= 0) {\n            return std::move(arrays_[i]);",
           "scalar inputs give 0-d arrays instead of numpy.float64"),
    Mutant("batch-greeks-order", BATCH, "fields[2].get(),\n", "fields[3].get(),\n",
           "theta's array passed as vega's"),
    Mutant("walk-repeated-stride", WALK, "operand.shape.extent[d] == 1 ? 0 : operand.strides[d]",
           "operand.strides[d]", "a dimension of extent one keeps its stride when broadcast"),
    Mutant("walk-odometer-rewind", WALK, "strides_[i][d] * shape_.extent[d];", "strides_[i][d] * (shape_.extent[d] - 1);",
           "the odometer rewinds one step short", ci=True),
    Mutant("walk-start", WALK, "            start /= shape.extent[d];\n", "",
           "a chunk starting inside a row starts at the wrong row"),
    Mutant("walk-empty", WALK, "if (extent != 0 && count > PY_SSIZE_T_MAX / extent) {",
           "if (count > PY_SSIZE_T_MAX / extent) {", "the overflow check divides by an empty dimension"),
    Mutant("walk-empty-against-many", WALK, "} else if (own != 1) {", "} else if (own > 1) {",
           "an empty dimension broadcast against a longer one"),
    Mutant("batch-module-class-reference", BATCH_MODULE,
           "state.greeks_class = OwnedRef::borrow(greeks.value().get()).release();",
           "state.greeks_class = greeks.value().get();", "the module state keeps the Greeks class unreferenced"),
    Mutant("batch-module-interpreters", BATCH_MODULE, "Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED",
           "Py_MOD_MULTIPLE_INTERPRETERS_SUPPORTED", "other interpreters sharing the main lock accepted"),
    Mutant("batch-module-numpy-missing", BATCH_MODULE, "if (!cause || !numpy_is_missing(cause.get())) {",
           "if (!cause) {", "any failure to import numpy reported as numpy missing"),
    Mutant("batch-module-fields", BATCH_MODULE, '{"delta", "gamma", "theta", "vega", "rho"}',
           '{"delta", "gamma", "theta", "rho", "vega"}', "the Greeks tuple's fields out of order"),
    Mutant("batch-module-numpy-message", BATCH_MODULE, "pip install 'velarix[batch]'", "pip install numpy",
           "the missing-numpy message reworded"),
    Mutant("batch-module-namedtuple-module", BATCH_MODULE, '"module", "velarix_batch"', '"module", "velarix"',
           "Greeks claims to live in velarix"),
    # The precise math: its kernels, tables, lanes and batch loops.
    Mutant("precise-exp-overflow", PRECISE_KERNELS, "high = select(high > 710.0, V(710.0), high);",
           "high = select(high > 709.0, V(709.0), high);", "exp clamped below its overflow threshold", ci=True),
    Mutant("precise-half-square-split", PRECISE_KERNELS, "~std::int64_t{0} << 27", "~std::int64_t{0} << 26",
           "the high part of x keeps 27 bits, so that its square is rounded"),
    Mutant("precise-expm1-product", PRECISE_KERNELS, "((sum.low + difference.low) + product.low)",
           "(sum.low + difference.low)", "expm1 drops the exact product's error, where its terms cancel"),
    Mutant("precise-log-subnormal", PRECISE_KERNELS, "select(subnormal, Int<V>(54), Int<V>(0))",
           "select(subnormal, Int<V>(53), Int<V>(0))", "log's subnormal scaling undone by one power too few"),
    Mutant("precise-log-invalid", PRECISE_KERNELS, "select(x < 0.0, V(kQuietNaN), result)",
           "select(x < 0.0, V(-kQuietNaN), result)", "log of a negative is the x86 default NaN, sign set"),
    Mutant("precise-tail-row", PRECISE_KERNELS, "(bits(kTailFirstBinadeStart) >> kRowShift) - 1)",
           "(bits(kTailFirstBinadeStart) >> kRowShift) - 2)", "the normal tail reads the row below its interval's",
           ci=True),
    Mutant("precise-tail-clamp", PRECISE_KERNELS, "select(a < kTailClamp, a, V(kTailClamp))",
           "select(a > kTailClamp, V(kTailClamp), a)", "a NaN escapes the clamp and indexes past the table"),
    Mutant("precise-exp-power", PRECISE_TABLES, "{0x1.0163da9fb3335p+0,", "{0x1.0163da9fb3336p+0,",
           "2^(1/128) off in its last bit"),
    Mutant("precise-tail-coefficient", PRECISE_TABLES, "0x1.f37ad1006a936p-2,", "0x1.f37ad1006a963p-2,",
           "the first tail row's constant with two digits transposed"),
    Mutant("precise-log-coefficient", PRECISE_TABLES, "0x1.5555555555558p-1,", "0x1.5555555555585p-1,",
           "log's leading series coefficient with two digits transposed"),
    Mutant("precise-lanes-gather", LANES, "lanes[lane] = table[index.v[lane]];", "lanes[lane] = table[index.v[0]];",
           "every lane reads the first lane's table entry", ci=True),
    Mutant("precise-lanes-bits", LANES, "__builtin_bit_cast(LaneIntegerVector, x.v)",
           "__builtin_convertvector(x.v, LaneIntegerVector)", "the lanes' bit patterns taken as value conversions"),
    Mutant("precise-expm1-as-exp", PRECISE, "{ return kernels::expm1(x); }", "{ return kernels::exp(x) - 1.0; }",
           "expm1 as exp(x) - 1, losing the small results"),
    Mutant("precise-batch-tail", PRECISE_CPP, "y[i + j] = padded[j];", "y[i + j] = x[i + j];",
           "the lanes' last partial group left unevaluated", ci=True),
    Mutant("exports-scalar", "src/binding/exports.map", "  local: *;\n", "", "every symbol exported",
           equivalent="the build hides every symbol by default and keeps the static libraries' symbols out of "
                      "the dynamic table, so for this module the catch-all adds nothing today (for the batch "
                      "module it does: a static inside libstdc++'s std::to_string is a unique global symbol, "
                      "which only the script keeps in)"),
    Mutant("exports-batch", "src/binding/batch_exports.map", "  local: *;\n", "", "every symbol exported"),
]

# Files of src/ with no mutant, and why none is possible.
WITHOUT_BEHAVIOUR = {
    "src/pricing/american_greeks.h": "declarations only",
    "src/pricing/black_scholes.h": "declarations only",
    "src/pricing/precise_math_paths.h": "declarations only",
    "src/pricing/option_inputs.h": "a record without code; fields out of order fail to compile "
                                   "(designated initializers)",
    "src/binding/batch_dispatch.h": "declarations only",
    "src/binding/greeks_type.h": "declarations only",
    "src/binding/method_table.h": "declarations and accessors whose faults do not compile",
    "src/binding/scalar_dispatch.h": "declarations only",
    "src/binding/value_conversion.h": "declarations only",
}
