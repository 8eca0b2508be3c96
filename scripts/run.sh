#!/usr/bin/env bash
# Installs what is missing, builds, and starts the loader. Arguments go to the loader
# (for example: externfirmware).
#
# Where neither USB driver library is installed, the loader runs on the device simulator: its
# stand-in libraries come first on the library search path, and two simulated devices are attached
# (one in its bootloader through the FTDI library, one running its application through the vendor
# library). Their state lives in $GXSIM_DIR (default: a folder under $XDG_RUNTIME_DIR or /tmp);
# build/default/sim/gxsim plugs, unplugs and inspects them while the loader runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
scripts/build.sh default

loader=build/default/app/GXFWLoader
if ldconfig -p 2>/dev/null | grep -qE 'libftd2xx\.so|libGXUSB\.so'; then
  exec "$loader" "$@"
fi

export GXSIM_DIR="${GXSIM_DIR:-${XDG_RUNTIME_DIR:-/tmp}/gxsim-demo-$(id -u)}"
mkdir -p "$GXSIM_DIR"
gxsim=build/default/sim/gxsim
if ! "$gxsim" list 2>/dev/null | tail -n +2 | grep -q .; then
  "$gxsim" add 1001 >/dev/null
  "$gxsim" add 2002 driver=vendor mode=application firmware=GXST-1.40 >/dev/null
fi
echo "No driver library installed: running on simulated devices in $GXSIM_DIR"
"$gxsim" list
export LD_LIBRARY_PATH="$PWD/build/default/sim/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
exec "$loader" "$@"
