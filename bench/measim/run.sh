#!/bin/bash
# The measurement the localisation and interpolation checks use: 72
# directions (5 degrees) x 8 microphones on a 0.1 m sphere in a 6 x 5 x 3 m
# room of RT60 0.4 s, responses of 8192 samples, TSP of 16384 samples x 16
# periods at 16 kHz. Prints the wall time of the responses alone (the same
# scene as an impulse-response list), of the whole TSP recording (responses
# and convolutions), the floor (writing the recordings' bytes), and the image
# count for several --ir-length values.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath -m "${1:-$here/../../build/release}")
source "$here/../timing.sh"
if [ ! -x "$build/bin/measim" ]; then
    cmake -S "$here/../.." -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target measim trelvix tspgen >/dev/null
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bin/trelvix" --mode template -t mic --nummic 8 --radius 0.1 -o mic.xml
"$bin/trelvix" --mode template -t tsp --numazi 72 --aziint 5 --radius 1.5 --tsp-length 16384 \
    --synchronous-average 16 --tsp-offset 16384 -o tsp.xml
"$bin/trelvix" --mode template -t ir --numazi 72 --aziint 5 --radius 1.5 -o ir.xml
"$bin/trelvix" --mode template -t ir --numazi 1 --nummic 1 --radius 1.5 -o one.xml
"$bin/tspgen" --tsp-length 16384 --synchronous-average 16 --tsp-offset 16384 >/dev/null
room=(--sphere-radius 0.1 --room 6,5,3 --array-at 3.1,2.4,1.5 --rt60 0.4 --ir-length 8192)
# measim makes a source's responses on every core, one microphone each, and
# then its recordings' convolutions. Wall and CPU seconds (user + system) of
# one run, output discarded; a failed run shows as the missing recordings
# below.
timed() { /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" >/dev/null 2>&1 || true; cat "$work/time.txt"; }
read -r rw ru rs < <(timed "$bin/measim" --mic mic.xml --list ir.xml "${room[@]}" --output-dir ir)
read -r ww wu ws < <(timed "$bin/measim" --mic mic.xml --list tsp.xml --playback playback.wav "${room[@]}" --gain 0.1 --output-dir rec)
[ "$(ls ir | wc -l)" -eq 576 ] || { echo "expected 576 responses"; exit 1; }
[ "$(ls rec | wc -l)" -eq 72 ] || { echo "expected 72 recordings"; exit 1; }
bytes=$(du -cb rec/*.wav | tail -1 | cut -f1)
floor=$(wall_ns dd if=/dev/zero of=floor.bin bs=1M count=$((bytes / 1048576 + 1)) conv=fsync)
awk -v rw="$rw" -v rc="$(echo "$ru + $rs" | bc)" -v ww="$ww" -v wc="$(echo "$wu + $ws" | bc)" -v f="$floor" \
    -v c="$(nproc)" -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
    printf "cores %d, load average %s (wall times mean little on a busy machine; CPU times do)\n", c, load
    printf "responses (576, impulse-response list)   wall %7.2f s  CPU %7.2f s  (wall holds 576 synced file writes)\n", rw, rc
    printf "whole TSP recording (72 x 8 channels)    wall %7.2f s  CPU %7.2f s  (limit 60 s wall), %.2f cores busy\n", ww, wc, wc / ww
    printf "  of which convolutions and writing                 CPU %7.2f s  (CPU of the whole less the responses)\n", wc - rc
    printf "floor: writing the recordings bytes      wall %7.2f s  ratio %.1f\n", f / 1e9, ww / (f / 1e9) }'
# Images per response against the response length (direct, full-filter and
# short-filter images all counted), from measim's own report.
for length in 2048 4096 8192 16384; do
    count=$("$bin/measim" --mic mic.xml --list one.xml --room 6,5,3 --array-at 3.1,2.4,1.5 --rt60 0.4 \
        --ir-length "$length" --output-dir "n$length" 2>&1 | sed -n 's/.*images per response: \([0-9]*\).*/\1/p')
    echo "--ir-length $length: $count images per response"
done
