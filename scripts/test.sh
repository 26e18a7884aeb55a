#!/usr/bin/env bash
# Installs what the build and the tests need, builds with warnings as
# errors, and runs the whole test suite twice: as built, and built with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), where any
# sanitizer report fails the run. Then runs each fuzz harness briefly and
# builds the Debian package, which lintian must accept.
#
# One line per stage with its result and time; what the stages print goes
# to logs under build/, and a stage that fails names its log and shows its
# end. One summary line at the end. Exits non-zero when any stage failed.
#
#   scripts/test.sh
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build" asan="$root/build-asan"
mkdir -p "$build"
jobs=$(nproc)
stages=6 stage=0 failed=0
summary=()
start_all=$SECONDS

elapsed() {
	local s=$((SECONDS - $1))
	printf '%dm %02ds' $((s / 60)) $((s % 60))
}

# begin NAME: the stage's line, finished by finish or skip.
begin() {
	stage=$((stage + 1))
	name=$1
	started=$SECONDS
	printf '[%d/%d] %-24s ' "$stage" "$stages" "$name"
}
# finish STATUS COUNTS LOG: the stage's result (0: ok) and counts on its
# line and in the summary; when it failed, its log is named and its end
# shown.
finish() {
	if [ "$1" = 0 ]; then
		echo "ok${2:+: $2} ($(elapsed "$started"))"
		summary+=("$name: ${2:-ok}")
		return 0
	fi
	failed=1
	echo "FAILED${2:+: $2} ($(elapsed "$started")); see ${3#"$root"/}"
	tail -n 40 "$3" | sed 's/^/    | /'
	summary+=("$name: ${2:+$2, }FAILED")
	return 1
}
skip() {
	begin "$1"
	echo "skipped: $2"
	summary+=("$1: skipped")
}

# The counts ctest ends with: "N tests, F failed, S skipped".
ctest_counts() {
	local total failed skipped
	total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$1" | tail -n 1)
	failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$1" | tail -n 1)
	skipped=$(grep -c '(Skipped)$' "$1")
	echo "${total:-0} tests, ${failed:-?} failed, $skipped skipped"
}

# ctest over the build in $1, its output into the log $2.
run_suite() {
	ctest --test-dir "$1" --output-on-failure --no-tests=error -j"$jobs" >"$2" 2>&1
}

log="$build/setup.log"
begin "set-up and build"
"$root/scripts/setup.sh" --tests >"$log" 2>&1
finish $? "" "$log" && built=1 || built=0

if [ "$built" = 1 ]; then
	log="$build/ctest.log"
	begin "tests"
	run_suite "$build" "$log"
	finish $? "$(ctest_counts "$log")" "$log"
else
	skip "tests" "no build"
fi

# Without the x86-64-v2 copy of the conversion loops, so that the portable
# ones, which this machine would never choose, are the ones checked here.
log="$build/asan-build.log"
begin "sanitizer build"
{ cmake -S "$root" -B "$asan" -DWENDROP_TESTS=ON -DWENDROP_SANITIZE=ON -DWENDROP_CPU_CLONES=OFF \
	-DWENDROP_WERROR=ON && cmake --build "$asan" -j"$jobs"; } >"$log" 2>&1
finish $? "" "$log" && asan_built=1 || asan_built=0

if [ "$asan_built" = 1 ]; then
	# Reports go to files as well as failing the process that made them, so
	# that a test which does not look at an exit status cannot hide one.
	reports="$asan/sanitizer-reports"
	rm -rf "$reports"
	mkdir -p "$reports"
	log="$build/asan-ctest.log"
	begin "sanitizer tests"
	ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_path=$reports/asan" \
		UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan" run_suite "$asan" "$log"
	status=$?
	report_count=$(find "$reports" -type f | wc -l)
	if [ "$report_count" -gt 0 ]; then
		{ echo "sanitizer reports:"; cat "$reports"/*; } >>"$log"
		status=1
	fi
	finish $status "$(ctest_counts "$log"), $report_count reports" "$log"
else
	skip "sanitizer tests" "no build"
fi

log="$build/fuzz.log"
begin "fuzzing"
"$root/fuzz/run.sh" 30 >"$log" 2>&1
status=$?
harnesses=$(grep -c '^== fuzz_' "$log")
runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)/\1/p' "$log" | awk '{ n += $1 } END { print n + 0 }')
finish $status "$harnesses harnesses, $runs runs" "$log"

log="$build/package.log"
begin "package and lintian"
"$root/scripts/package.sh" >"$log" 2>&1
finish $? "lintian $(grep -c '^E: ' "$log") errors, $(grep -c '^W: ' "$log") warnings" "$log"

verdict=passed
[ "$failed" = 0 ] || verdict=FAILED
joined=$(printf '; %s' "${summary[@]}")
echo "test.sh $verdict in $(elapsed "$start_all"): ${joined:2}"
exit "$failed"
