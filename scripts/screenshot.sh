#!/usr/bin/env bash
# Builds the program, starts it on a virtual display and saves a PNG of its window.
# Usage: scripts/screenshot.sh [--history|--stopped] [out.png]   (default: build/screenshot.png)
# With --history the picture is of the history window (Ctrl+H) over a file of three months of
# sample runs (scripts/sample-history.py); with --stopped, of the window at its smallest, a run
# of example.com stopped by Esc halfway, its engine and pages on loopback (scripts/sample-web.py).
# Xvfb runs no window manager, so the picture is the window's client area without a caption bar.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
history=""
stopped=""
case "${1:-}" in
  --history) history=1; shift ;;
  --stopped) stopped=1; shift ;;
esac
out="$(realpath -m "${1:-$root/build/screenshot.png}")"
cd "$root"

scripts/deps.sh xvfb xauth x11-utils imagemagick xdotool
cmake --preset default >/dev/null
cmake --build --preset default --target vantorel
mkdir -p "$(dirname "$out")"
samples="$(mktemp -d)"
trap 'rm -rf "$samples"' EXIT
db="$samples/history.sqlite3"
if [ -n "$history" ]; then
  build/app/vantorel --watch example.com --db "$samples/raw.sqlite3" 2>/dev/null
  scripts/sample-history.py "$samples/raw.sqlite3"
  build/app/vantorel --copy-history "$samples/raw.sqlite3" "$db" >/dev/null
fi
if [ -n "$stopped" ]; then
  coproc web { exec scripts/sample-web.py example.com; }
  read -r port <&"${web[0]}"
  trap 'kill "$web_PID" 2>/dev/null || true; rm -rf "$samples"' EXIT
  export http_proxy="http://127.0.0.1:$port" no_proxy=127.0.0.0/8
fi

# The window is found by its caption (a loaded machine may take many seconds to show it); a short pause after it appears lets it paint.
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
  set -euo pipefail
  build/app/vantorel --db "$2" &
  app=$!
  trap "kill $app 2>/dev/null || true; wait $app 2>/dev/null || true" EXIT
  window=""
  for _ in $(seq 300); do
    # awk reads to the end: leaving early could end xwininfo by SIGPIPE and fail the pipeline.
    window=$(xwininfo -root -tree | awk "/\"Vantorel / && !found { print \$1; found = 1 }")
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || { echo "screenshot: the program ended before its window appeared" >&2; exit 1; }
    sleep 0.1
  done
  [ -n "$window" ] || { xwininfo -root -tree >&2; echo "screenshot: no window after 30 s" >&2; exit 1; }
  sleep 1
  if [ -n "$4" ]; then
    xdotool windowfocus --sync "$window" key ctrl+a type example.com
    xdotool key Return
    sleep 4
    xdotool key Escape
    sleep 2
  fi
  if [ -n "$3" ]; then
    xdotool windowfocus --sync "$window" key ctrl+h
    for _ in $(seq 100); do
      window=$(xdotool search --name "^历史记录$" | head -1)
      [ -n "$window" ] && break
      sleep 0.1
    done
    [ -n "$window" ] || { echo "screenshot: no history window after 10 s" >&2; exit 1; }
    sleep 2
  fi
  import -window "$window" "$1"
' screenshot "$out" "$db" "$history" "$stopped"
echo "screenshot: $out"
