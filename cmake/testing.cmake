# Test bench: GoogleTest from the system sources, native tests under the
# sanitizers, Windows tests under Wine with one persistent wineserver per run.
set(SETUP_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${SETUP_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The native maker's tool, which the Windows tests compare with their own.
set(SETUP_NATIVE_MAKER ${CMAKE_SOURCE_DIR}/build/native/tools/maker/maker CACHE FILEPATH
  "The native maker's tool (built by the native stage)")

set(SETUP_WINE_RUN ${CMAKE_SOURCE_DIR}/tests/support/wine-run.sh)
set(SETUP_WINE_BENCH ${CMAKE_SOURCE_DIR}/tests/support/wine-bench.sh)

# setup_test(NAME name SOURCES ... [NATIVE] [WINDOWS] [SHARED_STATE] [LABELS ...] [TIMEOUT s])
# NATIVE: built and run on the host (core code only). WINDOWS: built for the
# Windows target and run under Wine. Both may be given. SHARED_STATE: the
# Windows test writes the product's or the machine's registry keys, or runs
# the program (which reads them); such tests take turns.
# The tests run side by side (ctest -j): each Windows test binds loopback
# addresses of its own, 127.<octet>.x.y with an octet from 220 up (the benches'
# own octets are under 220); setup_test_uses_tls gives a test the TLS bench's.
function(setup_test)
  cmake_parse_arguments(T "NATIVE;WINDOWS;SHARED_STATE" "NAME;TIMEOUT" "SOURCES;LABELS;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(SETUP_WINDOWS AND T_WINDOWS)
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE setup_win setup_test_support gmock gtest_main ${T_LIBS} ws2_32)
    add_test(NAME ${T_NAME} COMMAND ${SETUP_WINE_RUN} ${CMAKE_BINARY_DIR} $<TARGET_FILE:${T_NAME}>)
    get_property(octet GLOBAL PROPERTY SETUP_NEXT_OCTET)
    if(NOT octet)
      set(octet 220)
    elseif(octet GREATER 254)
      message(FATAL_ERROR "more Windows tests than loopback octets for them")
    endif()
    math(EXPR next "${octet} + 1")
    set_property(GLOBAL PROPERTY SETUP_NEXT_OCTET ${next})
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT}
      LABELS "windows;${T_LABELS}" ENVIRONMENT SETUP_TEST_OCTET=${octet})
    if(T_SHARED_STATE)
      set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK product_state)
    endif()
  elseif(NOT SETUP_WINDOWS AND T_NATIVE)
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE setup_core gmock gtest_main ${T_LIBS})
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "native;${T_LABELS}")
  endif()
endfunction()

# Tests that reach the TLS bench's fronts, on the bench's own octet.
function(setup_test_uses_tls)
  foreach(t ${ARGN})
    if(TARGET ${t})
      set_tests_properties(${t} PROPERTIES FIXTURES_REQUIRED "wine;tls" ENVIRONMENT "")
    endif()
  endforeach()
endfunction()

if(SETUP_WINDOWS)
  add_test(NAME wine_bench_start COMMAND ${SETUP_WINE_BENCH} start ${CMAKE_BINARY_DIR} $<TARGET_FILE:wine_warmup>)
  add_test(NAME wine_bench_stop COMMAND ${SETUP_WINE_BENCH} stop ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_bench_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_bench_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
  # Code-signing certificates for the tests that sign (made once per build
  # folder; the keys never leave it). Such tests add "signing" to their
  # FIXTURES_REQUIRED.
  add_test(NAME signing_certs COMMAND bash ${CMAKE_SOURCE_DIR}/tests/support/make-certs.sh ${CMAKE_BINARY_DIR}/certs)
  set_tests_properties(signing_certs PROPERTIES FIXTURES_SETUP signing TIMEOUT 120)
  # TLS fronts (tests/support/tls-bench.sh) with a fresh authority trusted in
  # the prefix. Groups of TestAddress(group, kind): 140 to 147. Such tests add
  # "tls" to their FIXTURES_REQUIRED.
  set(SETUP_TLS_BENCH ${CMAKE_SOURCE_DIR}/tests/support/tls-bench.sh)
  add_test(NAME tls_bench_start COMMAND bash ${SETUP_TLS_BENCH} start ${CMAKE_BINARY_DIR} 140 141 142 143 144 145 146 147)
  add_test(NAME tls_bench_stop COMMAND bash ${SETUP_TLS_BENCH} stop ${CMAKE_BINARY_DIR})
  set_tests_properties(tls_bench_start PROPERTIES FIXTURES_SETUP tls FIXTURES_REQUIRED wine TIMEOUT 120)
  set_tests_properties(tls_bench_stop PROPERTIES FIXTURES_CLEANUP tls TIMEOUT 60)
endif()

# The program a user runs: system DLLs only, its header and sections as they
# should be; the shipped 32-bit one at most 68 KiB: the window in thirteen
# languages takes about 7.3 KB (the texts 5.7 KB of it), which 64 KiB no
# longer held once the folder, transport, maker and branding work was in.
if(SETUP_WINDOWS AND TARGET Setup)
  set(check_image ${CMAKE_SOURCE_DIR}/tests/support/check-image.py)
  add_test(NAME setup_image_win64 COMMAND python3 ${check_image} $<TARGET_FILE:Setup>)
  set(SETUP_I686_SETUP "" CACHE FILEPATH "The shipped 32-bit Setup.exe, checked by the tests")
  if(SETUP_I686_SETUP)
    add_test(NAME setup_image_i686 COMMAND python3 ${check_image} ${SETUP_I686_SETUP} 69632)
  endif()
endif()
