#!/usr/bin/env bash
# The JSON path against its floors, in one run:
#  - `cas store` of a 10 MB and a 100 MB JSON document and of a 26 MB array of 3,000,000
#    integers, against bench/json_floor.cpp (RapidJSON: parse, keys sorted by their bytes,
#    compact write with \u escapes, SHA-256, write the file), runs interleaved; prints the
#    medians with their spread, the ratio (target <= 1.3) and the peak memory of each
#    (target <= 3 x the input + 16 MiB);
#  - `envelope open` of 1 MiB of variables against `tovrel time now` (target <= 4), with what
#    touching its unavoidable buffers alone costs (bench/envelope_buffers.c) for scale.
# Needs rapidjson-dev and libssl-dev for the floor, python3 for the inputs.
# Usage: bench/json.sh [path/to/tovrel]   (ROUNDS=5 stores and ENV_ROUNDS=200 envelope opens
# by default; STORE_DIR puts the stores on another file system)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
. "$here/needs.sh"
needs "tovrel=$bin" cc c++ /usr/bin/time python3 openssl /usr/include/rapidjson/document.h /usr/include/openssl/sha.h
rounds=${ROUNDS:-5}
env_rounds=${ENV_ROUNDS:-200}
tmp=$(mktemp -d)
store_tmp=$(mktemp -d "${STORE_DIR:-${TMPDIR:-/tmp}}/json-bench.XXXXXX")
trap 'rm -rf "$tmp" "$store_tmp"' EXIT

c++ -std=c++17 -O2 -o "$tmp/json_floor" "$here/json_floor.cpp" -lcrypto

# The inputs: records with unsorted keys, nested objects, escapes, non-ASCII text and doubles,
# partly pretty-printed; and a flat array of integers.
python3 - "$tmp" <<'PY'
import json, random, sys
out_dir = sys.argv[1]
rnd = random.Random(7)
words = ["alpha", "beta", "gamma", "delta", "caf\u00e9", "na\u00efve", "\u65e5\u672c", "x\"y",
         "tab\there", "line\nbreak", "emoji\U0001F600"]
def document(path, size):
    with open(path, "w") as out:
        out.write("[")
        written, i = 0, 0
        while written < size:
            rec = {
                "name": "user_%d" % i, "id": i, "email": "user%d@example.com" % i,
                "score": rnd.random() * 1000,
                "ratio": rnd.uniform(-1, 1) * 10 ** rnd.randrange(-8, 8),
                "active": rnd.random() < 0.5,
                "tags": [rnd.choice(words) for _ in range(rnd.randrange(0, 5))],
                "address": {"zip": "%05d" % rnd.randrange(100000), "city": rnd.choice(words),
                            "street": "%d Main Street" % rnd.randrange(1000),
                            "geo": {"lon": rnd.uniform(-180, 180), "lat": rnd.uniform(-90, 90)}},
                "notes": None if rnd.random() < 0.3 else
                         " ".join(rnd.choice(words) for _ in range(rnd.randrange(3, 20))),
                "counts": [rnd.randrange(1000) for _ in range(rnd.randrange(0, 8))],
            }
            text = json.dumps(rec, ensure_ascii=rnd.random() < 0.5, indent=None if i % 3 else 1)
            out.write((",\n" if i else "") + text)
            written += len(text.encode()) + 2
            i += 1
        out.write("]\n")
document(out_dir + "/doc10.json", 10 * 1000 * 1000)
document(out_dir + "/doc100.json", 100 * 1000 * 1000)
with open(out_dir + "/ints.json", "w") as out:
    out.write("[" + ",".join(str(rnd.randrange(10**8)) for _ in range(3000000)) + "]")
PY

# One run of "$@" with stdin from $1: prints "seconds peak_kib"; fails unless a hash came out.
run_once() {
  local input=$1
  shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$tmp/peak" "$@" < "$input" > "$tmp/out"
  end=$(date +%s%N)
  grep -q '^{"hash":"[0-9a-f]\{64\}"}$' "$tmp/out" || { echo "no hash from $*: $(head -c 200 "$tmp/out")" >&2; exit 1; }
  echo "$(( (end - start) / 1000 )) $(cat "$tmp/peak")"
}

