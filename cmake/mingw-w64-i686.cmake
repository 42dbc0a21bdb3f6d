# Cross-compiles for 32-bit Windows (see mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(DLMGR_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
