#!/usr/bin/env bash
# A short session of real tovrel commands, each printed with its JSON result.
set -uo pipefail
bin=${1:-build/tovrel}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
show() {
  printf '$ tovrel %s\n' "$*"
  "$bin" "$@"
  printf '  (exit %d)\n' $?
}
show time now
show time after --ms 20
