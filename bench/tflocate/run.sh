#!/usr/bin/env bash
# Benchmark of tflocate's normalised MUSIC. Prints, measured in the same run:
#   72 directions x 8 microphones (nfft 512, 16 kHz), a 60 s recording, the
#     medians of five interleaved runs: tflocate against the plain numpy script doing the same job
#     (bench/tflocate/normmusic_numpy.py; target: at least 10 x faster) and
#     against real time (target: at least 100 x faster);
#   a 1 x 1 degree sphere of 65160 directions, the same recording: tflocate
#     on both cores and on one (taskset -c 0), against real time (target: at
#     least real time on both cores), and the floor of one read of its TF file
#     (veskdump-free: tflocate --self-test would not do; the floor is reading
#     the file with cat).
# Usage: bench/tflocate/run.sh [build-dir]  (default: build/bench-tflocate,
# configured and built in Release; an existing build tree is used as it is).
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
build=${1:-build/bench-tflocate}
if [ ! -x "$build/bin/tflocate" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 --target tflocate trelvix >/dev/null
fi
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tflocate-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
python=/usr/bin/python3
seconds=60

"$bin/trelvix" --mode template --output-type mic --nummic 8 --numazi 8 --aziint 45 --radius 0.1 -o mic.xml
"$bin/trelvix" --mode template --output-type tsp --nummic 8 --numazi 72 --aziint 5 --radius 1.5 -o ring.xml \
    --filepath 'D{AZIMUTH:%03d}.wav'
"$bin/trelvix" --mode tf --output-type m2pg --geometry-calculus 1 -o ring.bin mic.xml ring.xml >/dev/null 2>&1
"$bin/trelvix" --mode template --output-type tsp --nummic 8 --numazi 360 --aziint 1 --numelv 181 --elvfrom -90 \
    --elvint 1 --radius 1.5 -o sphere.xml --filepath 'D{AZIMUTH:%03d}_E{ELEVATION:%d}.wav'
"$bin/trelvix" --mode tf --output-type m2pg --geometry-calculus 1 -o sphere.bin mic.xml sphere.xml >/dev/null 2>&1

# A 60 s recording: noise from 37.3 degrees in the free field, 20 dB SNR.
$python - "$seconds" <<'PY'
import sys, numpy as np
from scipy.io import wavfile
fs, c, n = 16000, 343.0, int(sys.argv[1]) * 16000
mics = 0.1 * np.array([[np.cos(a), np.sin(a), 0] for a in np.radians(np.arange(8) * 45)])
src = 1.5 * np.array([np.cos(np.radians(37.3)), np.sin(np.radians(37.3)), 0])
rng = np.random.default_rng(1)
s = np.fft.rfft(rng.standard_normal(n))
f = np.fft.rfftfreq(n, 1 / fs)
out = np.stack([np.fft.irfft(s * np.exp(-2j * np.pi * f * np.linalg.norm(src - m) / c), n) for m in mics])
out += rng.standard_normal(out.shape) * np.sqrt(np.mean(out ** 2) / 100)
wavfile.write("rec.wav", fs, (out / np.abs(out).max() * 0.5).T.astype(np.float32))
PY

timed() {  # prints the wall seconds of "$@" (bash's clock: no process of its own inside the interval)
    local t0 t1
    t0=$EPOCHREALTIME; "$@" >/dev/null; t1=$EPOCHREALTIME
    echo "$t1 - $t0" | bc -l
}
cat ring.bin sphere.bin rec.wav >/dev/null  # page cache
# Five runs of each, interleaved, and their medians: one run of 0.1 s is at
# the mercy of a shared machine's moment.
median() { printf '%s\n' "$@" | sort -g | sed -n 3p; }
rings=() numpys=()
for _ in 1 2 3 4 5; do
    rings+=("$(timed "$bin/tflocate" ring.bin rec.wav --json)")
    numpys+=("$(timed env PYTHONPATH="$src/tools/python" $python "$src/bench/tflocate/normmusic_numpy.py" ring.bin rec.wav)")
done
t_ring=$(median "${rings[@]}")
t_numpy=$(median "${numpys[@]}")
t_sphere2=$(timed "$bin/tflocate" sphere.bin rec.wav --json)
t_sphere1=$(timed taskset -c 0 "$bin/tflocate" sphere.bin rec.wav --json)
t_cat=$(timed cat sphere.bin)
printf '72 directions, %d s, medians of 5 interleaved runs: tflocate %.3f s, numpy %.2f s: %.1f x faster than numpy (target 10), %.0f x real time (target 100)\n' \
    "$seconds" "$t_ring" "$t_numpy" "$(echo "$t_numpy / $t_ring" | bc -l)" "$(echo "$seconds / $t_ring" | bc -l)"
printf '65160 directions, %d s: tflocate %.1f s on 2 cores (%.2f x real time, target 1), %.1f s on 1 core; reading the TF file %.2f s\n' \
    "$seconds" "$t_sphere2" "$(echo "$seconds / $t_sphere2" | bc -l)" "$t_sphere1" "$t_cat"
