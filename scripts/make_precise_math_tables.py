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
    "exp": "0.51 ulp (exp), 0.51 ulp (expm1)",
    "log": "0.51 ulp",
    "normal": "Phi 1.5 ulp, phi 1.0 ulp",
}

EXP_DEGREE = 10          # P in exp(r) = 1 + r + r^2 P(r)
EXP_REDUCED = mp.mpf("0.35")  # |r| <= ln2/2 = 0.3466, with room for the rounding of n
LOG_DEGREE = 6           # T in log(1+f) = f - s (f - s^2 T(s^2)), s = f/(2+f)
TAIL_DEGREE = 11         # the normal tail polynomials
TAIL_SPLITS_LOG2 = 3     # 2^3 intervals per binade
TAIL_FIRST_BINADE = -4   # [0, 2^-4) is one interval, then [2^-4, 2^-3) in eight ...
TAIL_CLAMP = 39.0        # |x| beyond this: phi and Phi(-|x|) are 0 in double


def hexfloat(value):
    return float(value).hex()


def fit(function, low, high, degree):
    """Monomial coefficients, constant term first, and the interpolant's error."""
    coefficients, error = mp.chebyfit(function, [low, high], degree + 1, error=True)
    return list(reversed(coefficients)), error


def split(value, bits):
    """value as hi + lo, hi with `bits` significant bits."""
    exponent = mp.floor(mp.log(abs(value), 2))
    scale = mp.mpf(2) ** (bits - 1 - exponent)
    hi = mp.nint(value * scale) / scale
    return float(hi), float(value - hi)


def exp_table():
    def tail(r):
        return (mp.exp(r) - 1 - r) / r ** 2 if r != 0 else mp.mpf(1) / 2
    coefficients, error = fit(tail, -EXP_REDUCED, EXP_REDUCED, EXP_DEGREE)
    ln2_hi, ln2_lo = split(mp.log(2), 42)
    rows = ",\n".join(f"    {hexfloat(c)}" for c in coefficients)
    return f"""// exp: x = n ln2 + r, |r| <= 0.35 (n = nearest integer to x / ln2), and
//   exp(r) = 1 + r + r^2 P(r),  P(r) = sum kExpTail[k] r^k.
// Interval [-0.35, 0.35]; fit error of r^2 P(r): {mp.nstr(error * EXP_REDUCED ** 2, 2)} absolute.
// Measured max error: {MEASURED["exp"]}.
// ln2 = kLn2High + kLn2Low, kLn2High with 42 significant bits, so that n kLn2High is exact
// for every |n| < 2^11 (exp and log reach |n| = 1076).
inline constexpr double kLn2High = {hexfloat(ln2_hi)};
inline constexpr double kLn2Low = {hexfloat(ln2_lo)};
inline constexpr double kInvLn2 = {hexfloat(1 / mp.log(2))};
inline constexpr double kExpTail[{len(coefficients)}] = {{
{rows},
}};
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
        worst = max(worst, error / tail(high))
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
#pragma once

namespace velarix::precise::tables {{

{exp_table()}
{log_table()}
{normal_table()}
}}  // namespace velarix::precise::tables
""")


if __name__ == "__main__":
    main()
