#!/usr/bin/env bash
# CPU of Orvane against its peers gpsd + xgps, on the same simulated receiver, under Xvfb: an X
# server without a GPU, as on a virtual machine, a remote desktop or an older laptop. Each side
# runs alone, one after the other, in one run. It prints figures and asserts nothing:
#
# - a summary: each side's whole process tree's CPU time over the measured window, in % of one
#   core, and Orvane's against the peer's;
# - a breakdown (bench/peer/parts.py) over the same windows: Orvane's main process by thread (UI,
#   the reader orvane-reader, the web engine's Chromium threads, other threads, and what ended
#   between the once-a-second samples or was lost to rounding), its Qt WebEngine children by
#   kind (renderer, zygote, utility, gpu-process), gpsd and xgps apart; then RSS and PSS (MiB)
#   of Orvane's main process and of its renderer at the window's end.
#
#   bench/peer/run.sh [SECONDS=60] [WARMUP=15]
#
# Two streams: the SiRF-class receiver at 4800 baud, one cycle a second, with Orvane's Terminal
# tab shown; and the multi-constellation receiver at 115200 baud, ten cycles a second.
#
# It builds into build/app, as scripts/run.sh does; ORVANE_BUILD_DIR names another build folder.
# ORVANE_BEFORE_BUILD_DIR names the build folder of an older Orvane: it is measured too, on
# each stream just before the current one and on this build's simulator, in columns of its own.
# Extra environment for Orvane alone (for comparisons) goes in ORVANE_PEER_ENV, e.g.
# ORVANE_PEER_ENV="QT_QUICK_BACKEND=opengl".
# ORVANE_PEER_SETTINGS holds more nodes for Orvane's settings file, e.g. its Corrections and Share
# (the caster and the share's clients are the caller's to run).
# ORVANE_PEER_TABS="90 170" measures Orvane alone, once per tab clicked at each x under the panel
# (90: Terminal), on both streams, with no peer: what a tab costs while it is shown.
# ORVANE_PEER_MEMORY_MINUTES=N instead runs Orvane alone on the 115200-baud stream for N minutes
# (the older one first, when named) and prints the RSS and PSS of its main process and of its
# renderer once a minute, from the Connect on: the memory after 10 minutes, growth over an hour.
# PSS shares pages among the processes mapping them, so it moves with what else runs.
set -euo pipefail
before=${ORVANE_BEFORE_BUILD_DIR:+$(realpath -m "$ORVANE_BEFORE_BUILD_DIR")}
cd "$(dirname "$0")/../.."
window=${1:-60}
warmup=${2:-15}
if [ -n "$before" ] && [ ! -x "$before/orvane" ]; then
  echo "ORVANE_BEFORE_BUILD_DIR: no orvane in $before" >&2
  exit 1
fi

bash scripts/deps.sh
need=()
for p in gpsd gpsd-clients python3-gi gir1.2-gtk-3.0 xvfb xdotool; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

build=${ORVANE_BUILD_DIR:-build/app}
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target orvane orvane-gpssim >/dev/null

