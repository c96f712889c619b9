"""Writes src/pricing/precise_math_tables.h: the constants and polynomial
coefficients of the full-precision exp, expm1, log and normal distribution
(src/pricing/precise_math_kernels.h), derived here with mpmath at 50 digits.

Each polynomial is the Chebyshev interpolant of its function on its interval
(near-minimax), turned into monomial coefficients and rounded to double.
The fit error printed with each table is that of the exact interpolant; the
measured error is that of the finished function in double precision, against
mpmath on random arguments (scripts/measure_precise_math.py), and is copied
into MEASURED below by hand after each change of the tables.

    build/venv/bin/python scripts/make_precise_math_tables.py
"""
from pathlib import Path

import mpmath as mp

mp.mp.dps = 50
OUTPUT = Path(__file__).resolve().parent.parent / "src" / "pricing" / "precise_math_tables.h"

# Max error of the finished functions, in ulps of the correctly rounded result,
# as scripts/measure_precise_math.py last reported it.
MEASURED = {
    "exp": "0.505 ulp (exp), 0.593 ulp (expm1); subnormal results 0.63 ulp",
    "log": "0.786 ulp",
    "normal": "Phi 2.39 ulp, phi 1.79 ulp (normal results;\n// subnormal ones within 0.82 of the least subnormal)",
}

EXP_TABLE_LOG2 = 7       # 2^(j/128) from a table
EXP_DEGREE = 3           # P in exp(r) = 1 + r + r^2 P(r)
LOG_DEGREE = 6           # T in log(1+f) = f - s (f - s^2 T(s^2)), s = f/(2+f)
TAIL_DEGREE = 11         # the normal tail polynomials
TAIL_SPLITS_LOG2 = 3     # 2^3 intervals per binade
TAIL_FIRST_BINADE = -4   # [0, 2^-4) is one interval, then [2^-4, 2^-3) in eight ...
TAIL_CLAMP = 39.0        # |x| beyond this: phi and Phi(-|x|) are 0 in double


def hexfloat(value):
    return float(value).hex()


def fit(function, low, high, degree, samples=1000):
    """Monomial coefficients, constant term first, and the interpolant's
    largest absolute error on a grid of the interval."""
    coefficients = mp.chebyfit(function, [low, high], degree + 1)
    points = (low + (high - low) * mp.mpf(i) / samples for i in range(samples + 1))
    error = max(abs(mp.polyval(coefficients, x) - function(x)) for x in points)
    return list(reversed(coefficients)), error


def split(value, bits):
    """value as hi + lo, hi with `bits` significant bits."""
    exponent = mp.floor(mp.log(abs(value), 2))
    scale = mp.mpf(2) ** (bits - 1 - exponent)
    hi = mp.nint(value * scale) / scale
    return float(hi), float(value - hi)


def exp_table():
    reduced = mp.log(2) / 2 ** (EXP_TABLE_LOG2 + 1) * mp.mpf("1.01")
    def tail(r):
        return (mp.exp(r) - 1 - r) / r ** 2 if r != 0 else mp.mpf(1) / 2
    coefficients, error = fit(tail, -reduced, reduced, EXP_DEGREE)
    ln2_hi, ln2_lo = split(mp.log(2), 42)
    step = mp.log(2) / 2 ** EXP_TABLE_LOG2
    step_hi, step_lo = split(step, 53 - 18)
    powers = []
    for j in range(2 ** EXP_TABLE_LOG2):
        value = mp.mpf(2) ** (mp.mpf(j) / 2 ** EXP_TABLE_LOG2)
        high = float(value)
        powers.append(f"    {{{hexfloat(high)}, {hexfloat(value - high)}}},")
    rows = ",\n".join(f"    {hexfloat(c)}" for c in coefficients)
    table = "\n".join(powers)
    return f"""// exp: x = ({2 ** EXP_TABLE_LOG2} n + j) ln2/{2 ** EXP_TABLE_LOG2} + r, j = 0 ... {2 ** EXP_TABLE_LOG2 - 1}, |r| <= ln2/{2 ** (EXP_TABLE_LOG2 + 1)}, and
//   exp(x) = 2^n 2^(j/{2 ** EXP_TABLE_LOG2}) exp(r),  exp(r) = 1 + r + r^2 P(r),  P(r) = sum kExpTail[k] r^k.
// Interval |r| <= {mp.nstr(reduced, 4)}; fit error of r^2 P(r): {mp.nstr(error * reduced ** 2, 2)} absolute.
// Measured max error: {MEASURED["exp"]}.
// ln2/{2 ** EXP_TABLE_LOG2} = kExpStepHigh + kExpStepLow, kExpStepHigh with 35 significant bits, so that
// m kExpStepHigh is exact for |m| < 2^18 (exp reaches |m| = {2 ** EXP_TABLE_LOG2} * 1077).
inline constexpr int kExpTableLog2 = {EXP_TABLE_LOG2};
inline constexpr double kExpStepHigh = {hexfloat(step_hi)};
inline constexpr double kExpStepLow = {hexfloat(step_lo)};
inline constexpr double kInvExpStep = {hexfloat(1 / step)};
inline constexpr double kExpTail[{len(coefficients)}] = {{
{rows},
}};
// 2^(j/{2 ** EXP_TABLE_LOG2}) = kExpPowers[j][0] + kExpPowers[j][1], the first rounded to nearest.
inline constexpr double kExpPowers[{2 ** EXP_TABLE_LOG2}][2] = {{
{table}
}};
// For log: ln2 = kLn2High + kLn2Low, kLn2High with 42 significant bits, so that
// k kLn2High is exact for every |k| < 2^11 (log reaches |k| = 1076).
inline constexpr double kLn2High = {hexfloat(ln2_hi)};
inline constexpr double kLn2Low = {hexfloat(ln2_lo)};
"""


