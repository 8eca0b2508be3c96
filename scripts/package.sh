#!/usr/bin/env bash
# Builds the Debian package of the loader: build/package/gxfwloader_<version>_<arch>.deb. Install it
# with: sudo apt install ./build/package/gxfwloader_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
scripts/build.sh default >/dev/null
out="${1:-$PWD/build/package}"
mkdir -p "$out"
cpack --config build/default/CPackConfig.cmake -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"
ls "$out"/gxfwloader_*.deb
