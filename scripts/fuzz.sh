#!/usr/bin/env bash
# Builds the firmware image fuzz target with clang in build/fuzz and runs it for the given number
# of seconds (default 20), starting from fuzz/corpus/ and the earlier crash inputs in
# fuzz/regressions/. A new crash input is written to fuzz/regressions/ (crash-<sha1>): rename it
# after what it shows and commit it; firmware_test replays every file there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}"
build="$root/build/fuzz"

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"

# New inputs the fuzzer finds stay in the build folder; the committed corpus is only read.
work="$build/corpus"
mkdir -p "$work"
exec "$build/firmware_image_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=1 -artifact_prefix="$root/fuzz/regressions/" \
     "$work" "$root/fuzz/corpus" "$root/fuzz/regressions"
