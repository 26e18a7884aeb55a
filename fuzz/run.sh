#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into fuzz/build and runs each
# for SECONDS, one after another, from a seed corpus generated here. Inputs
# that reach new code are kept in fuzz/corpus/HARNESS; a crashing input is
# written to fuzz/crashes/ and makes the script fail.
#
#   fuzz/run.sh SECONDS [HARNESS...]      (default: all six)
set -euo pipefail

seconds=${1:?usage: fuzz/run.sh SECONDS [HARNESS...]}
shift
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(fuzz_tags fuzz_decode fuzz_remote fuzz_m3u fuzz_pls fuzz_cue)

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/fuzz/build"
seeds="$build/seeds"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DWENDROP_FUZZ=ON -DWENDROP_TESTS=OFF \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
log="$build/build.log"
if ! cmake --build "$build" -j"$(nproc)" --target gen_flac "${harnesses[@]}" >"$log" 2>&1; then
	cat "$log" >&2
	exit 1
fi

# Seeds: small streams of every width class with and without tags, Ogg
# links, and command scripts that touch every command.
gen() { "$build/tests/support/gen_flac" --rate 8000 --frames 3000 "$@"; }
mkdir -p "$seeds/flac" "$seeds/remote" "$seeds/m3u" "$seeds/pls" "$seeds/cue"
gen --bits 16 --channels 2 --tag TITLE=Song --tag ARTIST=Band --tag DATE=2001-02-03 "$seeds/flac/tagged.flac"
gen --bits 8 --channels 1 --signal ramp "$seeds/flac/8bit.flac"
gen --bits 24 --channels 3 --tag DESCRIPTION=x --tag GENRE=y "$seeds/flac/24bit.flac"
gen --bits 12 --channels 1 --total 0 "$seeds/flac/12bit-no-total.flac"
gen --bits 32 --channels 2 --frames 600 "$seeds/flac/32bit.flac"
# Ogg: one link, and a chain of two with junk between them, for the link
# reader's page checks and its search for the next link.
gen --bits 16 --channels 1 --frames 1200 --ogg "$seeds/flac/link.oga"
gen --bits 8 --channels 2 --frames 600 --ogg --serial 7 "$build/link2.oga"
{ cat "$seeds/flac/link.oga"; printf 'junk between links'; cat "$build/link2.oga"; } >"$seeds/flac/chain.oga"
printf 'LOAD a\nJ 1\nPAUSE\nV 0.5\nPAUSE\nJ -1\nJ +0\nSTOP\nLOAD a\nQUIT\n' >"$seeds/remote/session"
printf 'l a\nload b\nL\nj\njump 99999999999999999999\nvolume -1e40\nv nan\nFOO bar\n' >"$seeds/remote/errors"
printf 'LOAD a\n\0J 0\nstop\r\n  P  \nLO' >"$seeds/remote/framing"
printf '\xef\xbb\xbf#EXTM3U\r\n#EXTINF:1,A\r\n  a b.flac\t\r\n-\nfile:///m/A%%20b.flac\nfile://localhost/x\nhttp://h/y\n' >"$seeds/m3u/utf8"
printf '\xff\xfea\0.\0f\0l\0a\0c\0\r\0\n\0=\xd8\x01\xdc\n\0' >"$seeds/m3u/utf16"
printf '[playlist]\r\nNumberOfEntries=3\r\nFile1=http://h/a.flac\r\nTitle1=A\r\nLength1=-1\r\nFile3=b.flac\r\nFile2=/etc/passwd\r\nfile4=file:///x\r\nVersion=2\r\n' >"$seeds/pls/radio"
printf '#EXTM3U\n#EXTINF:-1,Radio\nhttp://h/s.flac\n../up.flac\n/abs.flac\n' >"$seeds/pls/m3u"

# Cue sheets as rippers write them: REM lines, two FILEs, pregaps, Latin-1,
# CR-LF and a byte-order mark.
printf '\xef\xbb\xbfREM GENRE Rock\r\nREM DATE 1999\r\nPERFORMER "Band"\r\nTITLE "Caf\xe9"\r\nFILE "a b.wav" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE "One"\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    PERFORMER "Guest"\r\n    INDEX 00 01:00:00\r\n    INDEX 01 01:02:74\r\nFILE b.flac WAVE\r\n  TRACK 03 AUDIO\r\n    FLAGS DCP\r\n    ISRC ABCDE1234567\r\n    PREGAP 00:02:00\r\n    INDEX 01 00:01:00\r\n' >"$seeds/cue/album"
printf 'FILE x WAVE\nTRACK 01 AUDIO\nINDEX 01 99999999999:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:01\n' >"$seeds/cue/wrap"
# Unquoted values with quotes and backslashes, Windows-1252, TRACK numbers
# from 05, a hidden track before the first, per-track files.
printf 'PERFORMER Some "Band" \\\r\nFILE a.wav WAVE\n  TRACK 05 AUDIO\n    TITLE Don\x92t Stop\t\n    INDEX 00 00:00:00\n    INDEX 01 00:12:00\n  TRACK 06 AUDIO\n    SONGWRITER x y\n    INDEX 01 00:20:00\nFILE b.wav WAVE\n  TRACK 07 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:01:00' >"$seeds/cue/rippers"

declare -A corpus_seeds=([fuzz_tags]=flac [fuzz_decode]=flac [fuzz_remote]=remote [fuzz_m3u]=m3u [fuzz_pls]=pls [fuzz_cue]=cue)
mkdir -p "$root/fuzz/crashes"
failed=()
for h in "${harnesses[@]}"; do
	corpus="$root/fuzz/corpus/$h"
	mkdir -p "$corpus"
	echo "== $h: $seconds s" >&2
	# libcue keeps what it built of every text that does not parse (the
	# player reads in a child process for that), some 40 MB a second of
	# fuzzing: fuzz_cue runs in 30-second processes, one after another on
	# the same corpus, so that no run of any length runs out of memory.
	chunk=$seconds
	[ "$h" = fuzz_cue ] && chunk=30
	for ((left = seconds; left > 0; left -= chunk)); do
		# Output of the code under test is discarded (close_fd_mask);
		# libFuzzer and the sanitizers keep a copy of standard error for
		# their reports.
		if ! "$build/fuzz/$h" -max_total_time="$((left < chunk ? left : chunk))" -close_fd_mask=3 \
			-print_final_stats=1 -max_len=65536 -timeout=10 -rss_limit_mb=4096 \
			-artifact_prefix="$root/fuzz/crashes/$h-" "$corpus" "$seeds/${corpus_seeds[$h]}"; then
			failed+=("$h")
			break
		fi
	done
done
if [ ${#failed[@]} -gt 0 ]; then
	echo "fuzzing found faults in: ${failed[*]} (inputs in fuzz/crashes/)" >&2
	exit 1
fi
