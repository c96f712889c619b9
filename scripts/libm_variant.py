"""Tells which exp, log and pow this machine's C runtime runs, and so which
bits velarix gives here.

velarix fixes every result to the last bit for a given exp, log and pow. On
x86-64, glibc chooses at load time between two variants of each: one using
fused multiply-add where the CPU has FMA and AVX2, and a plain one elsewhere.
Both are accurate, but they round differently in the last bit for a few
arguments in ten thousand, and velarix's results follow them. This script
evaluates the three functions, through Python's math module (the same C
runtime functions), at arguments where the variants are known to differ and
says which one answered, and from that and the CPU's flags which path
velarix's lanes of exp, log and pow (src/pricing/runtime_math_lanes.h) take
here: AVX-512 lanes only with the FMA variant on a CPU with AVX-512F. The
lanes decide for themselves at first use, by the same kind of witnesses; the
C++ tests print that decision ("runtime lanes: ..."), and so does the
benchmark runtime_math_lanes_benchmark ("path taken: ..."). On aarch64, where glibc has one implementation of
each, it answers as the FMA variant at every argument here (glibc 2.41, run
under emulation by scripts/aarch64.sh).

    python scripts/libm_variant.py
"""
import math
import platform

# (function, arguments, result of the FMA variant, result of the plain one),
# results as float.hex() texts; found by comparing glibc 2.36's two variants.
WITNESSES = [
    (math.exp, (364.54386900080954,), "0x1.e646b1182551bp+525", "0x1.e646b1182551cp+525"),
    (math.exp, (79.42320703669702,), "0x1.7f9a253bf233fp+114", "0x1.7f9a253bf233ep+114"),
    (math.log, (0.0019659400141387793,), "-0x1.8ed58fc904af6p+2", "-0x1.8ed58fc904af5p+2"),
    (math.log, (0.9415707584036426,), "-0x1.ed34ab56ef0cdp-5", "-0x1.ed34ab56ef0cep-5"),
    (math.pow, (5.841403192367585, -39.53120698800424), "0x1.4447a9f1752b9p-101", "0x1.4447a9f1752bap-101"),
    (math.pow, (3.296324748737801, 41.488259951994735), "0x1.50b92c342d43bp+71", "0x1.50b92c342d43ap+71"),
]


def variant():
    answers = {"fma": 0, "plain": 0}
    for function, arguments, fma, plain in WITNESSES:
        result = function(*arguments).hex()
        if result == fma:
            answers["fma"] += 1
        elif result == plain:
            answers["plain"] += 1
    if answers["fma"] == len(WITNESSES):
        return "glibc's FMA variant"
    if answers["plain"] == len(WITNESSES):
        return "glibc's plain variant"
    return "neither glibc variant (another C runtime, or a glibc whose functions changed)"


def cpu_flags():
    if platform.machine() != "x86_64":
        return "none that choose a variant"
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("flags"):
                    flags = set(line.split(":", 1)[1].split())
                    return ", ".join(f"{flag} {'yes' if flag in flags else 'no'}"
                                     for flag in ("fma", "avx2", "avx512f"))
    except OSError:
        pass
    return "unknown"


def lanes_path(answer, flags):
    if answer != "glibc's FMA variant" or platform.machine() != "x86_64":
        return "scalar calls (the runtime is not the variant the lanes repeat)"
    if "avx512f yes" not in flags:
        return "scalar calls (the CPU lacks AVX-512F)"
    return "AVX-512 lanes"


def main():
    libc, version = platform.libc_ver()
    flags = cpu_flags()
    answer = variant()
    print(f"C runtime: {libc or 'unknown'} {version}".rstrip())
    print(f"machine: {platform.machine()}; CPU features: {flags}")
    print(f"exp, log and pow: {answer}")
    print(f"velarix's batches of exp, log and pow: {lanes_path(answer, flags)}")


if __name__ == "__main__":
    main()
