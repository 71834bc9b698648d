# Timing helpers sourced by the benchmark scripts.

# Wall time of one command in nanoseconds, output discarded. A shell function
# given as the command runs in the calling shell, so its variables persist.
wall_ns() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $((end - start))
}

# Median of the numbers on standard input, one per line.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
