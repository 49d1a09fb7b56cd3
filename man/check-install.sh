#!/bin/sh
# Installs the built project into a fresh prefix and checks the tree a user gets from it: every
# program in the binary folder with its page in man1, no program without a page, the overview in
# man7, and man(1) finding and showing the pages there through MANPATH.
#
# usage: check-install.sh <cmake> <build-dir> <bindir> <mandir> <program>...
set -u
cmake=$1 build=$2 bindir=$3 mandir=$4
shift 4

if ! command -v man >/dev/null 2>&1; then
  echo "man is not installed (Debian package: man-db)" >&2
  exit 1
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/posix-demos-install.XXXXXX") || exit 1
trap 'rm -rf "$prefix"' EXIT

if ! output=$("$cmake" --install "$build" --prefix "$prefix" 2>&1); then
  printf '%s\n' "$output"
  echo "cmake --install failed: is the project built?" >&2
  exit 1
fi

failures=0
fail() {
  echo "$*"
  failures=$((failures + 1))
}

# man -w prints where it finds a page; it must be the installed one, not one from the system.
found_here() {
  where=$(MANPATH="$prefix/$mandir" man -w "$@" 2>/dev/null)
  case $where in "$prefix/$mandir"/*) return 0 ;; esac
  return 1
}

for program in "$@"; do
  [ -x "$prefix/$bindir/$program" ] || fail "missing program: $bindir/$program"
  [ -f "$prefix/$mandir/man1/$program.1" ] || fail "missing page: $mandir/man1/$program.1"
  found_here 1 "$program" || fail "man -w 1 $program does not find the installed page"
done

for installed in "$prefix/$bindir"/*; do
  [ -e "$installed" ] || continue
  name=${installed##*/}
  [ -f "$prefix/$mandir/man1/$name.1" ] || fail "program without a page: $bindir/$name"
done

[ -f "$prefix/$mandir/man7/posix-demos.7" ] || fail "missing page: $mandir/man7/posix-demos.7"
found_here 7 posix-demos || fail "man -w 7 posix-demos does not find the installed page"

# What a user types: the page must come out, rendered.
shown=$(MANPATH="$prefix/$mandir" MANWIDTH=80 man enter_gate 2>&1)
case $shown in
  *"ENTER_GATE(1)"*"Semaphore locked."*) ;;
  *) fail "man enter_gate does not show the page: $shown" ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$failures problems in the installed tree" >&2
  exit 1
fi
echo "installed tree complete: $# programs, their pages and the overview"
