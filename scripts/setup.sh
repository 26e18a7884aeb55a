#!/usr/bin/env bash
# Installs what is missing to build wendrop, then configures and builds.
# Running it again installs nothing and rebuilds only what changed.
#
#   scripts/setup.sh            the program, into build/
#   scripts/setup.sh --tests    the program and its tests, into build/
#   scripts/setup.sh --bench    a Release build and the benchmark tools, into build-bench/
#   scripts/setup.sh --package  a build for the Debian package, into build-package/
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-}

# libsystemd-dev: sd-bus, for the desktop's media controls (MPRIS); libcue-dev:
# cue sheets; libsoxr-dev: rate conversion for raw output; libpulse-dev: what
# a pulse server does to the stream; libcurl4-openssl-dev: URLs.
packages=(libflac-dev libao-dev libpopt-dev libsystemd-dev libcue-dev libsoxr-dev libpulse-dev libcurl4-openssl-dev cmake
	g++ pkg-config)
# What the tests need besides, a group a line with what it is for.
test_packages=(
	libgtest-dev flac                  # the suite, and the reference decoder
	pulseaudio pulseaudio-utils        # a private sound server, recorded with parec
	groff-base man-db                  # the manual page rendered
	valgrind                           # leaks
	clang libclang-rt-14-dev           # the libFuzzer harnesses under fuzz/
	emacs-nox emms                     # a front end driving the player
	dpkg-dev                           # the package's dependencies, which the tests check
	dbus playerctl systemd             # a private session bus, steered and watched as a desktop does
	snapserver snapclient              # raw output played in every room
	# PipeWire, its session manager and its pulse server, as Debian's
	# desktops play (never pipewire-alsa, which conflicts with pulseaudio).
	pipewire pipewire-pulse wireplumber
	nginx-light openssl                # URLs served over http and https
)
case "$mode" in
--tests) packages+=("${test_packages[@]}") ;;
--bench) packages+=(flac pulseaudio pulseaudio-utils dbus nginx-light) ;;
--package) packages+=(dpkg-dev lintian) ;;
"") ;;
*) echo "usage: scripts/setup.sh [--tests | --bench | --package]" >&2; exit 2 ;;
esac

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
case "$mode" in
--tests)
	cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWENDROP_TESTS=ON -DWENDROP_WERROR=ON >/dev/null ;;
--bench)
	build="$root/build-bench"
	cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWENDROP_TESTS=OFF -DWENDROP_BENCH=ON >/dev/null ;;
--package)
	# Debian's hardening flags, all of them, as a package build gets them.
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all
	build="$root/build-package"
	cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWENDROP_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX=/usr \
		-DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null ;;
*)
	[ -f "$build/CMakeCache.txt" ] ||
		cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWENDROP_TESTS=OFF >/dev/null ;;
esac

# The build speaks only when it fails.
log="$build/build.log"
if ! cmake --build "$build" -j"$(nproc)" >"$log" 2>&1; then
	cat "$log" >&2
	exit 1
fi
