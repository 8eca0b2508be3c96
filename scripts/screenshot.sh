#!/usr/bin/env bash
# Runs the demo (scripts/run.sh) in a virtual display and saves a picture of the window while
# the devices are being written: docs/screenshot.png, or the path given. The window speaks
# Russian (DEMO_LANGUAGE=English for the other one), so the picture shows Cyrillic captions and
# log lines beside the Latin versions and file names.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
out="$(realpath -m "${1:-docs/screenshot.png}")"
mkdir -p "$(dirname "$out")"
scripts/build.sh default >/dev/null

export SHOT="$out"
export DEMO_LANGUAGE="${DEMO_LANGUAGE:-Russian}"
xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
  set -euo pipefail
  scripts/run.sh >/dev/null 2>&1 &
  demo=$!
  logs=build/demo/app/Logs
  # Mid-write: device 1003 reaches its protected sector (red lines in the log), and no session
  # has ended.
  for i in $(seq 1 300); do
    if [ -n "$(ls $logs/*.log 2>/dev/null)" ] &&
       iconv -f UTF-16 -t UTF-8 $logs/*.log 2>/dev/null | grep -qE "1003.*(protected from record|защищен от записи)" &&
       [ -z "$(cat $logs/*.sessions.jsonl 2>/dev/null)" ]; then
      break
    fi
    sleep 0.1
  done
  # The red line scrolls away within moments, as the other devices go on logging: take pictures
  # until one shows it in the log (up to a few seconds), or keep the last.
  for i in $(seq 1 60); do
    sleep 0.03
    xwd -silent -root -out /tmp/gxfwloader-shot.xwd
    # The window sits at the top left (the demo'"'"'s settings place it there), 760 by 600.
    convert /tmp/gxfwloader-shot.xwd -crop 760x600+0+0 +repage "$SHOT"
    red=$(convert "$SHOT" -crop 760x240+0+340 +repage -fuzz 20% -fill black +opaque red \
            -fill white -opaque red -format "%[fx:mean]" info:)
    [ "$red" != 0 ] && break
  done
  rm -f /tmp/gxfwloader-shot.xwd
  kill -TERM $demo
  wait $demo || true
'
echo "Saved $out"
