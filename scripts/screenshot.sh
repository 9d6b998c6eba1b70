#!/usr/bin/env bash
# Builds the program, starts it on a virtual display and saves a PNG of its window.
# Usage: scripts/screenshot.sh [out.png]   (default: build/screenshot.png)
# Xvfb runs no window manager, so the picture is the window's client area without a caption bar.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "${1:-$root/build/screenshot.png}")"
cd "$root"

scripts/deps.sh xvfb xauth x11-utils imagemagick
cmake --preset default >/dev/null
cmake --build --preset default --target vantorel
mkdir -p "$(dirname "$out")"

# The window is found by its caption; a short pause after it appears lets it paint.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  build/app/vantorel &
  app=$!
  trap "kill $app 2>/dev/null || true; wait $app 2>/dev/null || true" EXIT
  window=""
  for _ in $(seq 100); do
    window=$(xwininfo -root -tree | awk "/\"Vantorel /{ print \$1; exit }")
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || { echo "screenshot: the program ended before its window appeared" >&2; exit 1; }
    sleep 0.1
  done
  [ -n "$window" ] || { echo "screenshot: no window after 10 s" >&2; exit 1; }
  sleep 1
  import -window "$window" "$1"
' screenshot "$out"
echo "screenshot: $out"
