#!/usr/bin/env bash
# Installs the Debian packages that the given make targets need, when they are missing, and
# nothing more: a first `make demo` should not wait for a sanitizer tool chain.
# Usage: bootstrap.sh NEED...   with NEED one of:
#   build     the binary: compiler, CMake, Ninja, OpenSSL's headers and static libcrypto
#   demo      as build (its envelope was sealed beforehand, so it needs no python3)
#   test      build + GoogleTest and the openssl command (the interoperation tests)
#   sanitize  test + clang, its sanitizer runtimes and llvm-symbolizer (readable reports)
#   fuzz      build + clang, its sanitizer and libFuzzer runtimes and llvm-symbolizer
#   bench     build + Debian's time (/usr/bin/time), python3, the openssl command and
#             RapidJSON (the floor of bench/json.sh)
# The package step needs root or sudo.
set -euo pipefail
build=(g++ cmake ninja-build libssl-dev)
clang=(clang libclang-rt-dev llvm)
want=()
for need in "$@"; do
  case $need in
    build) want+=("${build[@]}") ;;
    demo) want+=("${build[@]}") ;;
    test) want+=("${build[@]}" libgtest-dev openssl) ;;
    sanitize) want+=("${build[@]}" libgtest-dev openssl "${clang[@]}") ;;
    fuzz) want+=("${build[@]}" "${clang[@]}") ;;
    bench) want+=("${build[@]}" time python3 openssl rapidjson-dev) ;;
    *) echo "bootstrap: unknown need '$need' (build, demo, test, sanitize, fuzz, bench)" >&2; exit 2 ;;
  esac
done
[ ${#want[@]} -gt 0 ] || { echo "usage: bootstrap.sh NEED... (build, demo, test, sanitize, fuzz, bench)" >&2; exit 2; }
need=()
for pkg in $(printf '%s\n' "${want[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0
echo "bootstrap: installing ${need[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo > /dev/null || {
    echo "bootstrap: installing packages needs root or sudo; missing: ${need[*]}" >&2
    exit 1
  }
  SUDO="sudo"
fi
$SUDO apt-get update -qq
# Recommends stay out: clang alone recommends 270 MB of LLVM headers and libraries. dpkg
# skips its fsync of every unpacked file (--force-unsafe-io), which takes much of a first
# install's time on a busy disk; the cost is that a power loss during or just after the
# install may leave some of the new files empty, to be mended by reinstalling their packages.
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  -o Dpkg::Options::=--force-unsafe-io "${need[@]}"
