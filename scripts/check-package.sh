#!/usr/bin/env bash
# Builds the Debian package from a build tree into a folder of its own and checks what it holds
# (run by CTest as package_contents): the loader and the packing tool, the desktop entry with its
# icon, the udev rule for the plugdev group; the Qt libraries among its dependencies; nothing of
# the simulator or the tests.
set -euo pipefail
build="${1:?build folder}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work" >/dev/null 2>&1
deb=$(ls "$work"/gxfwloader_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
failures=0
fail() { echo "package: $*"; failures=$((failures + 1)); }

for f in /usr/bin/GXFWLoader /usr/bin/gxfwpack /usr/share/applications/gxfwloader.desktop \
         /usr/share/icons/hicolor/scalable/apps/gxfwloader.svg \
         /usr/lib/udev/rules.d/70-gxfwloader.rules; do
  grep -qxF "$f" <<< "$files" || fail "missing $f"
done
if grep -qE 'libftd2xx|libGXUSB|gxsim|_test$|/tests?/' <<< "$files"; then
  fail "holds what only the simulator or the tests need: $(grep -E 'libftd2xx|libGXUSB|gxsim|_test$' <<< "$files" | tr '\n' ' ')"
fi

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libudev1; do
  grep -q "$lib" <<< "$depends" || fail "Depends lacks $lib: $depends"
done

dpkg-deb -x "$deb" "$work/root"
desktop="$work/root/usr/share/applications/gxfwloader.desktop"
grep -qx 'Exec=GXFWLoader %f' "$desktop" || fail "the desktop entry does not start the installed loader"
grep -qx 'Icon=gxfwloader' "$desktop" || fail "the desktop entry does not name the installed icon"
rule="$work/root/usr/lib/udev/rules.d/70-gxfwloader.rules"
grep -E '^[^#]' "$rule" | grep -q 'ATTR{idVendor}=="0403"' || fail "the udev rule does not match FTDI"
grep -E '^[^#]' "$rule" | grep -q 'ATTR{product}=="Geotrovix"' || fail "the udev rule does not match the product"
grep -E '^[^#]' "$rule" | grep -q 'GROUP="plugdev"' || fail "the udev rule does not give plugdev access"
# The packed tool runs: without arguments it prints its usage and ends with code 2.
rc=0
"$work/root/usr/bin/gxfwpack" >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 2 ] || fail "the packed gxfwpack does not run (exit code $rc)"

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "package holds what it should: $(basename "$deb")"
