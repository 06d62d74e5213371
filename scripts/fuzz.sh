#!/usr/bin/env bash
# Runs every libFuzzer target (one per fuzz/*.cpp) of a fuzz build side by side for a while,
# each on its own working corpus (kept in the build folder) seeded from fuzz/corpus/<name>.
# A target that was not built fails the round. A target that fails has its whole report
# printed, and the input that made it fail is kept under BUILD_DIR/crashes/.
# Usage: fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
logs="$build/fuzz-logs"
crashes="$build/crashes"
mkdir -p "$logs" "$crashes"

names=()
for src in fuzz/*.cpp; do
  names+=("$(basename "$src" .cpp)")
done
missing=()
for name in "${names[@]}"; do
  [ -x "$build/fuzz/fuzz_$name" ] || missing+=("$build/fuzz/fuzz_$name")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "fuzz: not built: ${missing[*]}" >&2
  exit 1
fi

declare -A pids
for name in "${names[@]}"; do
  mkdir -p "$build/corpus-fuzz_$name"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$crashes/$name-" "$build/corpus-fuzz_$name" "${seeds[@]}" \
    > "$logs/$name.log" 2>&1 &
  pids[$name]=$!
done

failed=()
for name in "${names[@]}"; do
  if wait "${pids[$name]}"; then
    echo "-- fuzz_$name: passed: $(grep -E '^Done [0-9]+ runs' "$logs/$name.log" | tail -n 1)"
  else
    status=$?
    failed+=("$name")
    echo "-- fuzz_$name: FAILED (exit $status); its report ($logs/$name.log):"
    cat "$logs/$name.log"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}; the inputs that made them fail:" >&2
  ls -l "$crashes" >&2
  exit 1
fi
