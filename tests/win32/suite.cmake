# The native Windows front end's tests (Windows build only): the front end on its own, on
# the program's main window object, and the program itself as a process; no database and no
# network. They open windows, so they run inside a Wine desktop of their own on a virtual X
# server (wine_desktop.sh), which also gives the pictures they take a notification area; the
# pictures land in test-artifacts/. GoogleTest and the test helpers come from
# windows_tests.cmake.
add_executable(win32_tests
  ${CMAKE_CURRENT_LIST_DIR}/front_end_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/form_handlers_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/screenshot_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program_test.cpp)
target_link_libraries(win32_tests PRIVATE dovra_win32 dovra_test_support gtest_main)
# The program itself, started as a process by the tests.
target_compile_definitions(win32_tests PRIVATE DOVRA_PROGRAM_EXE="$<TARGET_FILE:backupdovra>")
add_dependencies(win32_tests backupdovra)
add_test(NAME windows.win32
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine_desktop.sh $<TARGET_FILE:win32_tests>)
set_tests_properties(windows.win32 PROPERTIES TIMEOUT 600 ENVIRONMENT
  "DOVRA_WINE=${CMAKE_CROSSCOMPILING_EMULATOR};DOVRA_ARTIFACT_DIR=${PROJECT_BINARY_DIR}/test-artifacts")
