# The whole-program tests of the Windows build: the 32-bit KVUpdater.exe under the chroot's
# Wine, run by the host build's e2e harness (a native program can't be built here), which
# reads what to run from wine-e2e.txt (see tests/support/e2e.h). The scenarios are the host
# build's but those that rest on what only POSIX has, and the cross-check of both builds.

# The program with the test key built in, and a program that prints Wine's text for an error.
add_executable(KVUpdater_keyed.exe ${PROJECT_SOURCE_DIR}/app/main.cpp)
target_link_libraries(KVUpdater_keyed.exe PRIVATE kvupdaterform kvpresentation kvversionrecord
                                                  kvupdaterresources)
target_link_options(KVUpdater_keyed.exe PRIVATE -mwindows)
set_target_properties(KVUpdater_keyed.exe PROPERTIES OUTPUT_NAME "KVUpdater_keyed" SUFFIX ".exe")
kv_trust_site_keys(KVUpdater_keyed.exe ${CMAKE_CURRENT_SOURCE_DIR}/keys/built_in.pub)
add_executable(error_text error_text.c)

set(KV_E2E_WINE ${CMAKE_CURRENT_BINARY_DIR}/wine-e2e.txt)
file(GENERATE OUTPUT ${KV_E2E_WINE} CONTENT "updater=$<TARGET_FILE:KVUpdater.exe>
keyed=$<TARGET_FILE:KVUpdater_keyed.exe>
launcher=${KV_WINE_SCRIPTS}/wine32.sh -p ${KV_WINEPREFIX}
errortext=$<TARGET_FILE:error_text>
")

set(KV_NATIVE_BUILD "" CACHE PATH "The host build whose e2e harness runs the Windows program")
set(harness ${KV_NATIVE_BUILD}/tests/e2e)
if(NOT EXISTS ${harness}/e2e_test)
  message(WARNING "no e2e harness in ${harness}: build the default preset first, or the Windows "
                  "build's whole-program tests fail as not built")
endif()
# What POSIX alone has: links and FIFOs of the host's making, a file size limit, an open hook
# on the staging folder (fanotify), SIGKILL and power cuts on loop-mounted file systems.
set(filter_e2e_test "CrossCheck.*:UpdateFromUrl.*:UpdateFromPath.*:Startup.*:Failures.*:SelfUpdate.*:TreeInstall.*-UpdateFromUrl.ProductFilesThatAreLinksAreReplacedNeverFollowed:UpdateFromUrl.NamesThatAreNoRegularFilesNeverHoldTheRun:Failures.FileSizeLimitFailsTheWriteNotTheProcess:SelfUpdate.ATargetThatCannotBeReplacedIsTriedForTheWholeWindowThenReported")
set(filter_e2e_signed_test "SignedSite.*-SignedSite.VerifiedNewUpdaterIsStartedAsItCameOut")
foreach(name e2e_test e2e_signed_test)
  add_executable(native_${name} IMPORTED)
  set_target_properties(native_${name} PROPERTIES IMPORTED_LOCATION ${harness}/${name}
                                                  CROSSCOMPILING_EMULATOR "")
  gtest_discover_tests(native_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       TEST_PREFIX "wine." TEST_FILTER ${filter_${name}}
                       PROPERTIES ENVIRONMENT KV_E2E_WINE=${KV_E2E_WINE} FIXTURES_REQUIRED wine
                                  TIMEOUT 900)
endforeach()
