#!/usr/bin/env bash
# Builds everything and runs every test, headless; then builds and runs the tests again under
# AddressSanitizer and UBSan (build-asan/), where LeakSanitizer checks each test program at exit.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
export QT_QPA_PLATFORM=offscreen

cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan
