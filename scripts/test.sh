#!/usr/bin/env bash
# Installs what is missing, builds plain and sanitized (ASan + UBSan), and
# runs every test in both builds; then builds with clang and runs the
# threaded tests (ctest label "threads") under ThreadSanitizer, and runs
# every fuzz target for a short fixed time from a fixed seed (a finding fails
# the run). Warnings are errors in every build when CI=true.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
# Warnings are errors under CI, not on a user's machine with another compiler.
werror=OFF
if [ "${CI:-}" = true ]; then werror=ON; fi

cmake -S . -B build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_WERROR=$werror >/dev/null
cmake --build build/plain -j"$jobs"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_WERROR=$werror >/dev/null
cmake --build build/sanitize -j"$jobs"
# ThreadSanitizer finds only what threads do: only the threaded tests and
# the programs they run are built there.
cmake -S . -B build/tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_TSAN=ON -DVESK_WERROR=$werror >/dev/null
threaded=$(cd build/tsan && ctest -N -L threads | awk '/Test +#/ {print $3}')
cmake --build build/tsan -j"$jobs" --target $threaded

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
echo "== plain build"
(cd build/plain && ctest --output-on-failure -j"$jobs") || status=1
echo "== sanitized build"
(cd build/sanitize && ctest --output-on-failure -j"$jobs") || status=1
echo "== threaded tests under ThreadSanitizer"
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j"$jobs" -L threads) || status=1
echo "== fuzz targets, 15 s each from seed 1"
FUZZ_WERROR=$werror fuzz/run.sh --check 15 || status=1
exit $status
