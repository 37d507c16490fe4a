#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing. Run as root, it installs
# them with apt-get; otherwise it names the command to run and fails.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libabsl-dev libgtest-dev libgmock-dev
    libbenchmark-dev doxygen pkg-config
    # The Python module (for Debian's /usr/bin/python3), its tests, example and benchmark.
    python3-dev python3-pybind11 python3-numpy python3-pytest python3-scipy python3-meshio
    python3-vtk9 python3-matplotlib)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "Installing missing packages: ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
