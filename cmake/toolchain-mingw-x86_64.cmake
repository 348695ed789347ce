# 64-bit Windows build: the one the tests run under Wine, compiled and linked
# the way the shipped one is.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SETUP_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-clang-mingw.cmake)
