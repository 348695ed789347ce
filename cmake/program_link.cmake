# How Setup.exe and its test variants link: stripped, unused sections
# dropped, and started at the program's own entry point (app/main.cpp)
# without the C runtime's start-up objects, which cost about 8 KB and do
# nothing this program needs. Whatever would need their work fails the build
# at once: cmake/check_startup.cmake reads the link map (UNCHECKED leaves that
# out, for the test that shows the check refusing a program). ENTRY names
# another entry point, for the test variants that adjust the program first.
# The header keeps the values the program has always had, which lld would
# otherwise raise: subsystem version 4.0 (5.2 on x64, the first 64-bit
# Windows), a 2 MB stack reserve, no terminal-server awareness. Read-only
# data shares the code's section (read-only, executable, never writable): one
# section less to pad to the file alignment.
function(setup_link_program target)
  cmake_parse_arguments(P "UNCHECKED" "ENTRY" "" ${ARGN})
  if(NOT P_ENTRY)
    set(P_ENTRY SetupStart)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(subsystem 5 2)
  else()
    set(subsystem 4 0)
  endif()
  list(GET subsystem 0 major)
  list(GET subsystem 1 minor)
  set(map $<TARGET_FILE:${target}>.map)
  target_link_options(${target} PRIVATE -s -Wl,--gc-sections -nostartfiles -Wl,--entry=${P_ENTRY}
    -Wl,--major-subsystem-version=${major},--minor-subsystem-version=${minor}
    -Wl,--major-os-version=4,--minor-os-version=0 -Wl,--stack=0x200000 -Wl,--disable-tsaware
    "-Wl,-Map=${map}" -Wl,-Xlink=/merge:.rdata=.text)
  if(NOT P_UNCHECKED)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DMAP=${map} -P ${CMAKE_SOURCE_DIR}/cmake/check_startup.cmake
      VERBATIM)
  endif()
endfunction()
