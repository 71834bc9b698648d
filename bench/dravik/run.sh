#!/usr/bin/env bash
# Benchmark of dravik: wall time against one plain libsndfile read of the
# same recording, and peak memory with 64 against 4 averaged periods.
# Usage: bench/dravik/run.sh [build-dir]   (default: build/bench-dravik)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/bench-dravik}
runs=${DRAVIK_BENCH_RUNS:-7}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target dravik dravik_bench_tool -j2 >/dev/null
dravik="$build/bin/dravik"
tool="$build/bin/dravik_bench_tool"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=16384
channels=16

. bench/timing.sh

# --- time: 16 channels, 16-bit, (16 + 1) x 16384 frames
mkdir -p "$work/time"
"$tool" generate "$work/time" "$channels" 16 "$n"
rec="$work/time/rec.wav"
run_dravik=("$dravik" --tsporigflt "$work/time/tsp.flt" --samplebyframe "$n" --syncaddfreq 16
            --syncaddoffset "$n" "$rec" "$work/time/out")
"$tool" read "$rec" >/dev/null    # warm the page cache
"${run_dravik[@]}" >/dev/null
: >"$work/read.ns"
: >"$work/dravik.ns"
for _ in $(seq "$runs"); do
    wall_ns "$tool" read "$rec" >>"$work/read.ns"
    wall_ns "${run_dravik[@]}" >>"$work/dravik.ns"
done
read_ns=$(median <"$work/read.ns")
dravik_ns=$(median <"$work/dravik.ns")

# --- memory: the same set-up with 4 and with 64 periods
peak_kib() {
    local periods=$1 dir="$work/mem$1"
    mkdir -p "$dir"
    "$tool" generate "$dir" "$channels" "$periods" "$n"
    /usr/bin/time -f %M -o "$dir/peak" "$dravik" --tsporigflt "$dir/tsp.flt" --samplebyframe "$n" \
        --syncaddfreq "$periods" --syncaddoffset "$n" "$dir/rec.wav" "$dir/out" >/dev/null
    cat "$dir/peak"
}
mem4=$(peak_kib 4)
mem64=$(peak_kib 64)

awk -v r="$read_ns" -v d="$dravik_ns" -v m4="$mem4" -v m64="$mem64" -v runs="$runs" 'BEGIN {
    printf "recording: 16 channels, 16-bit, 17 x 16384 frames; median of %d runs\n", runs
    printf "libsndfile read once : %8.2f ms\n", r / 1e6
    printf "dravik               : %8.2f ms\n", d / 1e6
    printf "time ratio           : %8.2f  (limit 2.00)\n", d / r
    printf "peak memory F=4      : %8d KiB\n", m4
    printf "peak memory F=64     : %8d KiB\n", m64
    printf "memory ratio         : %8.2f  (limit 1.25)\n", m64 / m4
}'
