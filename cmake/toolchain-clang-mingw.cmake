# Both Windows targets: clang 19 and lld 19 over mingw-w64's headers, import
# libraries and libgcc/libstdc++. The including file sets SETUP_TARGET.
# clang 19 because it keeps the null check after a failed new (-fcheck-new;
# Debian's clang 14 ignores it), and lld because it links full link-time
# optimisation with the program's own entry point (ld 2.40 crashes on that).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET ${SETUP_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${SETUP_TARGET})
set(CMAKE_RC_COMPILER ${SETUP_TARGET}-windres)
# Archives of bitcode objects need llvm's archiver for their symbol index.
set(CMAKE_AR llvm-ar-19 CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib-19 CACHE FILEPATH "")
# mingw-w64's libstdc++ and libgcc_eh use winpthread, which gcc's driver adds
# itself and clang's does not; lld takes archives in any order, and only
# what is used (Setup.exe uses none of it).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -lpthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -lpthread")
set(CMAKE_FIND_ROOT_PATH /usr/${SETUP_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
