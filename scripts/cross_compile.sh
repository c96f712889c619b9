#!/usr/bin/env bash
# Compiles the project for macOS and Windows from Linux, with zig's Clang
# (the ziglang package from PyPI) and the project's own CMake files, to check
# what can be checked here of the platforms the release wheels are built on:
# that CMake configures there (compiler branch, exactness flags) and that the
# pricing core and, for macOS, the sources of both modules (velarix and
# velarix_batch) compile for them without a warning. Nothing is linked or run: zig's Mach-O linker writes no loadable
# bundle and knows no export list, and a Windows module needs python3.lib.
# Slow on first use (zig builds the C++ runtime for each target, about three
# minutes each), so it is run on demand, not by scripts/test.sh.
#
#     bash scripts/cross_compile.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VELARIX_BUILD_DIR:-$PWD/build}/cross"
python="${PYTHON:-python3}"

mkdir -p "$build"
if [ ! -x "$build/venv/bin/python" ]; then
    "$python" -m venv "$build/venv"
fi
"$build/venv/bin/python" -m pip install -q --disable-pip-version-check "cmake>=3.26" ninja "ziglang==0.17.1"
include_dir=$("$build/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("include"))')

# cross_compile TARGET SYSTEM PROCESSOR MODULE WHAT...: configures for zig's
# TARGET triple, with the modules (MODULE=ON) or without, and builds the
# listed targets; with the modules, also every object file of the build
# (both modules', velarix and velarix_batch, and those of the libraries they
# link), read from the build's own list so that moved or added sources and
# libraries need no change here.
cross_compile() {
    local target="$1" system="$2" processor="$3" module="$4"
    shift 4
    local tools="$build/$target"
    mkdir -p "$tools"
    for tool in c++ ar ranlib; do
        printf '#!/bin/sh\nexec "%s" -m ziglang %s %s "$@"\n' "$build/venv/bin/python" "$tool" \
            "$([ "$tool" = c++ ] && echo "-target $target")" > "$tools/zig-$tool"
        chmod +x "$tools/zig-$tool"
    done
    echo "== $target"
    "$build/venv/bin/cmake" --no-warn-unused-cli -S . -B "$tools/build" -G Ninja -DCMAKE_MAKE_PROGRAM="$build/venv/bin/ninja" \
        -DCMAKE_SYSTEM_NAME="$system" -DCMAKE_SYSTEM_PROCESSOR="$processor" \
        -DCMAKE_CXX_COMPILER="$tools/zig-c++" -DCMAKE_AR="$tools/zig-ar" -DCMAKE_RANLIB="$tools/zig-ranlib" \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DVELARIX_BUILD_MODULE="$module" \
        -DPython_EXECUTABLE="$build/venv/bin/python" -DPython_INCLUDE_DIR="$include_dir" >/dev/null
    local objects=()
    if [ "$module" = ON ]; then
        mapfile -t objects < <("$build/venv/bin/ninja" -C "$tools/build" -t targets all |
            sed -n 's#^\(CMakeFiles/[^/]*\.dir/[^:]*\.o\): .*#\1#p')
        for name in velarix velarix_batch; do
            printf '%s\n' "${objects[@]}" | grep -q "^CMakeFiles/$name\.dir/" ||
                { echo "no object file of $name in the build" >&2; exit 1; }
        done
    fi
    "$build/venv/bin/cmake" --build "$tools/build" --target "$@" "${objects[@]}"
    [ "$module" = OFF ] || echo "${#objects[@]} object files compiled, those of velarix and velarix_batch among them"
}

cross_compile aarch64-macos Darwin arm64 ON velarix_pricing
cross_compile x86_64-macos Darwin x86_64 ON velarix_pricing
cross_compile x86_64-windows-gnu Windows AMD64 OFF velarix_pricing
echo "compiled for macOS (arm64, x86-64) and Windows (x86-64)"
