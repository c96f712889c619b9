// Dispatch of one velarix_batch call. With the interpreter lock held: bind
// the arguments as velarix does (plus the keyword-only threads), read the
// inputs into strided columns, broadcast them, allocate the outputs. Then,
// with the lock released, split the flat range of the broadcast shape into
// contiguous chunks, one per thread, each walked in C order by an odometer
// over the inputs' own strides; nothing there touches Python or allocates
// per element. Then, with the lock again, wrap the outputs.
#include "batch_dispatch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

#include "argument_binding.h"
#include "value_conversion.h"

namespace velarix {
namespace {

constexpr const char* kThreadsParameter = "threads";
constexpr std::size_t kOperandCount = kNumberCount + 1;  // the numbers, then the option type
constexpr std::size_t kMaxOutputs = 5;

// The fewest options worth a thread of their own: each thread gets at least
// this many. Starting and joining a thread costs tens of microseconds; two
// threads on half as many each were measured no faster than one below about
// these sizes (benchmarks/batch.py --grain, two cores).
constexpr Py_ssize_t grain_of(Model model) { return model == Model::BlackScholes ? 16384 : 512; }

// The CPUs this process may run on.
std::size_t usable_cpus() {
#if defined(__linux__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        return static_cast<std::size_t>(std::max(1, CPU_COUNT(&set)));
    }
#endif
    return std::max(1U, std::thread::hardware_concurrency());
}

Fallible<std::size_t> requested_threads(PyObject* argument) {
    if (argument == nullptr || argument == Py_None) {
        return usable_cpus();
    }
    if (!PyType_HasFeature(Py_TYPE(argument), Py_TPFLAGS_LONG_SUBCLASS) || PyBool_Check(argument)) {
        return ErrorValue::conversion_mismatch(argument, "int or None").tagged_with_argument(kThreadsParameter);
    }
    const Py_ssize_t threads = PyLong_AsSsize_t(argument);
    if (threads == -1 && PyErr_Occurred() != nullptr) {
        return take_pending_error().tagged_with_argument(kThreadsParameter);
    }
    if (threads < 1) {
        return ErrorValue::deferred(PyExc_ValueError, "threads must be at least 1, not " + std::to_string(threads));
    }
    return static_cast<std::size_t>(threads);
}

std::string shape_text(const Shape& shape) {
    std::string text = "(";
    for (std::size_t d = 0; d < shape.ndim; ++d) {
        text += std::to_string(shape.extent[d]) + (shape.ndim == 1 ? "," : d + 1 < shape.ndim ? ", " : "");
    }
    return text + ")";
}

// "shape mismatch: s (3,), k (4,), ..." for every input that is an array.
ErrorValue shape_mismatch(const std::array<const StridedOperand*, kOperandCount>& operands) {
    std::string message = "shape mismatch: the inputs cannot be broadcast together:";
    const char* separator = " ";
    for (std::size_t i = 0; i < kOperandCount; ++i) {
        if (operands[i]->shape.ndim > 0) {
            message += separator + std::string(kParameterNames[i]) + " " + shape_text(operands[i]->shape);
            separator = ", ";
        }
    }
    return ErrorValue::deferred(PyExc_ValueError, std::move(message));
}

// Float64 arrays of the broadcast shape, C-contiguous, held with their buffers.
class Outputs {
public:
    Fallible<bool> allocate(const NumpyHandles& numpy, const Shape& shape, std::size_t count) {
        OwnedRef dimensions = expect_new_reference(PyTuple_New(static_cast<Py_ssize_t>(shape.ndim)));
        for (std::size_t d = 0; d < shape.ndim; ++d) {
            PyObject* extent = PyLong_FromSsize_t(shape.extent[d]);
            if (extent == nullptr || PyTuple_SetItem(dimensions.get(), static_cast<Py_ssize_t>(d), extent) < 0) {
                return take_pending_error();
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            arrays_[i] =
                OwnedRef::steal(PyObject_CallFunctionObjArgs(numpy.empty, dimensions.get(), numpy.float64, nullptr));
            if (!arrays_[i] || !buffers_[i].acquire(arrays_[i].get(), PyBUF_CONTIG)) {
                return take_pending_error();
            }
            data_[i] = static_cast<double*>(buffers_[i].view().buf);
        }
        return true;
    }

    const std::array<double*, kMaxOutputs>& data() const { return data_; }

    // The arrays, or their only element as numpy.float64 for a 0-d shape, as
    // numpy's own functions return for scalar inputs.
    Fallible<OwnedRef> take(std::size_t i, const Shape& shape) {
        if (shape.ndim > 0) {
            return std::move(arrays_[i]);
        }
        OwnedRef no_index = expect_new_reference(PyTuple_New(0));
        OwnedRef element = OwnedRef::steal(PyObject_GetItem(arrays_[i].get(), no_index.get()));
        if (!element) {
            return take_pending_error();
        }
        return element;
    }

private:
    std::array<OwnedRef, kMaxOutputs> arrays_;
    std::array<BufferView, kMaxOutputs> buffers_;
    std::array<double*, kMaxOutputs> data_{};
};

// Everything the workers read and write, fixed before they start.
struct BatchWork {
    Shape shape;
    std::array<const char*, kOperandCount> bases;
    std::array<std::array<Py_ssize_t, kMaxDimensions>, kOperandCount> strides;
    std::array<double*, kMaxOutputs> outputs;
};

// A core failure at flat index `index`; the earliest one is raised.
struct IndexedFailure {
    Py_ssize_t index;
    PricingError error;
};

double number_at(const char* element) {
    double value = 0.0;
    std::memcpy(&value, element, sizeof value);  // inputs may be unaligned
    return value;
}

template <std::size_t Index>
std::optional<IndexedFailure> compute_range(const BatchWork& work, Py_ssize_t begin, Py_ssize_t end) {
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

// The interpreter lock released for the life of the object.
class ReleasedInterpreterLock {
public:
    ReleasedInterpreterLock() : state_(PyEval_SaveThread()) {}
    ReleasedInterpreterLock(const ReleasedInterpreterLock&) = delete;
    ReleasedInterpreterLock& operator=(const ReleasedInterpreterLock&) = delete;
    ~ReleasedInterpreterLock() { PyEval_RestoreThread(state_); }

private:
    PyThreadState* state_;
};

// Threads joined before the object goes, also when starting one failed.
class JoinedThreads {
public:
    JoinedThreads() = default;
    JoinedThreads(const JoinedThreads&) = delete;
    JoinedThreads& operator=(const JoinedThreads&) = delete;
    ~JoinedThreads() {
        for (std::thread& thread : threads_) {
            thread.join();
        }
    }
    void reserve(std::size_t count) { threads_.reserve(count); }
    template <typename Body>
    void start(Body&& body) {
        threads_.emplace_back(std::forward<Body>(body));
    }

private:
    std::vector<std::thread> threads_;
};

// What a C++ exception in a worker said, copied without allocating. The
// exception itself is not carried across threads: std::exception_ptr would
// need a C++ runtime newer than the manylinux_2_28 policy allows.
struct Crash {
    bool happened = false;
    std::array<char, 256> message{};

    void record(const char* what) noexcept {
        happened = true;
        std::strncpy(message.data(), what, message.size() - 1);
    }
};

// Runs the computation over [0, count) on `threads` threads, the calling one
// included, in contiguous chunks of nearly equal size. A C++ exception in a
// chunk becomes an internal failure in the calling thread once all are done.
template <std::size_t Index>
std::optional<IndexedFailure> compute_all(const BatchWork& work, Py_ssize_t count, std::size_t threads) {
    std::vector<std::optional<IndexedFailure>> failures(threads);
    std::vector<Crash> crashes(threads);
    const auto chunk_start = [&](std::size_t chunk) {
        const auto chunks = static_cast<Py_ssize_t>(threads);
        const auto whole = static_cast<Py_ssize_t>(chunk);
        return count / chunks * whole + std::min(whole, count % chunks);
    };
    const auto run_chunk = [&](std::size_t chunk) noexcept {
        try {
            failures[chunk] = compute_range<Index>(work, chunk_start(chunk), chunk_start(chunk + 1));
        } catch (const std::exception& exception) {
            crashes[chunk].record(exception.what());
        } catch (...) {
            crashes[chunk].record("unknown native exception");
        }
    };
    {
        ReleasedInterpreterLock unlocked;
        JoinedThreads workers;
        workers.reserve(threads - 1);
        for (std::size_t chunk = 1; chunk < threads; ++chunk) {
            workers.start([&run_chunk, chunk] { run_chunk(chunk); });
        }
        run_chunk(0);
    }
    for (const Crash& crash : crashes) {
        if (crash.happened) {
            fail_internally(std::string("a worker thread failed: ") + crash.message.data());
        }
    }
    for (std::optional<IndexedFailure>& failure : failures) {
        if (failure) {
            return std::move(failure);  // chunks are in order: the earliest
        }
    }
    return std::nullopt;
}

template <std::size_t Index>
Fallible<OwnedRef> batch_call(PyObject* module, PyObject* positional, PyObject* keywords) {
    constexpr const FunctionDefinition& function = kFunctions[Index];
    constexpr ParameterSpec spec{function.name, function.parameter_count(), kRequiredCount, kThreadsParameter};
    Slots slots{};
    if (std::optional<ErrorValue> refusal = bind_call(spec, positional, keywords, slots)) {
        return std::move(*refusal);
    }
    const auto* module_state = static_cast<const BatchState*>(PyModule_GetState(module));
    if (module_state == nullptr) {
        return take_pending_error();
    }
    const BatchState& state = *module_state;

    std::array<NumberColumn, kNumberCount> numbers;
    for (std::size_t i = 0; i < kNumberCount; ++i) {
        if (slots[i] == nullptr) {
            numbers[i].set_scalar(0.0);  // q defaults to 0.0
            continue;
        }
        Fallible<bool> read = numbers[i].read(state.numpy, slots[i], i);
        if (!read.ok()) {
            return std::move(read.error());
        }
    }
    OptionTypeColumn types;
    if (function.takes_option_type && slots[kOptionTypeSlot] != nullptr) {
        Fallible<bool> read = types.read(state.numpy, slots[kOptionTypeSlot]);
        if (!read.ok()) {
            return std::move(read.error());
        }
    } else {
        types.set_scalar(OptionType::Call);  // the default "call"
    }
    Fallible<std::size_t> requested = requested_threads(slots[kKeywordOnlySlot]);
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
        return shape_mismatch(operands);
    }
    const std::optional<Py_ssize_t> count = element_count(*shape);
    if (!count) {
        return ErrorValue::deferred(PyExc_ValueError, "the broadcast shape " + shape_text(*shape) + " is too large");
    }
    constexpr std::size_t output_count = function.returns_greeks() ? 5 : 1;
    Outputs outputs;
    Fallible<bool> allocated = outputs.allocate(state.numpy, *shape, output_count);
    if (!allocated.ok()) {
        return std::move(allocated.error());
    }

    if (*count > 0) {
        BatchWork work{*shape, {}, {}, outputs.data()};
        for (std::size_t i = 0; i < kOperandCount; ++i) {
            work.bases[i] = operands[i]->data;
            work.strides[i] = broadcast_strides(*operands[i], *shape);
        }
        const Py_ssize_t worthwhile = std::max<Py_ssize_t>(1, *count / grain_of(function.model));
        const std::size_t threads = std::min(requested.value(), static_cast<std::size_t>(worthwhile));
        if (std::optional<IndexedFailure> failure = compute_all<Index>(work, *count, threads)) {
            return ErrorValue::deferred(PyExc_ValueError, failure->error.display());
        }
    }

    if constexpr (output_count == 1) {
        return outputs.take(0, *shape);
    } else {
        std::array<OwnedRef, output_count> fields;
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
}

template <std::size_t Index>
PyObject* batch_entry(PyObject* module, PyObject* positional, PyObject* keywords) {
    return guard_entry([&] { return batch_call<Index>(module, positional, keywords); });
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
