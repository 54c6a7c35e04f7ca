#!/usr/bin/env bash
# Remakes docs/screenshot.png from the running program, offscreen, against the simulated receiver.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build build/app -j "$(nproc)" --target orvane-screenshot
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
mkdir -p docs
QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
  build/app/tools/screenshot/orvane-screenshot docs/screenshot.png "${1:-20}"
echo "docs/screenshot.png written"
