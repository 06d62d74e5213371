#!/usr/bin/env bash
# The store against named peers, in one run:
#  - `cas store --blob` of a 1 GiB file against `openssl dgst -sha256` of the same file
#    (target: at least 0.9 of its throughput), with `sha256sum` and `git hash-object -w`
#    for scale;
#  - the peak memory of that store (target: at most 1.25 x input + 16 MiB);
#  - the per-call time of storing a small object against `tovrel time now` (target <= 1.3).
# Usage: bench/cas.sh [path/to/tovrel]   (SIZE_MIB, ROUNDS, CALLS override the defaults;
# STORE_DIR puts the stores on another file system, e.g. /dev/shm, to leave the disk out)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
size_mib=${SIZE_MIB:-1024}
rounds=${ROUNDS:-3}
calls=${CALLS:-300}
tmp=$(mktemp -d)
store_tmp=$(mktemp -d "${STORE_DIR:-${TMPDIR:-/tmp}}/cas-bench.XXXXXX")
trap 'rm -rf "$tmp" "$store_tmp"' EXIT

big="$tmp/big.bin"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$big"
cat "$big" > /dev/null  # into the page cache for every contender alike

# Seconds of one run of "$@" (stdin from $big, stdout discarded); peak RSS in KiB in $peak_kib.
peak_kib=0
timed() {
  local start end
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%e %M' -o "$tmp/time.out" "$@" < "$big" > /dev/null
    read -r secs peak_kib < "$tmp/time.out"
    echo "$secs"
  else
    start=$(date +%s%N)
    "$@" < "$big" > /dev/null
    end=$(date +%s%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }'
  fi
}

best() { sort -g | head -n 1; }

: > "$tmp/store.t"; : > "$tmp/openssl.t"; : > "$tmp/sha256sum.t"; : > "$tmp/git.t"
store_peak=0
git init -q "$tmp/repo"
for ((r = 0; r < rounds; r++)); do
  rm -rf "$store_tmp/store"
  timed "$bin" cas store --root "$store_tmp/store" --blob >> "$tmp/store.t"
  [ "$peak_kib" -gt "$store_peak" ] && store_peak=$peak_kib
  timed openssl dgst -sha256 >> "$tmp/openssl.t"
  timed sha256sum >> "$tmp/sha256sum.t"
  rm -rf "$tmp/repo/.git/objects"/??
  timed git -C "$tmp/repo" hash-object -w --stdin >> "$tmp/git.t"
done
t_store=$(best < "$tmp/store.t")
t_openssl=$(best < "$tmp/openssl.t")
t_sha=$(best < "$tmp/sha256sum.t")
t_git=$(best < "$tmp/git.t")
rm -rf "$store_tmp/store" "$tmp/repo"

echo "input ${size_mib} MiB, best of $rounds"
printf '%-32s %8s s\n' "tovrel cas store --blob" "$t_store" "openssl dgst -sha256" "$t_openssl" \
  "sha256sum" "$t_sha" "git hash-object -w --stdin" "$t_git"
awk -v s="$t_store" -v o="$t_openssl" -v h="$t_sha" -v g="$t_git" 'BEGIN {
  printf "throughput vs openssl dgst %.3f (target >= 0.9)\n", o / s
  printf "throughput vs sha256sum    %.3f\n", h / s
  printf "throughput vs git          %.3f\n", g / s
}'
if [ "$store_peak" -gt 0 ]; then
  awk -v p="$store_peak" -v m="$size_mib" 'BEGIN {
    limit = 1.25 * m * 1024 + 16 * 1024
    printf "peak memory of the store %.1f MiB, limit %.1f MiB, ratio to input %.3f (%s)\n",
      p / 1024, limit / 1024, p / (m * 1024), p <= limit ? "within" : "OVER"
  }'
fi
rm -f "$big"

# Small objects: per-call time, interleaved blocks against `time now`.
printf '{"kind":"note","n":1,"tags":["a","b"]}' > "$tmp/small.json"
ns_store=0; ns_now=0
for ((r = 0; r < rounds; r++)); do
  start=$(date +%s%N)
  for ((k = 0; k < calls; k++)); do "$bin" cas store --root "$store_tmp/small" < "$tmp/small.json" > /dev/null; done
  mid=$(date +%s%N)
  for ((k = 0; k < calls; k++)); do "$bin" time now > /dev/null; done
  end=$(date +%s%N)
  ns_store=$((ns_store + mid - start)); ns_now=$((ns_now + end - mid))
done
awk -v s="$ns_store" -v t="$ns_now" -v n=$((calls * rounds)) 'BEGIN {
  printf "small object store %.1f us per call, time now %.1f us per call, ratio %.3f (target <= 1.3)\n",
    s / n / 1000, t / n / 1000, s / t
}'
