#!/usr/bin/env bash
# Installs what is missing, builds Orvane and starts it. Unless given --no-simulator, it also
# starts the simulated receiver on a pseudo-terminal, offered in the Setup tab's port list as
# ".../orvane/ports/simulated-receiver", so there is live data without a receiver. With --gnss
# the simulated receiver is a multi-constellation one (GN talker, GPS, GLONASS, Galileo and
# BeiDou skies) at 38400 baud.
set -euo pipefail
cd "$(dirname "$0")/.."

simulate=1
gnss=0
for arg in "$@"; do
  case $arg in
    --no-simulator) simulate=0 ;;
    --gnss) gnss=1 ;;
    -h|--help) echo "usage: scripts/run.sh [--no-simulator | --gnss]"; exit 0 ;;
    *) echo "unknown option: $arg (try --help)" >&2; exit 2 ;;
  esac
done

bash scripts/deps.sh
cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build build/app -j "$(nproc)" --target orvane orvane-gpssim orvane-nmea

# Qt WebEngine refuses its sandbox as root.
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1

launcher=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: Orvane runs under Xvfb, where nothing can be seen."
  launcher=(xvfb-run -a -s "-screen 0 1280x800x24")
fi

if [ "$simulate" -eq 1 ]; then
  if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ "${XDG_RUNTIME_DIR:0:1}" = / ]; then
    ports="$XDG_RUNTIME_DIR/orvane/ports"
  else
    ports="/tmp/orvane-$(id -u)/ports"
  fi
  mkdir -p "$ports"
  link="$ports/simulated-receiver"
  baud=4800
  kind=()
  if [ "$gnss" -eq 1 ]; then
    baud=38400
    kind=(--gnss)
  fi
  # --stay: the simulated receiver outlives a Disconnect, as a real one would.
  build/app/tools/gpssim/orvane-gpssim --baud "$baud" "${kind[@]}" --stay --link "$link" >/dev/null 2>&1 &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null' EXIT
  echo "Simulated receiver: choose $link in the Setup tab ($baud baud), then click Connect."
fi

"${launcher[@]}" build/app/orvane
