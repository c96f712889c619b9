// Gathered runtime calls, evaluated in the runtime's lanes when a round ends
// (see runtime_calls.h).
#include "runtime_calls.h"

#include "runtime_math_lanes.h"

namespace velarix {
namespace {

// Writes each value where its call asked for it.
void scatter(const double* values, double* const* destinations, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        *destinations[i] = values[i];
    }
}

}  // namespace

RuntimeCalls::Mode RuntimeCalls::where_lanes_pay() {
    return runtime_lanes::lanes_in_use() ? Mode::Gathered : Mode::AtOnce;
}

void RuntimeCalls::evaluate_exps() {
    std::array<double, kRoom> values;
    runtime_lanes::exp_batch(exps_.arguments.data(), values.data(), exps_.count);
    scatter(values.data(), exps_.values.data(), exps_.count);
    exps_.count = 0;
}

void RuntimeCalls::evaluate_logs() {
    std::array<double, kRoom> values;
    runtime_lanes::log_batch(logs_.arguments.data(), values.data(), logs_.count);
    scatter(values.data(), logs_.values.data(), logs_.count);
    logs_.count = 0;
}

void RuntimeCalls::evaluate_pows() {
    std::array<double, kRoom> values;
    runtime_lanes::pow_batch(pows_.arguments.data(), pow_exponents_.data(), values.data(), pows_.count);
    scatter(values.data(), pows_.values.data(), pows_.count);
    pows_.count = 0;
}

void RuntimeCalls::evaluate_gathered() {
    if (exps_.count != 0) {
        evaluate_exps();
    }
    if (logs_.count != 0) {
        evaluate_logs();
    }
    if (pows_.count != 0) {
        evaluate_pows();
    }
    for (std::size_t i = 0; i < copy_count_; ++i) {
        *copies_[i].value = *copies_[i].source;
    }
    copy_count_ = 0;
}

}  // namespace velarix
