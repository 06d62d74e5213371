#!/usr/bin/env bash
# Per-invocation cost of `tovrel sign` and `tovrel verify`, interleaved in one run with
# `tovrel time now` (the start-up floor) and with `openssl pkeyutl -sign -rawin` and
# `-verify -rawin` doing the same work on the same key and message. Prints medians, ratios
# and the peak resident memory of each (/usr/bin/time -v).
# Targets: sign and verify at most 1.5x the floor.
# usage: bench/identity.sh [path/to/tovrel]   (ROUNDS=1000 by default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/tovrel}
. "$here/needs.sh"
needs "tovrel=$bin" cc /usr/bin/time openssl
rounds=${ROUNDS:-1000}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc -O2 -o "$tmp/spawn_timer" "$here/spawn_timer.c"

# One key for both: OpenSSL's 48-byte form, which tovrel reads too.
mkdir -m 700 "$tmp/keys"
openssl genpkey -algorithm ed25519 -out "$tmp/keys/private_key.pem" 2>/dev/null
openssl pkey -in "$tmp/keys/private_key.pem" -pubout -out "$tmp/keys/public_key.pem"
hash=$(printf 'bench' | sha256sum | cut -c1-64)
printf '%s' "$hash" > "$tmp/msg"
openssl pkeyutl -sign -inkey "$tmp/keys/private_key.pem" -rawin -in "$tmp/msg" -out "$tmp/sig"
sig=$(basenc --base64url < "$tmp/sig" | tr -d '=\n')
out=$("$bin" sign --key-dir "$tmp/keys" --hash "$hash")
case $out in *"\"signature\":\"$sig\""*) ;; *) echo "tovrel sign disagrees with openssl: $out" >&2; exit 1 ;; esac
out=$("$bin" verify --hash "$hash" --signature "$sig" --public-key "$tmp/keys/public_key.pem")
case $out in *'"valid":true'*) ;; *) echo "tovrel verify failed: $out" >&2; exit 1 ;; esac

now="$bin time now"
sign="$bin sign --key-dir $tmp/keys --hash $hash"
verify="$bin verify --hash $hash --signature $sig --public-key $tmp/keys/public_key.pem"
read -r t_floor t_sign t_verify t_ossl_sign t_ossl_verify < <("$tmp/spawn_timer" "$rounds" \
  "$now" "$sign" "$verify" \
  "openssl pkeyutl -sign -inkey $tmp/keys/private_key.pem -rawin -in $tmp/msg -out $tmp/sig2" \
  "openssl pkeyutl -verify -pubin -inkey $tmp/keys/public_key.pem -rawin -in $tmp/msg -sigfile $tmp/sig" \
  | paste -sd' ')
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk '/Maximum resident set size/ { print $NF }'; }
# shellcheck disable=SC2086  # the commands are word lists
p_floor=$(peak $now) p_sign=$(peak $sign) p_verify=$(peak $verify)
echo "tovrel time now (floor)   median ${t_floor} us   peak ${p_floor} kB"
echo "tovrel sign               median ${t_sign} us   peak ${p_sign} kB"
echo "tovrel verify             median ${t_verify} us   peak ${p_verify} kB"
echo "openssl pkeyutl -sign     median ${t_ossl_sign} us"
echo "openssl pkeyutl -verify   median ${t_ossl_verify} us"
awk -v f="$t_floor" -v s="$t_sign" -v v="$t_verify" -v os="$t_ossl_sign" -v ov="$t_ossl_verify" 'BEGIN {
  printf "sign / floor          %.2f (target <= 1.5)\n", s / f
  printf "verify / floor        %.2f (target <= 1.5)\n", v / f
  printf "sign / openssl sign   %.2f\n", s / os
  printf "verify / openssl vfy  %.2f\n", v / ov
}'
