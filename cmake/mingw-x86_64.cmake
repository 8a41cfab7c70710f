# Toolchain for the Windows programs: 64-bit x86 (x86_64) with Debian's mingw-w64
# cross compilers (cmake/mingw.cmake).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake ...
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
