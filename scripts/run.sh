#!/usr/bin/env bash
# Builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh xvfb xauth
cmake --preset default >/dev/null
cmake --build --preset default --target vantorel

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "vantorel: no display found; start it under a virtual display with: xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
exec build/app/vantorel "$@"
