# SPDX-License-Identifier: MIT
# The Windows build: only the terminal station and its tests, cross-built with MinGW-w64
# (cmake/mingw-w64-x86_64.cmake) and run under Wine on Linux (scripts/windows-test.sh).
# The desktop station stays Linux-only, and so does boardsim (it plays boards on
# pseudo-terminals).
set(PS_GUI OFF CACHE BOOL "" FORCE)
set(PS_BENCH OFF CACHE BOOL "" FORCE)
set(PS_FUZZ OFF CACHE BOOL "" FORCE)
set(PS_SANITIZE OFF CACHE BOOL "" FORCE)

# POSIX-only files, each with a Win32 counterpart or without use on Windows.
# The UTF-8 code page for the ANSI calls (std::fstream paths among them).
enable_language(RC)
set(PS_PLATFORM_RESOURCES ${CMAKE_SOURCE_DIR}/src/platform/win32/utf8.rc)

set(PS_PLATFORM_EXCLUDE "/Posix[^/]*\\.cpp$|sim/Pty[^/]*\\.cpp$")

# Windows 10 and later: the UTF-8 code page of the manifest, the wide file calls.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE
                        WIN32_LEAN_AND_MEAN NOMINMAX __USE_MINGW_ANSI_STDIO=1)

# The few POSIX calls of the file and port layers that the C runtime lacks, on Win32 calls
# (src/platform/win32): flock on LockFileEx, rename on MoveFileExW, fsync on
# FlushFileBuffers and the like, so the shared code is the same on both systems.
file(GLOB PS_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/win32/*.cpp)
add_library(progstation_win32 STATIC ${PS_WIN32_SOURCES})
target_include_directories(progstation_win32 BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/src/platform/win32/include)
target_compile_options(progstation_win32 PUBLIC "SHELL:-include ${CMAKE_SOURCE_DIR}/src/platform/win32/include/ps_posix.h")
target_link_libraries(progstation_win32 PUBLIC setupapi advapi32 winmm)

# nlohmann-json is headers only: the host's copy serves, without the rest of /usr/include.
find_package(nlohmann_json 3 QUIET)
if(NOT nlohmann_json_FOUND)
  set(PS_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${PS_HOST_HEADERS})
  file(CREATE_LINK /usr/include/nlohmann ${PS_HOST_HEADERS}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${PS_HOST_HEADERS})
  set(nlohmann_json_FOUND TRUE)
endif()

# CLI11 is headers only too.
find_package(CLI11 CONFIG QUIET)
if(NOT CLI11_FOUND)
  set(PS_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${PS_HOST_HEADERS})
  file(CREATE_LINK /usr/include/CLI ${PS_HOST_HEADERS}/CLI SYMBOLIC)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${PS_HOST_HEADERS})
  set(CLI11_FOUND TRUE)
endif()

# GoogleTest from the sources Debian ships with libgtest-dev, built for Windows.
if(PS_TESTS AND NOT TARGET GTest::gtest AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
  set(GTest_FOUND TRUE)
  set(GTEST_FOUND TRUE)
endif()

# Tests that drive pseudo-terminals, child processes or termios have no Windows form; the
# Win32 device and file layer have tests of their own (Win32*Test.cpp).
set(PS_TEST_EXCLUDE "tests/link/(PosixPortDevice|UsbAdapter|SerialPort|PortMap|PortList)Test|tests/sim/PtyHostTest|tests/targets/m91360/Boot91360PtyTest|tests/e2e/(Cli|CliHints|HostileInput|CommandLine)Test|tests/link/WaitTimingTest|tests/sim/MemoryDumpTest|tests/targets/ImageAccountTest|tests/projects/(Settings|SettingsPlaces|HostileFiles|AtomicFile)Test|tests/e2e/ImageCorpusTest|tests/production/(GangAndRecords|Production)Test|tests/app/RunControllerTest")

# The test list is read from the .exe when ctest runs, not when it is built: building never
# starts Wine, and every Wine start goes through scripts/windows-wine.sh (its console safety).
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
