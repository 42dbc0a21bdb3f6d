# clang-cl and lld-link for the Microsoft ABI, without a Windows SDK or C
# runtime. MSVC_TARGET: i686-pc-windows-msvc or x86_64-pc-windows-msvc;
# MSVC_CL and MSVC_LINK: the paths of clang-cl and lld-link.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MSVC_CL})
set(CMAKE_C_COMPILER_TARGET ${MSVC_TARGET})
set(CMAKE_LINKER ${MSVC_LINK})
set(CMAKE_MT llvm-mt)
# Nothing to link a probe with (its ABI is found from a library), and none
# of the SDK's default libraries.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MSVC_TARGET MSVC_CL MSVC_LINK)
