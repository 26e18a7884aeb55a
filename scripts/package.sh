#!/usr/bin/env bash
# Builds the Debian package build-package/wendrop_VERSION_ARCH.deb and checks
# it with lintian, which must report no errors.
#
#   scripts/package.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --package
build="$root/build-package"

rm -f "$build"/wendrop_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/wendrop_*.deb)

# lintian's own exit status also counts warnings on some versions; errors
# are what fail the package.
report=$(lintian --tag-display-limit 0 "$deb" 2>&1 || true)
[ -n "$report" ] && echo "$report"
if grep -q '^E: ' <<<"$report"; then
	echo "lintian reports errors in $deb" >&2
	exit 1
fi
echo "$deb"
