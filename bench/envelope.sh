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

# The sealer: X25519 and Poly1305 in Python, ChaCha20 by the openssl command.
python3 - "$tmp" <<'PY'
import hashlib, hmac, subprocess, sys, base64, json
out = sys.argv[1]
P = 2**255 - 19

def x25519(k, u):
    k = bytearray(k); k[0] &= 248; k[31] &= 127; k[31] |= 64
    k = int.from_bytes(k, "little"); u = int.from_bytes(u, "little") & ((1 << 255) - 1)
    x1, x2, z2, x3, z3, swap = u, 1, 0, u, 1, 0
    for t in reversed(range(255)):
        kt = (k >> t) & 1; swap ^= kt
        if swap: x2, x3, z2, z3 = x3, x2, z3, z2
        swap = kt
        a, b, c, d = x2 + z2, x2 - z2, x3 + z3, x3 - z3
        aa, bb, da, cb = a * a, b * b, d * a, c * b
        e = aa - bb
        x3, z3 = (da + cb) ** 2 % P, x1 * (da - cb) ** 2 % P
        x2, z2 = aa * bb % P, e * (aa + 121665 * e) % P
    if swap: x2, z2 = x3, z3
    return (x2 * pow(z2, P - 2, P) % P).to_bytes(32, "little")

def chacha20(key, counter, nonce, data):
    iv = counter.to_bytes(4, "little") + nonce
    return subprocess.run(["openssl", "enc", "-chacha20", "-K", key.hex(), "-iv", iv.hex()],
                          input=data, capture_output=True, check=True).stdout

def poly1305(key, msg):
    r = int.from_bytes(key[:16], "little") & 0x0ffffffc0ffffffc0ffffffc0fffffff
    s = int.from_bytes(key[16:], "little"); p = (1 << 130) - 5; acc = 0
    for i in range(0, len(msg), 16):
        acc = (acc + int.from_bytes(msg[i:i + 16] + b"\x01", "little")) * r % p
    return ((acc + s) % (1 << 128)).to_bytes(16, "little")

def pad16(b): return b"\0" * (-len(b) % 16)
def b64(b): return base64.urlsafe_b64encode(b).rstrip(b"=").decode()

box_secret = bytes(range(1, 33)); eph = bytes(range(101, 133))
shared = x25519(eph, x25519(box_secret, (9).to_bytes(32, "little")))
prk = hmac.new(b"\0" * 32, shared, hashlib.sha256).digest()
key = hmac.new(prk, b"execution-secrets/v1\x01", hashlib.sha256).digest()
nonce = b"\0" * 12
env, total = {}, 0
for i in range(256):
    name = "VAR_%03d" % i
    size = 4089 if i < 255 else 1048576 - total - len(name)
    env[name] = ("%c" % (65 + i % 26)) * size
    total += len(name) + size
assert total == 1048576
payload = json.dumps(env, separators=(",", ":")).encode()
aad = b'{"kind":"execution-secrets/v1"}'
ct = chacha20(key, 1, nonce, payload)
mac_data = aad + pad16(aad) + ct + pad16(ct) + len(aad).to_bytes(8, "little") + len(ct).to_bytes(8, "little")
tag = poly1305(chacha20(key, 0, nonce, b"\0" * 32), mac_data)
doc = {"version": 1, "enc": b64(x25519(eph, (9).to_bytes(32, "little"))),
       "ciphertext": b64(ct + tag), "aad_fields": json.loads(aad)}
open(out + "/envelope.json", "w").write(json.dumps(doc))
open(out + "/box_key.pem", "w").write(b64(box_secret))
PY

# Check that it opens before timing anything.
result=$("$bin" envelope open --key-dir "$tmp" < "$tmp/envelope.json")
case "$result" in
  '{"env":{"VAR_000":'*) ;;
  *) echo "envelope open failed: ${result:0:200}" >&2; exit 1 ;;
esac

cat > "$tmp/timer.c" <<'C'
/* usage: timer ROUNDS STDIN_FILE 'cmd1 args' 'cmd2 args' -- medians in microseconds */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
extern char **environ;
static int cmp(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}
int main(int argc, char **argv) {
  int rounds = atoi(argv[1]), n = argc - 3;
  char **words[8]; double *times[8];
  for (int i = 0; i < n; ++i) {
    words[i] = calloc(64, sizeof(char *));
    int w = 0;
    for (char *t = strtok(strdup(argv[i + 3]), " "); t && w < 63; t = strtok(NULL, " ")) words[i][w++] = t;
    times[i] = calloc((size_t)rounds, sizeof(double));
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, argv[2], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  for (int r = 0; r < rounds; ++r)
    for (int i = 0; i < n; ++i) {
      struct timespec a, b; pid_t pid; int st;
      clock_gettime(CLOCK_MONOTONIC, &a);
      if (posix_spawnp(&pid, words[i][0], &fa, NULL, words[i], environ) != 0) return 1;
      waitpid(pid, &st, 0);
      clock_gettime(CLOCK_MONOTONIC, &b);
      times[i][r] = (double)(b.tv_sec - a.tv_sec) * 1e6 + (double)(b.tv_nsec - a.tv_nsec) / 1e3;
    }
  for (int i = 0; i < n; ++i) {
    qsort(times[i], (size_t)rounds, sizeof(double), cmp);
    printf("%.1f\n", times[i][rounds / 2]);
  }
  return 0;
}
C
cc -O2 -o "$tmp/timer" "$tmp/timer.c"
read -r t_open t_now < <("$tmp/timer" "$rounds" "$tmp/envelope.json" \
  "$bin envelope open --key-dir $tmp" "$bin time now" | paste -sd' ')
peak_kb=$(/usr/bin/time -f %M "$bin" envelope open --key-dir "$tmp" < "$tmp/envelope.json" 2>&1 >/dev/null)
peak_now_kb=$(/usr/bin/time -f %M "$bin" time now 2>&1 >/dev/null)
echo "envelope size            $(wc -c < "$tmp/envelope.json") bytes (256 variables, 1048576 bytes of names and values)"
echo "tovrel envelope open     median ${t_open} us"
echo "tovrel time now          median ${t_now} us"
awk -v a="$t_open" -v b="$t_now" 'BEGIN { printf "ratio                    %.2f\n", a / b }'
echo "peak RSS envelope open   ${peak_kb} kB (time now: ${peak_now_kb} kB)"
