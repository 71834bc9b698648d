#!/usr/bin/env bash
# Benchmark of the SOFA tools.
# - vesk2sofa of a transfer-function file of 65160 sources (a 1 deg x 1 deg
#   sphere) x 8 microphones x 257 bins (made by trelvix's geometric mode), in
#   wall time against writing the same number of float32 bytes (Data.Real and
#   Data.Imag) with dd (target ratio <= 2) and against a plain numpy/netCDF4
#   script doing the same job; its peak memory against the float32 data size
#   (target: at most that + 64 MiB).
# - sofa2vesk of libmysofa's KEMAR file (710 directions x 2 ears x 512 taps):
#   wall time and peak memory.
# Usage: bench/sofa/run.sh [build-dir]   (default: build/bench-sofa)
# SOFA_BENCH_RUNS sets the number of runs (default 3; medians reported).
# SOFA_BENCH_BASELINE=path/to/another/vesk2sofa times that binary too, in
# the same runs (e.g. one built from an earlier commit), for a before/after.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-build/bench-sofa}
runs=${SOFA_BENCH_RUNS:-3}
kemar=/usr/share/libmysofa/MIT_KEMAR_normal_pinna.sofa

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target trelvix vesk2sofa sofa2vesk -j2 >/dev/null
bin="$build/bin"

work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-bench-sofa-XXXXXX")
trap 'rm -rf "$work"' EXIT
. bench/timing.sh

sources=65160 mics=8 bins=257
data_bytes=$((sources * mics * bins * 2 * 4))   # Data.Real + Data.Imag as float32

(
    cd "$work"
    "$root/$bin/trelvix" -m template -t mic --nummic "$mics" --radius 0.1 -o mic.xml
    "$root/$bin/trelvix" -m template -t tsp --nummic "$mics" --numazi 360 --aziint 1 \
        --numelv 181 --elvfrom -90 --elvint 1 --radius 1.5 -o tsp.xml
    "$root/$bin/trelvix" -m tf -t gtf --geometry-calculus 1 --nfft 512 -o tf.bin mic.xml tsp.xml
) >/dev/null 2>&1
[ -s "$work/tf.bin" ] || { echo "making the TF file failed" >&2; exit 1; }

python=/usr/bin/python3
have_numpy=0
PYTHONPATH="$root/tools/python" "$python" -c "import numpy, netCDF4, veskio2py" 2>/dev/null && have_numpy=1

# Each run writes a new file name and ends with sync: a gigabyte left in
# the page cache would otherwise be paid for by whichever run comes next
# (the kernel throttles writers while much is dirty), so every timed run
# starts clean and includes getting its own bytes to the disk.
n=0
run_vesk2sofa() { n=$((n + 1)); "$bin/vesk2sofa" "$work/tf.bin" "$work/out$n.sofa" && sync; }
run_floor() { n=$((n + 1)); dd if=/dev/zero of="$work/floor$n.bin" bs=4M count="$data_bytes" iflag=count_bytes status=none && sync; }
run_numpy() { n=$((n + 1)); PYTHONPATH="$root/tools/python" "$python" bench/sofa/numpy_vesk2sofa.py "$work/tf.bin" "$work/np$n.sofa" && sync; }
run_baseline() { n=$((n + 1)); "$SOFA_BENCH_BASELINE" "$work/tf.bin" "$work/base$n.sofa" && sync; }
run_sofa2vesk() { n=$((n + 1)); "$bin/sofa2vesk" "$kemar" "$work/kemar$n" && sync; }

cat "$work/tf.bin" >/dev/null   # warm the page cache
run_vesk2sofa >/dev/null
sync
: >"$work/v.ns"; : >"$work/f.ns"; : >"$work/p.ns"; : >"$work/k.ns"; : >"$work/b.ns"
baseline=${SOFA_BENCH_BASELINE:-}
for _ in $(seq "$runs"); do
    sync; wall_ns run_floor >>"$work/f.ns"
    sync; wall_ns run_vesk2sofa >>"$work/v.ns"
    if [ "$have_numpy" = 1 ]; then sync; wall_ns run_numpy >>"$work/p.ns"; fi
    if [ -n "$baseline" ]; then sync; wall_ns run_baseline >>"$work/b.ns"; fi
    sync; wall_ns run_sofa2vesk >>"$work/k.ns"
    rm -f "$work"/floor*.bin "$work"/out*.sofa "$work"/np*.sofa "$work"/base*.sofa   # the disk need not hold them all
done
v_ns=$(median <"$work/v.ns"); f_ns=$(median <"$work/f.ns")
p_ns=$([ "$have_numpy" = 1 ] && median <"$work/p.ns" || echo 0)
k_ns=$(median <"$work/k.ns")
b_ns=$([ -n "$baseline" ] && median <"$work/b.ns" || echo 0)

peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
n=$((n + 1))
v_kib=$(peak_kib "$bin/vesk2sofa" "$work/tf.bin" "$work/mem$n.sofa")
n=$((n + 1))
k_kib=$(peak_kib "$bin/sofa2vesk" "$kemar" "$work/kemar$n")
b_kib=0
if [ -n "$baseline" ]; then n=$((n + 1)); b_kib=$(peak_kib "$baseline" "$work/tf.bin" "$work/mem$n.sofa"); fi

awk -v v="$v_ns" -v f="$f_ns" -v p="$p_ns" -v k="$k_ns" -v vk="$v_kib" -v kk="$k_kib" -v b="$b_ns" -v bk="$b_kib" -v bytes="$data_bytes" \
    -v runs="$runs" -v tfbytes="$(stat -c %s "$work/tf.bin")" 'BEGIN {
    mib = 1048576
    printf "vesk2sofa, 65160 sources x 8 mics x 257 bins (median of %d runs)\n", runs
    printf "  TF file:                          %8.1f MiB\n", tfbytes / mib
    printf "  float32 data (Real + Imag):       %8.1f MiB\n", bytes / mib
    printf "  dd write of the same bytes, sync: %8.3f s\n", f / 1e9
    printf "  vesk2sofa, sync:                  %8.3f s\n", v / 1e9
    printf "  ratio vesk2sofa / write:          %8.2f   (target <= 2)\n", v / f
    if (p > 0) {
        printf "  numpy + netCDF4 script:           %8.3f s\n", p / 1e9
        printf "  ratio vesk2sofa / numpy:          %8.2f\n", v / p
    }
    printf "  vesk2sofa peak memory:            %8.1f MiB\n", vk / 1024
    printf "  peak - data size:                 %8.1f MiB   (target <= 64)\n", vk / 1024 - bytes / mib
    if (b > 0) {
        printf "  baseline vesk2sofa, sync:         %8.3f s\n", b / 1e9
        printf "  ratio baseline / write:           %8.2f\n", b / f
        printf "  baseline peak memory:             %8.1f MiB\n", bk / 1024
    }
    printf "sofa2vesk of the KEMAR file (710 x 2 x 512 taps)\n"
    printf "  wall time:                        %8.3f s\n", k / 1e9
    printf "  peak memory:                      %8.1f MiB\n", kk / 1024
}'
