#!/bin/sh
# Installs a finished build into a fresh prefix, moves the prefix elsewhere under another name, and
# plays two scenes from there: posix-demos finds the programs and its library relative to itself.
#
# usage: check-relocation.sh <cmake> <build-dir> <bindir> <libdir>
set -u
cmake=$1 build=$2 bindir=$3 libdir=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/posix-demos-relocation.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

if ! output=$("$cmake" --install "$build" --prefix "$work/first" 2>&1); then
  printf '%s\n' "$output"
  echo "cmake --install failed: is the project built?" >&2
  exit 1
fi
[ -f "$work/first/$libdir/posix-demos/libtimescale.so" ] || {
  echo "the time-scaling library is not in $libdir/posix-demos/" >&2
  exit 1
}
mkdir "$work/elsewhere" && mv "$work/first" "$work/elsewhere/moved" || exit 1

command=$work/elsewhere/moved/$bindir/posix-demos
scenes=$("$command" tour --list | wc -l)
if [ "$scenes" -ne 14 ]; then
  echo "posix-demos tour --list gave $scenes scenes, not 14" >&2
  exit 1
fi
if ! played=$("$command" tour guarded_tally replaced_alarm </dev/null 2>&1); then
  printf '%s\n' "$played"
  echo "posix-demos tour guarded_tally replaced_alarm failed from the moved prefix" >&2
  exit 1
fi
echo "the moved install plays"
