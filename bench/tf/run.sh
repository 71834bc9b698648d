#!/usr/bin/env bash
# Benchmark of tf mode over a full TSP measurement: 72 directions × 8
# microphones, one 8-channel 16-bit recording per direction, N 16384, 16
# averaged periods. Prints the wall time of trelvix --mode tf from TSP list to
# transfer-function file against one plain libsndfile read of all 72
# recordings, and their ratio (target: at most 3); also the 72 dravik runs
# alone, as trelvix makes them, to show trelvix's own share.
# Usage: bench/tf/run.sh [build-dir]   (default: build/bench-tf)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/bench-tf}
runs=${TF_BENCH_RUNS:-3}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target trelvix dravik trelvix_tf_bench_tool -j2 >/dev/null
trelvix="$build/bin/trelvix"
tool="$build/bin/trelvix_tf_bench_tool"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/rec" "$work/tmp"
n=16384
periods=16

"$tool" generate "$work/rec" 72 8 "$periods" "$n"
"$trelvix" --mode template --output-type mic -o "$work/mic.xml"
"$trelvix" --mode template --output-type tsp --synchronous-average "$periods" --tsp-offset "$n" \
    --signal-max 1 --original-impulse-file "$work/rec/origin.flt" \
    --filepath "$work/rec/D{AZIMUTH:%03d}_00.wav" -o "$work/tsp.xml"

. bench/timing.sh

# Every run writes into a directory of its own, made before the clock
# starts, as a fresh run would find it. Nothing is deleted until all runs are
# timed: on ext4, making files soon after many were deleted is markedly
# slower, and that cost belongs to the clean-up, not to the run.
run_count=0
next_run_dir() {
    run_count=$((run_count + 1))
    run_dir="$work/tmp/$run_count"
    mkdir -p "$run_dir"
}

run_tf() {
    TMPDIR="$run_dir" "$trelvix" --mode tf --output-type gtf -o "$work/tf.bin" "$work/mic.xml" "$work/tsp.xml"
}

# The dravik runs that trelvix makes, one per recording, without trelvix;
# output directories made beforehand by prepare_dravik_only.
prepare_dravik_only() {
    local wav dirs=()
    for wav in "$work"/rec/D*_00.wav; do dirs+=("$run_dir/${wav##*/}"); done
    mkdir -p "${dirs[@]}"
}
dravik_only() {
    local wav
    for wav in "$work"/rec/D*_00.wav; do
        "$build/bin/dravik" --tsporigflt "$work/rec/origin.flt" --sigmax 1 --syncaddfreq "$periods" \
            --syncaddoffset "$n" --outchannellist 0,1,2,3,4,5,6,7 "$wav" "$run_dir/${wav##*/}/float" || return 1
    done
}

"$tool" read "$work/rec" >/dev/null   # warm the page cache
next_run_dir
run_tf >/dev/null 2>&1
sync   # the recordings and the warm-up outputs reach the disk before timing
[ -s "$work/tf.bin" ] || { echo "tf run failed" >&2; exit 1; }
: >"$work/read.ns"
: >"$work/tf.ns"
: >"$work/dravik.ns"
for _ in $(seq "$runs"); do
    wall_ns "$tool" read "$work/rec" >>"$work/read.ns"
    next_run_dir
    wall_ns run_tf >>"$work/tf.ns"
    next_run_dir
    prepare_dravik_only
    wall_ns dravik_only >>"$work/dravik.ns"
done
read_ns=$(median <"$work/read.ns")
tf_ns=$(median <"$work/tf.ns")
dravik_ns=$(median <"$work/dravik.ns")

awk -v r="$read_ns" -v t="$tf_ns" -v d="$dravik_ns" -v runs="$runs" 'BEGIN {
    printf "tf mode, 72 directions x 8 microphones, N 16384, 16 periods (median of %d runs)\n", runs
    printf "  read of all 72 recordings: %8.3f s\n", r / 1e9
    printf "  trelvix --mode tf:         %8.3f s\n", t / 1e9
    printf "  72 dravik runs alone:      %8.3f s\n", d / 1e9
    printf "  ratio tf / read:           %8.2f   (target <= 3)\n", t / r
    printf "  ratio dravik alone / read: %8.2f\n", d / r
    printf "  ratio tf / dravik alone:   %8.2f   (trelvix own share)\n", t / d
}'
