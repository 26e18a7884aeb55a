#!/usr/bin/env bash
# Builds wendrop if needed and runs it with the given options and files.
# Without arguments it plays a generated demo on the default live driver,
# or, where no live output can be opened, writes it to build/demo.wav.
#
#   scripts/play.sh [wendrop options] [FILES...]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# The build itself speaks only when it fails: say why the wait.
[ -x "$root/build/wendrop" ] || echo "Building wendrop (first time: about a minute)…" >&2
"$root/scripts/setup.sh" >&2

if [ $# -gt 0 ]; then
	exec "$root/build/wendrop" "$@"
fi

# Opening a stream without samples tries the live output silently; what the
# driver says when there is none (ALSA is talkative) is kept off the terminal.
if [ -z "$("$root/build/wendrop" -q "$root/build/probe.flac" 2>&1)" ]; then
	exec "$root/build/wendrop" "$root/build/demo.flac"
fi
"$root/build/wendrop" -q --wav "$root/build/demo.wav" "$root/build/demo.flac"
echo "No live audio output could be opened here; the demo was written to build/demo.wav instead."
