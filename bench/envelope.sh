#!/usr/bin/env bash
# `envelope open` of a small envelope (two variables) and of a full one (256 variables,
# 1048576 bytes of names and values: the limits) against `tovrel time now`, each interleaved
# with it in the same run. Prints the medians, the ratios and the peak resident memory of
# each (/usr/bin/time -v).
# Targets: small at most 1.7x the floor, full at most 4x.
# usage: bench/envelope.sh [path/to/tovrel]   (ROUNDS=200 by default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
. "$here/needs.sh"
needs "tovrel=$bin" cc /usr/bin/time python3 openssl
rounds=${ROUNDS:-200}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bin" keypair generate --key-dir "$tmp/keys" > /dev/null
python3 "$here/full_env.py" > "$tmp/full.json"
printf '{"API_TOKEN":"s3cr3t","REGION":"eu-west-1"}' > "$tmp/small.json"
for size in small full; do
  python3 "$here/../scripts/seal_envelope.py" "$tmp/keys/box_pub.pem" < "$tmp/$size.json" \
    > "$tmp/$size.envelope"
  # Check that it opens before timing anything.
  result=$("$bin" envelope open --key-dir "$tmp/keys" < "$tmp/$size.envelope")
  case "$result" in
    '{"env":{"'*) ;;
    *) echo "envelope open ($size) failed: ${result:0:200}" >&2; exit 1 ;;
  esac
done

cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"
# The timer feeds one stdin file to every command it runs: each size is timed in its own
# run, interleaved with `time now` (which ignores its stdin).
open="$bin envelope open --key-dir $tmp/keys"
read -r t_small t_now1 < <(STDIN_FILE="$tmp/small.envelope" "$tmp/spawn_timer" "$rounds" \
  "$open" "$bin time now" | paste -sd' ')
read -r t_full t_now2 < <(STDIN_FILE="$tmp/full.envelope" "$tmp/spawn_timer" "$rounds" \
  "$open" "$bin time now" | paste -sd' ')
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk '/Maximum resident set size/ { print $NF }'; }
# shellcheck disable=SC2086  # the commands are word lists
p_now=$(peak $bin time now) p_small=$(peak $open < "$tmp/small.envelope") \
  p_full=$(peak $open < "$tmp/full.envelope")
echo "small envelope           $(wc -c < "$tmp/small.envelope") bytes (2 variables)"
echo "full envelope            $(wc -c < "$tmp/full.envelope") bytes (256 variables, 1048576 bytes of names and values)"
echo "tovrel time now          median ${t_now1} us / ${t_now2} us   peak ${p_now} kB"
echo "envelope open, small     median ${t_small} us   peak ${p_small} kB"
echo "envelope open, full      median ${t_full} us   peak ${p_full} kB"
awk -v s="$t_small" -v a="$t_now1" -v f="$t_full" -v b="$t_now2" 'BEGIN {
  printf "small / time now       %.2f (target <= 1.7)\n", s / a
  printf "full / time now        %.2f (target <= 4)\n", f / b
}'
