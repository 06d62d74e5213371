#!/usr/bin/env bash
# Installs the Debian packages tovrel needs to build, test and fuzz, when they are missing.
set -euo pipefail
need=()
for pkg in g++ cmake ninja-build libssl-dev libgtest-dev clang libclang-rt-dev openssl; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0
echo "bootstrap: installing ${need[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