work=$(mktemp -d /tmp/orvane-peer.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

parts=bench/peer/parts.py

# After the warm-up, the CPU of the trees LABEL=PID over $window seconds into OUT (JSON), as
# bench/peer/parts.py reads it: by process and, for Orvane, by thread.
measure() { # out, label=pid...
  local out=$1; shift
  sleep "$warmup"
  python3 "$parts" measure "$out" "$window" "$@"
}

total() { python3 -c 'import json, sys; print("%.1f" % json.load(open(sys.argv[1]))["cpu"]["total"])' "$1"; }

start_simulator() { # link, options...
  local link=$1; shift
  "$build/tools/gpssim/orvane-gpssim" --seed 7 --stay --link "$link" "$@" >"$work/sim.log" 2>&1 &
  sim=$!
  pids+=("$sim")
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
}

stop() { for p in "$@"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done; }

start_orvane() { # binary, baud, simulator options...; sets app
  local binary=$1 baud=$2; shift 2
  local home="$work/orvane-home" bin="$work/orvane-bin"
  rm -rf "$home" "$bin"; mkdir -p "$home/rec" "$bin"
  cp "$binary" "$bin/orvane"
  start_simulator "$work/gps" --baud "$baud" "$@"
  cat >"$bin/Orvane.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Configuration><Port>$work/gps</Port><BaudRate>$baud</BaudRate><SaveFileName>$home/rec</SaveFileName>${ORVANE_PEER_SETTINGS:-}</Configuration>
XML
  [ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
  # shellcheck disable=SC2086
  env ${ORVANE_PEER_ENV:-} HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home" \
    QT_QPA_PLATFORM=xcb "$bin/orvane" >"$work/orvane.log" 2>&1 &
  app=$!
  pids+=("$app")
  local wid
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Orvane$' | head -n 1)
  sleep 3
  # Connect (the panel's first button), then the Terminal tab under the panel. The client
  # starts under the menu bar; its height is the menu's.
  local menu=${ORVANE_MENU_HEIGHT:-23}
  xdotool mousemove --window "$wid" 240 $((menu + 13)) click 1
  sleep 1
  xdotool mousemove --window "$wid" "${tab_x:-90}" $((menu + 689)) click 1
  sleep 1
  if ! grep -q "Port opened by the other side" "$work/sim.log"; then
    echo "Orvane did not connect; see $work/orvane.log" >&2
    cat "$work/orvane.log" >&2
    exit 1
  fi
  [ -n "${ORVANE_PEER_SHOT:-}" ] && command -v import >/dev/null && import -window root "$ORVANE_PEER_SHOT"
  return 0
}

run_orvane() { # out, binary, baud, simulator options...
  local out=$1; shift
  start_orvane "$@"
  measure "$out" "orvane=$app"
  stop "$app" "$sim"
}

run_peer() { # out, baud, simulator options...
  local out=$1 baud=$2; shift 2
  start_simulator "$work/gps" --baud "$baud" "$@"
  local port=$((29470 + RANDOM % 500))
  /usr/sbin/gpsd -N -n -s "$baud" -S "$port" -F "$work/gpsd.sock" "$(readlink -f "$work/gps")" >/dev/null 2>&1 &
  local daemon=$!
  pids+=("$daemon")
  sleep 2
  /usr/bin/python3 /usr/bin/xgps "localhost:$port" >"$work/xgps.log" 2>&1 &
  local client=$!
  pids+=("$client")
  measure "$out" "gpsd=$daemon" "xgps=$client"
  stop "$client" "$daemon" "$sim"
}

if [ -n "${ORVANE_PEER_MEMORY_MINUTES:-}" ]; then
  echo "Orvane alone at 115200 baud, 10 Hz, multi-constellation, for $ORVANE_PEER_MEMORY_MINUTES minutes on $display (Xvfb, no GPU)."
  for binary in ${before:+"$before/orvane"} "$build/orvane"; do
    start_orvane "$binary" 115200 --gnss --rate 10
    echo
    [ "$binary" = "$build/orvane" ] && echo "Orvane ($binary):" || echo "Orvane before ($binary):"
    echo
    echo "| minute | main RSS MiB | main PSS MiB | renderer RSS MiB | renderer PSS MiB |"
    echo "|-------:|-------------:|-------------:|-----------------:|-----------------:|"
    for minute in $(seq 0 "$ORVANE_PEER_MEMORY_MINUTES"); do
      [ "$minute" -gt 0 ] && sleep 60
      if ! kill -0 "$app" 2>/dev/null; then
        echo "Orvane ended; see $work/orvane.log" >&2
        exit 1
      fi
      read -r rss pss rrss rpss < <(python3 "$parts" memory "$app")
      printf "| %6s | %12s | %12s | %16s | %16s |\n" "$minute" "$rss" "$pss" "$rrss" "$rpss"
    done
    stop "$app" "$sim"
  done
  exit 0
fi

echo "Measuring ${window}s after ${warmup}s of warm-up, each side alone, on $display (Xvfb, no GPU)."
if [ -n "${ORVANE_PEER_TABS:-}" ]; then
  echo
  echo "| tab at x | 4800 baud, 1 Hz % | 115200 baud, 10 Hz % |"
  echo "|----------|-------------------|----------------------|"
  for tab_x in $ORVANE_PEER_TABS; do
    run_orvane "$work/tab-1.json" "$build/orvane" 4800
    run_orvane "$work/tab-2.json" "$build/orvane" 115200 --gnss --rate 10
    printf "| %8s | %17s | %20s |\n" "$tab_x" "$(total "$work/tab-1.json")" "$(total "$work/tab-2.json")"
  done
  exit 0
fi

# Before, now and the peer on each stream in turn, so that a slow spell of a shared machine
# weighs on all three alike.
streams=("4800" "115200 --gnss --rate 10")
for i in 0 1; do
  # shellcheck disable=SC2086
  {
    if [ -n "$before" ]; then run_orvane "$work/before-$i.json" "$before/orvane" ${streams[$i]}; fi
    run_orvane "$work/orvane-$i.json" "$build/orvane" ${streams[$i]}
    run_peer "$work/peer-$i.json" ${streams[$i]}
  }
done

names=("4800 baud, 1 Hz, GPS, Terminal tab" "115200 baud, 10 Hz, multi-constellation")
echo
if [ -n "$before" ]; then
  echo "| stream                                  | Orvane before % | Orvane % | gpsd + xgps % | ratio |"
  echo "|-----------------------------------------|----------------:|---------:|--------------:|------:|"
else
  echo "| stream                                  | Orvane % | gpsd + xgps % | ratio |"
  echo "|-----------------------------------------|---------:|--------------:|------:|"
fi
for i in 0 1; do
  o=$(total "$work/orvane-$i.json"); p=$(total "$work/peer-$i.json")
  b=; [ -n "$before" ] && b=$(total "$work/before-$i.json")
  awk -v l="${names[$i]}" -v b="$b" -v o="$o" -v p="$p" 'BEGIN {
    printf "| %-39s |", l
    if (b != "") printf " %15.1f |", b
    printf " %8.1f | %13.1f | %5.2f |\n", o, p, (p > 0 ? o / p : 0) }'
done
o1=$(total "$work/orvane-0.json"); o2=$(total "$work/orvane-1.json")
awk -v a="$o1" -v b="$o2" 'BEGIN { printf "\nOrvane at 115200 baud / 10 Hz is %.2fx its 4800-baud figure.\n", (a > 0 ? b / a : 0) }'

echo
columns=()
short=("4800 baud, 1 Hz" "115200 baud, 10 Hz")
for i in 0 1; do
  [ -n "$before" ] && columns+=("${short[$i]}, before=$work/before-$i.json")
  columns+=("${short[$i]}${before:+, now}=$work/orvane-$i.json,$work/peer-$i.json")
done
python3 "$parts" table "${columns[@]}"
