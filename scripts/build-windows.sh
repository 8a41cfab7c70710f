#!/usr/bin/env bash
# Builds the Windows programs from this tree:
#   scripts/build-windows.sh              both: build-win32/ and build-win64/
#   scripts/build-windows.sh win32|win64 [folder]
#                                         one of them (into build-win32/ or build-win64/,
#                                         or into folder)
#   scripts/build-windows.sh folder       the 32-bit build into folder
# Installs what it needs (Debian's mingw-w64 cross compilers for i686 and x86_64, zip,
# and Debian's glew source package, for which it adds a deb-src entry), builds the
# Linux mkdata for the resource image (the same bytes on every build) and cross-builds
# each into its folder: mirador720.exe, mirador1080.exe, corepack.exe, the window-less
# test programs (listed in windows_tests.txt), mirador.dat and mirador-win32.zip or
# mirador-win64.zip (the two programs and the data).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
archs=(win32 win64)
folder=""
case "${1:-}" in
  "") ;;
  win32|win64) archs=("$1"); folder=${2:-} ;;
  *) archs=(win32); folder=$1 ;;
esac
# ---- Packages --------------------------------------------------------------------------
PACKAGES=(zip dpkg-dev xz-utils googletest cmake ninja-build)
for arch in "${archs[@]}"; do
  case $arch in
    win32) PACKAGES+=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev) ;;
    win64) PACKAGES+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                      mingw-w64-x86-64-dev) ;;
  esac
done
need_packages "${PACKAGES[@]}" || exit 1

# ---- GLEW from Debian's source package ----------------------------------------------------
# One unpacked source serves both builds: the one already in either build folder, or
# a new one in the first folder built.
outdir() {  # outdir ARCH: the build folder of ARCH
  if [ -n "$folder" ]; then echo "$folder"; else echo "$root/build-$1"; fi
}
glewdir=""
for d in "$(outdir "${archs[0]}")" "$root/build-win32" "$root/build-win64"; do
  glewdir=$(ls -d "$d"/glew-src/glew-*/ 2>/dev/null | head -n1 || true)
  [ -n "$glewdir" ] && [ -f "$glewdir/src/glew.c" ] && break
  glewdir=""
done
if [ -z "$glewdir" ]; then
  if ! apt-get source --print-uris glew >/dev/null 2>&1; then
    # apt-get source needs a deb-src entry for the suites the machine already uses.
    list=/etc/apt/sources.list.d/mirador-deb-src.sources
    echo "$lib_name: adding $list"
    [ "$(id -u)" -ne 0 ] && tee="sudo tee" || tee=tee
    $tee "$list" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt_update
  fi
  glewroot="$(outdir "${archs[0]}")/glew-src"
  rm -rf "$glewroot"
  mkdir -p "$glewroot"
  if ! (cd "$glewroot" && apt-get source -qq glew >"$glewroot.log" 2>&1); then
    echo "$lib_name: cannot fetch glew's source: $(apt_reason "$glewroot.log")"
    exit 1
  fi
  rm -f "$glewroot.log"
  glewdir=$(ls -d "$glewroot"/glew-*/ | head -n1)
fi
glewdir=$(cd "$glewdir" && pwd)
[ -f "$glewdir/src/glew.c" ] || { echo "$lib_name: no src/glew.c in $glewdir"; exit 1; }

# ---- The resource image, made by the Linux mkdata ------------------------------------------
bash "$root/scripts/setup.sh"
linux="$root/build"
cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$linux" --target mirador_data

# ---- The cross builds --------------------------------------------------------------------------
# build_one ARCH: cross-builds ARCH (win32: i686, win64: x86_64) into its folder, checks
# the programs' imports and packs mirador-ARCH.zip.
build_one() {
  local arch=$1 cpu triple out
  case $arch in
    win32) cpu=i686 ;;
    win64) cpu=x86_64 ;;
  esac
  triple=$cpu-w64-mingw32
  out=$(outdir "$arch")
  mkdir -p "$out"
  out=$(cd "$out" && pwd)
  echo "$lib_name: $arch ($triple) in $out"
  cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$cpu.cmake" \
    -DMIRADOR_GLEW_SOURCE="$glewdir" -DMIRADOR_BENCH=OFF >/dev/null
  cmake --build "$out" -j"$(nproc)"
  cp "$linux/mirador.dat" "$out/mirador.dat"

  # Only the DLLs every Windows has.
  local allowed="kernel32.dll user32.dll gdi32.dll opengl32.dll winmm.dll msvcrt.dll" exe dll
  for exe in "$out"/mirador720.exe "$out"/mirador1080.exe "$out"/corepack.exe; do
    for dll in $($triple-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
      case " $allowed " in
        *" $dll "*) ;;
        *) echo "$lib_name: $(basename "$exe") needs $dll, which not every Windows has"; exit 1 ;;
      esac
    done
  done

  # The zip holds the programs without their debug information.
  local stage="$out/zip" zipfile="$out/mirador-$arch.zip"
  rm -rf "$stage" "$zipfile"
  mkdir -p "$stage"
  $triple-strip -o "$stage/mirador720.exe" "$out/mirador720.exe"
  $triple-strip -o "$stage/mirador1080.exe" "$out/mirador1080.exe"
  cp "$out/mirador.dat" "$stage/"
  (cd "$stage" && zip -q -9 "$zipfile" mirador720.exe mirador1080.exe mirador.dat)
  echo "$lib_name: $zipfile ($(stat -c %s "$zipfile") bytes)"
}
for arch in "${archs[@]}"; do
  build_one "$arch"
done
