#!/usr/bin/env bash
# envelope open of a full envelope (256 variables, 1048576 bytes of names and values: the
# limits) against `tovrel time now`, interleaved in the same run. Prints both medians, their
# ratio and the peak resident memory of one envelope open.
# usage: bench/envelope.sh [path/to/tovrel]   (ROUNDS=200 by default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
rounds=${ROUNDS:-200}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bin" keypair generate --key-dir "$tmp/keys" > /dev/null
python3 - > "$tmp/env.json" <<'PY'
import json
env, total = {}, 0
for i in range(256):
    name = "VAR_%03d" % i
    size = 4089 if i < 255 else 1048576 - total - len(name)
    env[name] = ("%c" % (65 + i % 26)) * size
    total += len(name) + size
assert total == 1048576
json.dump(env, __import__("sys").stdout)
PY
python3 "$here/../scripts/seal_envelope.py" "$tmp/keys/box_pub.pem" < "$tmp/env.json" > "$tmp/envelope.json"

# Check that it opens before timing anything.
result=$("$bin" envelope open --key-dir "$tmp/keys" < "$tmp/envelope.json")
case "$result" in
  '{"env":{"VAR_000":'*) ;;
  *) echo "envelope open failed: ${result:0:200}" >&2; exit 1 ;;
esac

cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"
read -r t_open t_now < <(STDIN_FILE="$tmp/envelope.json" "$tmp/spawn_timer" "$rounds" \
  "$bin envelope open --key-dir $tmp/keys" "$bin time now" | paste -sd' ')
peak_kb=$(/usr/bin/time -f %M "$bin" envelope open --key-dir "$tmp/keys" < "$tmp/envelope.json" 2>&1 >/dev/null)
peak_now_kb=$(/usr/bin/time -f %M "$bin" time now 2>&1 >/dev/null)
echo "envelope size            $(wc -c < "$tmp/envelope.json") bytes (256 variables, 1048576 bytes of names and values)"
echo "tovrel envelope open     median ${t_open} us"
echo "tovrel time now          median ${t_now} us"
awk -v a="$t_open" -v b="$t_now" 'BEGIN { printf "ratio                    %.2f\n", a / b }'
echo "peak RSS envelope open   ${peak_kb} kB (time now: ${peak_now_kb} kB)"
