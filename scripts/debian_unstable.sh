#!/usr/bin/env bash
# Runs the Python suite from a given wheel on the CPython of Debian unstable
# (the current release, 3.14 at the time of writing), inside a minimal chroot.
# The chroot is made with debootstrap on first use and kept in ROOT for later
# runs; a virtual environment inside it gets the wheel and the test
# dependencies from PyPI. The Dask tests are left out: the other suites run
# them, and here they would only cost time.
#
#     bash scripts/debian_unstable.sh ROOT WHEEL
set -euo pipefail
cd "$(dirname "$0")/.."
root="$1"
wheel="$2"

if [ ! -x "$root/usr/bin/python3" ]; then
    echo "making a Debian unstable chroot in $root"
    mkdir -p "$(dirname "$root")"
    debootstrap --variant=minbase --include=python3,python3-venv sid "$root" http://deb.debian.org/debian >/dev/null
fi
# Name resolution, and the certificates pip trusts here (which may include a
# proxy's), for pip inside the chroot.
cp /etc/resolv.conf "$root/etc/resolv.conf"
certificates="${PIP_CERT:-/etc/ssl/certs/ca-certificates.crt}"
cp "$certificates" "$root/etc/velarix-pip-certificates.crt"
# The interpreter tests start processes; they want /proc, where it may be had.
if ! mountpoint -q "$root/proc"; then
    if mount -t proc proc "$root/proc"; then
        trap 'umount "$root/proc"' EXIT
    else
        echo "could not mount /proc in the chroot; running without it"
    fi
fi

in_chroot() {
    chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
        PIP_CERT=/etc/velarix-pip-certificates.crt PIP_DISABLE_PIP_VERSION_CHECK=1 "$@"
}

tests=/opt/velarix-tests
rm -rf "$root$tests"
mkdir -p "$root$tests/tests"
cp pyproject.toml "$root$tests/"
cp -r tests/python "$root$tests/tests/"
cp "$wheel" "$root$tests/"
venv=/opt/velarix-venv
[ -x "$root$venv/bin/python" ] || in_chroot python3 -m venv "$venv"
in_chroot "$venv/bin/python" --version
in_chroot "$venv/bin/python" -m pip install -q --force-reinstall --no-deps "$tests/$(basename "$wheel")"
in_chroot "$venv/bin/python" -m pip install -q "$tests/$(basename "$wheel")[test]"
in_chroot sh -c "cd $tests && $venv/bin/python -m pytest -q -p no:cacheprovider -m 'not dask' tests/python"
