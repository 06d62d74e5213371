#!/usr/bin/env python3
# Prints the largest environment map an envelope may carry: 256 variables whose names and
# values add up to exactly 1 MiB, for the envelope benchmarks.
import json
import sys

env, total = {}, 0
for i in range(256):
    name = "VAR_%03d" % i
    size = 4089 if i < 255 else 1048576 - total - len(name)
    env[name] = ("%c" % (65 + i % 26)) * size
    total += len(name) + size
assert total == 1048576
json.dump(env, sys.stdout)
