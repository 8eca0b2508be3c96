#!/usr/bin/env bash
# Installs what is missing, builds, and starts the loader. Arguments go to the loader
# (for example: externfirmware).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
scripts/build.sh default
exec build/default/app/GXFWLoader "$@"
