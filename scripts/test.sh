#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole suite: the normal build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the threaded tests under
# ThreadSanitizer, and each fuzz target for a short, bounded time.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh || exit 1

jobs=$(nproc)
logs=build/logs
mkdir -p "$logs"
failed_stages=()

# ccache, when installed, rebuilds only what changed since the last run; paths are taken
# relative to the source folder, so that every clone shares its entries.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

build() { # dir, cmake options...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >"$logs/$(basename "$dir")-configure.log" 2>&1 \
    || { cat "$logs/$(basename "$dir")-configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs"
}

stage() { # name, ctest args...
  local name=$1; shift
  echo "== $name"
  ctest "$@" --output-on-failure 2>&1 | tee "$logs/$name.log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed_stages+=("$name")
}

if build build/normal; then
  stage normal --test-dir build/normal -j 2
else
  failed_stages+=("normal-build")
fi

if build build/asan -DORVANE_SANITIZE=address -DORVANE_BENCH=OFF; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 stage asan --test-dir build/asan -j 2
else
  failed_stages+=("asan-build")
fi

if build build/tsan -DORVANE_SANITIZE=thread -DORVANE_GUI=OFF -DORVANE_BENCH=OFF; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 stage tsan --test-dir build/tsan -L threaded
else
  failed_stages+=("tsan-build")
fi

echo "== fuzz"
fuzz_passed=0; fuzz_failed=0
if CC=clang CXX=clang++ build build/fuzz -DORVANE_FUZZ=ON -DORVANE_GUI=OFF -DORVANE_TESTS=OFF \
     -DORVANE_BENCH=OFF -DORVANE_SANITIZE=address; then
  while IFS= read -r target; do
    corpus_dir="build/fuzz/corpus-$(basename "$target")"
    mkdir -p "$corpus_dir"
    if "$target" -max_total_time="${ORVANE_FUZZ_SECONDS:-45}" -timeout=10 -rss_limit_mb=2048 \
         "$corpus_dir" >"$logs/$(basename "$target").log" 2>&1; then
      echo "fuzz $(basename "$target"): ok"; fuzz_passed=$((fuzz_passed + 1))
    else
      tail -n 40 "$logs/$(basename "$target").log"
      echo "fuzz $(basename "$target"): FAILED"; fuzz_failed=$((fuzz_failed + 1))
    fi
  done < <(find build/fuzz/fuzz -type f -name 'fuzz_*' -perm -u+x | sort)
else
  failed_stages+=("fuzz-build")
fi

passed=$fuzz_passed; failed=$fuzz_failed
for log in "$logs"/normal.log "$logs"/asan.log "$logs"/tsan.log; do
  [ -f "$log" ] || continue
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  [ -n "$line" ] || continue
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
done
for s in "${failed_stages[@]}"; do
  case $s in *-build) failed=$((failed + 1)); echo "stage $s failed";; esac
done
echo
echo "suite: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failed_stages[@]} -eq 0 ]
