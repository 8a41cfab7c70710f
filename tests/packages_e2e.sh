#!/usr/bin/env bash
# The scripts' package installs (scripts/lib.sh) when the outside world fails, run
# against a package mirror of the test's own, never the machine's: apt-get reads a
# configuration (APT_CONFIG) whose sources, indexes, cache and dpkg status are all
# in the scratch folder, and whose dpkg is a stand-in that only writes down what it
# was asked (first on PATH too, for the architecture calls). The sources are a local
# file mirror holding one package, a source that cannot be fetched
# (127.0.0.1 port 9, where nothing listens), and one whose index does not match
# its Release file (a mirror in the middle of a sync):
#   - the index that does not match makes apt-get update fail; that is said, and
#     the package from the sound mirror still installs;
#   - a package no index has: one line naming it and apt's reason, the others of
#     the same call not blamed;
#   - a package listed whose file is gone: tried again, then named with apt's
#     reason;
#   - packages of an architecture dpkg did not have: it is added for them and,
#     since they cannot be had, removed again;
#   - a package already installed: nothing runs.
# The machine's /etc/apt and dpkg's architectures are checked unchanged.
# Usage: packages_e2e.sh <builddir> <sourcedir>
set -u
src=$(cd "$2" && pwd)
fail() { echo "FAIL: $*"; [ -n "${out:-}" ] && printf '%s\n' "$out" | tail -n 20; exit 1; }
for tool in apt-get dpkg-deb dpkg-scanpackages; do
    command -v "$tool" >/dev/null || fail "needs $tool"
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

machine() {  # what of the machine's package manager the helper could have changed
    { find /etc/apt -type f -exec md5sum {} + | sort; /usr/bin/dpkg --print-foreign-architectures; } 2>/dev/null
}
before=$(machine)

# The local mirror: mirador-test-good, and mirador-test-gone whose file is removed
# after the index is made.
mkdir -p "$tmp/mirror"
for p in mirador-test-good mirador-test-gone; do
    mkdir -p "$tmp/pkg/$p/DEBIAN"
    printf 'Package: %s\nVersion: 1.0\nArchitecture: all\nMaintainer: Mirador tests <t@localhost>\nDescription: test package\n' \
        "$p" > "$tmp/pkg/$p/DEBIAN/control"
    dpkg-deb -Zgzip --build "$tmp/pkg/$p" "$tmp/mirror/${p}_1.0_all.deb" >/dev/null || fail "dpkg-deb $p"
done
(cd "$tmp/mirror" && dpkg-scanpackages . /dev/null 2>/dev/null > Packages) || fail "dpkg-scanpackages"
rm "$tmp/mirror/mirador-test-gone_1.0_all.deb"

mkdir -p "$tmp/bin" "$tmp/lists/partial" "$tmp/cache/archives/partial" "$tmp/parts" "$tmp/log" "$tmp/prefs.d"
: > "$tmp/status"
: > "$tmp/foreign"
# A mirror in the middle of a sync: its Release file gives another size and hash
# for its index than the index has.
mkdir -p "$tmp/syncing"
printf 'Package: mirador-test-syncing\nVersion: 1.0\nArchitecture: all\nFilename: ./s.deb\nSize: 10\nDescription: s\n\n' \
    > "$tmp/syncing/Packages"
printf 'Origin: t\nLabel: t\nSuite: t\nCodename: t\nDate: Wed, 09 Dec 2026 00:00:00 UTC\nSHA256:\n %s 999 Packages\n' \
    "$(printf other | sha256sum | cut -d' ' -f1)" > "$tmp/syncing/Release"
cat > "$tmp/sources.list" <<EOF
deb [trusted=yes] file:$tmp/mirror ./
deb [trusted=yes] file:$tmp/syncing ./
deb [trusted=yes] http://127.0.0.1:9/debian bookworm main
EOF
# The stand-in dpkg: the architectures in $tmp/foreign, every other call written down.
cat > "$tmp/bin/dpkg" <<EOF
#!/bin/sh
case "\$1" in
  --print-architecture) exec /usr/bin/dpkg --print-architecture ;;
  --print-foreign-architectures) cat "$tmp/foreign"; exit 0 ;;
  --add-architecture) echo "\$2" >> "$tmp/foreign" ;;
  --remove-architecture) grep -vx "\$2" "$tmp/foreign" > "$tmp/foreign.new"; mv "$tmp/foreign.new" "$tmp/foreign" ;;
  --assert-*) exit 0 ;;
