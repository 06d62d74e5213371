#!/usr/bin/env bash
# Cost of the exec primitive, against named peers and floors in the same run:
#  1. `tovrel exec run --cmd true` against `true` run directly and `timeout 300 true`
#     (median wall time over interleaved rounds; target: at most 2 ms over `true`);
#  2. `tovrel exec run --cmd true` against bench/run_floor.c, a static C runner (posix_spawn,
#     two pipes, poll), in RUNS runs of interleaved rounds (target: at most 1.2 x the floor);
#  3. `tovrel exec run` of a child printing CAPTURE_MIB (100) MiB of text, against the same
#     runner capturing the same into memory, in RUNS interleaved runs, with peak memory from
#     /usr/bin/time (targets: at most 1.5 x the floor's time, peak at most 1.2 x the output
#     + 16 MiB);
#  4. `tovrel exec stream` passing STREAM_BYTES (1 GiB) from its child to a pipe, against
#     `cat` relaying the same bytes between the same kind of pipes (target: at least half of
#     cat's throughput).
# usage: bench/exec.sh [path/to/tovrel]
#   (ROUNDS, RUNS, CAPTURE_MIB, STREAM_BYTES, STREAM_RUNS override)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
. "$here/needs.sh"
needs "tovrel=$bin" cc /usr/bin/time
rounds=${ROUNDS:-1000}
runs=${RUNS:-3}
capture_mib=${CAPTURE_MIB:-100}
bytes=${STREAM_BYTES:-1073741824}
stream_runs=${STREAM_RUNS:-5}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"
cc -O2 -static -o "$tmp/run_floor" "$here/run_floor.c"

echo "== start-up: $rounds interleaved rounds, medians"
read -r t_run t_true t_timeout < <("$tmp/spawn_timer" "$rounds" "$bin exec run --cmd true" \
  "true" "timeout 300 true" | paste -sd' ')
echo "tovrel exec run --cmd true  ${t_run} us"
echo "true                        ${t_true} us"
echo "timeout 300 true            ${t_timeout} us"
awk -v a="$t_run" -v b="$t_true" -v c="$t_timeout" 'BEGIN {
  printf "overhead over true %.0f us (target <= 2000), over timeout %.0f us, ratio to timeout %.2f\n",
    a - b, a - c, a / c }'

# "min..max" of the numbers on standard input.
spread() { sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s..%s", lo, hi }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "== exec run --cmd true against the static C runner: $runs runs of $rounds interleaved rounds"
: > "$tmp/ratios"
for run in $(seq "$runs"); do
  read -r t_run t_floor < <("$tmp/spawn_timer" "$rounds" "$bin exec run --cmd true" \
    "$tmp/run_floor true" | paste -sd' ')
  ratio=$(awk -v a="$t_run" -v b="$t_floor" 'BEGIN { printf "%.2f", a / b }')
  echo "run $run: tovrel ${t_run} us, run_floor ${t_floor} us, ratio $ratio"
  echo "$ratio" >> "$tmp/ratios"
done
echo "ratio median $(median < "$tmp/ratios"), spread $(spread < "$tmp/ratios") (target <= 1.2)"

now_ns() { date +%s%N; }

# Wall seconds and peak resident KiB of one command, its output to /dev/null: "secs kib".
timed() {
  local start end
  start=$(now_ns)
  /usr/bin/time -f %M -o "$tmp/peak" "$@" > /dev/null
  end=$(now_ns)
  echo "$(( end - start )) $(tail -n 1 "$tmp/peak")" |
    awk '{ printf "%.3f %d\n", $1 / 1e9, $2 }'
}

echo "== exec run of a child printing $capture_mib MiB against run_floor capturing the same: $runs interleaved runs"
head -c $(( capture_mib << 20 )) < <(base64 -w 76 /dev/urandom) > "$tmp/text"
out_kib=$(( capture_mib << 10 ))
: > "$tmp/time_ratios"; : > "$tmp/peaks"
for run in $(seq "$runs"); do
  read -r s_run m_run < <(timed "$bin" exec run --cmd cat --arg "$tmp/text")
  read -r s_floor m_floor < <(timed "$tmp/run_floor" cat "$tmp/text")
  ratio=$(awk -v a="$s_run" -v b="$s_floor" 'BEGIN { printf "%.2f", a / b }')
  echo "run $run: tovrel ${s_run} s, peak $(( m_run >> 10 )) MiB; run_floor ${s_floor} s," \
    "peak $(( m_floor >> 10 )) MiB; time ratio $ratio"
  echo "$ratio" >> "$tmp/time_ratios"
  echo "$m_run" >> "$tmp/peaks"
done
peak=$(sort -g "$tmp/peaks" | tail -n 1)
echo "time ratio median $(median < "$tmp/time_ratios"), spread $(spread < "$tmp/time_ratios") (target <= 1.5)"
awk -v p="$peak" -v o="$out_kib" 'BEGIN {
  printf "tovrel peak %.0f MiB = %.2f x the output + %.0f MiB (target <= 1.2 x + 16 MiB, %.0f MiB)\n",
    p / 1024, p / o, (p - o) / 1024, (1.2 * o + 16384) / 1024 }'
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

echo "== throughput: $bytes bytes, best of $stream_runs interleaved runs"
best_stream=0; best_cat=0
for _ in $(seq "$stream_runs"); do
  s=$(pass stream); c=$(pass cat)
  if [ "$best_stream" = 0 ] || [ "$s" -lt "$best_stream" ]; then best_stream=$s; fi
  if [ "$best_cat" = 0 ] || [ "$c" -lt "$best_cat" ]; then best_cat=$c; fi
done
awk -v s="$best_stream" -v c="$best_cat" -v b="$bytes" 'BEGIN {
  ms = b / 1048576 / (s / 1e9); mc = b / 1048576 / (c / 1e9)
  printf "tovrel exec stream  %.0f MiB/s\ncat                 %.0f MiB/s\nratio %.2f (target >= 0.50)\n",
    ms, mc, ms / mc }'
