#!/usr/bin/env bash
# The sanitizer job: builds the pricing core, its C++ tests and the module
# with AddressSanitizer and UndefinedBehaviorSanitizer, runs the C++ suite
# with leak detection, then the Python suite on CPython 3.12 and 3.13 with
# the sanitizer runtimes preloaded into the interpreter and every allocation
# routed through malloc, so that ASan sees each object. Any report aborts the
# run and fails the job.
# The Dask tests are left out (their worker processes would need the same
# preload), and the leak test runs fewer calls, since everything is slower.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VELARIX_BUILD_DIR:-$PWD/build}"
versions=(${VELARIX_PYTHONS:-3.12 3.13})
tools="$build/venv-${versions[0]}"  # made by scripts/test.sh
if [ ! -x "$tools/bin/cmake" ]; then
    echo "run scripts/test.sh first: it makes the environments this job uses" >&2
    exit 1
fi

echo "== C++ tests under ASan, LeakSanitizer and UBSan"
"$tools/bin/cmake" -S . -B "$build/asan" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools/bin/ninja" \
    -DVELARIX_BUILD_TESTS=ON -DVELARIX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
"$tools/bin/cmake" --build "$build/asan"
# With LeakSanitizer: any block the C++ suites leave allocated at exit fails
# them. (The Python suites below run without it: the interpreter itself
# keeps blocks allocated at exit by design.)
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$tools/bin/ctest" --test-dir "$build/asan" --output-on-failure

echo "== building the sanitized wheel"
rm -rf "$build/asan-wheel"
"$tools/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps . -w "$build/asan-wheel" \
    -C cmake.define.VELARIX_SANITIZE=ON -C cmake.build-type=RelWithDebInfo -C install.strip=false \
    -C build-dir="$build/asan-module"
wheel=$(ls "$build"/asan-wheel/velarix-*.whl)

runtimes="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
for version in "${versions[@]}"; do
    venv="$build/asan-venv-$version"
    if [ ! -x "$venv/bin/python" ]; then
        "$build/venv-$version/bin/python" -m venv "$venv"
    fi
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps "$wheel"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel[test]"
    echo "== Python tests under ASan and UBSan on $("$venv/bin/python" --version)"
    LD_PRELOAD="$runtimes" PYTHONMALLOC=malloc VELARIX_LEAK_CALLS=20000 \
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$venv/bin/python" -m pytest -q -p no:cacheprovider -m "not dask" tests/python
done
