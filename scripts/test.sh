#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build first, then the Windows
# build of the code that needs no Qt under wine, then the build with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the threaded tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh --windows

scripts/build.sh default
ctest --preset default -j2

scripts/wintest.sh

scripts/build.sh asan
ctest --preset asan -j2

scripts/build.sh tsan
ctest --preset tsan -j2
