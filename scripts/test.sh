#!/usr/bin/env bash
# Runs every test from a clean checkout: the C++ suites under ctest, then the
# Python suite on CPython 3.12 and 3.13 (the Dask tests included), both
# against the one abi3 wheel that `pip install .` builds, and on 3.12 the
# wheel's abi3 audit, the stubs against the module (stubtest), a typed sample
# under mypy and pyright, and the README's accuracy table against its
# script; last, the sanitizer job (scripts/sanitize.sh). Installs what it
# needs; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VELARIX_BUILD_DIR:-$PWD/build}"
versions=(${VELARIX_PYTHONS:-3.12 3.13})

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

if [ ! -f /usr/include/gtest/gtest.h ]; then
    echo "== installing GoogleTest (libgtest-dev)"
    apt-get update -qq && apt-get install -y -qq libgtest-dev >/dev/null
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
"$tools/bin/python" -m pip install -q --disable-pip-version-check "cmake>=3.26" ninja

echo "== C++ tests"
"$tools/bin/cmake" -S . -B "$build/cpp" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools/bin/ninja" \
    -DVELARIX_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
"$tools/bin/cmake" --build "$build/cpp"
"$tools/bin/ctest" --test-dir "$build/cpp" --output-on-failure

echo "== building the abi3 wheel"
rm -rf "$build/wheel"
"$tools/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps . -w "$build/wheel"
wheel=$(ls "$build"/wheel/velarix-*-cp312-abi3-*.whl)
echo "$(basename "$wheel")"

for version in "${versions[@]}"; do
    venv=$(venv_for "$version")
    echo "== Python tests on $("$venv/bin/python" --version)"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps "$wheel"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel[test,dask]"
    "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python
    if [ "$version" = "${versions[0]}" ]; then
        echo "== wheel and type checks"
        "$venv/bin/abi3audit" --strict "$wheel"
        (cd "$build" && "$venv/bin/python" -m mypy.stubtest velarix)
        "$venv/bin/python" -m mypy --strict --warn-unused-ignores --no-incremental tests/typing/typed_sample.py
        "$venv/bin/basedpyright" --outputjson --pythonpath "$venv/bin/python" tests/typing/typed_sample.py \
            > "$build/pyright.json" || true
        "$venv/bin/python" tests/typing/check_pyright.py "$build/pyright.json" tests/typing/typed_sample.py
        echo "== README accuracy table"
        "$venv/bin/python" benchmarks/accuracy.py --check >/dev/null
    fi
done

echo "== sanitizer job"
bash scripts/sanitize.sh
