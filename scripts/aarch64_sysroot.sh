#!/usr/bin/env bash
# Makes the arm64 folder in which scripts/aarch64.sh runs the aarch64 module
# under qemu-aarch64-static -L: Debian trixie's Python 3.13 with its C and
# C++ runtimes (glibc 2.41) and headers, unpacked from their .deb files, and
# numpy's aarch64 wheel, pytest, hypothesis and auditwheel from PyPI. No
# package is configured and nothing runs emulated while it is made (no
# maintainer scripts, no debootstrap second stage), so that it takes seconds
# rather than the quarter of an hour an emulated second stage takes, and a
# CI runner can make it on every run.
#
#     bash scripts/aarch64_sysroot.sh FOLDER HOST_PYTHON_3.13
#
# HOST_PYTHON_3.13, an x86-64 Python of the same minor version, fetches the
# wheels for the target and compiles every module to bytecode, which does
# not depend on the machine: compiling under emulation would cost a minute
# on every start wherever bytecode is not written (PYTHONDONTWRITEBYTECODE).
# The folder is kept while this script is unchanged.
set -euo pipefail
sysroot=$(realpath -m "$1")
python="$2"
stamp="$sysroot/.made-by"
made_by=$(sha256sum "$0" | cut -d' ' -f1)
if [ "$(cat "$stamp" 2>/dev/null)" = "$made_by" ]; then
    exit 0
fi
version=3.13
[ "$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')" = "$version" ] || {
    echo "$python is not a Python $version" >&2
    exit 1
}

# A private apt state for trixie's arm64 packages: the host's own sources,
# architecture and installed packages stay as they are.
apt_dir="$sysroot.apt"
rm -rf "$sysroot" "$apt_dir"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/sources.list.d"
: > "$apt_dir/status"
echo "deb [arch=arm64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" \
    > "$apt_dir/sources.list"
apt_get() {
    apt-get -qq -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/sources.list.d" \
        -o Dir::State::Lists="$apt_dir/lists" -o Dir::State::status="$apt_dir/status" \
        -o Dir::Cache::Archives="$apt_dir/archives" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= \
        -o APT::Architecture=arm64 -o APT::Architectures::=arm64 -o Debug::NoLocking=1 \
        -o APT::Sandbox::User=root "$@"
}
apt_get update
# The interpreter and what it needs (an empty status: every dependency down
# to libc6), the C++ runtime of the modules and the C++ tests, and the
# headers alone (their package's dependencies are a compiler's).
apt_get install --download-only -y --no-install-recommends "python$version" libstdc++6 >/dev/null
(cd "$apt_dir/archives" && apt_get download "libpython$version-dev")
for package in "$apt_dir"/archives/*.deb; do
    dpkg-deb -x "$package" "$sysroot"
done
# trixie's packages put everything under /usr; its base-files would link
# these (the dynamic loader is looked for as /lib/ld-linux-aarch64.so.1).
for folder in bin lib sbin; do
    ln -sfn "usr/$folder" "$sysroot/$folder"
done
# Where Debian's Python looks for packages.
"$python" -m pip install -q --disable-pip-version-check --target "$sysroot/usr/lib/python3/dist-packages" \
    --platform manylinux_2_28_aarch64 --platform manylinux2014_aarch64 --python-version "$version" \
    --implementation cp --only-binary=:all: "numpy>=1.26" "pytest>=8" "hypothesis>=6" auditwheel
"$python" -m compileall -q -j 2 "$sysroot/usr/lib/python$version" "$sysroot/usr/lib/python3/dist-packages" >/dev/null
rm -rf "$apt_dir"
echo "$made_by" > "$stamp"
echo "arm64 Python $version folder made in $sysroot: $(du -sh "$sysroot" | cut -f1)"
