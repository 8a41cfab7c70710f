#!/bin/bash
# build-web.sh - the show as a web page: build-web/ with index.html, mirador.js,
# mirador.wasm and the data, a folder any static web server can serve.
#
#   bash scripts/build-web.sh [--tests]
#
# Installs emscripten and flac from Debian when missing (and googletest's sources
# for --tests). The module is built by CMake
# (emcmake) from the same sources as the programs, with the web backend
# (platform/platform_web.cpp) and the page's program (web/mirador_web.cpp). The data comes from the native
# build (build/mirador.dat; made with scripts/build.sh when missing). What a viewer
# downloads: mirador.js, mirador.wasm, and either the data sent as a small rest
# (mirador-rest.dat.gz) plus the music as FLAC (music.flac), rebuilt exactly by the
# page and checked against its SHA-256, or the plain mirador.dat as the fall-back.
#
# --tests also builds the window-less unit tests that hold golden hashes as node
# programs (build-web/tests/*.js, listed in build-web/tests/list.txt), which
# scripts/test-web.sh runs.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
cd "$root"
ROOT=$root
OUT=${MIRADOR_WEB_OUT:-$ROOT/build-web}
WANT_TESTS=0
[ "${1:-}" = "--tests" ] && WANT_TESTS=1

packages=(emscripten flac)
[ $WANT_TESTS = 1 ] && packages+=(googletest)
need_packages "${packages[@]}" || exit 1
# emcc runs its JavaScript steps with node; a node that is not Debian's lacks the
# modules emscripten needs (acorn), and emscripten wants Debian's python.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
[ -x /usr/bin/python3 ] && export EMSDK_PYTHON=${EMSDK_PYTHON:-/usr/bin/python3}

mkdir -p "$OUT"
# The module: the root CMakeLists.txt with emscripten's toolchain (emcmake) picks the
# web backend and builds only web/'s target, mirador.js and mirador.wasm, into $OUT.
if [ ! -f "$OUT/cmake/CMakeCache.txt" ]; then
  emcmake cmake -S "$ROOT" -B "$OUT/cmake" -DCMAKE_BUILD_TYPE=Release -DMIRADOR_WEB_OUT="$OUT" > /dev/null
fi
cmake --build "$OUT/cmake" -j2 --target mirador-web

# The page, and the data.
cp web/index.html web/mirador.css web/mirador-page.js "$OUT/"
DAT=$ROOT/build/mirador.dat
if [ ! -f "$DAT" ]; then
  echo "build-web: no build/mirador.dat: building it (scripts/build.sh)"
  bash scripts/build.sh >/dev/null
fi
cp "$DAT" "$OUT/mirador.dat"
python3 web/pack_music.py "$OUT/mirador.dat" "$OUT"

# The node tests: the same CMake description configured again with
# MIRADOR_NODE_TESTS (the window-less backend, with threads), into $OUT/node; the
# programs land in $OUT/tests with their list (tests/CMakeLists.txt).
if [ $WANT_TESTS = 1 ]; then
  if [ ! -f "$OUT/node/CMakeCache.txt" ]; then
    emcmake cmake -S "$ROOT" -B "$OUT/node" -DCMAKE_BUILD_TYPE=Release -DMIRADOR_NODE_TESTS=ON \
      -DMIRADOR_WEB_OUT="$OUT" -DMIRADOR_NATIVE_BUILD="$ROOT/build" > /dev/null
  fi
  cmake --build "$OUT/node" -j2
fi

sz() { stat -c %s "$1"; }
echo "build-web: $OUT: mirador.wasm $(sz "$OUT/mirador.wasm") bytes, mirador.js $(sz "$OUT/mirador.js") bytes, mirador.dat $(sz "$OUT/mirador.dat") bytes"
[ -f "$OUT/music.flac" ] && echo "build-web: sent as mirador-rest.dat.gz $(sz "$OUT/mirador-rest.dat.gz") + music.flac $(sz "$OUT/music.flac") bytes"
exit 0
