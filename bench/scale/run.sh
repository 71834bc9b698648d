#!/usr/bin/env bash
# Scale benchmark of tf mode on two large grids, each built from scratch with
# the project's own tools:
#   W2  impulse-response list, 72 azimuths x 37 elevations = 2664 sources x 8
#       microphones, 4096-sample .flt files, --nfft 2048, gtf
#   W3  geometric, 1 degree x 1 degree sphere = 65160 sources x 8
#       microphones, --nfft 512, m2pg
# Each is timed (wall time, peak RSS by /usr/bin/time -v) against a plain
# numpy script doing the same maths and writing the same layout, and
# against floors measured in the same run: reading the bytes the run needs
# into fresh memory, writing the output's bytes, and (W3) one
# single-precision sine and cosine per value spread over the cores. Targets:
# trelvix at most 0.5x the numpy wall time (or 1.5x the floor where the floor
# makes that impossible), peak RSS at most 1.1x the output size + 64 MiB.
# The numpy scripts then check their values against trelvix's (1e-5).
# Usage: bench/scale/run.sh [build-dir]   (default: build/bench-scale)
#        SCALE_WORK=dir keeps the generated data there (default: a fresh
#        temporary directory, removed at the end).
#        SCALE_TRELVIX=path times that trelvix instead (e.g. an older build,
#        for figures before a change); the tools still come from build-dir.
#        SCALE_ONLY=W2 or SCALE_ONLY=W3 runs that workload alone.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-build/bench-scale}
python=/usr/bin/python3

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target trelvix scale_bench_floor -j2 >/dev/null
trelvix=${SCALE_TRELVIX:-$(cd "$build" && pwd)/bin/trelvix}
floor=$(cd "$build" && pwd)/bin/scale_bench_floor

if [ -n "${SCALE_WORK:-}" ]; then
    work=$SCALE_WORK
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
cd "$work"
export PYTHONPATH="$root/bench/scale"

# timed LABEL COMMAND...: runs the command under /usr/bin/time -v, output
# discarded; sets wall_s and rss_kib.
timed() {
    local label=$1
    shift
    /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/$label.err" ||
        { echo "$label failed:"; cat "$work/$label.err"; exit 1; }
    wall_s=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0;
        for (i = 1; i <= n; ++i) s = s * 60 + t[i]; print s }' "$work/time.txt")
    rss_kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
}

mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# report NAME OUTPUT FLOOR_S: prints the figures of one workload.
report() {
    local name=$1 output=$2 floor_s=$3
    local out_bytes rss_target_kib
    out_bytes=$(stat -c %s "$output")
    rss_target_kib=$(awk -v b="$out_bytes" 'BEGIN { printf "%.0f", 1.1 * b / 1024 + 65536 }')
    echo "$name: output $(mib $((out_bytes / 1024))) MiB"
    echo "  trelvix  ${t_wall} s, peak RSS $(mib "$t_rss") MiB (target $(mib "$rss_target_kib") MiB:" \
        "ratio $(ratio "$t_rss" "$rss_target_kib"))"
    echo "  numpy    ${n_wall} s, peak RSS $(mib "$n_rss") MiB"
    echo "  floor    ${floor_s} s"
    echo "  trelvix / numpy wall $(ratio "$t_wall" "$n_wall") (target 0.5)," \
        "trelvix / floor wall $(ratio "$t_wall" "$floor_s") (target 1.5 where the floor rules)"
}

only=${SCALE_ONLY:-}
case "$only" in
    "" | W2 | W3) ;;
    *) echo "SCALE_ONLY must be W2 or W3, not $only" >&2; exit 2 ;;
esac

if [ "$only" != W3 ]; then
echo "== W2: impulse-response list, 2664 sources x 8 microphones, nfft 2048, gtf"
mkdir -p w2/ir
"$trelvix" --mode template --output-type mic --nummic 8 -o w2/mic.xml
"$trelvix" --mode template --output-type ir --nummic 8 --numazi 72 --aziint 5 --numelv 37 --elvint 5 \
    --elvfrom -90 --filepath "$work/w2/ir/D{AZIMUTH:%03d}_E{ELEVATION:%03d}_ch{CHANNEL:%02d}.flt" -o w2/ir.xml
"$python" "$root/bench/scale/make_w2.py" w2/ir.xml 4096 w2/paths.txt
sync
timed w2-trelvix "$trelvix" --mode tf --output-type gtf --nfft 2048 -o w2/trelvix.tf w2/mic.xml w2/ir.xml
t_wall=$wall_s t_rss=$rss_kib
timed w2-numpy "$python" "$root/bench/scale/w2_numpy.py" w2/mic.xml w2/ir.xml 2048 w2/numpy.tf
n_wall=$wall_s n_rss=$rss_kib
timed w2-read "$floor" read w2/paths.txt $((2048 * 4))
read_s=$wall_s
timed w2-write "$floor" write w2/floor.bin "$(stat -c %s w2/trelvix.tf)"
write_s=$wall_s
report W2 w2/trelvix.tf "$(awk -v a="$read_s" -v b="$write_s" 'BEGIN { print a + b }')"
echo "  floor = read ${read_s} s + write ${write_s} s"
"$python" "$root/bench/scale/w2_numpy.py" w2/mic.xml w2/ir.xml 2048 w2/check.tf --check w2/trelvix.tf ||
    echo "w2: numpy values DIFFER from trelvix's"
rm -rf w2/ir w2/numpy.tf w2/check.tf w2/floor.bin
fi

if [ "$only" != W2 ]; then

echo "== W3: geometric, 65160 sources x 8 microphones, nfft 512, m2pg"
mkdir -p w3
"$trelvix" --mode template --output-type mic --nummic 8 -o w3/mic.xml
"$trelvix" --mode template --output-type tsp --nummic 8 --numazi 360 --aziint 1 --numelv 181 --elvint 1 \
    --elvfrom -90 -o w3/tsp.xml
timed w3-trelvix "$trelvix" --mode tf --geometry-calculus 1 --output-type m2pg --nfft 512 \
    -o w3/trelvix.tf w3/mic.xml w3/tsp.xml
t_wall=$wall_s t_rss=$rss_kib
timed w3-numpy "$python" "$root/bench/scale/w3_numpy.py" w3/mic.xml w3/tsp.xml 512 w3/numpy.tf
n_wall=$wall_s n_rss=$rss_kib
rm -f w3/numpy.tf
timed w3-write "$floor" write w3/floor.bin "$(stat -c %s w3/trelvix.tf)"
write_s=$wall_s
rm -f w3/floor.bin
timed w3-sincos "$floor" sincos $((65160 * 8 * 257))
sincos_s=$wall_s
report W3 w3/trelvix.tf "$(awk -v a="$sincos_s" -v b="$write_s" 'BEGIN { print a + b }')"
echo "  floor = sincos ${sincos_s} s + write ${write_s} s"
"$python" "$root/bench/scale/w3_numpy.py" w3/mic.xml w3/tsp.xml 512 w3/check.tf --check w3/trelvix.tf ||
    echo "w3: numpy values DIFFER from trelvix's"
rm -f w3/check.tf
fi
