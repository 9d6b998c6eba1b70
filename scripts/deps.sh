#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one of them is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libqt6sql6-sqlite # the history file's driver
  libqt6sql6-psql # the shared history's driver (QPSQL)
  libpq-dev # a frozen server's connection is shut from our side
  postgresql-15 # a throwaway server for the tests and benchmarks of the shared history
  libcurl4-openssl-dev ca-certificates libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libxml2-dev
  libgumbo-dev # only for the parser comparison in bench/EvidenceBench.cpp
  fonts-noto-cjk
  qt6-translations-l10n # Qt's own texts (dialogs, buttons, command-line errors) in Chinese
  man-db # renders the manual page in its test (man -l)
  desktop-file-utils appstream # validators of the installed desktop entry and metainfo
  systemd # systemd-analyze verifies the installed re-check units
  qt6-charts-dev libqt6opengl6-dev # the history window's chart (its CMake files need Qt6OpenGL)
  dbus-daemon # the notification tests start a private session bus
  chromium # renders pages whose links scripts write (the program runs without it; its tests skip)
  python3-aiosmtpd # the e-mail tests' SMTP server on loopback
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
