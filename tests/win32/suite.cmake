# The native Windows front end's tests (Windows build only): the front end on its own and
# on the program's main window object, no database and no network. They open windows, so the program runs inside a Wine
# desktop of its own on a virtual X server (wine_desktop.sh), which also gives the pictures
# it takes a notification area; the pictures land in test-artifacts/.
add_executable(win32_tests
  ${CMAKE_CURRENT_LIST_DIR}/front_end_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/form_handlers_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/screenshot_test.cpp)
target_link_libraries(win32_tests PRIVATE dovra_win32 dovra_test_support gtest_main)
add_test(NAME windows.win32
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine_desktop.sh $<TARGET_FILE:win32_tests>)
set_tests_properties(windows.win32 PROPERTIES TIMEOUT 600 ENVIRONMENT
  "DOVRA_WINE=${CMAKE_CROSSCOMPILING_EMULATOR};DOVRA_ARTIFACT_DIR=${PROJECT_BINARY_DIR}/test-artifacts")
