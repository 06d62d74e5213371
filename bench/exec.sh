#!/usr/bin/env bash
# Cost of the exec primitive, against named peers in the same run:
#  1. `tovrel exec run --cmd true` against `true` run directly and `timeout 300 true`
#     (median wall time over interleaved rounds; target: at most 2 ms over `true`);
#  2. `tovrel exec stream` passing STREAM_BYTES (1 GiB) from its child to a pipe, against
#     `cat` relaying the same bytes between the same kind of pipes (target: at least half of
#     cat's throughput).
# usage: bench/exec.sh [path/to/tovrel]   (ROUNDS, STREAM_BYTES, STREAM_RUNS override)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
rounds=${ROUNDS:-1000}
bytes=${STREAM_BYTES:-1073741824}
runs=${STREAM_RUNS:-5}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"

echo "== start-up: $rounds interleaved rounds, medians"
read -r t_run t_true t_timeout < <("$tmp/spawn_timer" "$rounds" "$bin exec run --cmd true" \
  "true" "timeout 300 true" | paste -sd' ')
echo "tovrel exec run --cmd true  ${t_run} us"
echo "true                        ${t_true} us"
echo "timeout 300 true            ${t_timeout} us"
awk -v a="$t_run" -v b="$t_true" -v c="$t_timeout" 'BEGIN {
  printf "overhead over true %.0f us (target <= 2000), over timeout %.0f us, ratio to timeout %.2f\n",
    a - b, a - c, a / c }'

now_ns() { date +%s%N; }
# Seconds for one pass of `bytes` through the given relay into `wc -c` (checked).
pass() {
  local start end count
  start=$(now_ns)
  case $1 in
    stream) count=$("$bin" exec stream --cmd head --arg -c --arg "$bytes" --arg /dev/zero | wc -c) ;;
    cat) count=$(head -c "$bytes" /dev/zero | cat | wc -c) ;;
  esac
  end=$(now_ns)
  [ "$count" = "$bytes" ] || { echo "$1 passed $count bytes, expected $bytes" >&2; exit 1; }
  echo $(( end - start ))
}

echo "== throughput: $bytes bytes, best of $runs interleaved runs"
best_stream=0; best_cat=0
for _ in $(seq "$runs"); do
  s=$(pass stream); c=$(pass cat)
  if [ "$best_stream" = 0 ] || [ "$s" -lt "$best_stream" ]; then best_stream=$s; fi
  if [ "$best_cat" = 0 ] || [ "$c" -lt "$best_cat" ]; then best_cat=$c; fi
done
awk -v s="$best_stream" -v c="$best_cat" -v b="$bytes" 'BEGIN {
  ms = b / 1048576 / (s / 1e9); mc = b / 1048576 / (c / 1e9)
  printf "tovrel exec stream  %.0f MiB/s\ncat                 %.0f MiB/s\nratio %.2f (target >= 0.50)\n",
    ms, mc, ms / mc }'
