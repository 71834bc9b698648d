# Sourced by the benchmarks that work on the tf benchmark's measurement:
# builds the Release programs named in $bench_targets (besides trelvix and
# the measurement generator) in $build, and makes the measurement in a
# scratch directory $work removed on exit: 72 directions × 8 microphones, one
# 8-channel 16-bit recording per direction (rec/D*_00.wav), N $n, $periods
# averaged periods, origin rec/origin.flt, mic.xml and tsp.xml. Defines
# run_tf and next_run_dir.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target trelvix trelvix_tf_bench_tool ${bench_targets:-} -j2 >/dev/null
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
