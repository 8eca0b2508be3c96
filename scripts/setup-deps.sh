#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
# --windows: also what the Windows build and its tests under wine need (scripts/wintest.sh).
set -euo pipefail

# dpkg-dev and file: the Debian package's dependency list (dpkg-shlibdeps).
packages=(cmake ninja-build pkg-config g++ clang libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev libudev-dev dpkg-dev file fonts-dejavu-core fonts-urw-base35 xvfb xauth
          imagemagick x11-apps)
# The Windows build (scripts/wintest.sh): MinGW-w64 with POSIX threads, GoogleTest's sources, and
# wine for 64-bit programs only (no i386 architecture needed). Installed without their
# recommendations: wine's would bring some 65 packages of multimedia libraries nobody uses here.
windows_packages=()
[ "${1:-}" = "--windows" ] && windows_packages=(g++-mingw-w64-x86-64-posix googletest wine64)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
missing_windows=()
for p in "${windows_packages[@]}"; do installed "$p" || missing_windows+=("$p"); done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_windows[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]} ${missing_windows[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
[ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -qq "${missing[@]}"
[ ${#missing_windows[@]} -eq 0 ] ||
  $sudo apt-get install -y -qq --no-install-recommends "${missing_windows[@]}"
