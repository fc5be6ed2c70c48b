#!/usr/bin/env bash
# Installs the Debian packages Tirvane needs to build, test, benchmark and run.
# Runs `apt-get update` once, and only when something is missing.
set -euo pipefail

# The sanitizer and libFuzzer runtime of the clang that builds the fuzzers:
# the one of the installed clang's major version, or, before clang is
# installed, the one the distribution's default clang goes with.
clang_runtime() {
  local major
  major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1)
  if [ -n "$major" ]; then echo "libclang-rt-$major-dev"; else echo libclang-rt-dev; fi
}

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libjpeg-dev libjpeg-turbo-progs
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation fontconfig
  xvfb xauth xdotool imagemagick x11-utils xclip libx11-dev
  cups cups-client cups-bsd printer-driver-cups-pdf
  libqt6sql6-sqlite libsqlite3-dev sqlite3
  librsvg2-bin poppler-utils
  clang "$(clang_runtime)" libtsan2
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
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them as root (apt-get install ${missing[*]}), or run this as root or with sudo at hand." >&2
    exit 1
  fi
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
