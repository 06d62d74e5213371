#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while, each on its own working corpus
# (kept in the build folder) seeded from fuzz/corpus/<name>. Usage: fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
shopt -s nullglob
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="fuzz/corpus/${name#fuzz_}"
  mkdir -p "$build/corpus-$name"
  echo "-- $name"
  seeds=()
  [ -d "$corpus" ] && seeds=("$corpus")
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    "$build/corpus-$name" "${seeds[@]}" 2>&1 | tail -n 3
done
