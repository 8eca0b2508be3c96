#!/usr/bin/env bash
# Installs what is missing, builds, and starts the loader. Arguments go to the loader (for
# example: externfirmware).
#
# Where a USB driver library is installed (libftd2xx.so or libGXUSB.so known to the system's
# library search), the loader runs as it is, on real devices.
#
# Otherwise it runs a demo on the device simulator, in a folder of its own (build/demo: the
# loader's copy with its settings and logs, the simulator's state, a runtime folder), so nothing of
# the user's own settings or logs changes. Four simulated devices are attached: three in their
# bootloaders with different processors and libraries, one running its application. "Update
# automatically" is on: the loader finds them, writes the three, switches the fourth to its
# bootloader; the demo plugs that one in again, and the loader writes it too.
#   - With a display the window shows it all; plug and unplug more devices with the gxsim
#     commands printed below while it runs. Close the window to end.
#   - Without one (or when the display cannot be reached) the same runs headless: the log lines
#     are printed as they are written and one verdict per device at the end. It ends by itself,
#     with exit code 0 when every device was written, 1 when one was not.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${GX_DEMO_NO_BUILD:-}" ]; then  # the tests run the demo on the build they test
  scripts/setup-deps.sh
  scripts/build.sh default >/dev/null
fi

root="$PWD"
loader="$root/build/default/app/GXFWLoader"
if ldconfig -p 2>/dev/null | grep -qE 'libftd2xx\.so|libGXUSB\.so'; then
  exec "$loader" "$@"
fi

demo="${GX_DEMO_DIR:-$root/build/demo}"  # tests give the demo a folder of their own
gxsim="$root/build/default/sim/gxsim"
rm -rf "$demo"
mkdir -p "$demo/app" "$demo/sim" "$demo/run"
chmod 700 "$demo/run"
cp "$loader" "$demo/app/GXFWLoader"
# English (DEMO_LANGUAGE=Russian for the other one); the window at the top left; "Update
# automatically" and "Write log file" on.
printf '[COMMON]\nLanguage=%s\nMainForm=0,0,760,600,1,260,1,0\n' "${DEMO_LANGUAGE:-English}" \
  > "$demo/app/GXFWLoader.ini"

export GXSIM_DIR="$demo/sim"
export XDG_RUNTIME_DIR="$demo/run"
"$gxsim" add 1001 processor=0x26013F37 >/dev/null
"$gxsim" add 1002 driver=vendor processor=0x400FE000 >/dev/null
# Sectors 20 and 21 of this one are protected: the loader logs it in red and goes on.
"$gxsim" add 1003 processor=0x10040204 protected=20,21 >/dev/null
"$gxsim" add 2001 driver=vendor mode=application firmware=GXST-1.40 >/dev/null
devices=4

echo "No driver library installed: a demo on simulated devices, in $demo"
"$gxsim" list
cat <<EOF
While it runs, more devices can be plugged in and out, for example:
  export GXSIM_DIR=$GXSIM_DIR XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR
  $gxsim add 3001 processor=0x25013F37      $gxsim unplug 1001
Settings, log and session records: $demo/app (GXFWLoader.ini, Logs/)
EOF

log_dir="$demo/app/Logs"
log_lines() {  # the day's log as UTF-8, without the time stamps
  local file
  for file in "$log_dir"/*.log; do
    [ -f "$file" ] && iconv -f UTF-16 -t UTF-8 "$file" 2>/dev/null | tr -d '\r' | cut -f2-
  done
}
records() { cat "$log_dir"/*.sessions.jsonl 2>/dev/null || true; }
field() {  # field NAME: its value in a record line on standard input
  sed -n "s/.*\"$1\":\"\{0,1\}\([^\",}]*\).*/\1/p"
}

run_loader() {  # run_loader PLATFORM ARGUMENTS...: starts the demo's loader in the background
  local platform=$1
  shift
  (
    cd "$demo/app"
    if [ -n "$platform" ]; then export QT_QPA_PLATFORM="$platform"; fi
    # The simulated libraries for this process only: they never shadow real ones elsewhere.
    # Headless, what Qt itself prints goes to a file beside the log.
    if [ "$platform" = offscreen ]; then exec >>"$demo/app/loader.out" 2>&1; fi
    LD_LIBRARY_PATH="$root/build/default/sim/lib" exec ./GXFWLoader "$@"
  ) &
  loader_pid=$!
  # Ending the demo ends the loader the ordinary way (its close sequence runs).
  trap 'kill -TERM "$loader_pid" 2>/dev/null || true' TERM INT
}

# The application-mode device is plugged in again once it has started its bootloader.
replugged=no
replug_when_switched() {
  if [ "$replugged" = no ] && log_lines | grep -q 'Device    2001.Loader starting command processed'; then
    replugged=yes
    "$gxsim" replug 2001 500 >/dev/null
  fi
}

platform=offscreen
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  platform=""
  run_loader "" "$@"
  # A display that cannot be reached ends the loader at once: run headless instead.
  sleep 2
  if ! kill -0 "$loader_pid" 2>/dev/null; then
    wait "$loader_pid" || true
    echo "The display cannot be reached: running the demo headless."
    platform=offscreen
  fi
else
  echo "No display: running the demo headless (QT_QPA_PLATFORM=offscreen)."
fi

if [ -z "$platform" ]; then
  while kill -0 "$loader_pid" 2>/dev/null; do
    replug_when_switched
    sleep 0.5
  done
  status=0
  wait "$loader_pid" || status=$?
  exit $status
fi

run_loader offscreen "$@"
shown=0
deadline=$((SECONDS + 180))
while :; do
  mapfile -t lines < <(log_lines)
  for ((i = shown; i < ${#lines[@]}; i++)); do printf '%s\n' "${lines[i]}"; done
  shown=${#lines[@]}
  replug_when_switched
  done_devices=$(records | field serial | sort -u | wc -l)
  [ "$done_devices" -ge "$devices" ] && break
  if ! kill -0 "$loader_pid" 2>/dev/null; then
    echo "The loader ended before every device had its verdict:"
    cat "$demo/app/loader.out" 2>/dev/null || true
    exit 1
  fi
  if [ $SECONDS -ge $deadline ]; then
    echo "Not every device had its verdict after 180 s."
    kill -TERM "$loader_pid" 2>/dev/null || true
    wait "$loader_pid" || true
    exit 1
  fi
  sleep 0.5
done
kill -TERM "$loader_pid"
wait "$loader_pid" || true
mapfile -t lines < <(log_lines)
for ((i = shown; i < ${#lines[@]}; i++)); do printf '%s\n' "${lines[i]}"; done

echo
echo "Verdicts:"
failed=0
while IFS= read -r record; do
  serial=$(field serial <<<"$record")
  result=$(field result <<<"$record")
  if [ "$result" = 0 ]; then
    verdict="written, $(field parts_written <<<"$record") parts in $(field duration_ms <<<"$record") ms"
  else
    verdict="FAILED with error $result (last device status $(field last_status <<<"$record"))"
    failed=1
  fi
  printf 'Device %s (%s, processor %s, was %s): %s with %s\n' "$serial" \
    "$(field driver <<<"$record")" "$(field processor <<<"$record")" \
    "$(field firmware_before <<<"$record")" "$verdict" "$(field image_version <<<"$record")"
done < <(records)
exit $failed
