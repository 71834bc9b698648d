#!/usr/bin/env bash
# End-to-end example: an 8-microphone circular array (radius 0.1 m) and 72
# source directions at 1.5 m, measured with a simulated TSP in two passes:
#   accuracy/  free field, no noise, 32-bit float recordings: the recovered
#              impulse responses and the measured inter-microphone phase are
#              checked against the simulation and the geometric calculation;
#   room/      a small reverberant room with sensor noise, 16-bit recordings;
#              at the end tflocate localises a held-out source between two
#              measured directions with the measured and the geometric file.
# Usage: run-example.sh BIN_DIR OUT_DIR
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BIN_DIR OUT_DIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
for prog in trelvix dravik veskdump tspgen measim; do
  if [ ! -x "$bin/$prog" ]; then
    echo "run-example: $bin/$prog is missing; build first" >&2
    exit 1
  fi
done
python=""
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c "import numpy, matplotlib" 2>/dev/null; then python=$candidate; break; fi
done
if [ -z "$python" ]; then
  echo "run-example: no python3 with numpy and matplotlib (Debian: python3-numpy python3-matplotlib)" >&2
  exit 1
fi
# trelvix runs the dravik beside it; the other programs are found here too.
export PATH="$bin:$PATH"
start=$SECONDS

# Settings shared by both passes. The impulse calculator averages
# `periods` TSP periods after one period of lead-in (offset = N).
tsp_length=16384
periods=2
nfft=1024
common_grid=(--nummic 8)

# Only what this script makes is removed from an earlier run.
rm -rf "$out/config" "$out/accuracy" "$out/room" "$out/plots" "$out/summary.txt"
mkdir -p "$out/config" "$out/accuracy" "$out/room" "$out/plots"

step() { printf '[%3ds] %s\n' $((SECONDS - start)) "$*"; }

# tf_run DIR LOG OUTPUT ARGS...: trelvix in tf mode inside DIR (the list's
# file names are relative), keeping dravik's work files (the impulse
# responses it recovered) under DIR/work-OUTPUT.
tf_run() {
  local dir=$1 log=$2 output=$3
  shift 3
  local work="$dir/work-${output%.bin}"
  mkdir -p "$work"
  if ! (cd "$dir" && TMPDIR="$work" "$bin/trelvix" --mode tf --nfft "$nfft" --tsp-length "$tsp_length" \
     -o "$output" "$@" "$out/config/mic.xml" "$out/config/tsp.xml") >"$log" 2>&1; then
    echo "run-example: trelvix failed to make $dir/$output; the end of $log:" >&2
    tail -n 5 "$log" >&2
    exit 1
  fi
}

step "template mode: array and TSP list"
"$bin/trelvix" --mode template --output-type mic "${common_grid[@]}" --numazi 8 --aziint 45 --radius 0.1 \
  -o "$out/config/mic.xml"
"$bin/trelvix" --mode template --output-type tsp "${common_grid[@]}" --numazi 72 --aziint 5 --radius 1.5 \
  --synchronous-average "$periods" --tsp-offset "$tsp_length" --tsp-length "$tsp_length" \
  --original-impulse-file "$tsp_length.little_endian.tsp" -o "$out/config/tsp.xml"
for f in mic.xml tsp.xml; do
  if [ ! -s "$out/config/$f" ]; then
    echo "run-example: trelvix did not write $out/config/$f" >&2
    exit 1
  fi
done

step "tspgen: TSP origin and playback"
for pass in accuracy room; do
  (cd "$out/$pass" && "$bin/tspgen" --tsp-length "$tsp_length" --synchronous-average "$periods" \
     --tsp-offset "$tsp_length" --playback playback.wav >tspgen.log)
done

step "measim: free-field recordings (float) and the exact responses"
"$bin/measim" --mic "$out/config/mic.xml" --list "$out/config/tsp.xml" --playback "$out/accuracy/playback.wav" \
  --output-dir "$out/accuracy" --wave-format float --response-dir "$out/accuracy/exact" >"$out/accuracy/measim.log"

step "measim: room recordings (RT60 0.25 s, DRR 10 dB, SNR 40 dB, 16-bit)"
"$bin/measim" --mic "$out/config/mic.xml" --list "$out/config/tsp.xml" --playback "$out/room/playback.wav" \
  --output-dir "$out/room" --wave-format pcm16 --rt60 0.25 --drr 10 --snr 40 --gain 0.5 --seed 2026 \
  >"$out/room/measim.log"

step "trelvix tf: GTF (normalised per spectrum) from the free-field recordings"
tf_run "$out/accuracy" "$out/accuracy/tf-gtf.log" gtf.bin --output-type gtf --normalize-freq
step "trelvix tf: geometric GTF"
tf_run "$out/accuracy" "$out/accuracy/tf-geometric.log" geometric-gtf.bin --output-type gtf --geometry-calculus 1
step "trelvix tf: M2PG from the room recordings"
tf_run "$out/room" "$out/room/tf-m2pg.log" m2pg.bin --output-type m2pg
step "trelvix tf: GTF (normalised per source) from the room recordings"
tf_run "$out/room" "$out/room/tf-gtf.log" gtf.bin --output-type gtf --normalize-src
step "plots"
"$python" "$here/../plots/plot_tf.py" --mic "$out/config/mic.xml" --list "$out/config/tsp.xml" \
  --out-dir "$out/plots" --tf "$out/accuracy/gtf.bin" --prefix accuracy-gtf- \
  --tf "$out/room/m2pg.bin" --prefix room-m2pg- --tf "$out/room/gtf.bin" --prefix room-gtf- >/dev/null

