// Dispatch of one velarix_batch call, for every function of the module,
// each described by its BatchSignature. With the interpreter lock held: bind
// the arguments as velarix does (plus the keyword-only threads, and the
// engine functions' accuracy), read the inputs into strided columns,
// broadcast them, allocate the outputs. Then,
// with the lock released, split the flat range of the broadcast shape into
// contiguous chunks, one per thread, each walked in C order by an odometer
// over the inputs' own strides; nothing there touches Python or allocates
// per element. Then, with the lock again, wrap the outputs.
#include "batch_dispatch.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>

#include "argument_binding.h"
#include "batch_parallel.h"
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

template <std::size_t Index>
std::optional<IndexedFailure> compute_range(const void* work_record, Py_ssize_t begin, Py_ssize_t end) {
    const BatchWork& work = *static_cast<const BatchWork*>(work_record);
    Odometer<kOperandCount> at(work.shape, work.bases, work.strides, begin);
    for (Py_ssize_t i = begin; i < end; ++i, at.advance()) {
        const auto result = computation_of<Index>()(
            option_of({number_at(at[0]), number_at(at[1]), number_at(at[2]), number_at(at[3]), number_at(at[4]),
                       number_at(at[5])},
                      static_cast<OptionType>(*at[kNumberCount])));
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

}  // namespace

Fallible<OwnedRef> batch_call(const BatchSignature& signature, ChunkComputation compute, PyObject* module,
                              PyObject* positional, PyObject* keywords) {
    Slots slots{};
    if (std::optional<ErrorValue> refusal = bind_call(signature.spec, positional, keywords, slots)) {
        return std::move(*refusal);
    }
    const auto* module_state = static_cast<const BatchState*>(PyModule_GetState(module));
    if (module_state == nullptr) {
        return take_pending_error();
    }
    const BatchState& state = *module_state;
    auto argument_of = [&](std::size_t operand) {
        const std::size_t slot = signature.operand_slots[operand];
        return slot == kNoSlot ? nullptr : slots[slot];
    };

    std::array<NumberColumn, kNumberCount> numbers;
    for (std::size_t i = 0; i < kNumberCount; ++i) {
        PyObject* argument = argument_of(i);
        if (argument == nullptr) {
            numbers[i].set_scalar(0.0);  // q defaults to 0.0; an absent spot is never read
            continue;
        }
        Fallible<bool> read = numbers[i].read(state.numpy, argument, signature.spec.names[signature.operand_slots[i]]);
        if (!read.ok()) {
            return std::move(read.error());
        }
    }
    OptionTypeColumn types;
    if (PyObject* argument = argument_of(kNumberCount); argument != nullptr) {
        Fallible<bool> read = types.read(state.numpy, argument);
        if (!read.ok()) {
            return std::move(read.error());
        }
    } else {
        types.set_scalar(OptionType::Call);  // the default "call"
    }
    // threads is the last keyword-only parameter.
    std::size_t threads_slot = kKeywordOnlySlot;
    while (threads_slot + 1 < kKeywordOnlySlot + kMaxKeywordOnly &&
           signature.spec.keyword_only[threads_slot + 1 - kKeywordOnlySlot] != nullptr) {
        ++threads_slot;
    }
    CallSetting setting;
    if (signature.read_setting != nullptr) {
        Fallible<CallSetting> read = signature.read_setting(&slots[kKeywordOnlySlot]);
        if (!read.ok()) {
            return std::move(read.error());
        }
        setting = read.value();
    }
    Fallible<std::size_t> requested = requested_threads(slots[threads_slot]);
    if (!requested.ok()) {
        return std::move(requested.error());
    }

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
    Fallible<bool> allocated = outputs.allocate(state.numpy, *shape, output_count, setting.reasons);
    if (!allocated.ok()) {
        return std::move(allocated.error());
    }

    if (*count > 0) {
        BatchWork work{*shape, {}, {}, outputs.data(), outputs.reasons(), setting.value};
        for (std::size_t i = 0; i < kOperandCount; ++i) {
            work.bases[i] = operands[i]->data;
            work.strides[i] = broadcast_strides(*operands[i], *shape);
        }
        const Py_ssize_t grain = setting.grain > 0 ? setting.grain : signature.grain;
        const Py_ssize_t worthwhile = std::max<Py_ssize_t>(1, *count / grain);
        const std::size_t threads = std::min(requested.value(), static_cast<std::size_t>(worthwhile));
        if (std::optional<IndexedFailure> failure = compute_in_chunks(*count, threads, compute, &work)) {
            return ErrorValue::deferred(PyExc_ValueError, failure->error.display());
        }
    }

    if (setting.reasons) {
        Fallible<OwnedRef> results = outputs.take(0, *shape);
        if (!results.ok()) {
            return std::move(results.error());
        }
        Fallible<OwnedRef> reasons = outputs.take_reasons(*shape);
        if (!reasons.ok()) {
            return std::move(reasons.error());
        }
        OwnedRef pair = OwnedRef::steal(PyTuple_Pack(2, results.value().get(), reasons.value().get()));
        if (!pair) {
            return take_pending_error();
        }
        return pair;
    }
    if (output_count == 1) {
        return outputs.take(0, *shape);
    }
    std::array<OwnedRef, kMaxOutputs> fields;
    for (std::size_t i = 0; i < output_count; ++i) {
        Fallible<OwnedRef> field = outputs.take(i, *shape);
        if (!field.ok()) {
            return std::move(field.error());
        }
        fields[i] = std::move(field.value());
    }
    OwnedRef greeks = OwnedRef::steal(PyObject_CallFunctionObjArgs(state.greeks_class, fields[0].get(),
                                                                   fields[1].get(), fields[2].get(),
                                                                   fields[3].get(), fields[4].get(), nullptr));
    if (!greeks) {
        return take_pending_error();
    }
    return greeks;
}

namespace {

template <std::size_t Index>
PyObject* batch_entry(PyObject* module, PyObject* positional, PyObject* keywords) {
    constexpr const FunctionDefinition& function = kFunctions[Index];
    static constexpr BatchSignature signature{
        .spec = {function.name, function.parameter_count(), kRequiredCount, {kThreadsParameter}},
        .operand_slots = kOptionSlots,
        .output_count = function.returns_greeks() ? 5U : 1U,
        .grain = grain_of(function.model),
    };
    return guard_entry([&] { return batch_call(signature, compute_range<Index>, module, positional, keywords); });
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
