#!/usr/bin/env bash
# Installs what is missing, builds plain and sanitized (ASan + UBSan), and
# runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/plain -j"$jobs"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
echo "== plain build"
(cd build/plain && ctest --output-on-failure -j"$jobs") || status=1
echo "== sanitized build"
(cd build/sanitize && ctest --output-on-failure -j"$jobs") || status=1
exit $status
