#!/usr/bin/env bash
# Placeholder until the measurement toolkit arrives: writes a microphone
# template and prints it through veskdump.
set -euo pipefail
bin=$1; out=$2
mkdir -p "$out"
"$bin/trelvix" --mode template --output-type mic --nummic 8 --radius 0.1 -o "$out/mic.xml"
"$bin/veskdump" "$out/mic.xml"
echo "wrote $out/mic.xml"
