#!/usr/bin/env bash
# tsprec against a JACK dummy server: a session of about MINUTES minutes at
# 48 kHz with 16 capture channels and a loopback made by a connection, at
# period PERIOD. Reports tsprec's CPU time over the wall time, its peak
# memory, and the takes discarded for xruns. Not a test: it takes as long as
# the session. Usage: bench/tsprec/run.sh BUILD_DIR [PERIOD] [MINUTES]
set -euo pipefail
build=$(cd "$1" && pwd)
period=${2:-512}
minutes=${3:-10}
bin=$build/bin
work=$(mktemp -d)
server=tsprec-bench-$$
jackpid=
cleanup() {
  [ -n "$jackpid" ] && kill "$jackpid" 2>/dev/null && wait "$jackpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

# One take: 16384-sample offset, 16 periods of 16384, 0.5 s tail, 0.5 s of
# latency allowed for: 326528 frames, 6.8 s at 48 kHz.
takes=$(( (minutes * 60 * 48000 + 326527) / 326528 ))
"$bin/trelvix" --mode template --output-type tsp --nummic 16 --numazi "$takes" --aziint 1 --radius 1.5 \
  --filepath "D{AZIMUTH:%03d}.wav" --synchronous-average 16 --tsp-offset 16384 --tsp-length 16384 \
  -o list.xml > /dev/null
"$bin/tspgen" --sampling-freq 48000 --tsp-length 16384 --synchronous-average 16 --tsp-offset 16384 \
  --playback playback.wav > /dev/null

# Real-time scheduling, as a measurement session runs the server (root or
# an rtprio limit allows it); BENCH_JACK_REALTIME=0 runs it without.
realtime=--realtime
[ "${BENCH_JACK_REALTIME:-1}" = 0 ] && realtime=--no-realtime
jackd -n "$server" "$realtime" -d dummy -r 48000 -p "$period" -C 16 -P 2 > jackd.log 2>&1 &
jackpid=$!
for _ in $(seq 100); do
  "$bin/tsprec" --list-devices --backend jack --device "$server" | grep -q Hz && break
  sleep 0.1
done

# The dummy inputs are silent, so every take fails its checks and is kept
# at once (--retries 0): each take is recorded once. Recordings are removed as the session goes (the disk is not what is measured).
( while kill -0 "$jackpid" 2>/dev/null; do find . -maxdepth 1 -name 'D*.wav' -mmin +0.1 -delete; sleep 5; done ) &
reaper=$!
start=$(date +%s.%N)
set +e
/usr/bin/time -f "%U %S %M" -o time.txt "$bin/tsprec" --backend jack --device "$server" --list list.xml \
  --playback playback.wav --loopback-channel 16 --jack-connect 16=playback --non-interactive --retries 0 \
  --period "$period" > session.txt 2>&1
status=$?
set -e
end=$(date +%s.%N)
kill "$reaper" 2>/dev/null || true
read -r user sys rss < <(tail -n 1 time.txt)  # after "Command exited with ..."
/usr/bin/python3 - "$start" "$end" "$user" "$sys" "$rss" "$period" "$status" <<'PY'
import json, re, sys
start, end, user, sys_, rss = map(float, sys.argv[1:6])
period, status = sys.argv[6], int(sys.argv[7])
kept = json.load(open("list.tsprec.json"))["takes"]
session = open("session.txt").read()
tried = len(re.findall(r"^  level |^  take discarded", session, re.M))
discarded = re.findall(r"^  take discarded: (\d+) xrun", session, re.M)
lat = sorted({t["latencySamples"] for t in kept})
wall = end - start
print(f"period {period}: {tried} takes ({len(discarded)} discarded for xruns, {sum(map(int, discarded))} xruns "
      f"in all), {len(kept)} kept, in {wall:.0f} s wall; CPU {user + sys_:.1f} s ({100 * (user + sys_) / wall:.2f} % "
      f"of wall), peak RSS {rss / 1024:.1f} MiB, latencies {lat}, exit status {status}")
PY
load=$(cut -d' ' -f1-3 /proc/loadavg)
echo "load average at the end: $load (on $(nproc) cores)"
