#!/usr/bin/env bash
# Benchmark of tf mode over a full TSP measurement: 72 directions × 8
# microphones, one 8-channel 16-bit recording per direction, N 16384, 16
# averaged periods. Prints the wall time of trelvix --mode tf from TSP list to
# transfer-function file against one plain libsndfile read of all 72
# recordings, and their ratio (target: at most 3); also the 72 dravik runs
# alone, as trelvix makes them, to show trelvix's own share.
# Then dravik's runs side by side: trelvix with TRELVIX_JOBS=1 and with the
# default under `taskset -c 0` and `taskset -c 0,1`, the same 72 dravik
# commands under `xargs -P1` and `-P2`, a plain numpy script doing the same
# averaging and deconvolution (tsp_numpy.py, checked against dravik's
# responses), and the floor: 72 processes started through the shell plus the
# read of the recordings. Targets: default trelvix at most 0.5x numpy (or
# within 1.5x the floor); 1 -> 2 cores at least 1.7x faster, or within 1.2x
# of the speed-up xargs -P2 gets.
# Usage: bench/tf/run.sh [build-dir]   (default: build/bench-tf)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/bench-tf}
runs=${TF_BENCH_RUNS:-3}

bench_targets="dravik"
. bench/tf/measurement.sh

# run_tf_on CPUS JOBS: JOBS empty takes the default.
run_tf_on() {
    if [ -n "$2" ]; then
        TRELVIX_JOBS=$2 taskset -c "$1" "$trelvix" --mode tf --output-type gtf -o "$work/tf.bin" \
            "$work/mic.xml" "$work/tsp.xml"
    else
        (unset TRELVIX_JOBS; taskset -c "$1" "$trelvix" --mode tf --output-type gtf -o "$work/tf.bin" \
            "$work/mic.xml" "$work/tsp.xml")
    fi
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

# The dravik commands as shell command lines, one per line, for xargs.
dravik_commands() {
    local wav
    for wav in "$work"/rec/D*_00.wav; do
        printf '%s --tsporigflt "%s" --sigmax "1" --syncaddfreq "%s" --syncaddoffset "%s" --outchannellist "0,1,2,3,4,5,6,7" "%s" "%s"\n' \
            "$build/bin/dravik" "$work/rec/origin.flt" "$periods" "$n" "$wav" "$run_dir/${wav##*/}/float"
    done
}
dravik_xargs() { dravik_commands | taskset -c 0,1 xargs -d '\n' -n1 -P"$1" sh -c; }
shell_starts() { local i; for i in $(seq 72); do sh -c /bin/true; done; }
python=/usr/bin/python3
numpy_tf() { taskset -c 0,1 "$python" bench/tf/tsp_numpy.py "$work/rec" "$work/rec/origin.flt" "$periods" "$n" "$n" 1 "$run_dir"; }

"$tool" read "$work/rec" >/dev/null   # warm the page cache
next_run_dir
run_tf >/dev/null 2>&1
sync   # the recordings and the warm-up outputs reach the disk before timing
[ -s "$work/tf.bin" ] || { echo "tf run failed" >&2; exit 1; }
cmp_dir="$run_dir"
next_run_dir
"$python" bench/tf/tsp_numpy.py "$work/rec" "$work/rec/origin.flt" "$periods" "$n" "$n" 1 "$run_dir" \
    --check "$(ls -d "$cmp_dir"/*/)%2F$work/rec" || { echo "numpy responses differ from dravik's" >&2; exit 1; }
tf_files=()
for jobs in 1 ""; do
    for cpus in 0 0,1; do
        next_run_dir
        TMPDIR="$run_dir" run_tf_on "$cpus" "$jobs" >/dev/null 2>&1
        cp "$work/tf.bin" "$work/tf-$cpus-${jobs:-default}.bin"
        tf_files+=("$work/tf-$cpus-${jobs:-default}.bin")
    done
done
for f in "${tf_files[@]}"; do
    cmp -s "$f" "${tf_files[0]}" || { echo "$f differs from ${tf_files[0]}" >&2; exit 1; }
done
: >"$work/numpy.ns"; : >"$work/shell.ns"; : >"$work/xargs1.ns"; : >"$work/xargs2.ns"
for cpus in 0 0,1; do for jobs in 1 default; do : >"$work/tf-$cpus-$jobs.ns"; done; done
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
    next_run_dir
    wall_ns numpy_tf >>"$work/numpy.ns"
    wall_ns shell_starts >>"$work/shell.ns"
    for p in 1 2; do
        next_run_dir
        prepare_dravik_only
        wall_ns dravik_xargs "$p" >>"$work/xargs$p.ns"
    done
    for cpus in 0 0,1; do
        for jobs in 1 default; do
            next_run_dir
            j=$jobs; [ "$j" = default ] && j=""
            TMPDIR="$run_dir" wall_ns run_tf_on "$cpus" "$j" >>"$work/tf-$cpus-$jobs.ns"
        done
    done
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

m() { median <"$work/$1.ns"; }
awk -v r="$read_ns" -v np="$(m numpy)" -v sh="$(m shell)" -v x1="$(m xargs1)" -v x2="$(m xargs2)" \
    -v a="$(m tf-0-1)" -v b="$(m tf-0-default)" -v c="$(m tf-0,1-1)" -v d="$(m tf-0,1-default)" 'BEGIN {
    floor = sh + r
    printf "dravik runs side by side (median of the same runs)\n"
    printf "  numpy script (cores 0,1):            %8.3f s\n", np / 1e9
    printf "  floor: 72 shell starts + read:       %8.3f s  (shell starts %.3f s)\n", floor / 1e9, sh / 1e9
    printf "  trelvix TRELVIX_JOBS=1, core 0:      %8.3f s\n", a / 1e9
    printf "  trelvix default,        core 0:      %8.3f s\n", b / 1e9
    printf "  trelvix TRELVIX_JOBS=1, cores 0,1:   %8.3f s\n", c / 1e9
    printf "  trelvix default,        cores 0,1:   %8.3f s\n", d / 1e9
    printf "  72 dravik, xargs -P1 / -P2:          %8.3f s / %.3f s\n", x1 / 1e9, x2 / 1e9
    printf "  default trelvix / numpy:             %8.2f   (target <= 0.5)\n", d / np
    printf "  default trelvix / floor:             %8.2f   (target <= 1.5 where 0.5x numpy is below the floor)\n", d / floor
    printf "  1 -> 2 cores, trelvix default:       %8.2fx  (target >= 1.7, or >= xargs / 1.2 = %.2f)\n", b / d, x1 / x2 / 1.2
    printf "  1 -> 2 cores, xargs -P1 -> -P2:      %8.2fx\n", x1 / x2
}'
