# Writes the SDK archive from both builds (BUILD_DIR, of pointer size ARCH,
# and PEER_BUILD_DIR) as ./dev package does, unpacks it into a scratch
# folder, checks that what it says to the person who unzipped it holds there,
# builds one host of ARCH against it exactly as docs/hosts.md tells, with
# nothing else from the build tree, and runs it under Wine.
#   HOST=c or cpp: the project in examples/<HOST>_host, with the archive's
#   MinGW toolchain file. HOST=c also writes the archive twice and compares.
#   HOST=msvc: tests/msvc_host, a find_package(dlmgr) consumer with the
#   Microsoft ABI (clang-cl, lld-link, /SAFESEH for x86); needs CLANG_CL,
#   LLD_LINK, LLVM_DLLTOOL.
# Usage: cmake -DBUILD_DIR=... -DPEER_BUILD_DIR=... -DARCH=x86|x64 -DSOURCE_DIR=...
#              -DVERSION=... -DSCRATCH=... -DHOST=... [...] -P check_sdk_install.cmake
file(REMOVE_RECURSE ${SCRATCH})
set(name dlmgr-${VERSION}-windows)
set(prefix ${SCRATCH}/unpacked/${name})
set(host ${SCRATCH}/host)
if(NOT EXISTS ${PEER_BUILD_DIR}/cmake_install.cmake)
  message(FATAL_ERROR "the other build is missing in ${PEER_BUILD_DIR}: build both presets (./dev test does)")
endif()
if(ARCH STREQUAL "x64")
  set(processor x86_64)
  set(msvc_target x86_64-pc-windows-msvc)
  set(llvm_machine i386:x86-64)
  set(arch_dir /x64)
else()
  set(processor i686)
  set(msvc_target i686-pc-windows-msvc)
  set(llvm_machine i386)
  set(arch_dir "")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

function(package output)
  run(${CMAKE_COMMAND} -DBUILD_DIRS=${BUILD_DIR},${PEER_BUILD_DIR} -DNAME=${name}
      -DOUTPUT=${output} -P ${SOURCE_DIR}/cmake/package.cmake)
endfunction()
package(${SCRATCH}/${name}.zip)
if(HOST STREQUAL "c")
  package(${SCRATCH}/again/${name}.zip)
  file(SHA256 ${SCRATCH}/${name}.zip first)
  file(SHA256 ${SCRATCH}/again/${name}.zip second)
  if(NOT first STREQUAL second)
    message(FATAL_ERROR "two archives of the same builds differ")
  endif()
endif()
file(MAKE_DIRECTORY ${SCRATCH}/unpacked)
run(${CMAKE_COMMAND} -E tar xf ${SCRATCH}/${name}.zip WORKING_DIRECTORY ${SCRATCH}/unpacked)
foreach(file include/dlmgr.h lib/cmake/dlmgr/dlmgrConfig.cmake
             lib/cmake/dlmgr/toolchains/mingw-w64-${processor}.cmake
             bin/dlmgr.dll bin/dlmgr.dll.debug bin/dlmgrctl.exe bin/dlmgrctl.exe.debug
             bin/dlmgrview.exe lib/libdlmgr.dll.a lib/dlmgr.lib
             bin/x64/dlmgr.dll bin/x64/dlmgrctl.exe bin/x64/dlmgrview.exe lib/x64/libdlmgr.dll.a
             lib/x64/dlmgr.lib examples/c_host/main.c docs/hosts.md docs/dlmgrctl.md
             docs/dlmgrview.md README.md LICENSE CHANGELOG.md)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "the archive lacks ${file}")
  endif()
