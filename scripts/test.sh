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

# What an install puts in place, into a prefix other than the build's, under DESTDIR: every file
# inside the prefix, the desktop entry and metainfo pass their validators, the installed program
# answers --version with the project's version, and the systemd units verify.
rm -rf build/stage
prefix=/opt/vantorel-test
DESTDIR="$PWD/build/stage" cmake --install build --prefix "$prefix" >/dev/null
outside="$(cd build/stage && find . ! -type d ! -path ".$prefix/*")"
[ -z "$outside" ] || { echo "test: the install wrote outside its prefix $prefix: $outside" >&2; exit 1; }
stage="build/stage$prefix"
desktop-file-validate "$stage/share/applications/com.quillmere.Vantorel.desktop"
appstreamcli validate --no-net "$stage/share/metainfo/com.quillmere.Vantorel.metainfo.xml"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)"
printed="$("$stage/bin/vantorel" --version 2>/dev/null)"
[ "$printed" = "vantorel $version" ] || { echo "test: installed vantorel --version printed '$printed', not 'vantorel $version'" >&2; exit 1; }

# Every unit passes systemd's own check (any message fails it), a template as an instance for
# example.com; each ExecStart names the program in the prefix, the staged one standing in for it.
units="$(mktemp -d)"
trap 'rm -rf "$units"' EXIT
instances=()
for unit in "$stage"/lib/systemd/user/*; do
  name="${unit##*/}"
  if grep -q '^ExecStart=' "$unit" && ! grep -q "^ExecStart=$prefix/bin/vantorel " "$unit"; then
    echo "test: $name does not start $prefix/bin/vantorel" >&2; exit 1
  fi
  sed "s|^ExecStart=$prefix/bin/vantorel |ExecStart=$PWD/$stage/bin/vantorel |" "$unit" >"$units/$name"
  instances+=("./${name/@./@example.com.}")
done
[ ${#instances[@]} -gt 0 ] || { echo "test: no systemd units were installed" >&2; exit 1; }
mkdir "$units/runtime"
verified="$(cd "$units" && XDG_RUNTIME_DIR="$units/runtime" systemd-analyze --user --man=no verify "${instances[@]}" 2>&1)" || true
[ -z "$verified" ] || { echo "test: systemd-analyze verify on the units: $verified" >&2; exit 1; }
# The manual's FILES name the units where this install put them.
zgrep -q "^\.I $prefix/lib/systemd/user/vantorel" "$stage/share/man/man1/vantorel.1.gz" ||
  { echo "test: the installed manual does not name the units under $prefix" >&2; exit 1; }

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

# The tests that touch threads (the fetch engine, the run and its judging pool, the window) once
# more under ThreadSanitizer.
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan
