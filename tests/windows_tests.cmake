# The suites of the Windows build, each one test program started under Wine (the
# toolchain's emulator) as a single ctest entry, so that a run pays Wine's start-up once per
# program rather than once per case. The suites that need the database server reach it
# through the test client library for Wine below.
#
# GoogleTest comes from Debian's source package (googletest), built with the cross compiler.
set(DOVRA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${DOVRA_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own sources are not held to our warning level.
foreach(target gtest gtest_main gmock gmock_main)
  target_compile_options(${target} PRIVATE -w)
endforeach()

set(support ${CMAKE_CURRENT_SOURCE_DIR}/support)
# What the systems share and the Windows halves (the Linux build globs the folder, less the
# *_windows.cpp files).
add_library(dovra_test_support STATIC
  ${support}/fakes.cpp ${support}/temp_dir.cpp ${support}/fault_ftp_server.cpp
  ${support}/firebird_env.cpp ${support}/program_process.cpp
  ${support}/program_process_windows.cpp ${support}/test_servers.cpp
  ${support}/test_servers_windows.cpp)
target_include_directories(dovra_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(dovra_test_support PUBLIC dovra_everything gtest gmock)
target_compile_definitions(dovra_test_support PUBLIC
  DOVRA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  DOVRA_BINARY_DIR="${PROJECT_BINARY_DIR}")

# The database client under Wine (tests/wine_fbclient): a builtin gds32.dll and
# fbclient.dll made with Wine's own tools, forwarding to the Linux client library. Test
# equipment only: it stays in the build folder, found through WINEDLLPATH (the module) and
# WINEPATH (its placeholder file, on the Windows search path), which the suites below get
# from ctest; nothing installs or packages it.
find_program(DOVRA_WINEGCC winegcc NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_program(DOVRA_WINEBUILD winebuild NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(DOVRA_WINE_FBCLIENT_DIR ${PROJECT_BINARY_DIR}/wine-fbclient)
set(bridge ${CMAKE_CURRENT_SOURCE_DIR}/wine_fbclient)
set(bridge_outputs)
foreach(module gds32 fbclient)
  set(out ${DOVRA_WINE_FBCLIENT_DIR}/${module}.dll)
  add_custom_command(OUTPUT ${out}.so ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${DOVRA_WINE_FBCLIENT_DIR}
    COMMAND ${DOVRA_WINEGCC} -shared -O2 -Wall -Wextra -Werror -o ${out}
      ${bridge}/fbclient_bridge.spec ${bridge}/fbclient_bridge.c -lfbclient -lkernel32
    COMMAND ${DOVRA_WINEBUILD} -m64 --dll --fake-module -E ${bridge}/fbclient_bridge.spec
      -F ${module}.dll -o ${out}
    DEPENDS ${bridge}/fbclient_bridge.spec ${bridge}/fbclient_bridge.c
    WORKING_DIRECTORY ${DOVRA_WINE_FBCLIENT_DIR}
    COMMENT "Wine test client library ${module}.dll")
  list(APPEND bridge_outputs ${out}.so ${out})
endforeach()
add_custom_target(wine_fbclient ALL DEPENDS ${bridge_outputs})
# What a test program needs to find it.
set(DOVRA_WINE_FBCLIENT_ENV
  "WINEDLLPATH=${DOVRA_WINE_FBCLIENT_DIR}" "WINEPATH=Z:${DOVRA_WINE_FBCLIENT_DIR}")

# dovra_windows_suite(NAME FILE...): the test program NAME_tests from tests/FILE...
function(dovra_windows_suite name)
  list(TRANSFORM ARGN PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  add_executable(${name}_tests ${ARGN})
  target_link_libraries(${name}_tests PRIVATE dovra_test_support dovra_headless gtest_main)
  add_test(NAME windows.${name} COMMAND ${name}_tests)
  set_tests_properties(windows.${name} PROPERTIES TIMEOUT 900)
endfunction()

# The sample ERP, made through the client as the Linux tests make it.
add_library(dovra_sample_erp STATIC ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/sample_erp.cpp)
target_include_directories(dovra_sample_erp PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(dovra_sample_erp PUBLIC dovra_everything)
target_link_libraries(dovra_test_support PUBLIC dovra_sample_erp)
# Its maker as a Windows program, for scripts/demo-windows.
add_executable(dovra-sample-erp ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/sample_erp_main.cpp)
target_link_libraries(dovra-sample-erp PRIVATE dovra_sample_erp)
set_target_properties(dovra-sample-erp PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

dovra_windows_suite(platform
  platform/clock_test.cpp
  platform/event_loop_test.cpp
  platform/text_codec_test.cpp
  platform/ini_file_test.cpp
  platform/file_handle_test.cpp
  platform/file_system_test.cpp
  platform/socket_test.cpp
  platform/windows_platform_test.cpp)
dovra_windows_suite(core
  core/cripto_test.cpp)
dovra_windows_suite(scheduler
  scheduler/scheduler_test.cpp)
dovra_windows_suite(archive
  archive/archive_reader_test.cpp
  archive/zlib_stream_test.cpp
  archive/windows_archive_test.cpp)
add_dependencies(archive_tests dovra-zlib)
# backupdovra.exe itself, started as a Windows process: the program's cases of the Linux
# app suite, from the same source.
dovra_windows_suite(program
  app/program_test.cpp)
add_dependencies(program_tests backupdovra)
# The FTP session against pyftpdlib on loopback (a host program Wine starts) and against
# the scripted fault server.
dovra_windows_suite(ftp
  transfer/ftp_reply_test.cpp
  transfer/ftp_session_test.cpp
  transfer/ftp_fault_test.cpp)
# The database client through the test client library against the real server: the ERP
# statements, service backups and what differs on Windows (names in the ANSI code page,
# drive paths, the library looked for).
dovra_windows_suite(database
  firebird/erp_database_test.cpp
  firebird/windows_client_test.cpp)
add_dependencies(database_tests wine_fbclient)
# backupdovra.exe against the real server, pyftpdlib and the web stand-in: the jobs of a
# day in an installation with accented Windows folders.
dovra_windows_suite(erp
  app/windows_erp_test.cpp)
add_dependencies(erp_tests backupdovra wine_fbclient)
foreach(suite database erp)
  # They need the server (scripts/test-windows starts it): a skipped case fails the suite.
  set_tests_properties(windows.${suite} PROPERTIES ENVIRONMENT "${DOVRA_WINE_FBCLIENT_ENV}"
    FAIL_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endforeach()
