// Threads of velarix_batch calls. See batch_parallel.h.
#include "batch_parallel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "internal_failure.h"

#include <sched.h>

namespace velarix {

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

Fallible<std::optional<std::size_t>> requested_threads(PyObject* argument) {
    if (argument == nullptr || argument == Py_None) {
        return std::optional<std::size_t>();
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
    return std::optional(static_cast<std::size_t>(threads));
}

namespace {

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

}  // namespace


std::optional<IndexedFailure> compute_in_chunks(Py_ssize_t count, std::size_t threads, ChunkComputation compute,
                                                const void* work) {
    std::vector<std::optional<IndexedFailure>> failures(threads);
    std::vector<Crash> crashes(threads);
    const auto chunk_start = [&](std::size_t chunk) {
        const auto chunks = static_cast<Py_ssize_t>(threads);
        const auto whole = static_cast<Py_ssize_t>(chunk);
        return count / chunks * whole + std::min(whole, count % chunks);
    };
    const auto run_chunk = [&](std::size_t chunk) noexcept {
        try {
            failures[chunk] = compute(work, chunk_start(chunk), chunk_start(chunk + 1));
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

}  // namespace velarix
