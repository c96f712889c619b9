"""Measures the error of velarix::precise's functions against mpmath at 50
digits, in ulps of the exact result, on random arguments spread over each
function's range plus its edges, through benchmarks/precise_math_values
(built with -DVELARIX_BUILD_BENCHMARKS=ON):

    build/venv/bin/python scripts/measure_precise_math.py BUILD/benchmarks/precise_math_values [COUNT]

For Phi and phi the largest error is reported over the normal results and,
apart, over the subnormal ones (in units of the least subnormal, 2^-1074).
"""
import math
import random
import struct
import subprocess
import sys

import mpmath as mp

mp.mp.dps = 50
SMALLEST_NORMAL = 2.0 ** -1022


def exact(name, x):
    x = mp.mpf(x)
    if name == "exp":
        return mp.exp(x)
    if name == "expm1":
        return mp.expm1(x)
    if name == "log":
        return mp.log(x)
    if name == "normal_cdf":
        return mp.erfc(-x / mp.sqrt(2)) / 2
    return mp.npdf(x)


def ulp_of(value):
    """The ulp of the double nearest `value` (mpf), subnormals included."""
    if value == 0:
        return mp.mpf(2) ** -1074
    exponent = int(mp.floor(mp.log(abs(value), 2)))
    return mp.mpf(2) ** max(exponent - 52, -1074)


def log_uniform(rng, low, high):
    return math.exp(rng.uniform(math.log(low), math.log(high)))


def arguments(name, count, rng):
    signed_small = [rng.choice((-1, 1)) * log_uniform(rng, 1e-30, 1.0) for _ in range(count // 10)]
    if name == "exp":
        xs = [rng.uniform(-745.2, 709.8) for _ in range(count // 2)] + [rng.uniform(-2, 2) for _ in range(count // 2)]
        return xs + signed_small + [709.782712893384, -708.39, -745.13, 0.34657359027997264]
    if name == "expm1":
        xs = [rng.uniform(-40, 709.8) for _ in range(count // 2)] + [rng.uniform(-2, 2) for _ in range(count // 2)]
        return xs + signed_small + [0.34657359027997264, -0.34657359027997264, 0.6931471805599453]
    if name == "log":
        xs = [struct.unpack("<d", struct.pack("<q", rng.randrange(1, 0x7FF0000000000000)))[0]
              for _ in range(count // 2)]
        xs += [1 + rng.uniform(-0.3, 0.42) for _ in range(count // 2)]
        return xs + [1 + log_uniform(rng, 1e-17, 1e-3) * rng.choice((-1, 1)) for _ in range(count // 10)] + \
            [5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 0.7071067811865476, 1.414213562373095]
    if name == "normal_cdf":
        xs = [rng.uniform(-38.5, 9) for _ in range(count // 2)] + [rng.uniform(-3, 3) for _ in range(count // 2)]
        return xs + signed_small + [-37.5, -37.0, -1e-300, 8.29, 0.0625, -0.0625, 0.5, -0.5]
    xs = [rng.uniform(-38.6, 38.6) for _ in range(count // 2)] + [rng.uniform(-3, 3) for _ in range(count // 2)]
    return xs + signed_small + [37.0, -37.5, 38.4]


def measure(tool, name, count, rng):
    xs = arguments(name, count, rng)
    output = subprocess.run([tool, name], input=struct.pack(f"<{len(xs)}d", *xs), capture_output=True,
                            check=True).stdout
    ys = struct.unpack(f"<{len(xs)}d", output)
    worst_normal, worst_normal_x, worst_subnormal = mp.mpf(0), None, mp.mpf(0)
    for x, y in zip(xs, ys):
        true = exact(name, x)
        if abs(true) >= mp.mpf(2) ** 1024:
            assert math.isinf(y), (name, x, y)
            continue
        error = abs(mp.mpf(y) - true) / ulp_of(true)
        if abs(true) >= SMALLEST_NORMAL:
            if error > worst_normal:
                worst_normal, worst_normal_x = error, x
        else:
            worst_subnormal = max(worst_subnormal, error)
    print(f"{name:11s} {len(xs):7d} arguments: max {mp.nstr(worst_normal, 3)} ulp (at x = {worst_normal_x!r}), "
          f"subnormal results {mp.nstr(worst_subnormal, 3)} ulp")


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    for name in ("exp", "expm1", "log", "normal_cdf", "normal_pdf"):
        measure(tool, name, count, random.Random(name))


if __name__ == "__main__":
    main()
