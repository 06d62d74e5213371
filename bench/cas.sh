#!/usr/bin/env bash
# The store against named peers, interleaved in one run (medians of ROUNDS, with the spread of
# the per-round ratios, and the peak memory of every tovrel case):
#  - `cas store --blob` of a SIZE_MIB (1 GiB) content, from a file and from a pipe, against
#    `openssl dgst -sha256` reading the same way (target <= 1.15), with the single-threaded
#    floor bench/hash_write.c (hash and write in 128 KiB chunks) for scale;
#  - `cas verify` of that item against `openssl dgst -sha256` of its file (target <= 1.1);
#  - `cas fetch` of it to /dev/null and into a pipe against `cat` of its file the same way
#    (target <= 1.3);
#  - peak memory of each tovrel case (target < 64 MiB whatever the size);
#  - a small object store against `tovrel time now`, medians of CALLS interleaved calls
#    (target <= 1.1).
# Usage: bench/cas.sh [path/to/tovrel]   (SIZE_MIB, ROUNDS, CALLS override the defaults;
# STORE_DIR puts the input and the stores on another file system, e.g. /dev/shm; SYNC=1 runs
# sync(1) before each case). Needs /usr/bin/time, openssl and libssl-dev for the floor.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
. "$here/needs.sh"
needs "tovrel=$bin" cc /usr/bin/time openssl /usr/include/openssl/evp.h
size_mib=${SIZE_MIB:-1024}
rounds=${ROUNDS:-5}
calls=${CALLS:-1000}
tmp=$(mktemp -d)
work=$(mktemp -d "${STORE_DIR:-${TMPDIR:-/tmp}}/cas-bench.XXXXXX")
trap 'rm -rf "$tmp" "$work"' EXIT
cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"
cc -O2 -o "$tmp/hash_write" "$here/hash_write.c" -lcrypto

big="$work/big.bin"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$big"
digest=$(openssl dgst -sha256 -r < "$big" | cut -c1-64)
"$bin" cas store --blob --root "$work/kept" < "$big" > /dev/null
item="$work/kept/blobs/${digest:0:2}/${digest:2:2}/$digest"
cat "$big" "$item" > /dev/null  # into the page cache for every contender alike

# One timed run of a case: appends "seconds peak_kib" to $tmp/<name>. The measured process is
# the one under /usr/bin/time; in the pipe cases a `cat` feeds it.
run_case() {
  local name=$1 start end peak
  rm -rf "$work/s" "$work/floor.out"
  [ -n "${SYNC:-}" ] && sync
  start=$(date +%s%N)
  case $name in
    store_file) /usr/bin/time -o "$tmp/t" -f %M "$bin" cas store --blob --root "$work/s" < "$big" > /dev/null ;;
    openssl_file) /usr/bin/time -o "$tmp/t" -f %M openssl dgst -sha256 < "$big" > /dev/null ;;
    floor_file) /usr/bin/time -o "$tmp/t" -f %M "$tmp/hash_write" "$work/floor.out" < "$big" > /dev/null ;;
    store_pipe) cat "$big" | /usr/bin/time -o "$tmp/t" -f %M "$bin" cas store --blob --root "$work/s" > /dev/null ;;
    openssl_pipe) cat "$big" | /usr/bin/time -o "$tmp/t" -f %M openssl dgst -sha256 > /dev/null ;;
    verify) /usr/bin/time -o "$tmp/t" -f %M "$bin" cas verify --blob --root "$work/kept" --hash "$digest" > /dev/null ;;
    openssl_item) /usr/bin/time -o "$tmp/t" -f %M openssl dgst -sha256 "$item" > /dev/null ;;
    fetch_null) /usr/bin/time -o "$tmp/t" -f %M "$bin" cas fetch --blob --root "$work/kept" --hash "$digest" > /dev/null ;;
    cat_null) /usr/bin/time -o "$tmp/t" -f %M cat "$item" > /dev/null ;;
    fetch_pipe) /usr/bin/time -o "$tmp/t" -f %M "$bin" cas fetch --blob --root "$work/kept" --hash "$digest" | cat > /dev/null ;;
    cat_pipe) /usr/bin/time -o "$tmp/t" -f %M cat "$item" | cat > /dev/null ;;
  esac
  end=$(date +%s%N)
  peak=$(tail -n 1 "$tmp/t")
  echo "$(( (end - start) / 1000 )) $peak" >> "$tmp/$name"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cases=(store_file openssl_file floor_file store_pipe openssl_pipe verify openssl_item fetch_null
  cat_null fetch_pipe cat_pipe)
# Each round starts one case further on, so that no case always follows the same one (a large
# write leaves the disk busy for a while).
for ((r = 0; r < rounds; r++)); do
  for ((k = 0; k < ${#cases[@]}; k++)); do run_case "${cases[(k + r) % ${#cases[@]}]}"; done
done

echo "content ${size_mib} MiB, $rounds interleaved rounds, store on $(stat -f -c %T "$work") ($work)"
# One line per pair: medians, the ratio of the medians, the range of the per-round ratios,
# and tovrel's largest peak.
compare() {
  local ours=$1 peer=$2 target=$3
  local t_ours t_peer
  t_ours=$(cut -d' ' -f1 "$tmp/$ours" | median)
  t_peer=$(cut -d' ' -f1 "$tmp/$peer" | median)
  paste -d' ' "$tmp/$ours" "$tmp/$peer" | awk -v o="$ours" -v p="$peer" -v a="$t_ours" -v b="$t_peer" -v t="$target" '
    { r = $1 / $3; lo = (NR == 1 || r < lo) ? r : lo; hi = (NR == 1 || r > hi) ? r : hi; if ($2 > peak) peak = $2 }
    END { printf "%-12s %8.3f s  %-12s %8.3f s  ratio %.3f (rounds %.3f-%.3f, target <= %s)  peak %.1f MiB\n",
            o, a / 1e6, p, b / 1e6, a / b, lo, hi, t, peak / 1024 }'
}
compare store_file openssl_file 1.15
compare store_file floor_file -
compare store_pipe openssl_pipe 1.15
compare verify openssl_item 1.1
compare fetch_null cat_null 1.3
compare fetch_pipe cat_pipe 1.3
rm -rf "$work/s" "$work/kept" "$big" "$work/floor.out"

# Small objects: per-call medians, interleaved, against `time now`.
printf '{"kind":"note","n":1,"tags":["a","b"]}' > "$tmp/small.json"
"$bin" cas store --root "$work/small" < "$tmp/small.json" > /dev/null
read -r t_store t_now < <(STDIN_FILE="$tmp/small.json" "$tmp/spawn_timer" "$calls" \
  "$bin cas store --root $work/small" "$bin time now" | paste -sd' ')
awk -v s="$t_store" -v t="$t_now" 'BEGIN {
  printf "small object store %.0f us, time now %.0f us, ratio %.3f (target <= 1.1)\n", s, t, s / t }'
