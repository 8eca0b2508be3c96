#!/usr/bin/env bash
# Checks the include rules of the layers (run by CTest as include_rules):
#   - nothing in devices/, sessions/ or firmware/ includes the window's header or its form;
#   - of those, only the device panel includes a widget header;
#   - of app/, they include only its foundation (catalogue, log format and file, the loader's
#     error type, the command line);
#   - no project files include each other in a circle, and neither do the folders (app's
#     foundation counted as a folder of its own).
set -euo pipefail
cd "$(dirname "$0")/.."

foundation='app/(Language|LogFormat|LogFile|LoaderError|CommandLine)\.h'
# The widget module's class headers, as this machine's Qt has them.
widgets_dir=$(ls -d /usr/include/*/qt6/QtWidgets /usr/include/qt6/QtWidgets 2>/dev/null | head -1 || true)
if [ -n "$widgets_dir" ]; then
  widget_headers=$(ls "$widgets_dir" | grep -E '^Q[A-Z][A-Za-z]*$' | paste -sd'|')
else
  widget_headers='QWidget|QApplication|QLabel|QPushButton|QGroupBox|QProgressBar|QVBoxLayout'
fi

failures=0
fail() { echo "include rule: $*"; failures=$((failures + 1)); }

sources() { git ls-files --cached --others --exclude-standard "$@"; }

for f in $(sources 'devices/*.cpp' 'devices/*.h' 'sessions/*.cpp' 'sessions/*.h' \
                   'firmware/*.cpp' 'firmware/*.h'); do
  if grep -qE '#include [<"](app/MainForm\.h|ui_MainForm\.h)[">]' "$f"; then
    fail "$f includes the window"
  fi
  case "$f" in
    sessions/DevicePanel.*) ;;
    *) if grep -qE "#include <(QtWidgets/)?($widget_headers)>" "$f"; then
         fail "$f includes a widget header"
       fi ;;
  esac
  for h in $(grep -oE '#include "app/[^"]+"' "$f" | sed 's/#include "//; s/"$//'); do
    if ! echo "$h" | grep -qE "^$foundation\$"; then
      fail "$f includes $h, which is not app's foundation"
    fi
  done
done

# The graph of project includes, file by file and folder by folder; tsort reports a loop.
node_of() {
  case "$1" in
    app/*) echo "$1" | grep -qE "^$foundation\$" && echo app-foundation || echo app ;;
    */*) echo "${1%%/*}" ;;
    *) echo root ;;
  esac
}
files_edges=$(mktemp)
folder_edges=$(mktemp)
trap 'rm -f "$files_edges" "$folder_edges"' EXIT
for f in $(sources '*.cpp' '*.h'); do
  for h in $(grep -oE '^#include "[a-z]+/[^"]+"' "$f" | sed 's/#include "//; s/"$//'); do
    [ -f "$h" ] || continue
    echo "$f $h" >> "$files_edges"
    a=$(node_of "$f"); b=$(node_of "$h")
    [ "$a" != "$b" ] && echo "$a $b" >> "$folder_edges"
  done
done
for graph in "$files_edges" "$folder_edges"; do
  if ! out=$(tsort "$graph" 2>&1 >/dev/null) || [ -n "$out" ]; then
    fail "a circle: $(echo "$out" | tr '\n' ' ')"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures include rule(s) broken"
  exit 1
fi
echo "include rules hold"
