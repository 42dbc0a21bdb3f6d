# The body of the toolchain files: cross-compiles for Windows with the
# POSIX-threads variant of mingw-w64 (GoogleTest needs std::thread and
# friends). The including file sets CMAKE_SYSTEM_PROCESSOR and
# DLMGR_MINGW_TRIPLET. The SDK ships it with files of its own that include
# it (lib/cmake/dlmgr/toolchains).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${DLMGR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DLMGR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${DLMGR_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DLMGR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages may live outside the sysroot, such as an installed dlmgr SDK.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
