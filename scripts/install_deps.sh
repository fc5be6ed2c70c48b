#!/usr/bin/env bash
# Installs the Debian packages Tirvane needs to build, test, benchmark and run.
# Runs `apt-get update` once, and only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libjpeg-dev libjpeg-turbo-progs
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation fontconfig
  xvfb xauth xdotool imagemagick x11-utils xclip libx11-dev
  cups cups-client cups-bsd printer-driver-cups-pdf
  libqt6sql6-sqlite libsqlite3-dev sqlite3 qt6-charts-dev libqt6opengl6-dev
  librsvg2-bin poppler-utils
  clang libclang-rt-14-dev libtsan2
  iproute2 util-linux procps
  dbus
  prometheus qt6-httpserver-dev qt6-websockets-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