step "summary"
status=0
"$python" "$here/summarize.py" --veskdump "$bin/veskdump" --mic "$out/config/mic.xml" --list "$out/config/tsp.xml" \
  --exact "$out/accuracy/exact" --recovered "$out/accuracy/work-gtf" \
  --measured "$out/accuracy/gtf.bin" --geometric "$out/accuracy/geometric-gtf.bin" \
  --room "$out/room/m2pg.bin" "$out/room/gtf.bin" --room-label "RT60 0.25 s, DRR 10 dB, SNR 40 dB, 16-bit" -- \
  "$out/accuracy/gtf.bin" "$out/accuracy/geometric-gtf.bin" "$out/room/m2pg.bin" "$out/room/gtf.bin" \
  | tee "$out/summary.txt" || status=1

step "tfcheck: the TF files against their geometry, the recordings for clipping, noise and drift"
# A clean simulated measurement must be consistent (status 0); its report
# is in tfcheck.txt, its figures in plots/tfcheck-*/.
if [ -x "$bin/tfcheck" ]; then
  : >"$out/tfcheck.txt"
  # tfcheck_step NAME DIR ARGS...: runs tfcheck in DIR, keeps its report, prints
  # its verdict and findings.
  tfcheck_step() {
    local name=$1 dir=$2 rc=0
    shift 2
    (cd "$dir" && "$bin/tfcheck" "$@") >"$out/tfcheck-last.txt" 2>&1 || rc=$?
    cat "$out/tfcheck-last.txt" >>"$out/tfcheck.txt"
    printf '  %-22s %s\n' "$name" "$(grep '^verdict' "$out/tfcheck-last.txt" || tail -n 1 "$out/tfcheck-last.txt")"
    grep '^finding' "$out/tfcheck-last.txt" | sed 's/^/    /' || true
    rm -f "$out/tfcheck-last.txt"
    if [ "$rc" -ne 0 ]; then status=1; fi
  }
  for tf in accuracy/gtf.bin room/m2pg.bin room/gtf.bin; do
    name=${tf%.bin}
    tfcheck_step "$tf" "$out" --mic "$out/config/mic.xml" "$out/$tf" --plot "$out/plots/tfcheck-${name//\//-}"
  done
  for pass in accuracy room; do
    tfcheck_step "$pass recordings" "$out/$pass" --recordings "$out/config/tsp.xml" \
      --plot "$out/plots/tfcheck-$pass-recordings"
  done
else
  echo "run-example: $bin/tfcheck is missing; build it to check the measurement" >&2
  status=1
fi

step "tflocate: a held-out source at azimuth 37.5 deg (between two measured directions), measured against geometric"
# The room pass's measured M2PG and the free-field geometry of the same
# array localise a noise source that was not measured, in the same room.
if [ -x "$bin/tflocate" ]; then
  tf_run "$out/room" "$out/room/tf-geometric.log" geometric-m2pg.bin --output-type m2pg --geometry-calculus 1
  "$bin/measim" --mic "$out/config/mic.xml" --scene "$out/room/held-out.wav" --duration 3 --wave-format float \
    --rt60 0.25 --drr 10 --snr 40 --seed 2027 --source azimuth=37.5,elevation=0,distance=1.5,signal=noise \
    >"$out/room/held-out.log" 2>&1
  if (cd "$out/room" && "$bin/tflocate" m2pg.bin held-out.wav --truth-json held-out.json \
        --compare geometric-m2pg.bin) >"$out/tflocate.txt" 2>&1; then
    sed 's/^/  /' "$out/tflocate.txt"
  else
    echo "run-example: tflocate failed; the end of $out/tflocate.txt:" >&2
    tail -n 5 "$out/tflocate.txt" >&2
    status=1
  fi
else
  echo "run-example: $bin/tflocate is missing; build it to localise the held-out source" >&2
  status=1
fi

cat <<EOT

Outputs ($((SECONDS - start)) s):
  configuration      $out/config/mic.xml, $out/config/tsp.xml
  free-field pass    $out/accuracy: recordings D*_00.wav, exact responses exact/,
                     recovered responses work-gtf/*/D*_00.wav/float_ch*.flt,
                     gtf.bin (from recordings), geometric-gtf.bin
  room pass          $out/room: recordings D*_00.wav, m2pg.bin, gtf.bin, geometric-m2pg.bin,
                     held-out.wav and its truth held-out.json
  checks             $out/tfcheck.txt (every file and recording against its geometry)
  localisation       $out/tflocate.txt (the held-out source with the measured and the geometric file)
  plots              $out/plots/*.png
  summary            $out/summary.txt
EOT
exit $status
