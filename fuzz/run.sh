#!/usr/bin/env bash
# Builds the libFuzzer programs with clang and runs each for a given time.
#   fuzz/run.sh [seconds per target, default 600] [target ...]
#   fuzz/run.sh --check SECONDS [target ...]
# New inputs go to build/fuzz/work/<target>; copy the interesting ones into
# fuzz/corpus/<target> and every crash into fuzz/crashes/<target>.
# --check (the test command's run): starts from seed 1 with a fresh work
# directory, so a run is repeatable, and ends with status 1 when any target
# found a crash, a leak, a timeout or an out-of-memory input.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
if [ "${1:-}" = --check ]; then check=1; shift; fi
seconds=${1:-600}; shift || true
build=build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g -O1"
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_FUZZ=ON -DVESK_BUILD_TESTS=OFF \
  -DVESK_WERROR="${FUZZ_WERROR:-OFF}" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(ls fuzz/corpus))
fi
cmake --build "$build" -j"$(nproc)" --target $(printf '%s_fuzzer ' "${targets[@]}")
status=0
for t in "${targets[@]}"; do
  work=$build/work/$t; art=$build/artifacts/$t/
  seed=()
  if [ $check -eq 1 ]; then
    rm -rf "$work" "$art"
    seed=(-seed=1)
  fi
  mkdir -p "$work" "$art"
  echo "== $t for ${seconds}s"
  if ! "$build/bin/${t}_fuzzer" "${seed[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$art" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
      "$work" "fuzz/corpus/$t" 2>"$build/$t.log"; then
    echo "$t: fuzzer stopped with a finding, see $art and $build/$t.log"
    tail -40 "$build/$t.log"
    status=1
  fi
  grep -E 'stat::number_of_executed_units|cov:' "$build/$t.log" | tail -2 || true
done
[ $check -eq 0 ] || exit $status
