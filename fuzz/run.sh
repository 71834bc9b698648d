#!/usr/bin/env bash
# Builds the libFuzzer programs with clang and runs each for a given time.
#   fuzz/run.sh [seconds per target, default 600] [target ...]
# New inputs go to build/fuzz/work/<target>; copy the interesting ones into
# fuzz/corpus/<target> and every crash into fuzz/crashes/<target>.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}; shift || true
build=build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g -O1"
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_FUZZ=ON -DVESK_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(ls fuzz/corpus))
fi
cmake --build "$build" -j"$(nproc)" --target $(printf '%s_fuzzer ' "${targets[@]}")
for t in "${targets[@]}"; do
  work=$build/work/$t; art=$build/artifacts/$t/
  mkdir -p "$work" "$art"
  echo "== $t for ${seconds}s"
  "$build/bin/${t}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$art" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
    "$work" "fuzz/corpus/$t" 2>"$build/$t.log" || echo "$t: fuzzer stopped with a finding, see $art and $build/$t.log"
  grep -E 'stat::number_of_executed_units|cov:' "$build/$t.log" | tail -2
done
