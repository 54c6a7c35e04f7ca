#!/usr/bin/env bash
# Installs the Debian packages Orvane needs to build, test and run; does nothing when all are present.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libboost-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libgl-dev
  libkml-dev libpugixml-dev libjs-leaflet fonts-liberation2
  xvfb xauth openbox xdotool x11-utils
  desktop-file-utils appstream dpkg-dev lintian
  gpsd gpsbabel gdal-bin libxml2-utils rtklib
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
