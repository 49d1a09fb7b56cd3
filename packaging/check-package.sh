#!/bin/sh
# Builds the Debian package from a finished build, unpacks it into a temporary folder without
# installing it, and checks it: its control fields, then posix-demos from there shows this shell
# through peek, lists the scenes and plays interrupt_tally.
#
# usage: check-package.sh <cpack> <build-dir>
set -u
cpack=$1 build=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/posix-demos-package.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

if ! output=$(cd "$build" && "$cpack" -G DEB -B "$work/out" 2>&1); then
  printf '%s\n' "$output"
  echo "cpack -G DEB failed (dpkg-shlibdeps comes with dpkg-dev)" >&2
  exit 1
fi
deb=$(ls "$work"/out/*.deb)
echo "package: ${deb##*/}, $(du -k "$deb" | cut -f1) KiB"

failures=0
fail() {
  echo "$*"
  failures=$((failures + 1))
}

for field in Maintainer Section Description Depends; do
  value=$(dpkg-deb -f "$deb" "$field")
  [ -n "$value" ] || fail "the package has no $field"
  echo "$field: $(printf '%s' "$value" | head -1)"
done
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "Depends does not name the C library"
# posix-demos peek reads programs' symbol tables with libelf.
dpkg-deb -f "$deb" Depends | grep -q 'libelf1' || fail "Depends does not name libelf"

dpkg-deb -x "$deb" "$work/root" || exit 1
command=$(find "$work/root" -type f -name posix-demos)
[ -n "$command" ] || { echo "posix-demos is not in the package" >&2; exit 1; }

scenes=$("$command" tour --list | wc -l)
[ "$scenes" -eq 14 ] || fail "posix-demos tour --list gave $scenes scenes, not 14"
if ! view=$("$command" peek $$ --once 2>&1) || [ -z "$view" ]; then
  printf '%s\n' "$view"
  fail "posix-demos peek showed nothing of this shell from the unpacked package"
fi
if ! played=$("$command" tour interrupt_tally </dev/null 2>&1); then
  printf '%s\n' "$played"
  fail "posix-demos tour interrupt_tally failed from the unpacked package"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures problems in the package" >&2
  exit 1
fi
echo "the unpacked package plays"
