#!/usr/bin/env bash
# Installs what is missing to build wendrop (and, with --tests, to test it),
# then configures and builds into build/. Running it again installs nothing
# and rebuilds only what changed.
#
#   scripts/setup.sh [--tests]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tests=OFF
[ "${1:-}" = "--tests" ] && tests=ON

packages=(libflac-dev libao-dev libpopt-dev cmake g++ pkg-config)
# valgrind checks the program for leaks; clang and its runtime build the
# libFuzzer harnesses under fuzz/.
[ "$tests" = ON ] && packages+=(libgtest-dev flac pulseaudio pulseaudio-utils valgrind clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
	sudo=""
	[ "$(id -u)" -ne 0 ] && sudo=sudo
	echo "Installing: ${missing[*]}" >&2
	$sudo apt-get update
	DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi

build="$root/build"
if [ "$tests" = ON ]; then
	cmake -S "$root" -B "$build" -DWENDROP_TESTS=ON -DWENDROP_WERROR=ON >/dev/null
elif [ ! -f "$build/CMakeCache.txt" ]; then
	cmake -S "$root" -B "$build" -DWENDROP_TESTS=OFF >/dev/null
fi
# The build speaks only when it fails.
log="$build/build.log"
if ! cmake --build "$build" -j"$(nproc)" >"$log" 2>&1; then
	cat "$log" >&2
	exit 1
fi
