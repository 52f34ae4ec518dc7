# Included by the main build: cross-builds the Windows DLL (windows/CMakeLists.txt,
# a second CMake project with the MinGW toolchain, configured and built as a step
# of this build) from the entry points and tables generated here, and registers
# its checks and its Wine tests with ctest.
#
# On by default (-DQARN_WINDOWS=OFF builds the Linux library alone); skipped, with a
# warning, when no MinGW-w64 compiler is installed (./run.sh installs one).
option(QARN_WINDOWS "Cross-build the Windows DLL and test it under Wine" ON)
if(NOT QARN_WINDOWS)
  return()
endif()
find_program(QARN_MINGW_CXX NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
if(NOT QARN_MINGW_CXX)
  message(WARNING "No MinGW-w64 compiler (Debian: g++-mingw-w64-x86-64-posix): the Windows DLL is not built")
  return()
endif()
include(ExternalProject)

set(QARN_WIN_BUILD ${CMAKE_BINARY_DIR}/windows)
set(QARN_DLL ${QARN_WIN_BUILD}/libocl_qarn_e9.dll)
# Everything the cross build takes from this one.
add_custom_target(qarn_win_inputs DEPENDS ${QARN_ENTRIES} ${QARN_TABLE_SOURCES} ${GEN}/exports.txt
                  ${GEN}/exports_byref.txt ${GEN}/registry.inc ${GEN}/constants.h)
ExternalProject_Add(qarn_windows
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/windows
  BINARY_DIR ${QARN_WIN_BUILD}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/windows/toolchain-mingw64.cmake
  CMAKE_CACHE_ARGS
    -DCMAKE_BUILD_TYPE:STRING=${CMAKE_BUILD_TYPE}
    -DQARN_GEN:PATH=${GEN}
    -DQARN_ENTRIES:STRING=${QARN_ENTRIES}
    -DQARN_TABLE_SOURCES:STRING=${QARN_TABLE_SOURCES}
    -DQARN_KERNEL_FLAGS:STRING=${QARN_KERNEL_FLAGS}
    -DQARN_WIDE_FLAGS:STRING=${QARN_WIDE_FLAGS}
    -DQARN_FALLBACK_FLAGS:STRING=${QARN_FALLBACK_FLAGS}
    -DQARN_PYTHON:FILEPATH=${Python3_EXECUTABLE}
    -DQARN_TESTS:BOOL=${QARN_TESTS}
    -DCMAKE_C_COMPILER_LAUNCHER:STRING=${CMAKE_C_COMPILER_LAUNCHER}
    -DCMAKE_CXX_COMPILER_LAUNCHER:STRING=${CMAKE_CXX_COMPILER_LAUNCHER}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS qarn_win_inputs
  BUILD_BYPRODUCTS ${QARN_DLL})

if(NOT QARN_TESTS)
  return()
endif()
# The export table and imports, and the machine-code scan, on the DLL itself.
set(QARN_MINGW_OBJDUMP_HINT x86_64-w64-mingw32-objdump)
find_program(QARN_MINGW_OBJDUMP NAMES ${QARN_MINGW_OBJDUMP_HINT} REQUIRED)
add_test(NAME Windows.ExportsAndImports
         COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/check_dll.py ${QARN_MINGW_OBJDUMP}
                 ${QARN_DLL} ${GEN}/exports.txt)
add_test(NAME Windows.Disassembly.AvxOnlyAndPreservedRegisters
         COMMAND ${CMAKE_COMMAND} -E env QARN_OBJDUMP=${QARN_MINGW_OBJDUMP}
                 ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check_disasm.py
                 ${QARN_DLL} ${GEN}/exports.txt ${GEN}/exports_byref.txt)
add_test(NAME Windows.Disassembly.CheckerSeesFaults
         COMMAND ${CMAKE_COMMAND} -E env QARN_OBJDUMP=${QARN_MINGW_OBJDUMP}
                 ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check_disasm.py
                 ${QARN_WIN_BUILD}/test_abi.exe ${CMAKE_BINARY_DIR}/tests/bad_exports.txt)
set_tests_properties(Windows.Disassembly.CheckerSeesFaults PROPERTIES
  PASS_REGULAR_EXPRESSION "written in qarn_bad_upper_ymm9.*written in qarn_bad_rsi.*without an aligned rsp in qarn_bad_aligned_spill")

# Wine: a prefix of this build's own, made by the first test (its start-up cost is
# part of the measured time), used by the others.
set(QARN_WINE ${CMAKE_SOURCE_DIR}/tools/wine_run.sh ${CMAKE_BINARY_DIR}/wineprefix)
add_test(NAME Windows.WineStart COMMAND ${QARN_WINE} --init)
set_tests_properties(Windows.WineStart PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
foreach(t test_abi test_lane_hashes test_threads test_stack test_nan_order)
  add_test(NAME Windows.${t} COMMAND ${QARN_WINE} ${QARN_WIN_BUILD}/${t}.exe --gtest_brief=1 --gtest_color=no
           WORKING_DIRECTORY ${QARN_WIN_BUILD})
  set_tests_properties(Windows.${t} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900)
endforeach()
# The families whose lanes depend on the processor's reciprocal estimate have no
# checked-in fingerprints: the DLL's are held to the Linux library's on this machine.
set(QARN_HOST_HASHES ${CMAKE_BINARY_DIR}/host_lane_hashes.txt)
add_test(NAME Windows.HostFingerprints
         COMMAND sh -c "\"$1\" hash --all > \"$2\"" sh $<TARGET_FILE:qarn> ${QARN_HOST_HASHES})
set_tests_properties(Windows.HostFingerprints PROPERTIES FIXTURES_SETUP host_hashes)
set_tests_properties(Windows.test_lane_hashes PROPERTIES FIXTURES_REQUIRED "wine;host_hashes"
                     ENVIRONMENT "QARN_HOST_HASHES=Z:${QARN_HOST_HASHES}")
# Every export in the four rounding directions (MXCSR and x87 alike), the DLL's lanes
# against the Linux library's: code that runs in the caller's mode must have been
# compiled alike by both compilers.
set(QARN_HOST_MODE_HASHES ${CMAKE_BINARY_DIR}/host_mode_hashes.txt)
add_test(NAME Windows.HostModeFingerprints
         COMMAND sh -c "\"$1\" hash --modes > \"$2\"" sh $<TARGET_FILE:qarn> ${QARN_HOST_MODE_HASHES})
set_tests_properties(Windows.HostModeFingerprints PROPERTIES FIXTURES_SETUP host_mode_hashes)
add_test(NAME Windows.test_rounding_modes
         COMMAND ${QARN_WINE} ${QARN_WIN_BUILD}/test_rounding_modes.exe --gtest_brief=1 --gtest_color=no
         WORKING_DIRECTORY ${QARN_WIN_BUILD})
set_tests_properties(Windows.test_rounding_modes PROPERTIES FIXTURES_REQUIRED "wine;host_mode_hashes"
                     ENVIRONMENT "QARN_HOST_MODE_HASHES=Z:${QARN_HOST_MODE_HASHES}" TIMEOUT 300)
