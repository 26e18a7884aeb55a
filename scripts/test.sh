#!/usr/bin/env bash
# Installs what the build and the tests need, builds with warnings as
# errors, and runs the whole test suite twice: as built, and built with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), where any
# sanitizer report fails the run. Then runs each fuzz harness briefly and
# builds the Debian package, which lintian must accept. Exits non-zero on
# any failure.
#
#   scripts/test.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --tests
ctest --test-dir "$root/build" --output-on-failure --no-tests=error -j"$(nproc)"

asan="$root/build-asan"
# Without the x86-64-v2 copy of the conversion loops, so that the portable
# ones, which this machine would never choose, are the ones checked here.
cmake -S "$root" -B "$asan" -DWENDROP_TESTS=ON -DWENDROP_SANITIZE=ON -DWENDROP_CPU_CLONES=OFF -DWENDROP_WERROR=ON >/dev/null
if ! cmake --build "$asan" -j"$(nproc)" >"$asan/build.log" 2>&1; then
	cat "$asan/build.log" >&2
	exit 1
fi
# Reports go to files as well as failing the process that made them, so
# that a test which does not look at an exit status cannot hide one.
reports="$asan/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
ctest --test-dir "$asan" --output-on-failure --no-tests=error -j"$(nproc)"
if [ -n "$(ls -A "$reports")" ]; then
	echo "sanitizer reports:" >&2
	cat "$reports"/* >&2
	exit 1
fi

"$root/fuzz/run.sh" 30
"$root/scripts/package.sh"
