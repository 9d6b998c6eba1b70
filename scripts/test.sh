#!/usr/bin/env bash
# Builds everything and runs every test, headless, and checks an install into build/stage/; then
# builds and runs the tests again under AddressSanitizer and UBSan (build-asan/), where
# LeakSanitizer checks each test program at exit; then the threaded tests under ThreadSanitizer
# (build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
export QT_QPA_PLATFORM=offscreen

cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

# What an install puts in place: the desktop entry and metainfo pass their validators, the
# installed program answers --version with the project's version, and the re-check units verify.
rm -rf build/stage
DESTDIR="$PWD/build/stage" cmake --install build >/dev/null
prefix="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' build/CMakeCache.txt)"
stage="build/stage$prefix"
desktop-file-validate "$stage/share/applications/com.quillmere.Vantorel.desktop"
appstreamcli validate --no-net "$stage/share/metainfo/com.quillmere.Vantorel.metainfo.xml"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)"
printed="$("$stage/bin/vantorel" --version 2>/dev/null)"
[ "$printed" = "vantorel $version" ] || { echo "test: installed vantorel --version printed '$printed', not 'vantorel $version'" >&2; exit 1; }

# The re-check units pass systemd's own check (any message fails it), with the staged program
# standing in for the installed one.
units="$(mktemp -d)"
trap 'rm -rf "$units"' EXIT
for unit in "$stage"/lib/systemd/user/vantorel-recheck{@,-due}.{service,timer}; do
  sed "s|^ExecStart=$prefix/bin/vantorel |ExecStart=$PWD/$stage/bin/vantorel |" "$unit" >"$units/${unit##*/}"
done
mkdir "$units/runtime"
verified="$(cd "$units" && XDG_RUNTIME_DIR="$units/runtime" systemd-analyze --user --man=no verify \
  ./vantorel-recheck@example.com.service ./vantorel-recheck@example.com.timer \
  ./vantorel-recheck-due.service ./vantorel-recheck-due.timer 2>&1)" || true
[ -z "$verified" ] || { echo "test: systemd-analyze verify on the re-check units: $verified" >&2; exit 1; }

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

# The tests that touch threads (the fetch engine, the run and its judging pool, the window) once
# more under ThreadSanitizer.
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan
