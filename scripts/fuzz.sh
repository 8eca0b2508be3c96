#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build/fuzz and runs them.
#
#   scripts/fuzz.sh [seconds] [target...]   every target (or the ones named), each for the given
#                                           number of seconds (default 20), one after the other
#   scripts/fuzz.sh --build                 builds them and runs none
#   scripts/fuzz.sh --no-build seconds target...   runs them on the build --build made
#
# A target starts from its seeds in fuzz/corpus/<target>/ and the inputs it once failed on in
# fuzz/regressions/<target>/. New inputs it finds stay in build/fuzz/corpus/<target>/. An input
# that crashes it, or breaks one of its checks, is written to fuzz/regressions/<target>/ as
# crash-<sha1> (or timeout-, leak-, oom-): rename it after what it shows, fix the fault and commit
# both; fuzz_replay_test replays every file there in the normal build. The exit code is 1 when any
# target failed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"

do_build=1
do_run=1
case "${1:-}" in
  --build) do_run=0; shift ;;
  --no-build) do_build=0; shift ;;
esac
seconds=20
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seconds="$1"
  shift
fi

# The one list of targets.
all=$(sed -n 's/^set(GX_FUZZ_TARGETS \(.*\))$/\1/p' "$root/fuzz/Targets.cmake")
[ -n "$all" ] || { echo "fuzz.sh: no targets in fuzz/Targets.cmake" >&2; exit 2; }
targets=("$@")
[ ${#targets[@]} -gt 0 ] || read -r -a targets <<< "$all"
for target in "${targets[@]}"; do
  if ! [[ " $all " == *" $target "* ]]; then
    echo "fuzz.sh: no target \"$target\"; the targets are: $all" >&2
    exit 2
  fi
done

if [ "$do_build" = 1 ]; then
  cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  # Two jobs unless told otherwise: the machines are shared, and ctest runs this beside a test.
  cmake --build "$build" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
fi
[ "$do_run" = 1 ] || exit 0

failed=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  regressions="$root/fuzz/regressions/$target"
  mkdir -p "$work" "$regressions"
  echo "== $target: $seconds s"
  if ! "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
         -print_final_stats=1 -artifact_prefix="$regressions/" \
         "$work" "$root/fuzz/corpus/$target" "$regressions"; then
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]} (the input is in fuzz/regressions/<target>/)" >&2
  exit 1
fi
