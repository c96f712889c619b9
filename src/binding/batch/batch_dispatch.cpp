// Dispatch of one velarix_batch call, for every function of the module,
// each described by its BatchSignature. With the interpreter lock held: bind
// the arguments as velarix does (plus the keyword-only out and threads, and
// the engine functions' settings), read the inputs into strided columns,
// broadcast them, allocate the outputs or check those given. Then,
// with the lock released, split the flat range of the broadcast shape into
// contiguous chunks, one per thread, each walked in C order by an odometer
// over the inputs' own strides; nothing there touches Python or allocates
// per element. Then, with the lock again, wrap the outputs. A call of one
// option of Python numbers skips the arrays: one_option_call.
#include "batch_dispatch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "argument_binding.h"
#include "batch_outputs.h"
#include "batch_parallel.h"
#include "bjerksund_stensland.h"
#include "internal_failure.h"
#include "value_conversion.h"

namespace velarix {
namespace {

// The fewest options worth a thread of their own: each thread gets at least
// this many. Starting and joining a thread costs tens of microseconds; two
// threads on half as many each were measured no faster than one below about
// these sizes (benchmarks/batch.py --grain, two cores).
constexpr Py_ssize_t grain_of(Model model) { return model == Model::BlackScholes ? 16384 : 512; }

// "shape mismatch: s (3,), k (4,), ..." for every input that is an array,
// in the order of the function's parameters.
ErrorValue shape_mismatch(const BatchSignature& signature,
                          const std::array<const StridedOperand*, kOperandCount>& operands) {
    std::string message = "shape mismatch: the inputs cannot be broadcast together:";
    const char* separator = " ";
    for (std::size_t slot = 0; slot < signature.spec.parameter_count; ++slot) {
        for (std::size_t i = 0; i < kOperandCount; ++i) {
            if (signature.operand_slots[i] == slot && operands[i]->shape.ndim > 0) {
                message += separator + std::string(signature.spec.names[slot]) + " " + shape_text(operands[i]->shape);
                separator = ", ";
            }
        }
    }
    return ErrorValue::deferred(PyExc_ValueError, std::move(message));
}

// The slot of the keyword-only parameter `name`, which the function has.
// Names are compared by their text: equal literals in different files need
// not share an address (a build that does not merge them read past the list).
std::size_t keyword_slot(const ParameterSpec& spec, std::string_view name) {
    std::size_t slot = kKeywordOnlySlot;
    while (name != spec.keyword_only[slot - kKeywordOnlySlot]) {
        ++slot;
    }
    return slot;
}

template <std::size_t Index>
std::optional<IndexedFailure> compute_range(const void* work_record, Py_ssize_t begin, Py_ssize_t end) {
    const BatchWork& work = *static_cast<const BatchWork*>(work_record);
    Odometer<kOperandCount> at(work.shape, work.bases, work.strides, begin);
    for (Py_ssize_t i = begin; i < end; ++i, at.advance()) {
        const auto result = computation_of<Index>()(option_at(at));
        if (!result.has_value()) {
            return IndexedFailure{i, result.error()};
        }
        if constexpr (kFunctions[Index].returns_greeks()) {
            const Greeks& greeks = result.value();
            work.outputs[0][i] = greeks.delta;
            work.outputs[1][i] = greeks.gamma;
            work.outputs[2][i] = greeks.theta;
            work.outputs[3][i] = greeks.vega;
            work.outputs[4][i] = greeks.rho;
        } else {
            work.outputs[0][i] = result.value();
        }
    }
    return std::nullopt;
}

// Options `first` .. `first + count - 1` of the block from the run of the
// operands where the walk stands: column by column, a plain strided read
// each, a copy where the operand is contiguous.
void fill_block_run(const Odometer<kOperandCount>& at, std::size_t first, std::size_t count, OptionBlock& block) {
    const std::array<double*, kNumberCount> columns = {block.s.data(), block.k.data(), block.t.data(),
                                                       block.r.data(), block.sigma.data(), block.q.data()};
    for (std::size_t operand = 0; operand < kNumberCount; ++operand) {
        const char* element = at[operand];
        const Py_ssize_t stride = at.run_stride(operand);
        double* column = columns[operand] + first;
        if (stride == static_cast<Py_ssize_t>(sizeof(double))) {
            std::memcpy(column, element, count * sizeof(double));
            continue;
        }
        for (std::size_t i = 0; i < count; ++i, element += stride) {
            column[i] = number_at(element);
        }
    }
    const char* type = at[kNumberCount];
    const Py_ssize_t stride = at.run_stride(kNumberCount);
    for (std::size_t i = 0; i < count; ++i, type += stride) {
        block.type[first + i] = static_cast<OptionType>(*type);
    }
}

// A European function a block of options at a time: gathered from the
// operands, their exp, log, pow and N evaluated together (in lanes where the
// CPU has them, with the scalar calls' bits), the results written to the
// outputs.
template <BlockFunction Function>
std::optional<IndexedFailure> compute_in_blocks(const void* work_record, Py_ssize_t begin, Py_ssize_t end) {
    const BatchWork& work = *static_cast<const BatchWork*>(work_record);
    Odometer<kOperandCount> at(work.shape, work.bases, work.strides, begin);
    OptionBlock block;
    for (Py_ssize_t first = begin; first < end; first += static_cast<Py_ssize_t>(kOptionBlockSize)) {
        const auto count =
            static_cast<std::size_t>(std::min(end - first, static_cast<Py_ssize_t>(kOptionBlockSize)));
        for (std::size_t filled = 0; filled < count;) {
            const auto run = std::min(count - filled, static_cast<std::size_t>(at.run_length()));
            fill_block_run(at, filled, run, block);
            at.advance_run(static_cast<Py_ssize_t>(run));
            filled += run;
        }
        BlockColumns columns{};
        for (std::size_t g = 0; g < columns.size(); ++g) {
            columns[g] = work.outputs[g] != nullptr ? work.outputs[g] + first : nullptr;
        }
        european_block(Function, block, count, columns);
    }
    return std::nullopt;
}

// The European functions computed in blocks, by name.
constexpr std::optional<BlockFunction> block_function(std::string_view name) {
    constexpr std::array<std::pair<std::string_view, BlockFunction>, 6> kBlockFunctions = {{
        {"bs_delta", BlockFunction::Delta},
        {"bs_gamma", BlockFunction::Gamma},
        {"bs_theta", BlockFunction::Theta},
        {"bs_vega", BlockFunction::Vega},
        {"bs_rho", BlockFunction::Rho},
        {"bs_greeks", BlockFunction::Greeks},
    }};
    for (const auto& [block_name, function] : kBlockFunctions) {
        if (block_name == name) {
            return function;
        }
    }
    return std::nullopt;
}

// am_price a group of options at a time, their exps, logs and pows (where
// the runtime's lanes are in use) and values of N evaluated together.
std::optional<IndexedFailure> compute_prices_in_groups(const void* work_record, Py_ssize_t begin, Py_ssize_t end) {
    const BatchWork& work = *static_cast<const BatchWork*>(work_record);
    Odometer<kOperandCount> at(work.shape, work.bases, work.strides, begin);
    std::array<OptionInputs, kPricesInLanes> group;
    for (Py_ssize_t first = begin; first < end; first += static_cast<Py_ssize_t>(kPricesInLanes)) {
        const auto count =
            static_cast<std::size_t>(std::min(end - first, static_cast<Py_ssize_t>(kPricesInLanes)));
        for (std::size_t j = 0; j < count; ++j, at.advance()) {
            group[j] = option_at(at);
        }
        american_values(group.data(), count, work.outputs[0] + first);
    }
    return std::nullopt;
}

// The computation of entry `Index` over a range of options.
template <std::size_t Index>
constexpr ChunkComputation chunk_computation() {
    constexpr std::optional<BlockFunction> function = block_function(kFunctions[Index].name);
    if constexpr (function.has_value()) {
        return compute_in_blocks<*function>;
    } else if constexpr (std::string_view(kFunctions[Index].name) == "am_price") {
        return compute_prices_in_groups;
    } else {
        return compute_range<Index>;
    }
}

PyObject* operand_argument(const BatchSignature& signature, const Slots& slots, std::size_t operand) {
    const std::size_t slot = signature.operand_slots[operand];
    return slot == kNoSlot ? nullptr : slots[slot];
}

const char* operand_name(const BatchSignature& signature, std::size_t operand) {
    return signature.spec.names[signature.operand_slots[operand]];
}

// The keyword-only choices, read after the numbers and the option type:
// the function's own, then threads (nothing for every usable CPU).
struct KeywordChoices {
    CallSetting setting;
    std::optional<std::size_t> threads;
};

Fallible<KeywordChoices> read_keywords(const BatchSignature& signature, const Slots& slots) {
    KeywordChoices choices;
    if (signature.read_setting != nullptr) {
        Fallible<CallSetting> read = signature.read_setting(&slots[kKeywordOnlySlot]);
        VELARIX_PASS_ON_FAILURE(read);
        choices.setting = read.value();
    }
    Fallible<std::optional<std::size_t>> threads =
        requested_threads(slots[keyword_slot(signature.spec, kThreadsParameter)]);
    VELARIX_PASS_ON_FAILURE(threads);
    choices.threads = threads.value();
    return choices;
}

// What the call returns from its result objects (`results[output_count]`
// the reasons, where asked): the one result, a Greeks named tuple of five,
// or the tuple (results, reasons).
Fallible<OwnedRef> returned_value(const BatchState& state, std::size_t output_count, bool with_reasons,
                                  std::array<OwnedRef, kMaxOutputs + 1>& results) {
    OwnedRef value;
    if (with_reasons) {
        value = OwnedRef::steal(PyTuple_Pack(2, results[0].get(), results[output_count].get()));
    } else if (output_count == 1) {
        value = std::move(results[0]);
    } else {
        std::array<PyObject*, kMaxOutputs> fields{};
        for (std::size_t i = 0; i < output_count; ++i) {
            fields[i] = results[i].get();
        }
        value = OwnedRef::steal(PyObject_Vectorcall(state.greeks_class, fields.data(), output_count, nullptr));
    }
    if (!value) {
        return take_pending_error();
    }
    return value;
}

// Whether every number argument is a Python int or float (or absent), the
// option type a str (or absent), and no out= given: one option, which
// one_option_call computes.
bool takes_one_option(const BatchSignature& signature, const Slots& slots) {
    PyObject* out = slots[keyword_slot(signature.spec, kOutParameter)];
    if (out != nullptr && out != Py_None) {
        return false;
    }
    for (std::size_t i = 0; i < kNumberCount; ++i) {
        PyObject* argument = operand_argument(signature, slots, i);
        if (argument != nullptr && !is_python_number(argument)) {
            return false;
        }
    }
    PyObject* type = operand_argument(signature, slots, kNumberCount);
    return type == nullptr || PyType_HasFeature(Py_TYPE(type), Py_TPFLAGS_UNICODE_SUBCLASS);
}

// numpy.float64 of a double, the type and bits of an element of a float64
// array taken out of it.
Fallible<OwnedRef> numpy_scalar(PyObject* numpy_type, OwnedRef number) {
    PyObject* arguments[] = {number.get()};
    OwnedRef scalar = number ? OwnedRef::steal(PyObject_Vectorcall(numpy_type, arguments, 1, nullptr)) : OwnedRef();
    if (!scalar) {
        return take_pending_error();
    }
    return scalar;
}

// Releasing the interpreter lock and taking it back costs about 90 ns: one
// option is computed with the lock released where it costs microseconds,
// those of the functions whose grain is the American engine's (so that
// Python threads calling them at once compute at once), with it held where
// it costs less than the release (every other function).
constexpr Py_ssize_t kReleaseLockGrain = 64;

// The call of one option. Its arguments are read and refused as the array
// path reads them (that path reads such numbers with PyFloat_AsDouble and
// such a str with option_type_of too), in the same order; the same chunk
// computation computes it over a 0-d work record on the calling thread; and
// its results become numpy.float64 (the reason numpy.int8) directly. No
// arrays, buffers or threads: a fifth of the array path's cost
// (benchmarks/batch.py), the same bits.
Fallible<OwnedRef> one_option_call(const BatchSignature& signature, ChunkComputation compute, const BatchState& state,
                                   const Slots& slots) {
    std::array<double, kNumberCount> numbers{};  // q defaults to 0.0; an absent spot is never read
    for (std::size_t i = 0; i < kNumberCount; ++i) {
        if (PyObject* argument = operand_argument(signature, slots, i)) {
            numbers[i] = PyFloat_AsDouble(argument);
            if (numbers[i] == -1.0) {
                Fallible<void> converted = conversion_failure(operand_name(signature, i));
                VELARIX_PASS_ON_FAILURE(converted);
            }
        }
    }
    auto type = static_cast<unsigned char>(OptionType::Call);  // the default "call"
    if (PyObject* argument = operand_argument(signature, slots, kNumberCount)) {
        Fallible<OptionType> read = option_type_of(argument);
        VELARIX_PASS_ON_FAILURE(read);
        type = static_cast<unsigned char>(read.value());
    }
    Fallible<KeywordChoices> choices = read_keywords(signature, slots);
    VELARIX_PASS_ON_FAILURE(choices);
    const CallSetting& setting = choices.value().setting;

    std::array<double, kMaxOutputs> values{};
    std::int8_t reason = 0;
    BatchWork work{Shape{}, {}, {}, {}, setting.reasons ? &reason : nullptr, setting.value};
    for (std::size_t i = 0; i < kNumberCount; ++i) {
        work.bases[i] = reinterpret_cast<const char*>(&numbers[i]);
    }
    work.bases[kNumberCount] = reinterpret_cast<const char*>(&type);
    for (std::size_t i = 0; i < kMaxOutputs; ++i) {
        work.outputs[i] = &values[i];
    }
    std::optional<IndexedFailure> failure;
    if ((setting.grain > 0 ? setting.grain : signature.grain) <= kReleaseLockGrain) {
        ReleasedInterpreterLock unlocked;
        failure = compute(&work, 0, 1);
    } else {
        failure = compute(&work, 0, 1);
    }
    if (failure) {
        return ErrorValue::deferred(PyExc_ValueError, failure->error.display());
    }

    std::array<OwnedRef, kMaxOutputs + 1> results;
    for (std::size_t i = 0; i < signature.output_count; ++i) {
        Fallible<OwnedRef> value = numpy_scalar(state.numpy.float64, OwnedRef::steal(PyFloat_FromDouble(values[i])));
        VELARIX_PASS_ON_FAILURE(value);
        results[i] = std::move(value.value());
    }
    if (setting.reasons) {
        Fallible<OwnedRef> code = numpy_scalar(state.numpy.int8, OwnedRef::steal(PyLong_FromLong(reason)));
        VELARIX_PASS_ON_FAILURE(code);
        results[signature.output_count] = std::move(code.value());
    }
    return returned_value(state, signature.output_count, setting.reasons, results);
}

}  // namespace

Fallible<OwnedRef> batch_call(const BatchSignature& signature, ChunkComputation compute, PyObject* module,
                              PyObject* positional, PyObject* keywords) {
    Slots slots{};
    Fallible<void> bound = bind_call(signature.spec, positional, keywords, slots);
    VELARIX_PASS_ON_FAILURE(bound);
    const auto* module_state = static_cast<const BatchState*>(PyModule_GetState(module));
    if (module_state == nullptr) {
        return take_pending_error();
    }
    const BatchState& state = *module_state;
    if (takes_one_option(signature, slots)) {
        return one_option_call(signature, compute, state, slots);
    }

    std::array<NumberColumn, kNumberCount> numbers;
    for (std::size_t i = 0; i < kNumberCount; ++i) {
        PyObject* argument = operand_argument(signature, slots, i);
        if (argument == nullptr) {
            numbers[i].set_scalar(0.0);  // q defaults to 0.0; an absent spot is never read
            continue;
        }
        Fallible<void> read = numbers[i].read(state.numpy, argument, operand_name(signature, i));
        VELARIX_PASS_ON_FAILURE(read);
    }
    OptionTypeColumn types;
    if (PyObject* argument = operand_argument(signature, slots, kNumberCount); argument != nullptr) {
        Fallible<void> read = types.read(state.numpy, argument);
        VELARIX_PASS_ON_FAILURE(read);
    } else {
        types.set_scalar(OptionType::Call);  // the default "call"
    }
    Fallible<KeywordChoices> choices = read_keywords(signature, slots);
    VELARIX_PASS_ON_FAILURE(choices);
    const CallSetting& setting = choices.value().setting;

    std::array<const StridedOperand*, kOperandCount> operands{};
    for (std::size_t i = 0; i < kNumberCount; ++i) {
        operands[i] = &numbers[i].operand();
    }
    operands[kNumberCount] = &types.operand();
    const std::optional<Shape> shape = broadcast_shape(operands);
    if (!shape) {
        return shape_mismatch(signature, operands);
    }
    const std::optional<Py_ssize_t> count = element_count(*shape);
    if (!count) {
        return ErrorValue::deferred(PyExc_ValueError, "the broadcast shape " + shape_text(*shape) + " is too large");
    }
    const std::size_t output_count = signature.output_count;
    Outputs outputs;
    Fallible<void> prepared = outputs.prepare(state.numpy, *shape, output_count, setting.reasons,
                                              slots[keyword_slot(signature.spec, kOutParameter)]);
    VELARIX_PASS_ON_FAILURE(prepared);
    // An output in the caller's memory may be an input too, or overlap one
    // (out=sigma; an input broadcast from a row of out): such an input is
    // read from a copy, since each element is read after earlier results
    // were written.
    for (NumberColumn& column : numbers) {
        if (outputs.overlaps(column.operand(), sizeof(double))) {
            column.copy_values();
        }
    }

    if (*count > 0) {
        BatchWork work{*shape, {}, {}, outputs.data(), outputs.reasons(), setting.value};
        for (std::size_t i = 0; i < kOperandCount; ++i) {
            work.bases[i] = operands[i]->data;
            work.strides[i] = broadcast_strides(*operands[i], *shape);
        }
        const Py_ssize_t grain = setting.grain > 0 ? setting.grain : signature.grain;
        const Py_ssize_t worthwhile = std::max<Py_ssize_t>(1, *count / grain);
        const std::size_t requested = choices.value().threads ? *choices.value().threads : usable_cpus();
        const std::size_t threads = std::min(requested, static_cast<std::size_t>(worthwhile));
        if (std::optional<IndexedFailure> failure = compute_in_chunks(*count, threads, compute, &work)) {
            return ErrorValue::deferred(PyExc_ValueError, failure->error.display());
        }
    }

    std::array<OwnedRef, kMaxOutputs + 1> results;
    for (std::size_t i = 0; i < output_count; ++i) {
        Fallible<OwnedRef> result = outputs.take(i, *shape);
        VELARIX_PASS_ON_FAILURE(result);
        results[i] = std::move(result.value());
    }
    if (setting.reasons) {
        Fallible<OwnedRef> reasons = outputs.take_reasons(*shape);
        VELARIX_PASS_ON_FAILURE(reasons);
        results[output_count] = std::move(reasons.value());
    }
    return returned_value(state, output_count, setting.reasons, results);
}

namespace {

template <std::size_t Index>
PyObject* batch_entry(PyObject* module, PyObject* positional, PyObject* keywords) {
    constexpr const FunctionDefinition& function = kFunctions[Index];
    static constexpr BatchSignature signature{
        .spec = {function.name, function.parameter_count(), kRequiredCount, {kOutParameter, kThreadsParameter}},
        .operand_slots = kOptionSlots,
        .output_count = function.returns_greeks() ? 5U : 1U,
        .grain = grain_of(function.model),
    };
    return guard_entry([&] { return batch_call(signature, chunk_computation<Index>(), module, positional, keywords); });
}

template <std::size_t... Index>
constexpr std::array<ModuleFunction, sizeof...(Index)> make_batch_functions(std::index_sequence<Index...>) {
    return {{ModuleFunction{&kFunctions[Index], batch_entry<Index>}...}};
}

constexpr std::array<ModuleFunction, kFunctions.size()> kBatchFunctions =
    make_batch_functions(std::make_index_sequence<kFunctions.size()>{});

}  // namespace

std::span<const ModuleFunction, kFunctions.size()> batch_functions() { return kBatchFunctions; }

}  // namespace velarix
