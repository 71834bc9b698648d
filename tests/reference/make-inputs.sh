#!/usr/bin/env bash
# Makes the inputs of the reference runs (tests/reference/inputs) with the
# built trelvix and make_inputs.py. Run once; the inputs are kept in the
# repository. Usage: make-inputs.sh <build-dir>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
trelvix=$(cd "$1" && pwd)/bin/trelvix
mkdir -p "$here/inputs/ir"
cd "$here/inputs"
"$trelvix" --mode template --output-type mic --nummic 4 --radius 0.1 -o mic4.xml
"$trelvix" --mode template --output-type mic --nummic 2 --radius 0.1 -o mic2.xml
"$trelvix" --mode template --output-type ir --nummic 4 --numazi 6 --aziint 60 --radius 1.5 \
  --cut-start 5 --filepath "ir/D{AZIMUTH:%03d}_ch{CHANNEL:%02d}.flt" -o ir.xml
"$trelvix" --mode template --output-type tsp --nummic 2 --numazi 2 --aziint 180 --radius 1.5 \
  --synchronous-average 1 --signal-max 1 --original-impulse-file origin.tsp \
  --filepath "D{AZIMUTH:%03d}.wav" -o tsp.xml
# Only positions matter to the geometric calculation: a finer ring, far
# enough for some sources to need a shift.
"$trelvix" --mode template --output-type tsp --nummic 4 --numazi 36 --aziint 10 --radius 12 \
  --original-impulse-file origin.tsp --filepath "D{AZIMUTH:%03d}.wav" -o ring.xml
/usr/bin/python3 "$here/make_inputs.py"
