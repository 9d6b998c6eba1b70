#!/usr/bin/env bash
# Builds everything and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
export QT_QPA_PLATFORM=offscreen

cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
