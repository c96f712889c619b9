// The exp, log and pow of a computation that runs in rounds: each call names
// its argument and the double its value goes to. At once, every call is the
// runtime's function (runtime_math.h) right there. Gathered, the calls of a
// round are kept until the round ends (evaluate) and then evaluated together
// by runtime_math_lanes.h's batches, so that the many independent calls of
// several prices fill the eight lanes. The values have the runtime's bits
// either way. A gathered value must not be read before evaluate, and the
// double it goes to must stay where it is until then.
//
// A value already asked for (whose argument the caller found repeated) is
// taken by copy, which, gathered, happens when the round ends, after the
// calls, in the order asked: so its source may be a value of the same round.
#pragma once

#include <array>
#include <cstddef>

#include "runtime_math.h"

namespace velarix {

class RuntimeCalls {
public:
    enum class Mode { AtOnce, Gathered };

    explicit RuntimeCalls(Mode mode) : mode_(mode) {}
    RuntimeCalls(const RuntimeCalls&) = delete;
    RuntimeCalls& operator=(const RuntimeCalls&) = delete;

    // Gathered where the runtime's lanes are in use, else at once: without
    // the lanes, gathering would only delay the same scalar calls.
    static Mode where_lanes_pay();

    bool gathered() const { return mode_ == Mode::Gathered; }

    void exp(double x, double& value) {
        if (mode_ == Mode::AtOnce) {
            value = std::exp(x);
            return;
        }
        if (exps_.count == kRoom) {
            evaluate_exps();
        }
        keep(exps_, x, value);
    }
    void log(double x, double& value) {
        if (mode_ == Mode::AtOnce) {
            value = std::log(x);
            return;
        }
        if (logs_.count == kRoom) {
            evaluate_logs();
        }
        keep(logs_, x, value);
    }
    void pow(double x, double y, double& value) {
        if (mode_ == Mode::AtOnce) {
            value = std::pow(x, y);
            return;
        }
        if (pows_.count == kRoom) {
            evaluate_pows();
        }
        pow_exponents_[pows_.count] = y;
        keep(pows_, x, value);
    }
    void copy(const double& source, double& value) {
        if (mode_ == Mode::AtOnce) {
            value = source;
            return;
        }
        if (copy_count_ == kRoom) {
            evaluate_gathered();
        }
        copies_[copy_count_] = {&source, &value};
        ++copy_count_;
    }

    // Ends the round: every gathered value is written.
    void evaluate() {
        if (mode_ == Mode::Gathered) {
            evaluate_gathered();
        }
    }

private:
    // Eight prices' calls of one round fit; a fuller round is evaluated in
    // parts as it fills, which changes no value.
    static constexpr std::size_t kRoom = 64;

    struct Gathered {
        std::array<double, kRoom> arguments;
        std::array<double*, kRoom> values;
        std::size_t count = 0;
    };
    struct Copy {
        const double* source;
        double* value;
    };

    static void keep(Gathered& calls, double x, double& value) {
        calls.arguments[calls.count] = x;
        calls.values[calls.count] = &value;
        ++calls.count;
    }
    void evaluate_gathered();
    void evaluate_exps();
    void evaluate_logs();
    void evaluate_pows();

    Mode mode_;
    Gathered exps_;
    Gathered logs_;
    Gathered pows_;
    std::array<double, kRoom> pow_exponents_;
    std::array<Copy, kRoom> copies_;
    std::size_t copy_count_ = 0;
};

}  // namespace velarix
