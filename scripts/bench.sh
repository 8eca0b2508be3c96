#!/usr/bin/env bash
# Runs every benchmark and writes one report, build/bench/report.txt, also shown on the terminal:
# the log view, the hand-over to the window thread, the write session against the protocol's floor
# (1, 4 and 16 devices at once, the window thread's longest dispatch and timer gap meanwhile), the
# FTDI latency timer's cost with and without the loader shortening it, and the start-up time to
# the first scan. Each benchmark's own output is kept beside the report.
#
#   scripts/bench.sh [--quick]      (--quick: the log view with 100,000 lines instead of 1,000,000)
set -euo pipefail
cd "$(dirname "$0")/.."
quick=no
[ "${1:-}" = "--quick" ] && quick=yes
scripts/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target log_bench handover_bench write_bench startup_bench \
  GXFWLoader gxsim_ftd2xx gxsim_GXUSB gxsim_ftd2xx_nolatency >/dev/null

out=build/bench
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen
bench=build/default/bench
lib=build/default/sim/lib
oldlib=build/default/sim/lib-nolatency  # an FTDI library without FT_SetLatencyTimer

run() {  # run NAME COMMAND...: runs a benchmark, keeping its output in build/bench/NAME.txt
  local name=$1
  shift
  echo "== $name: $*"
  "$@" 2>/dev/null | tee "$out/$name.txt" | grep -v '^metric' || true
}
run log "$bench/log_bench" $([ "$quick" = yes ] && echo 100000)
run handover "$bench/handover_bench" 3
# The chip answering at once: the FTDI stand-in without FT_SetLatencyTimer, since with it the loader
# sets the chip's timer to 2 ms, which holds every short reply that long.
run write env LD_LIBRARY_PATH="$oldlib:$lib" "$bench/write_bench" 0
run write_latency16_default env LD_LIBRARY_PATH="$oldlib" "$bench/write_bench" 16 --one
run write_latency16_shortened env LD_LIBRARY_PATH="$lib" "$bench/write_bench" 16 --one
run startup "$bench/startup_bench" 5

metric() {  # metric FILE NAME: a figure of a benchmark's output
  awk -F'\t' -v n="$2" '$1 == "metric" && $2 == n { print $3 }' "$out/$1.txt"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b > 0) printf "%.3f", a / b; else print "-" }'; }
row() {  # row FIGURE VALUE UNIT RATIO GOAL
  printf '%-56s %10s %-8s %8s  %s\n' "$1" "${2:--}" "$3" "$4" "$5"
}

floor=$(metric write floor)
one=$(metric write session_1)
lat0=$one
lat16=$(metric write_latency16_default session_1)
lat16short=$(metric write_latency16_shortened session_1)
report="$out/report.txt"
{
  echo "Geotrovix firmware loader: benchmark report"
  echo "$(date '+%Y-%m-%d %H:%M'), $(uname -n), $(nproc) cores$([ "$quick" = yes ] && echo ', quick')"
  echo
  echo "These machines are shared and noisy: absolute times change from run to run and from"
  echo "machine to machine. The ratios are what count; compare them, not the times."
  echo
  row "figure" "value" "unit" "ratio" "goal"
  row "log view: time per line, first tenth (file off)" "$(metric log file_off_first_tenth)" "us" "" ""
  row "log view: time per line, last tenth (file off)" "$(metric log file_off_last_tenth)" "us" \
    "$(ratio "$(metric log file_off_last_tenth)" "$(metric log file_off_first_tenth)")" "last/first <= 1.20"
  row "log view: time per line with the file on" "$(metric log file_on_per_line)" "us" "" ""
  row "log view: resident memory at the end" "$(metric log file_off_resident_end)" "MiB" "" ""
  row "hand-over, 2 workers: lines per second" "$(metric handover workers_2_lines_per_s)" "1/s" "" ""
  row "hand-over, 2 workers: longest dispatch" "$(metric handover workers_2_longest_dispatch)" "ms" "" "<= 20 ms"
  row "hand-over, 2 workers: longest 5 ms timer gap" "$(metric handover workers_2_longest_timer_gap)" "ms" "" "<= 50 ms"
  row "hand-over, 16 workers: lines per second" "$(metric handover workers_16_lines_per_s)" "1/s" \
    "$(ratio "$(metric handover workers_16_lines_per_s)" "$(metric handover workers_2_lines_per_s)")" "x 2 workers"
  row "hand-over, 16 workers: longest dispatch" "$(metric handover workers_16_longest_dispatch)" "ms" "" "<= 20 ms"
  row "hand-over, 16 workers: longest 5 ms timer gap" "$(metric handover workers_16_longest_timer_gap)" "ms" "" "<= 50 ms"
  row "the protocol's 1 ms pause, as measured" "$(metric write pause_1ms)" "ms" \
    "$(ratio "$(metric write pause_1ms)" 1)" "close to 1"
  row "write: the protocol's floor (prescribed pauses)" "$floor" "ms" "" ""
  row "write: one session, embedded image, FTDI, answered at once" "$one" "ms" "$(ratio "$one" "$floor")" "<= 1.25 x floor"
  row "write: 4 devices at once" "$(metric write devices_4_all)" "ms" "$(ratio "$(metric write devices_4_all)" "$one")" "x one session"
  row "write: 16 devices at once" "$(metric write devices_16_all)" "ms" "$(ratio "$(metric write devices_16_all)" "$one")" "<= 1.30 x one"
  row "write: 16 at once, longest dispatch" "$(metric write devices_16_longest_dispatch)" "ms" "" ""
  row "write: 16 at once, longest 5 ms timer gap" "$(metric write devices_16_longest_timer_gap)" "ms" "" "<= 50 ms"
  row "write: latency timer 16 ms, left as it is" "$lat16" "ms" "$(ratio "$lat16" "$lat0")" "x latency 0"
  row "write: latency timer 16 ms, shortened to 2 ms at open" "$lat16short" "ms" "$(ratio "$lat16short" "$lat0")" "<= 1.30 x latency 0"
  row "start-up: launch to the first scan's open, median" "$(metric startup to_first_scan_median)" "ms" "" ""
} | tee "$report"
echo
echo "Report: $report"
