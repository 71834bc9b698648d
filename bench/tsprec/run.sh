#!/usr/bin/env bash
# tsprec against a JACK dummy server: a session of about MINUTES minutes at
# 48 kHz with 16 capture channels and a loopback made by a connection, at
# period PERIOD. Reports tsprec's CPU time over the wall time, its peak
# memory, the takes discarded for xruns, every xrun of the server (seen by
# an observer outside the graph, also between takes) and those of a second
# server over the same minutes whose only client does nothing (the
# machine's own). Not a test: it takes as long as the session.
# Usage: bench/tsprec/run.sh BUILD_DIR [PERIOD] [MINUTES]
# (BENCH_KEEP=DIR keeps the session's output and the xrun logs.)
set -euo pipefail
build=$(cd "$1" && pwd)
period=${2:-512}
minutes=${3:-10}
bin=$build/bin
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
server=tsprec-bench-$$
jackpid=
baselinepid=
cleanup() {
  [ -n "$jackpid" ] && kill "$jackpid" 2>/dev/null && wait "$jackpid" 2>/dev/null || true
  [ -n "$baselinepid" ] && kill "$baselinepid" 2>/dev/null && wait "$baselinepid" 2>/dev/null || true
  [ -z "${BENCH_KEEP:-}" ] || cp "$work"/session.txt "$work"/observer.txt "$work"/baseline.txt "$work"/list.tsprec.json "$BENCH_KEEP"/ 2>/dev/null || true
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

# An observer outside the graph counts every xrun of the server, also
# between takes, when tsprec is not connected.
g++ -O2 -std=c++17 -o xrun_observer "$src/bench/tsprec/xrun_observer.cpp" -ljack
./xrun_observer "$server" > observer.txt 2>&1 &
observer=$!
# A second dummy server over the same minutes, with a client that does
# nothing in each cycle: its xruns are the machine's (scheduling, a shared
# host), not tsprec's.
jackd -n "$server-baseline" "$realtime" -d dummy -r 48000 -p "$period" -C 16 -P 2 > jackd-baseline.log 2>&1 &
baselinepid=$!
for _ in $(seq 100); do
  ./xrun_observer --in-graph "$server-baseline" > baseline.txt 2>&1 & baseline=$!
  sleep 0.5
  kill -0 "$baseline" 2>/dev/null && break
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
kill -INT "$observer" "$baseline" 2>/dev/null && wait "$observer" "$baseline" 2>/dev/null || true
kill "$baselinepid" 2>/dev/null && wait "$baselinepid" 2>/dev/null || true
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
seen = re.findall(r"^xrun at ([0-9.]+) s, delayed ([0-9.]+) us", open("observer.txt").read(), re.M)
delays = sorted(float(d) for _, d in seen)
print(f"xruns seen by an observer outside the graph over the whole session: {len(seen)}"
      + (f" (delays {delays[0]:.0f} .. {delays[-1]:.0f} us)" if seen else ""))
base = re.findall(r"^xrun at ", open("baseline.txt").read(), re.M)
print(f"xruns of a second server over the same minutes, with a client that does nothing: {len(base)}")
print(f"period {period}: {tried} takes ({len(discarded)} discarded for xruns, {sum(map(int, discarded))} xruns "
      f"in all), {len(kept)} kept, in {wall:.0f} s wall; CPU {user + sys_:.1f} s ({100 * (user + sys_) / wall:.2f} % "
      f"of wall), peak RSS {rss / 1024:.1f} MiB, latencies {lat}, exit status {status}")
PY
load=$(cut -d' ' -f1-3 /proc/loadavg)
echo "load average at the end: $load (on $(nproc) cores)"
