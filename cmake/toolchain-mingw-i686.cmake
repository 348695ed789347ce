# 32-bit Windows build: the shipped Setup.exe.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SETUP_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-clang-mingw.cmake)
# On i686 clang passes no stack slot for an empty class argument where gcc
# passes one, and member functions pop their own arguments: a string
# function instantiated by clang and called from gcc's prebuilt libstdc++ (or
# the reverse) corrupts the stack (the maker's tool crashed so). With
# assertions on, libstdc++ declares no extern string templates, so the C++
# tools instantiate all of std::string themselves. Setup.exe uses no libstdc++.
set(CMAKE_CXX_FLAGS_INIT "-D_GLIBCXX_ASSERTIONS")
