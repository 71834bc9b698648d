#!/usr/bin/env bash
# Readers of a large transfer-function file: builds a geometric M2PG file of a
# 1° × 1° sphere (360 azimuths × 181 elevations = 65160 sources, 8
# microphones, nfft 512, about 1.07 GB) with trelvix, then measures in one run
# the wall time and peak memory (RSS, from /usr/bin/time -v) of
#   - the floor: a plain C program reading the file into one fresh buffer,
#   - the library's binary reader (read_bench.cpp), against the floor,
#   - the Python reader read_tf: mapped (its default; pages are read as they
#     are used) and read into memory at once (mmap=False),
#   - veskdump, default JSON and --summary (output discarded).
# Targets: read_tf within 2 s and 1.1 × file + 100 MiB; the C++ reader within
# 1.5 × the floor's time and 1.1 × file + 64 MiB; veskdump under 64 MiB.
# Usage: bench/scale/run_readers.sh [build-dir]   (default: build/bench-scale)
# READERS_BENCH_FILE=path reuses (or keeps) the transfer-function file there.
# READERS_BENCH_RUNS (default 3) runs of each reader, veskdump excepted; the
# median wall time and the largest RSS are reported (the machine is shared).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-build/bench-scale}
python=${VESK_PYTHON:-/usr/bin/python3}
runs=${READERS_BENCH_RUNS:-3}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target trelvix veskdump veskio2_read_bench veskio2_read_floor -j2 >/dev/null
bin="$build/bin"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tf=${READERS_BENCH_FILE:-$work/tf.bin}
if [ ! -s "$tf" ]; then
    "$bin/trelvix" -m template -t mic --nummic 8 --radius 0.1 -o "$work/mic.xml"
    "$bin/trelvix" -m template -t tsp --numazi 360 --aziint 1 --numelv 181 --elvfrom -90 --elvint 1 \
        --radius 1.5 -o "$work/tsp.xml"
    "$bin/trelvix" -m tf -t m2pg --nfft 512 --geometry-calculus 1 -o "$tf" \
        "$work/mic.xml" "$work/tsp.xml" >/dev/null
fi
size=$(stat -c %s "$tf")

# measure NAME COMMAND...: appends the wall seconds and peak RSS (KiB) of one
# run to $work/NAME.runs.
measure() {
    local name=$1
    shift
    if ! /usr/bin/time -v -o "$work/$name.time" "$@" >/dev/null 2>"$work/$name.err"; then
        echo "$name failed: $(head -c 300 "$work/$name.err")" >&2
        echo "nan nan" >>"$work/$name.runs"
        return
    fi
    awk '
        /Elapsed \(wall clock\)/ { n = split($NF, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i] }
        /Maximum resident set size/ { rss = $NF }
        END { print s, rss }' "$work/$name.time" >>"$work/$name.runs"
}

cat "$tf" >/dev/null   # warm the page cache
# The readers take turns, so that each run of one meets the same machine as
# the others.
for _ in $(seq "$runs"); do
    measure floor "$bin/veskio2_read_floor" "$tf"
    measure cpp "$bin/veskio2_read_bench" "$tf"
    measure python env PYTHONPATH="$root/tools/python" "$python" -c \
        'import sys, veskio2py; f = veskio2py.read_tf(sys.argv[1]); print(f.tf.shape, f.tf[-1, -1, -1])' "$tf"
    measure pyread env PYTHONPATH="$root/tools/python" "$python" -c \
        'import sys, veskio2py; f = veskio2py.read_tf(sys.argv[1], mmap=False); print(f.tf.shape, f.tf[-1, -1, -1])' "$tf"
    measure summary "$bin/veskdump" --summary "$tf"
done
measure dump "$bin/veskdump" "$tf"   # about a minute: once
# Median wall time and largest RSS of each.
for name in floor cpp python pyread summary dump; do
    sort -n "$work/$name.runs" | awk '{ t[NR] = $1; if ($2 > rss) rss = $2 } END { print t[int((NR + 1) / 2)], rss }' \
        >"$work/$name"
done

awk -v size="$size" -v work="$work" -v runs="$runs" 'BEGIN {
    mib = 1048576
    split("floor cpp python pyread dump summary", names, " ")
    for (i = 1; i <= 6; i++) { getline line < (work "/" names[i]); split(line, f, " "); t[names[i]] = f[1]; r[names[i]] = f[2] * 1024 }
    printf "readers of a %.0f MiB transfer-function file (65160 sources x 8 mics x 257 bins, m2pg)\n", size / mib
    printf "median of %d runs (veskdump JSON: 1 run), largest RSS\n", runs
    printf "  %-26s %8s %10s   %s\n", "", "wall s", "RSS MiB", "target"
    printf "  %-26s %8.2f %10.1f\n", "C floor (one fread)", t["floor"], r["floor"] / mib
    printf "  %-26s %8.2f %10.1f   time <= 1.5 x floor (%.2f s), RSS <= %.0f MiB\n", "C++ VeskFileBinaryReader",
        t["cpp"], r["cpp"] / mib, 1.5 * t["floor"], (1.1 * size) / mib + 64
    printf "  %-26s %8.2f %10.1f   time <= 2 s, RSS <= %.0f MiB\n", "Python read_tf (mapped)", t["python"],
        r["python"] / mib, (1.1 * size) / mib + 100
    printf "  %-26s %8.2f %10.1f   time <= 2 s, RSS <= %.0f MiB\n", "Python read_tf mmap=False", t["pyread"],
        r["pyread"] / mib, (1.1 * size) / mib + 100
    printf "  %-26s %8.2f %10.1f   RSS < 64 MiB\n", "veskdump (JSON)", t["dump"], r["dump"] / mib
    printf "  %-26s %8.2f %10.1f   RSS < 64 MiB\n", "veskdump --summary", t["summary"], r["summary"] / mib
    printf "  ratio C++ reader / floor:  %6.2f   RSS / file size: %.2f\n", t["cpp"] / t["floor"], r["cpp"] / size
}'
