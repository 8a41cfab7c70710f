#!/usr/bin/env bash
# Mirador started from anywhere: the build's mirador720 run from another folder
# finds the data beside itself; `cmake --install` into a scratch prefix and the
# Debian package (`cpack -G DEB`, unpacked with `dpkg -x`) each give programs that
# find the installed data and show the intro when started from /; the package
# depends on the SDL2, GLEW and GL libraries, its desktop entry is valid and its
# icons are there. The installed capture finds the installed data as well.
# Usage: install_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
. "$2/tests/e2e_lib.sh"
e2e_begin "$build/mirador720" xdotool import convert identify cmake cpack dpkg-deb desktop-file-validate

# mounted <log> <path>: the mount line names the image it used.
mounted() { grep -qx "Loading resource image: $2" "$1" || fail "did not mount $2: $(grep -m1 'Loading resource' "$1")"; }

# 1. From another folder: the data beside the program.
mkdir -p "$tmp/elsewhere"
run_until_escape beside "$tmp/elsewhere" "$build/mirador720"
mounted "$log" "$build/mirador.dat"
not_black beside

# 2. Installed into a prefix, started from /.
cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" || fail "cmake --install failed"
for f in bin/mirador720 bin/mirador1080 bin/corepack share/mirador/mirador.dat \
         share/applications/mirador.desktop; do
    [ -e "$tmp/prefix/$f" ] || fail "install: no $f"
done
run_until_escape prefix / "$tmp/prefix/bin/mirador720"
mounted "$log" "$tmp/prefix/share/mirador/mirador.dat"
not_black prefix
# The capture, where it is built, finds the installed data too.
if [ -x "$build/mirador-capture" ]; then
    log=$tmp/capture.log
    (cd / && env -u DISPLAY "$tmp/prefix/bin/mirador-capture" --size 480x270 --periods 2-2 "$tmp/c.mkv") \
        >"$log" 2>&1 || fail "installed mirador-capture failed"
    mounted "$log" "$tmp/prefix/share/mirador/mirador.dat"
    [ -s "$tmp/c.mkv" ] || fail "installed mirador-capture wrote nothing"
fi

# 3. The Debian package, unpacked with dpkg -x, started from /.
cpack -G DEB -B "$tmp/pkg" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; fail "cpack failed"; }
deb=$(ls "$tmp"/pkg/mirador_*_amd64.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no mirador_<version>_amd64.deb"
deps=$(dpkg-deb -f "$deb" Depends)
echo "package: $(basename "$deb"), Depends: $deps"
for lib in libsdl2 libglew libopengl0 libglx0; do
    case "$deps" in *"$lib"*) ;; *) fail "Depends does not name $lib";; esac
done
dpkg-deb -x "$deb" "$tmp/x"
desktop-file-validate "$tmp/x/usr/share/applications/mirador.desktop" || fail "desktop entry not valid"
for size in 16 22 24 32 48 64 128 256; do
    icon=$tmp/x/usr/share/icons/hicolor/${size}x${size}/apps/mirador.png
    [ "$(identify -format %wx%h "$icon" 2>/dev/null)" = "${size}x${size}" ] || fail "no ${size}x${size} icon"
done
run_until_escape package / "$tmp/x/usr/bin/mirador720"
mounted "$log" "$tmp/x/usr/share/mirador/mirador.dat"
not_black package
exit 0
