#!/usr/bin/env bash
# Installs what is missing, builds, and runs the end-to-end example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build/release
# A build folder made for another checkout (a copied tree) has a cache that
# names the other place, which CMake refuses: it is made afresh here.
cache=$build/CMakeCache.txt
if [ -f "$cache" ]; then
  made_in=$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$cache")
  made_for=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")
  if [ "$made_in" != "$(cd "$build" && pwd -P)" ] || [ "$made_for" != "$(pwd -P)" ]; then
    echo "example: $build was made for ${made_for:-another checkout}; building it afresh" >&2
    rm -rf "$build"
  fi
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
exec tools/example/run-example.sh "$build/bin" example-output
