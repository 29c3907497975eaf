# 32-bit Windows (PE32) with Debian's mingw-w64, POSIX threads, linked statically so that a
# program imports only system DLLs. Its programs run under the i386 chroot's Wine through
# scripts/wine32.sh, with the build folder's own prefix; a ctest fixture keeps that prefix's
# wineserver running (scripts/wine_server.sh start|stop 32 ${KV_WINEPREFIX}).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KV_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(KV_WINE_WIDTH 32)
set(KV_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_WINE_SCRIPTS}/wine32.sh -p ${KV_WINEPREFIX})
