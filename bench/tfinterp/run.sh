#!/usr/bin/env bash
# Benchmark of tfinterp: a 10 x 10 deg sphere (36 x 19 directions) x 8
# microphones, nfft 512, interpolated to the 1 x 1 deg sphere of 65160
# directions. Prints, measured in the same runs:
#   tfinterp against trelvix --mode tf --geometry-calculus 1 making the same
#     1 deg file (target: at most 1.5);
#   a plain numpy script doing the same delay-aligned weighting
#     (interp_numpy.py) against tfinterp (target: at least 5);
#   tfinterp's peak memory against the output's size + the input's size +
#     64 MiB (target: at most 1).
# Usage: bench/tfinterp/run.sh [build-dir]   (default: build/bench-tfinterp)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/bench-tfinterp}
runs=${TFINTERP_BENCH_RUNS:-3}
. bench/timing.sh

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target trelvix tfinterp >/dev/null
trelvix="$build/bin/trelvix"
tfinterp="$build/bin/tfinterp"
python=/usr/bin/python3
[ -x "$python" ] || python=python3

work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-bench-tfinterp-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$trelvix" --mode template --output-type mic --nummic 8 --numazi 8 --aziint 45 --radius 0.1 -o "$work/mic.xml"
"$trelvix" --mode template --output-type tsp --numazi 36 --aziint 10 --numelv 19 --elvfrom -90 --elvint 10 \
    --radius 1.5 -o "$work/measured.xml"
"$trelvix" --mode template --output-type tsp --numazi 360 --aziint 1 --numelv 181 --elvfrom -90 --elvint 1 \
    --radius 1.5 -o "$work/fine.xml"
"$trelvix" --mode tf --geometry-calculus 1 --output-type m2pg -o "$work/measured.bin" \
    "$work/mic.xml" "$work/measured.xml" >/dev/null

run_trelvix() { "$trelvix" --mode tf --geometry-calculus 1 --output-type m2pg -o "$work/geo.bin" "$work/mic.xml" "$work/fine.xml"; }
run_tfinterp() { "$tfinterp" "$work/measured.bin" "$work/fine.xml" -o "$work/interp.bin"; }
run_numpy() { "$python" bench/tfinterp/interp_numpy.py "$work/measured.bin" "$work/fine.xml" "$work/numpy.raw"; }

run_trelvix >/dev/null 2>&1; run_tfinterp 2>/dev/null   # warm the caches
: >"$work/trelvix.ns"; : >"$work/tfinterp.ns"; : >"$work/numpy.ns"
for _ in $(seq "$runs"); do
    wall_ns run_trelvix >>"$work/trelvix.ns"
    wall_ns run_tfinterp >>"$work/tfinterp.ns"
    wall_ns run_numpy >>"$work/numpy.ns"
done
# The numpy script did the job: its values next to tfinterp's.
"$python" - "$work/interp.bin" "$work/numpy.raw" <<'PY'
import sys, numpy as np
sys.path.insert(0, "tools/python")
from veskio2py.tffile import read_tf
a = np.asarray(read_tf(sys.argv[1]).tf)
b = np.fromfile(sys.argv[2], np.complex64).reshape(a.shape)
err = np.abs(a - b)
print(f"numpy against tfinterp: median |difference| {np.median(err):.2e}, 99th percentile {np.percentile(err, 99):.2e}")
PY
/usr/bin/time -v "$tfinterp" "$work/measured.bin" "$work/fine.xml" -o "$work/interp.bin" 2>"$work/time.txt" || true
peak_kib=$(awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }' "$work/time.txt")
in_bytes=$(stat -c %s "$work/measured.bin"); out_bytes=$(stat -c %s "$work/interp.bin")

t_geo=$(median <"$work/trelvix.ns"); t_int=$(median <"$work/tfinterp.ns"); t_np=$(median <"$work/numpy.ns")
awk -v g="$t_geo" -v i="$t_int" -v n="$t_np" -v peak="$peak_kib" -v in_b="$in_bytes" -v out_b="$out_bytes" -v runs="$runs" 'BEGIN {
    printf "medians of %d runs, 36 x 19 directions x 8 microphones, nfft 512 -> 65160 directions\n", runs
    printf "trelvix --mode tf --geometry-calculus 1 (1 deg file): %8.3f s\n", g / 1e9
    printf "tfinterp (delay-aligned):                             %8.3f s   ratio to trelvix %.2f (target <= 1.5)\n", i / 1e9, i / g
    printf "numpy script (same weighting):                        %8.3f s   ratio to tfinterp %.1f (target >= 5)\n", n / 1e9, n / i
    limit = (in_b + out_b) / 1024 + 65536
    printf "tfinterp peak memory %.0f MiB; output %.0f MiB + input %.1f MiB + 64 MiB = %.0f MiB; ratio %.2f (target <= 1)\n", peak / 1024, out_b / 1048576, in_b / 1048576, limit / 1024, peak / limit
}'
