#!/usr/bin/env bash
# A short session of real tovrel commands, each shown with what it printed and its exit status.
set -uo pipefail
bin=$(realpath "${1:-build/tovrel}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
show() {
  printf '\n$ tovrel %s\n' "$*"
  "$bin" "$@"
  printf '(exit %d)\n' $?
}
show_raw() {  # show_raw ARGS...: same, for a command that prints raw bytes with no newline
  printf '\n$ tovrel %s\n' "$*"
  "$bin" "$@"
  local status=$?
  printf '\n(exit %d; the demo added the newline above, tovrel printed none)\n' $status
}
show_in() {  # show_in INPUT ARGS...: same, with INPUT on standard input
  local input=$1
  shift
  printf '\n$ ... | tovrel %s\n' "$*"
  printf '%s' "$input" | "$bin" "$@"
  printf '(exit %d)\n' $?
}

echo "== Time"
show time now
show time after --ms 20

echo; echo "== Execute"
show exec run --cmd sh --arg -c --arg 'echo out; echo err >&2; exit 3'
show exec run --cmd sleep --arg 5 --timeout 0.3
show exec stream --cmd printf --arg 'streamed %s\n' --arg bytes
printf '\n$ tovrel exec spawn --cmd sleep --arg 30 --log %s\n' "$work/spawn.log"
spawned=$("$bin" exec spawn --cmd sleep --arg 30 --log "$work/spawn.log")
printf '%s\n(exit %d)\n' "$spawned" $?
pid=$(printf '%s' "$spawned" | sed -n 's/.*"pid":\([0-9]*\).*/\1/p')
show exec status --pid "$pid"
show exec kill --pid "$pid" --grace 1
show exec status --pid "$pid"
# Where process 1 reaps its children late (as in many containers), the sleep that ended at
# the SIGTERM stays a zombie, which counts as alive: kill then sends SIGKILL after the grace
# ("killed") and status still answers true. Say so when it is what the output shows.
if [ "$(sed -n 's/^[0-9]* ([^)]*) \(.\).*/\1/p' "/proc/$pid/stat" 2>/dev/null)" = Z ]; then
  echo "(here the sleep ended at the SIGTERM, but process 1 has not reaped it yet: a zombie"
  echo " counts as alive, so kill sent SIGKILL after the grace and status answers alive)"
fi

echo; echo "== Memory"
show_in '{"b": [1, 2.50, "x"], "a": "é"}' cas store --root "$work/store"
hash=$(printf '{"b": [1, 2.50, "x"], "a": "é"}' | "$bin" cas store --root "$work/store" | sed -n 's/.*"hash":"\([0-9a-f]*\)".*/\1/p')
show_raw cas fetch --root "$work/store" --hash "$hash"
show cas verify --root "$work/store" --hash "$hash"
show cas has --root "$work/store" --hash "$hash"
show_in 'raw bytes' cas store --root "$work/store" --blob
show cas has --root "$work/store" --hash nothex

echo; echo "== Identity"
show keypair generate --key-dir "$work/keys"
show keypair fingerprint --public-key "$work/keys/public_key.pem"
show keypair box-fingerprint --public-key "$work/keys/box_pub.pem"
show sign --key-dir "$work/keys" --hash "$hash"
sig=$("$bin" sign --key-dir "$work/keys" --hash "$hash" | sed -n 's/.*"signature":"\([^"]*\)".*/\1/p')
show verify --hash "$hash" --signature "$sig" --public-key "$work/keys/public_key.pem"
show verify --hash other --signature "$sig" --public-key "$work/keys/public_key.pem"

echo; echo "== Secret envelopes"
# An envelope that scripts/seal_envelope.py sealed beforehand, to the box key kept beside it
# with the tests: {"API_TOKEN":"s3cret","PATH":"/evil","LANG":"C.UTF-8"}.
golden=$(cd "$here/../tests/envelope/golden" && pwd)
show_in "$(cat "$golden/plain.envelope")" envelope open --key-dir "$golden"
show_in '{"version":1}' envelope open --key-dir "$work/keys"

echo; echo "== A command-line error"
show exe
