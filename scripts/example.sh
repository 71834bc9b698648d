#!/usr/bin/env bash
# Installs what is missing, builds, and runs the end-to-end example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)"
exec tools/example/run-example.sh build/release/bin example-output
