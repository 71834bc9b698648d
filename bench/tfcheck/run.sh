#!/usr/bin/env bash
# Benchmark of tfcheck on the tf benchmark's measurement: 72 directions x 8
# microphones, one 8-channel 16-bit recording per direction, N 16384, 16
# averaged periods. Prints, measured in the same runs:
#   tfcheck TF.bin against the trelvix --mode tf run that made the file
#     (target: at most 0.2);
#   tfcheck --estimate-array TF.bin (the check and the array fit) against
#     the same trelvix run (target: at most 0.2);
#   tfcheck --recordings LIST.xml against one plain libsndfile read of all
#     72 recordings (target: at most 2);
#   tfcheck --recordings LIST.xml --tf TF.bin (the confidence of every
#     transfer function too) against tfcheck --recordings alone.
# The recordings are synthetic (not consistent with the template's array),
# so tfcheck reports findings; only its time is of interest here.
# Usage: bench/tfcheck/run.sh [build-dir]   (default: build/bench-tfcheck)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/bench-tfcheck}
runs=${TFCHECK_BENCH_RUNS:-3}

bench_targets="dravik tfcheck"
. bench/tf/measurement.sh
tfcheck="$build/bin/tfcheck"

# tfcheck ends with 3 on these synthetic data (findings); 1 is a failure.
check_tf() {
    local status=0
    "$tfcheck" --mic "$work/mic.xml" "$work/tf.bin" || status=$?
    [ "$status" -ne 1 ]
}
check_estimate() {
    local status=0
    "$tfcheck" --estimate-array --mic "$work/mic.xml" "$work/tf.bin" || status=$?
    [ "$status" -ne 1 ]
}
check_recordings() {
    local status=0
    "$tfcheck" --recordings "$work/tsp.xml" || status=$?
    [ "$status" -ne 1 ]
}
check_confidence() {
    local status=0
    "$tfcheck" --recordings "$work/tsp.xml" --tf "$work/tf.bin" || status=$?
    [ "$status" -ne 1 ]
}

"$tool" read "$work/rec" >/dev/null   # warm the page cache
next_run_dir
run_tf >/dev/null 2>&1
sync
[ -s "$work/tf.bin" ] || { echo "tf run failed" >&2; exit 1; }
check_tf >/dev/null || { echo "tfcheck failed on $work/tf.bin" >&2; exit 1; }
check_estimate >/dev/null || { echo "tfcheck --estimate-array failed on $work/tf.bin" >&2; exit 1; }
check_recordings >/dev/null || { echo "tfcheck --recordings failed" >&2; exit 1; }
check_confidence >/dev/null || { echo "tfcheck --recordings --tf failed" >&2; exit 1; }
: >"$work/read.ns"
: >"$work/tf.ns"
: >"$work/check.ns"
: >"$work/estimate.ns"
: >"$work/recordings.ns"
: >"$work/confidence.ns"
for _ in $(seq "$runs"); do
    wall_ns "$tool" read "$work/rec" >>"$work/read.ns"
    wall_ns check_recordings >>"$work/recordings.ns"
    wall_ns check_confidence >>"$work/confidence.ns"
    next_run_dir
    wall_ns run_tf >>"$work/tf.ns"
    wall_ns check_tf >>"$work/check.ns"
    wall_ns check_estimate >>"$work/estimate.ns"
done
read_ns=$(median <"$work/read.ns")
tf_ns=$(median <"$work/tf.ns")
check_ns=$(median <"$work/check.ns")
estimate_ns=$(median <"$work/estimate.ns")
recordings_ns=$(median <"$work/recordings.ns")
confidence_ns=$(median <"$work/confidence.ns")

awk -v r="$read_ns" -v t="$tf_ns" -v c="$check_ns" -v e="$estimate_ns" -v k="$recordings_ns" -v f="$confidence_ns" -v runs="$runs" 'BEGIN {
    printf "tfcheck, 72 directions x 8 microphones, N 16384, 16 periods (median of %d runs)\n", runs
    printf "  trelvix --mode tf (made TF.bin):  %8.3f s\n", t / 1e9
    printf "  tfcheck TF.bin:                   %8.3f s\n", c / 1e9
    printf "  tfcheck --estimate-array TF.bin:  %8.3f s\n", e / 1e9
    printf "  read of all 72 recordings:        %8.3f s\n", r / 1e9
    printf "  tfcheck --recordings:             %8.3f s\n", k / 1e9
    printf "  tfcheck --recordings --tf TF.bin: %8.3f s\n", f / 1e9
    printf "  ratio tfcheck / trelvix:          %8.3f   (target <= 0.2)\n", c / t
    printf "  ratio --estimate-array / trelvix: %8.3f   (target <= 0.2)\n", e / t
    printf "  ratio --recordings / read:        %8.2f   (target <= 2)\n", k / r
    printf "  ratio --recordings --tf / --recordings: %6.2f\n", f / k
}'
