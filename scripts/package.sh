#!/usr/bin/env bash
# Builds the Debian package from a release build without tests or benchmarks (build-deb/),
# checks it with lintian and prints the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-dev: dpkg-buildflags and dpkg-shlibdeps; file: how cpack finds the programs to inspect.
scripts/deps.sh dpkg-dev file lintian

# Debian's own compiler and linker hardening, as any package built for it gets.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
# The manual page carries this date: the same for every build of one commit.
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || date +%s)"
export SOURCE_DATE_EPOCH

cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF -DVANTOREL_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >/dev/null
cmake --build build-deb -j 2
rm -f build-deb/vantorel_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
deb="$(ls "$PWD"/build-deb/vantorel_*.deb)"
lintian "$deb"
echo "$deb"
