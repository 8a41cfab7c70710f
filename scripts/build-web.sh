#!/bin/bash
# build-web.sh - the show as a web page: build-web/ with index.html, mirador.js,
# mirador.wasm and the data, a folder any static web server can serve.
#
#   bash scripts/build-web.sh [--tests]
#
# Installs emscripten from Debian when emcc is missing. The module is built from
# the same sources as the programs, with the web backend (platform/platform_web.cpp)
# and its entry program (web/mirador_web.cpp). The data comes from the native
# build (build/mirador.dat; made with scripts/build.sh when missing). What a viewer
# downloads: mirador.js, mirador.wasm, and either the data sent as a small rest
# (mirador-rest.dat.gz) plus the music as FLAC (music.flac), rebuilt exactly by the
# page and checked against its SHA-256, or the plain mirador.dat as the fall-back.
#
# --tests also builds the window-less unit tests that hold golden hashes as node
# programs (build-web/tests/*.js), which scripts/test-web.sh runs.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=${MIRADOR_WEB_OUT:-$ROOT/build-web}
WANT_TESTS=0
[ "${1:-}" = "--tests" ] && WANT_TESTS=1

need_apt=()
command -v emcc >/dev/null || need_apt+=(emscripten)
command -v flac >/dev/null || need_apt+=(flac)
if [ ${#need_apt[@]} -gt 0 ]; then
  echo "build-web: installing ${need_apt[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need_apt[@]}" >/dev/null
fi
# emcc runs its JavaScript steps with node; a node that is not Debian's lacks the
# modules emscripten needs (acorn), and emscripten wants Debian's python.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
[ -x /usr/bin/python3 ] && export EMSDK_PYTHON=${EMSDK_PYTHON:-/usr/bin/python3}

mkdir -p "$OUT/obj"
# The library's sources (as CMake's glob takes them, without the programs' entry)
# and the web backend with the pieces it shares with the other backends.
SOURCES=$(ls corefile/*.cpp engine/*.cpp sound/*.cpp demo/*.cpp | grep -v '^demo/entry\.cpp$')
SOURCES="$SOURCES platform/platform_web.cpp platform/platform_common.cpp platform/platform_posix.cpp"
# GL entry points are plain functions here, never null: their tests are always true.
CXXFLAGS="-O2 -std=c++17 -Wall -Wextra -Wno-pointer-bool-conversion -ffp-contract=off -fno-fast-math -I$ROOT"

# One Makefile does the compiling: only what changed is built again, two at a time.
objs() { for s in "$@"; do echo "obj/$(echo "$s" | tr / _ | sed 's/\.cpp$/.o/')"; done; }
{
  echo "CXX = em++"
  echo "CXXFLAGS = $CXXFLAGS"
  for s in $SOURCES web/mirador_web.cpp; do
    o=$(objs "$s")
    echo "$o: $ROOT/$s"
    printf '\t$(CXX) $(CXXFLAGS) -MMD -MP -c $< -o $@\n'
  done
  echo "-include obj/*.d"
} > "$OUT/Makefile"
LIBOBJS=$(objs $SOURCES)
make -s -C "$OUT" -j2 $LIBOBJS "$(objs web/mirador_web.cpp)"

EXPORTS='["_main","_malloc","_free","_mirador_web_scene","_mirador_web_framecount","_mirador_web_missing",'
EXPORTS+='"_mirador_web_grab","_mirador_web_width","_mirador_web_height","_mirador_web_close",'
EXPORTS+='"_plat_web_audio_block","_plat_web_audio_pull","_plat_web_audio_mixed"]'
# Linked to a .js (emcc 3.1.6 fails writing its own HTML at -O2); the page is ours.
(cd "$OUT" && em++ -O2 $LIBOBJS "$(objs web/mirador_web.cpp)" -o mirador.js \
  -sLEGACY_GL_EMULATION=1 -lGL -lEGL \
  -sMODULARIZE=1 -sEXPORT_NAME=createMirador -sINVOKE_RUN=0 -sEXIT_RUNTIME=0 \
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728 -sENVIRONMENT=web \
  -sEXPORTED_FUNCTIONS="$EXPORTS" -sEXPORTED_RUNTIME_METHODS='["callMain","FS","HEAPU8","HEAPF32"]')

# The page, and the data.
cp web/index.html web/mirador.css web/mirador-page.js "$OUT/"
DAT=$ROOT/build/mirador.dat
if [ ! -f "$DAT" ]; then
  echo "build-web: no build/mirador.dat: building it (scripts/build.sh)"
  bash scripts/build.sh >/dev/null
fi
cp "$DAT" "$OUT/mirador.dat"
python3 web/pack_music.py "$OUT/mirador.dat" "$OUT"

if [ $WANT_TESTS = 1 ]; then
  bash scripts/build-web-tests.sh "$OUT"
fi

sz() { stat -c %s "$1"; }
echo "build-web: $OUT: mirador.wasm $(sz "$OUT/mirador.wasm") bytes, mirador.js $(sz "$OUT/mirador.js") bytes, mirador.dat $(sz "$OUT/mirador.dat") bytes"
[ -f "$OUT/music.flac" ] && echo "build-web: sent as mirador-rest.dat.gz $(sz "$OUT/mirador-rest.dat.gz") + music.flac $(sz "$OUT/music.flac") bytes"
exit 0
