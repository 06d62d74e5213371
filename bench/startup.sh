#!/usr/bin/env bash
# Start-up cost: `tovrel time now` against a statically linked C program that prints the same
# JSON line (bench/startup_floor.c), interleaved in the same run. tovrel is linked statically
# too, so a dynamic floor would hide the loader's work from the comparison. A second build of
# the floor links libcrypto as tovrel does, to show what its start-up code alone costs. Prints
# the medians, the ratios, and the peak resident memory and minor page faults of each
# (/usr/bin/time -v). Target: at most 1.15 times the plain floor.
# The programs run from copies written in one piece, as an install writes them: the kernel may
# keep a file that a linker wrote piecemeal in small page-cache folios, which costs more page
# faults at every start (up to 0.1 ms here) and would blur the comparison.
# usage: bench/startup.sh [path/to/tovrel]   (ROUNDS=2000 by default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
. "$here/needs.sh"
needs "tovrel=$bin" cc /usr/bin/time /usr/include/openssl/crypto.h
rounds=${ROUNDS:-2000}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"
cc -O2 -static -o "$tmp/floor.built" "$here/startup_floor.c"
cc -O2 -static -DOPENSSL_START_UP -o "$tmp/floor_openssl.built" "$here/startup_floor.c" -lcrypto
cp "$tmp/floor.built" "$tmp/floor"
cp "$tmp/floor_openssl.built" "$tmp/floor_openssl"
cp "$bin" "$tmp/tovrel"
bin=$tmp/tovrel
read -r t_tovrel t_floor t_openssl < <("$tmp/spawn_timer" "$rounds" "$bin time now" "$tmp/floor" \
  "$tmp/floor_openssl" | paste -sd' ')
# Peak resident memory (kB) and minor page faults of one run.
usage() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null |
    awk '/Maximum resident set size/ { kb = $NF } /Minor/ { faults = $NF } END { print kb, faults }'
}
read -r p_tovrel f_tovrel < <(usage "$bin" time now)
read -r p_floor f_floor < <(usage "$tmp/floor")
read -r p_openssl f_openssl < <(usage "$tmp/floor_openssl")
echo "tovrel time now          median ${t_tovrel} us   peak ${p_tovrel} kB   ${f_tovrel} page faults"
echo "static C floor           median ${t_floor} us   peak ${p_floor} kB   ${f_floor} page faults"
echo "floor + libcrypto start  median ${t_openssl} us   peak ${p_openssl} kB   ${f_openssl} page faults"
awk -v a="$t_tovrel" -v b="$t_floor" -v c="$t_openssl" 'BEGIN {
  printf "ratio %.3f to the floor (target <= 1.15); %.3f to the floor with libcrypto start-up\n", a / b, a / c
}'
