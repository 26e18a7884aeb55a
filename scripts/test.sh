#!/usr/bin/env bash
# Installs what the build and the tests need, builds with warnings as
# errors, and runs the whole test suite. Exits non-zero on any failure.
#
#   scripts/test.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --tests
ctest --test-dir "$root/build" --output-on-failure -j"$(nproc)"
