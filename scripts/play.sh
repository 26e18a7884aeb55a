#!/usr/bin/env bash
# Builds wendrop if needed and runs it with the given options and files.
# Without arguments it plays a generated demo on the default live driver,
# or, where no live output can be opened, writes it to build/demo.wav.
#
#   scripts/play.sh [wendrop options] [FILES...]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" >&2

if [ $# -gt 0 ]; then
	exec "$root/build/wendrop" "$@"
fi

demo="$root/build/demo.flac"
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
status=0
"$root/build/wendrop" "$demo" 2> >(tee "$errors" >&2) || status=$?
wait
if [ "$status" -ne 0 ] || grep -q "^Error opening" "$errors"; then
	"$root/build/wendrop" -q --wav "$root/build/demo.wav" "$demo"
	echo "No live audio output could be opened here; the demo was written to build/demo.wav instead."
fi
