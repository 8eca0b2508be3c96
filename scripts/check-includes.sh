#!/usr/bin/env bash
# Checks the include rules of the layers (run by CTest as include_rules):
#   - nothing in devices/, sessions/ or firmware/ includes the window's header or its form;
#   - of those, only the device panel includes a widget header, directly or through another
#     project header;
#   - of app/, they include only its foundation (the catalogue and the loader's own texts, the log
#     format, the loader's error type);
#   - no project files include each other in a circle, and neither do the folders (app's
#     foundation counted as a folder of its own).
set -euo pipefail
cd "$(dirname "$0")/.."

foundation='app/(Language|LoaderTexts|LogFormat|LoaderError)\.h'
# An include line however it is spaced: "#include <x>", "#  include <x>", " # include"x"".
include_re='^[[:space:]]*#[[:space:]]*include[[:space:]]*'
# The widget module's headers as this machine's Qt has them (QLabel, qlabel.h), and any header
# named through the module's folder (<QtWidgets/...>) or the module header itself.
widgets_dir=$(ls -d /usr/include/*/qt6/QtWidgets /usr/include/qt6/QtWidgets 2>/dev/null | head -1 || true)
if [ -n "$widgets_dir" ]; then
  widget_headers=$(ls "$widgets_dir" | grep -E '^(Q[A-Z][A-Za-z]*|q[a-z0-9_]*\.h)$' | sed 's/\./\\./g' | paste -sd'|')
else
  widget_headers='QWidget|QApplication|QLabel|QPushButton|QGroupBox|QProgressBar|QVBoxLayout'
fi
widget_re="${include_re}<(QtWidgets(/[^>]*)?|($widget_headers))>"

failures=0
fail() { echo "include rule: $*"; failures=$((failures + 1)); }

sources() { git ls-files --cached --others --exclude-standard "$@"; }

# Every project include, as "file header" lines, and the files that name a widget header or the
# window themselves; each read once.
all_sources=$(sources '*.cpp' '*.h')
edges=$(grep -HoE "${include_re}\"[a-z]+/[^\"]+\"" $all_sources | sed 's/:.*"\(.*\)"/ \1/' || true)
declare -A includes widget_files window_files
while read -r from to; do
  [ -n "$to" ] && [ -f "$to" ] && includes[$from]+=" $to"
done <<< "$edges"
for g in $(grep -lE "$widget_re" $all_sources || true); do widget_files[$g]=1; done
for g in $(grep -lE "${include_re}[<\"](app/MainForm\.h|ui_MainForm\.h)[>\"]" $all_sources || true); do
  window_files[$g]=1
done

# The file and every project header it reaches, as the keys of seen.
declare -A seen
reached_from() {
  seen=([$1]=1)
  local todo=("$1") f h
  while [ ${#todo[@]} -gt 0 ]; do
    f=${todo[-1]}; unset 'todo[-1]'
    for h in ${includes[$f]:-}; do
      [ -n "${seen[$h]:-}" ] && continue
      seen[$h]=1; todo+=("$h")
    done
  done
}

for f in $(sources 'devices/*.cpp' 'devices/*.h' 'sessions/*.cpp' 'sessions/*.h' \
                   'firmware/*.cpp' 'firmware/*.h'); do
  reached_from "$f"
  for g in "${!seen[@]}"; do
    [ -n "${window_files[$g]:-}" ] && fail "$f includes the window (through $g)"
    case "$f" in
      sessions/DevicePanel.*) ;;
      *) [ -n "${widget_files[$g]:-}" ] && fail "$f includes a widget header (through $g)" ;;
    esac
  done
  for h in ${includes[$f]:-}; do
    case "$h" in
      app/*) [[ $h =~ ^$foundation$ ]] || fail "$f includes $h, which is not app's foundation" ;;
    esac
  done
done

# The graph of project includes, file by file and folder by folder; tsort reports a loop.
node_of() {
  case "$1" in
    app/*) if [[ $1 =~ ^$foundation$ ]]; then node=app-foundation; else node=app; fi ;;
    */*) node="${1%%/*}" ;;
    *) node=root ;;
  esac
}
files_edges=$(mktemp)
folder_edges=$(mktemp)
trap 'rm -f "$files_edges" "$folder_edges"' EXIT
for f in "${!includes[@]}"; do
  for h in ${includes[$f]}; do
    echo "$f $h" >> "$files_edges"
    node_of "$f"; a=$node; node_of "$h"; b=$node
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
