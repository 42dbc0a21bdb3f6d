# Cross-compiles for 64-bit Windows (see mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DLMGR_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# This project's tests run under Wine, in the build's private prefix (the
# SDK's toolchain files leave a consumer's tests alone).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run")
