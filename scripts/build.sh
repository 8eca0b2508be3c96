#!/usr/bin/env bash
# Configures and builds one preset (default: "default"). Used by run.sh and test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
