# The native Windows front end's tests (Windows build only): the front end on its own and
# on the program's main window object, no database and no network. They open windows, so the program runs inside a Wine
# desktop of its own on a virtual X server (wine_desktop.sh), which also gives the pictures
# it takes a notification area; the pictures land in test-artifacts/.
#
# The Windows suites' setup (windows_tests.cmake) provides GoogleTest and the test helpers;
# without it they are made here from the same sources.
if(NOT TARGET gtest_main)
  set(DOVRA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${DOVRA_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE -w)
  endforeach()
endif()
if(NOT TARGET dovra_test_support)
  add_library(dovra_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/../support/fakes.cpp)
  target_include_directories(dovra_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
  target_link_libraries(dovra_test_support PUBLIC dovra_core gtest gmock)
  target_compile_definitions(dovra_test_support PUBLIC
    DOVRA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    DOVRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
endif()

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
