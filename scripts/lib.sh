# lib.sh - what the scripts in scripts/ share, sourced by each of them:
#   . "$(dirname "$0")/lib.sh"
# It sets `root` (the repository) and `lib_name` (the script's name, which starts
# every line it prints) and gives:
#
#   need_packages PACKAGE...   installs the Debian packages of the list that are not
#                              installed yet (PACKAGE may name an architecture,
#                              wine32:i386). 0 when all are there. Else 1, after one
#                              line naming the package and apt's reason, which also
#                              stay in need_failed and need_why.
#   need_foreign_packages ARCH PACKAGE...
#                              the same for packages of another architecture (i386):
#                              adds ARCH to dpkg's when it is not there, and where
#                              the packages cannot be had removes it again, leaving
#                              the package manager as it was found.
#   report "HOW: TEXT"         a stage's closing line, HOW full, part or skipped;
#                              printed with the time since the script began, and
#                              appended to the file MIRADOR_STAGE_REPORT names, from
#                              which scripts/test.sh takes each stage's result.
#
# An index that fails to download (apt-get update's exit 100, as for a mirror in the
# middle of a sync whose index does not match its Release file) is said and is no
# failure by itself: what counts is whether the packages install from the indexes
# there are. An install that fails for a passing reason (a download) is tried again,
# up to three times, 10 and 20 s apart (MIRADOR_APT_RETRY_S sets the step); one whose
# package the indexes do not know, or whose dependencies cannot be met, is not.
# Runs apt-get as root (through sudo when not root); APT_CONFIG, when set, reaches
# it (tests/packages_e2e.sh points apt at a mirror of its own).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lib_name=$(basename "$0" .sh)
lib_started=$(date +%s)
need_failed=""
need_why=""

# as_root COMMAND...: COMMAND as root (through sudo when not root).
as_root() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

# apt_get ARGS...: apt-get as root, never asking, with its own download retries.
apt_get() {
  as_root env DEBIAN_FRONTEND=noninteractive ${APT_CONFIG:+APT_CONFIG="$APT_CONFIG"} \
    apt-get -q -o Acquire::Retries=3 "$@"
}

# apt_reason FILE: apt's own line for what went wrong in its output FILE (the first
# error, else the first warning, else the last line), without its "E: " mark; for
# dependencies it cannot meet, with the first it names.
apt_reason() {
  local line dep
  line=$(grep -m1 '^E: ' "$1" || grep -m1 '^W: ' "$1" || grep -v '^ *$' "$1" | tail -n 1 || true)
  line=${line#E: }
  line=${line#W: }
  dep=$(grep -m1 -E '^ +[^ ]+ : (Pre)?Depends: ' "$1" | sed 's/^ *//; s/  */ /g' || true)
  if [ -n "$dep" ]; then line="${line%.}: $dep"; fi
  printf '%s' "$line"
}

# apt_update: the package indexes, fetched again; a failure is said, and is not one.
apt_update() {
  local log
  log=$(mktemp /tmp/mirador-apt.XXXXXX)
  if ! apt_get update >"$log" 2>&1; then
    echo "$lib_name: apt-get update could not fetch every index, going on with those there are: $(apt_reason "$log")"
  fi
  rm -f "$log"
}

need_packages() {
  local p missing=() log try
  need_failed=""
  need_why=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then return 0; fi
  echo "$lib_name: installing ${missing[*]}"
  log=$(mktemp /tmp/mirador-apt.XXXXXX)
  for try in 1 2 3; do
    apt_update
    if apt_get install -y --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    grep -qE "^E: (Unable to locate package|Package '.*' has no installation candidate|Couldn't find any package|Unable to correct problems)" "$log" &&
      break
    if [ "$try" -lt 3 ]; then sleep $((try * ${MIRADOR_APT_RETRY_S:-10})); fi
  done
  need_why=$(apt_reason "$log")
  # The packages apt names (in its line, in a file it could not fetch, or in the
  # dependencies it could not meet), else the whole list.
  local name
  for p in "${missing[@]}"; do
    name=$(printf '%s' "${p%%:*}" | sed 's/[.+]/\\&/g')
    if printf '%s\n' "$need_why" | grep -qE "(^|[ '/])$name([: '_]|$)" ||
       grep -qE "^ +$name(:[a-z0-9]+)? : " "$log"; then
      need_failed+="${need_failed:+ }$p"
    fi
  done
  [ -n "$need_failed" ] || need_failed="${missing[*]}"
  rm -f "$log"
  echo "$lib_name: cannot install $need_failed: $need_why"
  return 1
}

need_foreign_packages() {
  local arch=$1 added=0
  shift
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    echo "$lib_name: adding the $arch architecture"
    as_root dpkg --add-architecture "$arch"
    added=1
  fi
  need_packages "$@" && return 0
  if [ "$added" -eq 1 ]; then
    if as_root dpkg --remove-architecture "$arch"; then
      echo "$lib_name: removed the $arch architecture again"
    else
      echo "$lib_name: the $arch architecture stays: packages of it are installed"
    fi
  fi
  return 1
}

report() {
  echo "$lib_name: $1 ($(( $(date +%s) - lib_started )) s)"
  if [ -n "${MIRADOR_STAGE_REPORT:-}" ]; then echo "$1" >> "$MIRADOR_STAGE_REPORT"; fi
}