endforeach()
# What the archive's README and docs tell the person who unzipped it must
# hold there: nothing of this source tree (./dev, its build folders), and
# every path they name in the archive: links, relative paths in inline code,
# and paths under the archive's folder anywhere, commands included.
file(GLOB docs ${prefix}/README.md ${prefix}/docs/*.md)
foreach(doc IN LISTS docs)
  file(RELATIVE_PATH shown ${prefix} ${doc})
  file(READ ${doc} text)
  # Brackets would nest CMake's list elements, and semicolons split them.
  string(REPLACE "[" "{" text "${text}")
  string(REPLACE "]" "}" text "${text}")
  string(REPLACE ";" "," text "${text}")
  if(text MATCHES "\\./dev")
    message(FATAL_ERROR "${shown} sends the reader to ./dev, which the archive lacks")
  endif()
  get_filename_component(folder ${doc} DIRECTORY)
  string(REGEX MATCHALL "}\\([^)#:]+[)#]" links "${text}")
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^}\\(|[)#]$" "" target "${link}")
    if(NOT EXISTS ${folder}/${target})
      message(FATAL_ERROR "${shown} links to ${target}, which the archive lacks")
    endif()
  endforeach()
  string(REGEX MATCHALL "`[A-Za-z0-9_.-]+/[^` \n]*`" spans "${text}")
  foreach(span IN LISTS spans)
    string(REGEX REPLACE "^`|`$" "" path "${span}")
    if(NOT path MATCHES "^${name}" AND NOT EXISTS ${prefix}/${path})
      message(FATAL_ERROR "${shown} names ${path}, which the archive lacks")
    endif()
  endforeach()
  string(REGEX MATCHALL "${name}[/\\][^ `\"')\n]*" inside "${text}")
  foreach(path IN LISTS inside)
    string(REGEX REPLACE "^${name}[/\\]|[.,:]$" "" path "${path}")
    string(REPLACE "\\" "/" path "${path}")
    if(NOT EXISTS ${prefix}/${path})
      message(FATAL_ERROR "${shown} names ${name}/${path}, which the archive lacks")
    endif()
  endforeach()
endforeach()
# What ships looks shipped: stripped programs whose version resources name
# their maker.
foreach(binary bin/dlmgr.dll bin/dlmgrctl.exe bin/x64/dlmgrctl.exe)
  file(SIZE ${prefix}/${binary} size)
  if(size GREATER 1048576)
    message(FATAL_ERROR "${binary} is ${size} bytes: not stripped")
  endif()
  file(READ ${prefix}/${binary} bytes HEX)
  # "CompanyName" in UTF-16
  if(NOT bytes MATCHES "43006f006d00700061006e0079004e0061006d006500")
    message(FATAL_ERROR "${binary} has no CompanyName in its version resource")
  endif()
endforeach()
if(HOST STREQUAL "c")
  # A project that does not target Windows is told so at find_package.
  file(WRITE ${SCRATCH}/native/CMakeLists.txt
       "cmake_minimum_required(VERSION 3.21)\nproject(native C)\nfind_package(dlmgr REQUIRED)\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SCRATCH}/native -B ${SCRATCH}/native/build
                          -DCMAKE_PREFIX_PATH=${prefix}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT failed OR NOT err MATCHES "dlmgr is a Windows DLL" OR NOT err MATCHES "for[ \n]+Windows")
    message(FATAL_ERROR "a native project was not told plainly that dlmgr is for Windows:\n${out}\n${err}")
  endif()
endif()
file(READ ${prefix}/lib/cmake/dlmgr/toolchains/mingw-w64.cmake toolchain)
if(toolchain MATCHES "EMULATOR")
  message(FATAL_ERROR "the archive's toolchain would run a consumer's tests in this project's prefix")
endif()

if(HOST STREQUAL "msvc")
  file(MAKE_DIRECTORY ${host})
  # x64 has one calling convention and no @size decoration.
  file(READ ${SOURCE_DIR}/tests/msvc_host/kernel32.def imports)
  if(ARCH STREQUAL "x64")
    string(REGEX REPLACE "@[0-9]+" "" imports "${imports}")
  endif()
  file(WRITE ${host}/kernel32.def "${imports}")
  run(${LLVM_DLLTOOL} -m ${llvm_machine} -k -d ${host}/kernel32.def -l ${host}/kernel32.lib)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/msvc_host -B ${host}/build
      -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/tests/msvc_host/msvc-toolchain.cmake
      -DMSVC_TARGET=${msvc_target} -DMSVC_CL=${CLANG_CL} -DMSVC_LINK=${LLD_LINK}
      -DKERNEL32_LIB=${host}/kernel32.lib -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${host}/build)
  set(program ${host}/build/msvc_host.exe)
else()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/${HOST}_host -B ${host}
      -DCMAKE_TOOLCHAIN_FILE=${prefix}/lib/cmake/dlmgr/toolchains/mingw-w64-${processor}.cmake
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${host})
  set(program ${host}/${HOST}_host.exe)
endif()

# Run from a folder of its own with nothing but what the build put there.
run(${SOURCE_DIR}/cmake/wine-run ${program})
if(NOT last_output MATCHES "found its task")
  message(FATAL_ERROR "the host did not find its task: ${last_output}")
endif()
message(STATUS "${last_output}")
file(REMOVE_RECURSE ${SCRATCH})
