#!/usr/bin/env bash
# Records the reference outputs of the runs in cases.txt with the trelvix of
# <build-dir> (and the dravik beside it). Re-record only when an output is
# meant to change. Usage: record.sh <build-dir>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
trelvix=$(cd "$1" && pwd)/bin/trelvix
mkdir -p "$here/expected"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$here/inputs"
grep -v '^#' "$here/cases.txt" | while read -r name values messages args; do
  [ -n "$name" ] || continue
  # shellcheck disable=SC2086 # the arguments are words on purpose
  USERNAME=reference TMPDIR=$scratch "$trelvix" $args -o "$scratch/out.tf" \
    > "$scratch/stdout" 2> "$scratch/stderr" || { echo "$name failed:"; cat "$scratch/stderr"; exit 1; }
  mv "$scratch/out.tf" "$here/expected/$name.tf"
  if [ "$messages" = exact ]; then
    mv "$scratch/stdout" "$here/expected/$name.stdout"
    mv "$scratch/stderr" "$here/expected/$name.stderr"
  fi
  echo "recorded $name ($values values, $messages messages)"
done
