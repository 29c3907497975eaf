# 64-bit Windows (PE32+) with Debian's mingw-w64, POSIX threads, linked statically. Its programs
# run under the host's wine64 through scripts/wine64.sh, with the build folder's own prefix; a
# ctest fixture keeps that prefix's wineserver running (scripts/wine_server.sh start|stop 64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KV_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(KV_WINE_WIDTH 64)
set(KV_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_WINE_SCRIPTS}/wine64.sh -p ${KV_WINEPREFIX})