esac
echo "\$*" >> "$tmp/dpkg.log"
exit 0
EOF
# Not root: the helper's sudo runs the command as it is (the folders are ours).
printf '#!/bin/sh\nexec "$@"\n' > "$tmp/bin/sudo"
chmod +x "$tmp/bin/dpkg" "$tmp/bin/sudo"
cat > "$tmp/apt.conf" <<EOF
Dir::Etc::sourcelist "$tmp/sources.list";
Dir::Etc::sourceparts "$tmp/parts";
Dir::Etc::preferencesparts "$tmp/prefs.d";
Dir::State::lists "$tmp/lists";
Dir::State::status "$tmp/status";
Dir::State::extended_states "$tmp/extended_states";
Dir::Cache "$tmp/cache";
Dir::Log "$tmp/log";
Dir::Bin::dpkg "$tmp/bin/dpkg";
APT::Sandbox::User "root";
Debug::NoLocking "true";
Acquire::http::Timeout "5";
Acquire::Retries::Delay "false";
#clear DPkg::Pre-Invoke;
#clear DPkg::Post-Invoke;
#clear DPkg::Pre-Install-Pkgs;
#clear APT::Update::Pre-Invoke;
#clear APT::Update::Post-Invoke;
#clear APT::Update::Post-Invoke-Success;
EOF

# helper FUNCTION PACKAGE...: the helper in a script of its own ("packages"), with
# its output in $out and its status, need_failed and need_why in the last line.
helper() {
    out=$(cd "$tmp" && APT_CONFIG="$tmp/apt.conf" PATH="$tmp/bin:$PATH" MIRADOR_APT_RETRY_S=0 \
        bash -c '. "$1/scripts/lib.sh"; shift; "$@"; echo "rc=$? failed=[$need_failed] why=[$need_why]"' \
        packages "$src" "$@" 2>&1)
}
has() { printf '%s\n' "$out" | grep -qE "$1" || fail "$2"; }

# 1. The index that does not match makes apt-get update fail (exit 100); the
# package still installs from the mirror that is sound.
helper need_packages mirador-test-good
has '^rc=0 ' "mirador-test-good was not installed"
has 'apt-get update could not fetch every index, going on with those there are: Failed to fetch file:.*/syncing/.*Hash Sum mismatch' \
    "apt-get update's failure was not said"
grep -q 'mirador-test-good_1.0_all.deb' "$tmp/dpkg.log" 2>/dev/null || fail "dpkg was not given mirador-test-good"

# 2. A package no index has: named alone, with apt's reason, in one line.
helper need_packages mirador-test-good mirador-test-none
has '^rc=1 failed=\[mirador-test-none\] why=\[Unable to locate package mirador-test-none\]$' \
    "a missing package was not named with apt's reason"
[ "$(printf '%s\n' "$out" | grep -c 'cannot install')" -eq 1 ] || fail "not one line for the missing package"
has '^packages: cannot install mirador-test-none: Unable to locate package mirador-test-none$' \
    "the line does not name the package and apt's reason"

# 3. A package whose file cannot be fetched: three tries, then named.
: > "$tmp/dpkg.log"
helper need_packages mirador-test-gone
has '^rc=1 failed=\[mirador-test-gone\] why=\[.*mirador-test-gone_1\.0_all\.deb' \
    "a package that could not be fetched was not named with apt's reason"
[ "$(printf '%s\n' "$out" | grep -c 'apt-get update could not fetch')" -eq 3 ] || fail "not tried three times"
[ ! -s "$tmp/dpkg.log" ] || fail "dpkg was run for a package that was not fetched"

# 4. Another architecture's packages that cannot be had: the architecture goes again.
helper need_foreign_packages i386 mirador-test-good:i386
has '^rc=1 failed=\[mirador-test-good:i386\] why=\[.*mirador-test-good:i386' \
    "the other architecture's package was not named"
has 'adding the i386 architecture' "the architecture was not added"
has 'removed the i386 architecture again' "the architecture was not removed"
[ ! -s "$tmp/foreign" ] || fail "the architecture stayed: $(cat "$tmp/foreign")"

# 5. Installed already: apt-get does not run.
helper need_packages bash
has '^rc=0 failed=\[\] why=\[\]$' "an installed package failed"
printf '%s\n' "$out" | grep -q installing && fail "apt-get ran for an installed package"

[ "$(machine)" = "$before" ] || fail "the machine's package manager changed"
echo "PASS: the package helper on a mirror that fails"
