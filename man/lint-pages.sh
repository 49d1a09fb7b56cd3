#!/bin/sh
# Lints the manual pages given; any message at warning level or above fails the check.
set -u

if ! command -v mandoc >/dev/null 2>&1; then
  echo "mandoc is not installed (Debian package: mandoc)" >&2
  exit 1
fi

# mandoc's exit status also reflects levels below the one asked for: judge by what it prints.
messages=$(mandoc -T lint -W warning "$@" 2>&1)
if [ -n "$messages" ]; then
  printf '%s\n' "$messages"
  exit 1
fi
echo "$# pages lint-clean"
