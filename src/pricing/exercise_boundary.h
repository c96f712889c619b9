// The early-exercise boundary of an American put on an asset with a
// continuous yield, strike 1: the spot B(tau) at or below which exercise is
// optimal with tau left to expiry. It is found by a fixed-point iteration on
// the integral equation it satisfies, collocated at the Chebyshev nodes of
// sqrt(tau), started from the QD+ approximation. Calls and other strikes
// follow by symmetry and scaling in american_engine.cpp.
#pragma once

#include <vector>

#include "american_discretisation.h"

namespace velarix {

// A put with strike 1 and a single exercise boundary: r > 0, or r = 0 > q.
struct PutProblem {
    double t;      // expiry, the longest time the boundary is solved for
    double r;
    double q;
    double sigma;
};

// Which of the two fixed-point forms of the boundary equation to iterate:
// the one from value matching converges whatever the drift; the one from
// smooth pasting is about ten times more accurate at equal cost but can
// oscillate when the drift dominates, so it serves only r = q.
enum class BoundaryEquation { ValueMatching, SmoothPasting };

BoundaryEquation equation_for(const PutProblem& problem);

// B(0+): 1 where r >= q, r/q below.
double exercise_limit(const PutProblem& problem);

struct ExerciseBoundary {
    double limit;                    // X = B(0+)
    std::vector<double> log_ratio;   // ln(B(tau_i)/X) <= 0 at the nodes, i = 0..n
    double at_expiry() const;        // B(T), the last node
};

ExerciseBoundary solve_exercise_boundary(const PutProblem& problem, BoundaryEquation equation,
                                         const Discretisation& discretisation);

}  // namespace velarix
