#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the launcher need.
# Idempotent: only packages that are missing are installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libopencv-dev
  libfftw3-dev
  libpugixml-dev libtiff-dev
  openjdk-17-jdk
  libxcb1-dev
  xvfb xauth
  xdotool x11-apps
  libaravis-dev libusb-1.0-0-dev
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# The statistics export tests use a German locale (comma decimal separator).
if command -v localedef >/dev/null && ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  if [ "$(id -u)" -eq 0 ]; then localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true
  else sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true; fi
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