# median, min and max of the first column of a file of numbers
stats() { sort -n "$1" | awk '{ v[NR] = $1 } END { printf "%d %d %d\n", v[int((NR + 1) / 2)], v[1], v[NR] }'; }

printf '%-10s %9s %-22s %-22s %7s  %s\n' input size "tovrel cas store" "floor (RapidJSON)" ratio "peak tovrel / floor / limit"
for name in doc10 doc100 ints; do
  input="$tmp/$name.json"
  cat "$input" > /dev/null  # into the page cache for both alike
  : > "$tmp/t.tovrel"; : > "$tmp/t.floor"; : > "$tmp/m.tovrel"; : > "$tmp/m.floor"
  for ((r = 0; r < rounds; r++)); do
    rm -rf "$store_tmp/t" "$store_tmp/f"
    read -r us kib < <(run_once "$input" "$bin" cas store --root "$store_tmp/t")
    echo "$us" >> "$tmp/t.tovrel"; echo "$kib" >> "$tmp/m.tovrel"
    read -r us kib < <(run_once "$input" "$tmp/json_floor" "$store_tmp/f")
    echo "$us" >> "$tmp/t.floor"; echo "$kib" >> "$tmp/m.floor"
  done
  read -r t_med t_min t_max < <(stats "$tmp/t.tovrel")
  read -r f_med f_min f_max < <(stats "$tmp/t.floor")
  read -r _ _ m_tovrel < <(stats "$tmp/m.tovrel")
  read -r _ _ m_floor < <(stats "$tmp/m.floor")
  size=$(wc -c < "$input")
  awk -v n="$name" -v s="$size" -v tm="$t_med" -v tl="$t_min" -v th="$t_max" -v fm="$f_med" \
      -v fl="$f_min" -v fh="$f_max" -v mt="$m_tovrel" -v mf="$m_floor" 'BEGIN {
    limit = 3 * s / 1024 + 16 * 1024
    printf "%-10s %6.1f MB %5.3f s (%.3f-%.3f) %5.3f s (%.3f-%.3f) %5.2f %s  %.0f / %.0f / %.0f MiB %s\n",
      n, s / 1e6, tm / 1e6, tl / 1e6, th / 1e6, fm / 1e6, fl / 1e6, fh / 1e6, tm / fm,
      tm <= 1.3 * fm ? "ok" : "OVER", mt / 1024, mf / 1024, limit / 1024, mt <= limit ? "ok" : "OVER"
  }'
done
echo "(median of $rounds interleaved runs, min-max in brackets; ratio target <= 1.3)"

# envelope open of 1 MiB of variables (256 of them, at the limits) against time now.
"$bin" keypair generate --key-dir "$tmp/keys" > /dev/null
python3 "$here/full_env.py" > "$tmp/env.json"
python3 "$here/../scripts/seal_envelope.py" "$tmp/keys/box_pub.pem" < "$tmp/env.json" > "$tmp/envelope.json"
case "$("$bin" envelope open --key-dir "$tmp/keys" < "$tmp/envelope.json")" in
  '{"env":{"VAR_000":'*) ;;
  *) echo "envelope open failed" >&2; exit 1 ;;
esac
cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"
cc -O2 -static -o "$tmp/envelope_buffers" "$here/envelope_buffers.c"
read -r t_open t_now t_buffers < <(STDIN_FILE="$tmp/envelope.json" "$tmp/spawn_timer" "$env_rounds" \
  "$bin envelope open --key-dir $tmp/keys" "$bin time now" "$tmp/envelope_buffers" | paste -sd' ')
peak_kib=$(/usr/bin/time -f %M "$bin" envelope open --key-dir "$tmp/keys" < "$tmp/envelope.json" 2>&1 >/dev/null)
awk -v a="$t_open" -v b="$t_now" -v f="$t_buffers" -v p="$peak_kib" -v r="$env_rounds" 'BEGIN {
  printf "envelope open, 1 MiB of variables: median %d us, time now %d us, ratio %.2f %s (target <= 4; %d rounds), peak %.1f MiB\n",
    a, b, a / b, a <= 4 * b ? "ok" : "OVER", r, p / 1024
  printf "  its buffers alone (bench/envelope_buffers.c: read, fill two buffers of 3/4, write): %d us, %.2f x time now\n",
    f, f / b
}'
