# The whole-program tests of the Windows build that need windows, run by the host build's
# harnesses with the 32-bit program on the Wine desktop that has a display of its own
# (scripts/wine_desktop.sh), one at a time: the main window through whole runs
# (tests/qt/whole_run_test.cpp: caption, icon, bars and log moving, a screenshot into this build
# folder, closing, "/autoexit", silent runs) and a run with the product's programs running,
# played by the Windows stand-in (e2e_process_test.cpp). What to run is read from
# wine-desktop.txt (see tests/support/e2e.h).
set(KV_E2E_DESKTOP ${CMAKE_CURRENT_BINARY_DIR}/wine-desktop.txt)
string(JOIN " " launcher ${KV_DESKTOP_EMULATOR})
file(GENERATE OUTPUT ${KV_E2E_DESKTOP} CONTENT "updater=$<TARGET_FILE:KVUpdater.exe>
launcher=${launcher}
errortext=$<TARGET_FILE:error_text>
standin=$<TARGET_FILE:window_app>
display=${KV_DESKTOP_PREFIX}/kv-display
shots=${CMAKE_BINARY_DIR}
")

set(desktop_harness_e2e_process_test ${KV_NATIVE_BUILD}/tests/e2e/e2e_process_test)
set(desktop_filter_e2e_process_test "UpdateWithProgramsRunning.StopsUpdatesAndRestartsInTableOrder")
set(desktop_harness_qt_run_tests ${KV_NATIVE_BUILD}/tests/qt/qt_run_tests)
set(desktop_filter_qt_run_tests "WindowWholeRun*")
foreach(name e2e_process_test qt_run_tests)
  if(NOT EXISTS ${desktop_harness_${name}})
    message(WARNING "no ${desktop_harness_${name}}: build the default preset first, or the "
                    "Windows build's tests with windows fail as not built")
  endif()
  add_executable(native_desktop_${name} IMPORTED)
  set_target_properties(native_desktop_${name} PROPERTIES
                        IMPORTED_LOCATION ${desktop_harness_${name}} CROSSCOMPILING_EMULATOR "")
  gtest_discover_tests(native_desktop_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       TEST_PREFIX "wine." TEST_FILTER ${desktop_filter_${name}}
                       PROPERTIES ENVIRONMENT KV_E2E_WINE=${KV_E2E_DESKTOP}
                                  FIXTURES_REQUIRED wine_desktop RESOURCE_LOCK wine_desktop
                                  TIMEOUT 900)
endforeach()
