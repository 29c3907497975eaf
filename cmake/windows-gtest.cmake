# GoogleTest for the Windows build: Debian's libgtest-dev ships its sources, compiled here with
# the mingw-w64 compiler (no network, no second copy of the sources). Its own build names its
# targets GTest::gtest and GTest::gtest_main, as find_package(GTest) does on Linux.
set(KV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's libgtest-dev)")
if(NOT EXISTS ${KV_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "no GoogleTest sources in ${KV_GTEST_SOURCE}: run scripts/setup.sh")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${KV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
