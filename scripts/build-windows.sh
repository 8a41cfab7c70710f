#!/usr/bin/env bash
# Builds the Windows programs from this tree: scripts/build-windows.sh [folder]
# Installs what it needs (Debian's mingw-w64 cross compilers, zip, and Debian's
# glew source package, for which it adds a deb-src entry), builds the Linux mkdata
# for the resource image (the same bytes on every build) and cross-builds into
# build-win32/: mirador720.exe, mirador1080.exe, corepack.exe, the window-less test
# programs, mirador.dat and mirador-win32.zip (the two programs and the data).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-win32}
mkdir -p "$out"
out=$(cd "$out" && pwd)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# ---- Packages --------------------------------------------------------------------------
PACKAGES=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
          zip dpkg-dev xz-utils googletest cmake ninja-build)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build-windows: installing ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# ---- GLEW from Debian's source package ----------------------------------------------------
glewroot="$out/glew-src"
glewdir=$(ls -d "$glewroot"/glew-*/ 2>/dev/null | head -n1 || true)
if [ -z "$glewdir" ] || [ ! -f "$glewdir/src/glew.c" ]; then
  if ! apt-get source --print-uris glew >/dev/null 2>&1; then
    # apt-get source needs a deb-src entry for the suites the machine already uses.
    list=/etc/apt/sources.list.d/mirador-deb-src.sources
    echo "build-windows: adding $list"
    $SUDO tee "$list" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    $SUDO apt-get update -qq
  fi
  rm -rf "$glewroot"
  mkdir -p "$glewroot"
  (cd "$glewroot" && apt-get source -qq glew >/dev/null 2>&1)
  glewdir=$(ls -d "$glewroot"/glew-*/ | head -n1)
fi
glewdir=${glewdir%/}
[ -f "$glewdir/src/glew.c" ] || { echo "build-windows: no src/glew.c in $glewdir"; exit 1; }

# ---- The resource image, made by the Linux mkdata ------------------------------------------
bash "$root/scripts/setup.sh"
linux="$root/build"
cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$linux" --target mirador_data

# ---- The cross build ---------------------------------------------------------------------------
cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DMIRADOR_GLEW_SOURCE="$glewdir" -DMIRADOR_BENCH=OFF >/dev/null
cmake --build "$out" -j"$(nproc)"
cp "$linux/mirador.dat" "$out/mirador.dat"

# Only the DLLs every Windows has.
allowed="kernel32.dll user32.dll gdi32.dll opengl32.dll winmm.dll msvcrt.dll"
for exe in "$out"/mirador720.exe "$out"/mirador1080.exe "$out"/corepack.exe; do
  for dll in $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
    case " $allowed " in
      *" $dll "*) ;;
      *) echo "build-windows: $(basename "$exe") needs $dll, which not every Windows has"; exit 1 ;;
    esac
  done
done

# The zip holds the programs without their debug information.
stage="$out/zip"
rm -rf "$stage" "$out/mirador-win32.zip"
mkdir -p "$stage"
i686-w64-mingw32-strip -o "$stage/mirador720.exe" "$out/mirador720.exe"
i686-w64-mingw32-strip -o "$stage/mirador1080.exe" "$out/mirador1080.exe"
cp "$out/mirador.dat" "$stage/"
(cd "$stage" && zip -q -9 "$out/mirador-win32.zip" mirador720.exe mirador1080.exe mirador.dat)
echo "build-windows: $out/mirador-win32.zip ($(stat -c %s "$out/mirador-win32.zip") bytes)"
