#!/usr/bin/env bash
# Runs the command block of "From nothing to a measurement" in docs/trelvix.md
# as a reader would paste it, with the page's measim block in place of the
# recording step, in a scratch directory. The programs come from the build
# (TRELVIX_BIN names the directory).
# Usage: first-measurement.sh PAGE SCRATCH_DIR
set -euo pipefail

page=$1
scratch=$2
bin=$(dirname "${TRELVIX_BIN:?run through ctest}")
export PATH="$bin:$PATH"

# The section's fenced blocks, separated by a line "@@END@@".
blocks=$(awk '
  /^## / { inside = ($0 == "## From nothing to a measurement") ; next }
  inside && /^```/ { if (fenced) print "@@END@@"; fenced = !fenced; next }
  inside && fenced { print }
' "$page")
commands=$(printf '%s\n' "$blocks" | awk '/^@@END@@$/ { exit } { print }')
stand_in=$(printf '%s\n' "$blocks" | awk 'n == 1 && !/^@@END@@$/ { print } /^@@END@@$/ { n++ }')
if [ -z "$commands" ] || [ -z "$stand_in" ]; then
  echo "first-measurement: $page has no command block and measim block under \"From nothing to a measurement\"" >&2
  exit 1
fi
markers=$(printf '%s\n' "$commands" | grep -c '^# record' || true)
if [ "$markers" != 1 ]; then
  echo "first-measurement: expected one '# record' line in the command block, found $markers" >&2
  exit 1
fi

script=$(printf '%s\n' "$commands" | while IFS= read -r line; do
  if [[ $line == "# record"* ]]; then printf '%s\n' "$stand_in"; else printf '%s\n' "$line"; fi
done)

rm -rf "$scratch"
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
printf 'set -euo pipefail\n%s\n' "$script" >"$scratch/page.sh"
echo "--- running, in $scratch:"
cat "$scratch/page.sh"
(cd "$scratch" && bash page.sh >page.log 2>&1) || {
  echo "--- the page's commands failed; the end of their output:" >&2
  tail -n 20 "$scratch/page.log" >&2
  exit 1
}

# The page's two checks ran and found the simulated measurement sound: the
# recordings before tf mode, the transfer functions after it.
verdicts=$(grep -c '^verdict: consistent$' "$scratch/page.log" || true)
if [ "$verdicts" != 2 ]; then
  echo "first-measurement: expected the page's two tfcheck steps to say \"verdict: consistent\", found $verdicts:" >&2
  grep -E '^(verdict|finding)' "$scratch/page.log" >&2 || true
  exit 1
fi
# The summary a person reads names the file's data sets.
grep -q '"id":"vgtf::GTF"' "$scratch/page.log" || {
  echo "first-measurement: veskdump --summary printed no GTF data set" >&2
  exit 1
}

# The page promises microphones on a circle around the origin and one
# transfer function per source direction of the list.
(cd "$scratch" && veskdump tf.bin >tf.json && veskdump tsp.xml >tsp.json)
python3 - "$scratch/tf.json" "$scratch/tsp.json" <<'PY'
import json, math, sys
tf = json.load(open(sys.argv[1]))
lst = json.load(open(sys.argv[2]))
sets = {d["id"]: d for d in tf["dataSets"]}
mics = sets["vgtf::Fmt"]["micPositions"]
centre = [sum(p[i] for p in mics) / len(mics) for i in range(3)]
radii = [math.dist(p, centre) for p in mics]
if max(map(abs, centre)) > 1e-6 or max(radii) - min(radii) > 1e-6:
    sys.exit(f"microphones not on a circle around the origin: centre {centre}, radii {radii}")
sources = sets["vgtf::GTF"]["sourceCount"]
if sources != len(lst["sources"]):
    sys.exit(f"tf.bin has {sources} sources, tsp.xml lists {len(lst['sources'])}")
print(f"{len(mics)} microphones on a circle of radius {radii[0]:.3f} m, {sources} sources")
PY
