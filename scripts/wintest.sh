#!/usr/bin/env bash
# Builds the code that needs no Qt for 64-bit Windows (cross/, MinGW-w64) in build/mingw and runs
# its tests under wine, headless. Installs what is missing first. Run by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh --windows

build=build/mingw
cmake -S cross -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cross/toolchain-mingw-w64.cmake" >/dev/null
cmake --build "$build" -j2

# The build's own wine prefix (made by the first run, about 15 s), and one wine server with its
# system processes for the whole run: started here, away from CTest's output, they never hold a
# test's output open, and no test program pays for starting them.
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
mkdir -p "$WINEPREFIX"
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
"$wineserver" -p </dev/null >/dev/null 2>&1
"$wine" wineboot --init </dev/null >/dev/null 2>&1

status=0
ctest --test-dir "$build" -j2 --output-on-failure || status=$?
# Each CTest test is a whole test program; its cases as GoogleTest counted them.
grep -E '^[0-9]+/[0-9]+ Testing: |^\[  (PASSED  |SKIPPED |FAILED  )\] [0-9]+ tests?' \
  "$build/Testing/Temporary/LastTest.log" | sed 's/^[0-9]*\/[0-9]* Testing: /  /' || true
exit "$status"
