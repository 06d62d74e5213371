#!/usr/bin/env python3
"""Seals an environment map to a box public key, the way a sender of secrets would.

usage: seal_envelope.py BOX_PUB_FILE < env.json > envelope.json

Written independently of tovrel (X25519 and Poly1305 in plain Python, ChaCha20 by the
`openssl enc` command), so that opening its envelopes also checks the format interoperates.
"""
import base64, hashlib, hmac, json, os, subprocess, sys

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
def unb64(s): return base64.urlsafe_b64decode(s + "=" * (-len(s) % 4))

def seal(box_pub, env):
    eph = os.urandom(32)
    shared = x25519(eph, box_pub)
    prk = hmac.new(b"\0" * 32, shared, hashlib.sha256).digest()
    key = hmac.new(prk, b"execution-secrets/v1\x01", hashlib.sha256).digest()
    nonce = b"\0" * 12  # fixed: every envelope has a fresh ephemeral key, hence a fresh key
    aad_fields = {"kind": "execution-secrets/v1"}
    aad = json.dumps(aad_fields, separators=(",", ":")).encode()
    ct = chacha20(key, 1, nonce, json.dumps(env, separators=(",", ":")).encode())
    mac = aad + pad16(aad) + ct + pad16(ct) + len(aad).to_bytes(8, "little") + len(ct).to_bytes(8, "little")
    tag = poly1305(chacha20(key, 0, nonce, b"\0" * 32), mac)
    return {"version": 1, "enc": b64(x25519(eph, (9).to_bytes(32, "little"))),
            "ciphertext": b64(ct + tag), "aad_fields": aad_fields}

if __name__ == "__main__":
    box_pub = unb64(open(sys.argv[1]).read().strip())
    json.dump(seal(box_pub, json.load(sys.stdin)), sys.stdout)
