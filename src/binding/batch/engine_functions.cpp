// The engine functions of velarix_batch: their parameters, docstrings and
// per-option loops, and the texts of implied_volatility's reasons. Each loop
// walks its chunk of the broadcast options by pointers and strides and calls
// the core; the core returns NaN for inputs no option can have, so these
// functions raise only for arguments that cannot be read (a wrong type, an
// unknown option type or accuracy, shapes that do not broadcast).
#include "engine_functions.h"

#include <array>
#include <string>
#include <string_view>

#include "american_engine.h"
#include "batch_dispatch.h"
#include "european_price.h"
#include "implied_volatility.h"
#include "internal_failure.h"

namespace velarix {
namespace {

// The keyword-only parameters that choose how a function computes, and
// their words. Callers match on these words and on the refusals of
// read_word ("<parameter> must be 'a' or 'b', not 'c'").
constexpr const char* kAccuracyParameter = "accuracy";
constexpr std::array<const char*, 2> kAccuracyWords = {"fast", "accurate"};  // AmericanAccuracy's order
constexpr const char* kExerciseParameter = "exercise";
constexpr std::array<const char*, 2> kExerciseWords = {"european", "american"};
constexpr const char* kReasonsParameter = "reasons";

// The texts of VolatilityOutcome, indexed by its codes: the module's
// IMPLIED_VOLATILITY_REASONS. Callers match on them (and on their order,
// which is the codes' order).
constexpr std::array<const char*, 7> kReasonTexts = {
    "solved",
    "invalid input: a value not finite, s or k not positive, or t not positive",
    "price below the option's value at zero volatility",
    "price at or above the option's value at unbounded volatility",
    "price equal to the exercise value, which a range of volatilities gives",
    "no American value: the exercise region lies between two boundaries",
    "no single volatility: the price hardly moves with it",
};

// The index of `argument` among `words` (0 when not given).
Fallible<int> read_word(PyObject* argument, const char* parameter, const std::array<const char*, 2>& words) {
    if (argument == nullptr) {
        return 0;
    }
    if (!PyUnicode_Check(argument)) {
        return ErrorValue::conversion_mismatch(argument, "str").tagged_with_argument(parameter);
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(argument, &size);
    if (text == nullptr) {
        return take_pending_error();
    }
    const std::string_view word(text, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (word == words[i]) {
            return static_cast<int>(i);
        }
    }
    return ErrorValue::deferred(PyExc_ValueError, std::string(parameter) + " must be '" + words[0] + "' or '" +
                                                      words[1] + "', not '" + std::string(word) + "'");
}

// The engine functions' setting: accuracy, then out and threads.
Fallible<CallSetting> read_accuracy(PyObject* const* keyword_slots) {
    Fallible<int> accuracy = read_word(keyword_slots[0], kAccuracyParameter, kAccuracyWords);
    VELARIX_PASS_ON_FAILURE(accuracy);
    return CallSetting{.value = accuracy.value()};
}

// An American option costs microseconds (the accurate settings tens), a
// European price a tenth of one.
constexpr Py_ssize_t kEngineGrain = 64;
constexpr Py_ssize_t kEuropeanGrain = 16384;

// implied_volatility's setting: exercise, accuracy, reasons, then out and threads.
// The value holds the accuracy, plus kAmericanExercise for "american".
constexpr int kAmericanExercise = 2;

Fallible<CallSetting> read_inversion(PyObject* const* keyword_slots) {
    Fallible<int> exercise = read_word(keyword_slots[0], kExerciseParameter, kExerciseWords);
    VELARIX_PASS_ON_FAILURE(exercise);
    Fallible<int> accuracy = read_word(keyword_slots[1], kAccuracyParameter, kAccuracyWords);
    VELARIX_PASS_ON_FAILURE(accuracy);
    PyObject* reasons = keyword_slots[2];
    if (reasons != nullptr && !PyBool_Check(reasons)) {
        return ErrorValue::conversion_mismatch(reasons, "bool").tagged_with_argument(kReasonsParameter);
    }
    const bool american = exercise.value() == 1;
    return CallSetting{.value = accuracy.value() + (american ? kAmericanExercise : 0),
                       .reasons = reasons == Py_True,
                       .grain = american ? kEngineGrain : 0};
}

enum class Kernel { AmericanPrice, AmericanGreeks, ExerciseBoundary, EuropeanPrice, ImpliedVolatility };

template <Kernel K>
std::optional<IndexedFailure> compute_range(const void* work_record, Py_ssize_t begin, Py_ssize_t end) {
    const BatchWork& work = *static_cast<const BatchWork*>(work_record);
    const auto accuracy = static_cast<AmericanAccuracy>(work.setting % kAmericanExercise);
    Odometer<kOperandCount> at(work.shape, work.bases, work.strides, begin);
    for (Py_ssize_t i = begin; i < end; ++i, at.advance()) {
        const OptionInputs option = option_at(at);
        if constexpr (K == Kernel::AmericanPrice) {
            work.outputs[0][i] = american_price(option, accuracy);
        } else if constexpr (K == Kernel::AmericanGreeks) {
            const Greeks greeks = american_greeks(option, accuracy);
            work.outputs[0][i] = greeks.delta;
            work.outputs[1][i] = greeks.gamma;
            work.outputs[2][i] = greeks.theta;
            work.outputs[3][i] = greeks.vega;
            work.outputs[4][i] = greeks.rho;
        } else if constexpr (K == Kernel::ExerciseBoundary) {
            work.outputs[0][i] = american_exercise_boundary(option, accuracy);
        } else if constexpr (K == Kernel::ImpliedVolatility) {
            // The price is read as the sigma operand; the option's sigma is not read.
            const ImpliedVolatility solution = work.setting >= kAmericanExercise
                                                   ? american_implied_volatility(option.sigma, option, accuracy)
                                                   : european_implied_volatility(option.sigma, option);
            work.outputs[0][i] = solution.volatility;
            if (work.reasons != nullptr) {
                work.reasons[i] = static_cast<std::int8_t>(solution.outcome);
            }
        } else {
            work.outputs[0][i] = european_price(option);
        }
    }
    return std::nullopt;
}

// A European implied volatility costs a few tenths of a microsecond (an
// American one is given the engine's grain by its setting).
constexpr Py_ssize_t kInversionGrain = 4096;

constexpr std::array<const char*, 6> kBoundaryNames = {"k", "t", "r", "sigma", "q", "option_type"};
constexpr std::array<const char*, 7> kInversionNames = {"price", "s", "k", "t", "r", "q", "option_type"};

constexpr BatchSignature american_signature(const char* name, std::size_t outputs) {
    return {.spec = {name, 7, 5, {kAccuracyParameter, kOutParameter, kThreadsParameter}},
            .operand_slots = kOptionSlots,
            .output_count = outputs,
            .grain = kEngineGrain,
            .read_setting = read_accuracy};
}

constexpr BatchSignature kAmericanPrice = american_signature("american_price", 1);
constexpr BatchSignature kAmericanGreeks = american_signature("american_greeks", 5);
constexpr BatchSignature kExerciseBoundary = {
    .spec = {"exercise_boundary", 6, 4, {kAccuracyParameter, kOutParameter, kThreadsParameter},
             kBoundaryNames.data()},
    .operand_slots = {kNoSlot, 0, 1, 2, 3, 4, 5},
    .output_count = 1,
    .grain = kEngineGrain,
    .read_setting = read_accuracy};
constexpr BatchSignature kEuropeanPrice = {.spec = {"european_price", 7, 5, {kOutParameter, kThreadsParameter}},
                                           .operand_slots = kOptionSlots,
                                           .output_count = 1,
                                           .grain = kEuropeanGrain};
// The price takes the place of sigma among the operands.
constexpr BatchSignature kImpliedVolatility = {
    .spec = {"implied_volatility",
             7,
             5,
             {kExerciseParameter, kAccuracyParameter, kReasonsParameter, kOutParameter, kThreadsParameter},
             kInversionNames.data()},
    .operand_slots = {1, 2, 3, 4, 0, 5, 6},
    .output_count = 1,
    .grain = kInversionGrain,
    .read_setting = read_inversion};

template <const BatchSignature& Signature, Kernel K>
PyObject* entry(PyObject* module, PyObject* positional, PyObject* keywords) {
    return guard_entry([&] { return batch_call(Signature, compute_range<K>, module, positional, keywords); });
}

template <const BatchSignature& Signature, Kernel K>
PyCFunction method() {
    // METH_KEYWORDS tells the interpreter the entry's real type; the cast
    // goes through void (*)() as the compilers' warning asks.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<Signature, K>));
}

constexpr const char* kCommonArguments =
    "    t: Time to expiration in years\n"
    "    r: Risk-free interest rate, continuously compounded (0.05 for 5%)\n"
    "    sigma: Volatility of the underlying asset (0.2 for 20%)\n"
    "    q: Continuous dividend yield (0.01 for 1%)\n"
    "    option_type: 'call' or 'put'\n";

constexpr const char* kAccuracyArgument =
    "    accuracy: Keyword only: 'fast' (the default; about 2e-5 RMS error on a\n"
    "        standard grid of puts, about 5 microseconds per option) or\n"
    "        'accurate' (about 3e-7, seven times the cost)\n";

constexpr const char* kOutArgument =
    "    out: Keyword only: arrays to write the results into, as numpy's out=\n"
    "        (default: new arrays): a C-contiguous, writeable float64 array of\n"
    "        the broadcast shape, for the Greeks a tuple of five; the call\n"
    "        returns them. A refused call writes nothing into them.\n";

constexpr const char* kThreadsArgument =
    "    threads: Keyword only: the threads to compute on (default: the CPUs\n"
    "        this process may use; 1 computes on the calling thread only)\n";

constexpr const char* kArrayNote =
    "\n"
    "Every argument but the keyword-only ones is a number (a str for\n"
    "option_type) or an array-like of them; they broadcast against each other\n"
    "as numpy arrays do. Inputs no option can have (not finite, a spot or\n"
    "strike not positive, a negative time or volatility) give NaN.\n";

constexpr const char* kEngineNote =
    "\n"
    "The engine solves the early-exercise boundary by fixed-point collocation\n"
    "and adds the early-exercise premium to the European value: use it to\n"
    "value and hedge American options. am_price and the other am_ functions\n"
    "compute the Bjerksund-Stensland formula of the velarix module, which\n"
    "misses most of the premium. Where early exercise is never optimal (a put\n"
    "with r <= 0 and q >= r, a call with q <= 0 and r >= q) the result is the\n"
    "European one. Puts with q < r < 0 and calls with r < q < 0, whose\n"
    "exercise region is a band between two boundaries, give NaN.\n";

// What the docstrings of the engine functions and european_price differ in;
// the arguments they share and the notes on arrays come from the pieces above.
struct DocParts {
    const char* signature;  // the first line
    const char* summary;
    bool takes_spot;
    bool takes_accuracy;
    const char* returns;  // indented, each line ending in a newline
    const char* notes;    // after the note on arrays
};

std::string docstring(const DocParts& parts) {
    std::string doc = std::string(parts.signature) + "\n--\n\n" + parts.summary + "\n\nArgs:\n";
    if (parts.takes_spot) {
        doc += "    s: Current price of the underlying asset\n";
    }
    doc += "    k: Strike price of the option\n";
    doc += kCommonArguments;
    if (parts.takes_accuracy) {
        doc += kAccuracyArgument;
    }
    doc += kOutArgument;
    doc += kThreadsArgument;
    doc += "\nReturns:\n";
    doc += parts.returns;
    doc += kArrayNote;
    doc += parts.notes;
    return doc;
}

const std::string kAmericanPriceDoc = docstring({
    "american_price(s, k, t, r, sigma, q=0.0, option_type=\"call\", *, accuracy=\"fast\", out=None, threads=None)",
    "Calculate the price of an American option with the accurate engine.",
    true,
    true,
    "    The price of the American option, per option: a float64 array of the\n"
    "    broadcast shape (a numpy.float64 when every input is a scalar)\n",
    kEngineNote,
});

const std::string kAmericanGreeksDoc = docstring({
    "american_greeks(s, k, t, r, sigma, q=0.0, option_type=\"call\", *, accuracy=\"fast\", out=None, threads=None)",
    "Calculate all Greeks of an American option with the accurate engine.",
    true,
    true,
    "    A Greeks named tuple (delta, gamma, theta, vega, rho) of float64 arrays\n"
    "    of the broadcast shape (numpy.float64 values when every input is a scalar).\n"
    "    Theta is per calendar day (a 365-day year), vega per 1.00 of volatility,\n"
    "    rho per percentage point of r. Delta and gamma come from the premium\n"
    "    integral, theta from the Black-Scholes equation, vega and rho from\n"
    "    forward differences of re-solved prices.\n",
    kEngineNote,
});

const std::string kExerciseBoundaryDoc = docstring({
    "exercise_boundary(k, t, r, sigma, q=0.0, option_type=\"call\", *, accuracy=\"fast\", out=None, threads=None)",
    "Calculate the critical spot price at which immediate exercise is optimal.",
    false,
    true,
    "    The spot price at or below which a put, at or above which a call, is\n"
    "    best exercised now, per option: a float64 array of the broadcast shape\n"
    "    (a numpy.float64 when every input is a scalar). 0 for a put and inf for\n"
    "    a call where early exercise is never optimal; the strike at t = 0.\n",
    kEngineNote,
});

const std::string kEuropeanPriceDoc = docstring({
    "european_price(s, k, t, r, sigma, q=0.0, option_type=\"call\", *, out=None, threads=None)",
    "Calculate the price of a European option using Black-Scholes.",
    true,
    false,
    "    The price of the European option, per option: a float64 array of the\n"
    "    broadcast shape (a numpy.float64 when every input is a scalar). At\n"
    "    t = 0 or sigma = 0, the discounted intrinsic value of the forward.\n",
    "\nComputed on the module's own full-precision exp, log and normal\n"
    "distribution, the same bits on every CPU and operating system.\n",
});

const std::string kImpliedVolatilityDoc =
    std::string("implied_volatility(price, s, k, t, r, q=0.0, option_type=\"call\", *, exercise=\"european\", "
                "accuracy=\"fast\", reasons=False, out=None, threads=None)\n--\n\n"
                "Calculate the volatility at which an option is worth the given price.\n\nArgs:\n"
                "    price: The option's price\n"
                "    s: Current price of the underlying asset\n    k: Strike price of the option\n"
                "    t: Time to expiration in years\n"
                "    r: Risk-free interest rate, continuously compounded (0.05 for 5%)\n"
                "    q: Continuous dividend yield (0.01 for 1%)\n"
                "    option_type: 'call' or 'put'\n"
                "    exercise: Keyword only: 'european' (the default; inverts\n"
                "        european_price) or 'american' (inverts american_price)\n"
                "    accuracy: Keyword only: the American engine's setting, 'fast' or\n"
                "        'accurate', as in american_price (use the setting the\n"
                "        prices were made with); not read for European options\n"
                "    reasons: Keyword only: also return why each option has a\n"
                "        volatility or not (default False)\n"
                "    out: Keyword only: arrays to write the results into, as numpy's\n"
                "        out= (default: new arrays): a C-contiguous, writeable float64\n"
                "        array of the broadcast shape; with reasons=True, a tuple of\n"
                "        such an array and an int8 one for the reasons. The call\n"
                "        returns them. A refused call writes nothing into them.\n"
                "    threads: Keyword only: the threads to compute on (default: the CPUs\n"
                "        this process may use; 1 computes on the calling thread only)\n"
                "\nReturns:\n    The implied volatility per option (0.2 for 20%): a float64 array of\n"
                "    the broadcast shape (a numpy.float64 when every input is a scalar),\n"
                "    NaN where no volatility gives the price. With reasons=True, the\n"
                "    tuple (volatility, reason), reason an int8 array of codes whose\n"
                "    texts are IMPLIED_VOLATILITY_REASONS[code]; 0 is \"solved\". For\n"
                "    pandas: pandas.Categorical.from_codes(reason,\n"
                "    velarix_batch.IMPLIED_VOLATILITY_REASONS).\n") +
    "\nEvery argument but the keyword-only ones is a number (a str for\n"
    "option_type) or an array-like of them; they broadcast against each other\n"
    "as numpy arrays do. No price raises: one that no volatility gives (below\n"
    "the option's value at zero volatility, at or above its limit as\n"
    "volatility grows, inputs no option can have) is NaN, with its reason.\n"
    "A price within its own rounding of the least value gives 0.\n"
    "\nEuropean volatilities are recovered to full double precision (about as\n"
    "closely as the price's own rounding allows) in two or three steps of a\n"
    "third-order method from a close first guess, on the module's own\n"
    "full-precision functions: the same bits on every CPU and operating system.\n"
    "American ones are found by a bracketed secant search on american_price,\n"
    "to about 1e-10 where vega is not tiny; a price equal to the exercise\n"
    "value, which every volatility up to some level gives, is NaN.\n";

}  // namespace

Fallible<OwnedRef> implied_volatility_reasons() {
    OwnedRef texts = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(kReasonTexts.size())));
    if (!texts) {
        return take_pending_error();
    }
    for (std::size_t i = 0; i < kReasonTexts.size(); ++i) {
        PyObject* text = PyUnicode_FromString(kReasonTexts[i]);
        if (text == nullptr || PyTuple_SetItem(texts.get(), static_cast<Py_ssize_t>(i), text) < 0) {
            return take_pending_error();
        }
    }
    return texts;
}

PyMethodDef* engine_methods() {
    static std::array<PyMethodDef, 6> methods = {{
        {"american_price", method<kAmericanPrice, Kernel::AmericanPrice>(), METH_VARARGS | METH_KEYWORDS,
         kAmericanPriceDoc.c_str()},
        {"american_greeks", method<kAmericanGreeks, Kernel::AmericanGreeks>(), METH_VARARGS | METH_KEYWORDS,
         kAmericanGreeksDoc.c_str()},
        {"exercise_boundary", method<kExerciseBoundary, Kernel::ExerciseBoundary>(), METH_VARARGS | METH_KEYWORDS,
         kExerciseBoundaryDoc.c_str()},
        {"european_price", method<kEuropeanPrice, Kernel::EuropeanPrice>(), METH_VARARGS | METH_KEYWORDS,
         kEuropeanPriceDoc.c_str()},
        {"implied_volatility", method<kImpliedVolatility, Kernel::ImpliedVolatility>(), METH_VARARGS | METH_KEYWORDS,
         kImpliedVolatilityDoc.c_str()},
        {nullptr, nullptr, 0, nullptr},
    }};
    return methods.data();
}

}  // namespace velarix
