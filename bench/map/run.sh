#!/usr/bin/env bash
# bench_map under Xvfb, the X server without a GPU that the other CPU figures use.
#   bench/map/run.sh [MOVES_PER_SECOND=2] [SECONDS=30] [TRACK_POINTS=0]
# It builds into build/normal, with the other benchmarks; ORVANE_BUILD_DIR names another folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ORVANE_BUILD_DIR:-build/normal}
bash scripts/deps.sh
if ! command -v Xvfb >/dev/null; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends xvfb
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target bench_map >/dev/null
home=$(mktemp -d)
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$home"' EXIT
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb QTWEBENGINE_DISABLE_SANDBOX=1 HOME=$home XDG_RUNTIME_DIR=$home \
  XDG_CACHE_HOME=$home/.cache "$build/bench/map/bench_map" "$@" 2>/dev/null