def log_table():
    s_max = (mp.sqrt(2) - 1) / (mp.sqrt(2) + 1) * mp.mpf("1.001")
    def series(z):
        return 2 * (mp.atanh(mp.sqrt(z)) / mp.sqrt(z) - 1) / z if z != 0 else mp.mpf(2) / 3
    coefficients, error = fit(series, 0, s_max ** 2, LOG_DEGREE)
    rows = ",\n".join(f"    {hexfloat(c)}" for c in coefficients)
    return f"""// log: x = 2^k (1 + f), 1 + f in [sqrt(1/2), sqrt(2)), s = f / (2 + f), and
//   log(1 + f) = 2 atanh(s) = f - s (f - s^2 T(s^2)),  T(z) = sum kLogSeries[k] z^k
//   (the exact T is sum 2 z^j / (2j + 3)), written as f - f^2/2 + s (f^2/2 + s^2 T).
// Interval z = s^2 in [0, {mp.nstr(s_max ** 2, 5)}]; fit error of T: {mp.nstr(error, 2)} absolute.
// Measured max error: {MEASURED["log"]}.
inline constexpr double kLogSeries[{len(coefficients)}] = {{
{rows},
}};
"""


def tail_intervals():
    """[low, high) of each interval of the normal tail table, by index."""
    intervals = [(mp.mpf(0), mp.mpf(2) ** TAIL_FIRST_BINADE)]
    binade = TAIL_FIRST_BINADE
    while intervals[-1][1] <= TAIL_CLAMP:
        width = mp.mpf(2) ** binade / 2 ** TAIL_SPLITS_LOG2
        for step in range(2 ** TAIL_SPLITS_LOG2):
            low = mp.mpf(2) ** binade + step * width
            if low <= TAIL_CLAMP:
                intervals.append((low, low + width))
        binade += 1
    return intervals


def normal_table():
    def tail(x):  # Phi(-x) exp(x^2/2)
        return mp.erfc(x / mp.sqrt(2)) / 2 * mp.exp(x * x / 2)
    rows, worst = [], 0
    for low, high in tail_intervals():
        centre = (low + high) / 2
        coefficients, error = fit(lambda d: tail(centre + d), low - centre, high - centre, TAIL_DEGREE)
        worst = max(worst, error / tail(high))  # Q decreases: its least value is at high
        values = ", ".join([hexfloat(c) for c in [centre] + coefficients] + ["0"] * (16 - 2 - TAIL_DEGREE))
        rows.append(f"    {{{values}}},  // [{mp.nstr(low, 8)}, {mp.nstr(high, 8)})")
    inv_sqrt_2pi_hi = float(1 / mp.sqrt(2 * mp.pi))
    inv_sqrt_2pi_lo = float(1 / mp.sqrt(2 * mp.pi) - inv_sqrt_2pi_hi)
    body = "\n".join(rows)
    return f"""// The normal tail: for x >= 0, Phi(-x) = exp(-x^2/2) Q(x) with Q(x) = Phi(-x) exp(x^2/2),
// the Mills ratio over sqrt(2 pi); Q on each interval of the row's comment is
//   Q(x) = sum row[1 + k] d^k,  d = x - row[0], row[0] the interval's centre
// (d is exact but in row 0, where its rounding error is below 2^-55 Q'(x)).
// Rows by index: 0 for [0, 2^{TAIL_FIRST_BINADE}), then {2 ** TAIL_SPLITS_LOG2} equal intervals per binade, the index read
// from the exponent and the top {TAIL_SPLITS_LOG2} significand bits of x, up to x = {TAIL_CLAMP}.
// Fit error of Q: {mp.nstr(worst, 2)} relative at most. Measured max error: {MEASURED["normal"]}.
// phi(x) = exp(-x^2/2) / sqrt(2 pi), 1 / sqrt(2 pi) = kInvSqrt2PiHigh + kInvSqrt2PiLow.
inline constexpr double kInvSqrt2PiHigh = {hexfloat(inv_sqrt_2pi_hi)};
inline constexpr double kInvSqrt2PiLow = {hexfloat(inv_sqrt_2pi_lo)};
inline constexpr double kTailFirstBinadeStart = {hexfloat(mp.mpf(2) ** TAIL_FIRST_BINADE)};
inline constexpr int kTailSplitsLog2 = {TAIL_SPLITS_LOG2};
inline constexpr double kTailClamp = {hexfloat(TAIL_CLAMP)};
// A row is padded to 16 doubles, two cache lines, so that its index is a shift.
inline constexpr int kTailDegree = {TAIL_DEGREE};
alignas(64) inline constexpr double kTailTable[{len(rows)}][16] = {{
{body}
}};
"""


def main():
    OUTPUT.write_text(f"""// Generated by scripts/make_precise_math_tables.py (mpmath, 50 digits); do not edit.
// The constants and coefficients of velarix::precise, each table with its interval,
// its form and its measured error; precise_math_kernels.h evaluates them.
// Errors measured by scripts/measure_precise_math.py: 1.1e5 arguments per function,
// random over its range plus edges, against mpmath at 50 digits, in ulps of the exact value.
#pragma once

namespace velarix::precise::tables {{

{exp_table()}
{log_table()}
{normal_table()}
}}  // namespace velarix::precise::tables
""")


if __name__ == "__main__":
    main()
