#!/usr/bin/env bash
# Start-up cost: `tovrel time now` against a minimal C program that prints one JSON line,
# interleaved in the same run. Prints both medians and their ratio (target: at most 1.10).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
rounds=${ROUNDS:-2000}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"
cat > "$tmp/peer.c" <<'C'
#include <stdio.h>
#include <time.h>
int main(void) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  unsigned long long ns = (unsigned long long)ts.tv_sec * 1000000000ull + (unsigned long long)ts.tv_nsec;
  printf("{\"timestamp_ms\":%llu,\"timestamp_ns\":%llu}\n", ns / 1000000ull, ns);
  return 0;
}
C
cc -O2 -o "$tmp/peer" "$tmp/peer.c"
read -r t_tovrel t_peer < <("$tmp/spawn_timer" "$rounds" "$bin time now" "$tmp/peer" | paste -sd' ')
echo "tovrel time now   median ${t_tovrel} us"
echo "minimal C program median ${t_peer} us"
awk -v a="$t_tovrel" -v b="$t_peer" 'BEGIN { printf "ratio %.3f (target <= 1.10)\n", a / b }'
