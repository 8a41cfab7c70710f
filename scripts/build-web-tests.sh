#!/bin/bash
# build-web-tests.sh - the window-less unit tests that hold golden hashes (effects,
# TGA, WAV, mixer, resource image), built with emscripten as node programs:
# build-web/tests/<name>.js. Run by scripts/build-web.sh --tests, with the build folder.
#
# The tests read their data through node's own file system, under the paths of
# this machine; they link the window-less backend
# (platform_null.cpp) and GoogleTest from Debian's source package (googletest).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$1
TESTS="effects_golden_test tga_decode_test tga_load_test sound_wav_test sound_mixer_test corefile_image_test"
GTEST=/usr/src/googletest/googletest
if [ ! -f $GTEST/src/gtest-all.cc ]; then
  echo "build-web: installing googletest (GoogleTest's sources)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q googletest >/dev/null
fi
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
[ -x /usr/bin/python3 ] && export EMSDK_PYTHON=${EMSDK_PYTHON:-/usr/bin/python3}
mkdir -p "$OUT/tests"
# The library again, built with threads (the window-less backend's silent audio
# player is one), in objects of its own.
SRCS=$(ls corefile/*.cpp engine/*.cpp sound/*.cpp demo/*.cpp | grep -v '^demo/entry\.cpp$')
SRCS="$SRCS platform/platform_null.cpp platform/platform_common.cpp platform/platform_posix.cpp tests/testutil_os.cpp"
for t in $TESTS; do SRCS="$SRCS tests/$t.cpp"; done
TFLAGS="-O2 -pthread -std=c++17 -ffp-contract=off -fno-fast-math -Wno-pointer-bool-conversion -I$ROOT -I$ROOT/tests -I$GTEST/include -I$GTEST"
tobj() { echo "tests/obj/$(echo "$1" | tr / _ | sed 's/\.c[cp]*$/.o/')"; }
mkdir -p "$OUT/tests/obj"
{
  echo "CXX = em++"
  echo "TFLAGS = $TFLAGS"
  echo "TFLAGS += '-DTEST_DATA_DIR=\"$ROOT/tests/data\"' '-DBUILD_DIR=\"$ROOT/build\"' '-DSOURCE_DIR=\"$ROOT\"'"
  for s in $SRCS; do
    printf '%s: %s\n\t$(CXX) $(TFLAGS) -MMD -MP -c $< -o $@\n' "$(tobj $s)" "$ROOT/$s"
  done
  for s in gtest-all.cc gtest_main.cc; do
    printf '%s: %s\n\t$(CXX) $(TFLAGS) -c $< -o $@\n' "$(tobj $s)" "$GTEST/src/$s"
  done
  echo "-include tests/obj/*.d"
} > "$OUT/Makefile.tests"
ALL=""
for s in $SRCS gtest-all.cc gtest_main.cc; do ALL="$ALL $(tobj $s)"; done
make -s -C "$OUT" -f Makefile.tests -j2 $ALL
COMMON=""
for s in $SRCS gtest-all.cc gtest_main.cc; do
  case $s in tests/*_test.cpp) ;; *) COMMON="$COMMON $(tobj $s)" ;; esac
done
# The machine's own files appear under the same paths (the repository mounted from
# node's file system); /tmp and the rest are the program's own memory file system,
# where standard output can be redirected into a file (the tests capture it).
cat > "$OUT/tests/mount.js" <<JS
Module.preRun = Module.preRun || [];
Module.preRun.push(function () {
  var root = "$ROOT", path = "";
  root.split("/").filter(Boolean).forEach(function (p) {
    path += "/" + p;
    try { FS.mkdir(path); } catch (e) {}
  });
  FS.mount(NODEFS, { root: root }, root);
  try { FS.chdir(root + "/build"); } catch (e) { FS.chdir(root); }
});
JS
for t in $TESTS; do
  (cd "$OUT" && em++ -O2 -pthread $(tobj tests/$t.cpp) $COMMON -o tests/$t.js \
    -lnodefs.js --pre-js tests/mount.js -sPTHREAD_POOL_SIZE=4 -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=268435456 \
    -sENVIRONMENT=node,worker -sEXIT_RUNTIME=1 -Wno-pthreads-mem-growth)
done
echo "$TESTS" > "$OUT/tests/list.txt"
