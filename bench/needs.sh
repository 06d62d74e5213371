# Sourced by every bench script: `needs WHAT...` ends the script before anything is measured,
# naming each WHAT that is missing and the Debian package that brings it (`make bench`
# installs them all). WHAT is a command, an absolute path, or `tovrel=PATH` for the binary
# under test.
needs() {
  local what missing=()
  for what in "$@"; do
    case $what in
      tovrel=*) [ -x "${what#tovrel=}" ] && continue
        missing+=("the tovrel binary ${what#tovrel=} (make build)") ;;
      /*) [ -e "$what" ] && continue
        missing+=("$what ($(bench_package "$what"))") ;;
      *) command -v "$what" > /dev/null && continue
        missing+=("$what ($(bench_package "$what"))") ;;
    esac
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local m
  for m in "${missing[@]}"; do echo "$(basename "$0"): missing $m" >&2; done
  echo "$(basename "$0"): \`make bench\` installs what the benchmarks need" >&2
  exit 1
}

# The Debian package that provides a command or file the benchmarks use.
bench_package() {
  case $1 in
    /usr/bin/time) echo "Debian package time" ;;
    cc) echo "Debian package gcc" ;;
    c++) echo "Debian package g++" ;;
    python3) echo "Debian package python3" ;;
    openssl) echo "Debian package openssl" ;;
    /usr/include/openssl/*) echo "Debian package libssl-dev" ;;
    /usr/include/rapidjson/*) echo "Debian package rapidjson-dev" ;;
    *) echo "see scripts/bootstrap.sh bench" ;;
  esac
}
