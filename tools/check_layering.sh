#!/usr/bin/env bash
# Checks that the modules under src/ depend on each other only downwards: every include of a
# project header, and every module a module links in CMakeLists.txt, must name the module
# itself or one beneath it; OpenSSL's headers belong to crypto alone. Prints each breach as
# file:line and fails when there is one.
# usage: tools/check_layering.sh [source folder]   (the repository root by default)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

# The layers: each module and the modules it may use besides itself.
declare -A allowed=(
  [base]=""
  [json]="base"
  [crypto]="base"
  [exec]="base json"
  [cas]="base json crypto"
  [identity]="base json crypto"
  [envelope]="base json crypto"
  [cli]="base json crypto exec cas identity envelope"
)
# Third-party headers that only one module may include.
declare -A owner=([openssl]=crypto)

may_use() {  # may_use MODULE OTHER
  [[ $1 == "$2" || " ${allowed[$1]} " == *" $2 "* ]]
}

breaches=0
breach() {
  echo "$1" >&2
  breaches=$((breaches + 1))
}

for dir in "$root"/src/*/; do
  module=$(basename "$dir")
  if [[ ! -v allowed[$module] ]]; then
    breach "src/$module: a module that has no layer; add it to tools/check_layering.sh"
    continue
  fi
  while IFS=: read -r file line text; do
    if [[ $text =~ ^#include\ \"([a-z_0-9]+)/ ]]; then
      used=${BASH_REMATCH[1]}
      [[ -v allowed[$used] ]] || continue
      may_use "$module" "$used" ||
        breach "${file#"$root"/}:$line: $module may not include $used: $text"
    elif [[ $text =~ ^#include\ \<([a-z_0-9]+)/ ]]; then
      used=${BASH_REMATCH[1]}
      [[ -v owner[$used] && ${owner[$used]} != "$module" ]] &&
        breach "${file#"$root"/}:$line: only ${owner[$used]} may include $used: $text"
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include' "$dir" |
    sed -E 's/:[[:space:]]*#[[:space:]]*include[[:space:]]*/:#include /')
done

# The link lines must say the same: tovrel_module(name deps...) in CMakeLists.txt.
while IFS=: read -r line text; do
  read -r -a words <<<"$(sed -E 's/^tovrel_module\(([^)]*)\).*/\1/' <<<"$text")"
  module=${words[0]}
  [[ -v allowed[$module] ]] || { breach "CMakeLists.txt:$line: $module has no layer"; continue; }
  for dep in "${words[@]:1}"; do
    [[ $dep == tovrel_* ]] || continue
    may_use "$module" "${dep#tovrel_}" ||
      breach "CMakeLists.txt:$line: $module may not link ${dep#tovrel_}"
  done
done < <(grep -n '^tovrel_module(' "$root/CMakeLists.txt")

if ((breaches > 0)); then
  echo "layering: $breaches breach(es)" >&2
  exit 1
fi
echo "layering: every include and link runs downwards"
