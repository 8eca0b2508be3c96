#!/usr/bin/env bash
# Installs the Debian package that scripts/package.sh built and checks the installed loader on
# the device simulator: it finds and writes a simulated device, and keeps its settings and logs in
# the user's own folders (~/.config/GXFWLoader, ~/.local/state/GXFWLoader), never beside
# /usr/bin/GXFWLoader. The user's real folders are not touched: it runs with a home of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(ls build/package/gxfwloader_*.deb)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$deb" >/dev/null
test -x /usr/bin/GXFWLoader
test -f /usr/lib/udev/rules.d/70-gxfwloader.rules
test -f /usr/share/applications/gxfwloader.desktop

work=$(mktemp -d)
trap '[ -n "${pid:-}" ] && kill -TERM "$pid" 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" GXSIM_DIR="$work/sim" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen
unset XDG_CONFIG_HOME XDG_STATE_HOME
mkdir -p "$HOME/.config/GXFWLoader" "$GXSIM_DIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
build/default/sim/gxsim add 1001 processor=0x26013F37 >/dev/null
# English, "Update automatically" and "Write log file" on.
printf '[COMMON]\nLanguage=English\nMainForm=0,0,680,456,1,165,1,0\n' \
  > "$HOME/.config/GXFWLoader/GXFWLoader.ini"
records="$HOME/.local/state/GXFWLoader/Logs"
LD_LIBRARY_PATH="$PWD/build/default/sim/lib" /usr/bin/GXFWLoader &
pid=$!
for _ in $(seq 1 240); do
  grep -qs '"serial":1001' "$records"/*.sessions.jsonl && break
  sleep 0.5
done
kill -TERM "$pid"
wait "$pid"
pid=""

failures=0
fail() { echo "installed loader: $*"; failures=$((failures + 1)); }
grep -qs '"serial":1001.*"result":0\|"result":0.*"serial":1001' "$records"/*.sessions.jsonl ||
  fail "device 1001 was not written: $(cat "$records"/*.sessions.jsonl 2>/dev/null)"
ls "$records"/*.log >/dev/null 2>&1 || fail "no log file in $records"
# The window's placement is written at exit: eight numbers.
grep -qE '^MainForm=([0-9-]+,){7}[0-9-]+' "$HOME/.config/GXFWLoader/GXFWLoader.ini" ||
  fail "the settings were not saved in $HOME/.config/GXFWLoader"
for f in /usr/bin/GXFWLoader.ini /usr/bin/Logs; do [ ! -e "$f" ] || fail "$f was written"; done
[ "$failures" -eq 0 ] || exit 1
echo "the installed loader wrote device 1001 and kept its settings and logs in the user's folders"
