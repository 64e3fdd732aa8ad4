#!/usr/bin/env bash
# Installs the Debian packages K.V. needs to build, test and run, skipping those
# already present. Needs root or sudo. Safe to run again.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git python3
  libsdl2-dev libsdl2-mixer-dev libx11-dev
  libcairo2-dev libfreetype-dev fonts-ipafont-gothic
  libjpeg-dev libcurl4-openssl-dev libsqlite3-dev libmp3lame-dev
  libcpp-httplib-dev libmicrohttpd-dev nlohmann-json3-dev zlib1g-dev
  libpq-dev postgresql libsodium-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libgtest-dev libgmock-dev
  xvfb xdotool imagemagick x11-utils openbox wrk chromium
  clang libclang-rt-14-dev
  desktop-file-utils appstream systemd
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
