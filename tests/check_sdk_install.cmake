# Installs both builds (BUILD_DIR, of pointer size ARCH, and PEER_BUILD_DIR)
# into one scratch prefix, builds one host of ARCH against the installed
# package exactly as docs/hosts.md tells, and runs it under Wine.
#   HOST=c or cpp: the project in examples/<HOST>_host, with the MinGW toolchain.
#   HOST=msvc: tests/msvc_host with the Microsoft ABI (clang, lld-link, /SAFESEH
#   for x86), linked against the installed dlmgr.lib; needs CLANG, LLD_LINK,
#   LLVM_DLLTOOL.
# Usage: cmake -DBUILD_DIR=... -DPEER_BUILD_DIR=... -DARCH=x86|x64 -DSOURCE_DIR=...
#              -DSCRATCH=... -DHOST=... [...] -P check_sdk_install.cmake
file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${SCRATCH}/prefix)
set(host ${SCRATCH}/host)
if(NOT EXISTS ${PEER_BUILD_DIR}/cmake_install.cmake)
  message(FATAL_ERROR "the other build is missing in ${PEER_BUILD_DIR}: build both presets (./dev test does)")
endif()
if(ARCH STREQUAL "x64")
  set(toolchain mingw-w64-x86_64.cmake)
  set(clang_target x86_64-pc-windows-msvc)
  set(llvm_machine i386:x86-64)
  set(seh_option "")
  set(arch_dir /x64)
else()
  set(toolchain mingw-w64-i686.cmake)
  set(clang_target i686-pc-windows-msvc)
  set(llvm_machine i386)
  # As new 32-bit Visual Studio projects are linked.
  set(seh_option /safeseh)
  set(arch_dir "")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} --install ${PEER_BUILD_DIR} --prefix ${prefix})
foreach(file include/dlmgr.h lib/cmake/dlmgr/dlmgrConfig.cmake
             bin/dlmgr.dll bin/dlmgrctl.exe lib/libdlmgr.dll.a lib/dlmgr.lib
             bin/x64/dlmgr.dll bin/x64/dlmgrctl.exe lib/x64/libdlmgr.dll.a lib/x64/dlmgr.lib)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "the package lacks ${file}")
  endif()
endforeach()

if(HOST STREQUAL "msvc")
  file(MAKE_DIRECTORY ${host})
  # x64 has one calling convention and no @size decoration.
  file(READ ${SOURCE_DIR}/tests/msvc_host/kernel32.def imports)
  if(ARCH STREQUAL "x64")
    string(REGEX REPLACE "@[0-9]+" "" imports "${imports}")
  endif()
  file(WRITE ${host}/kernel32.def "${imports}")
  run(${LLVM_DLLTOOL} -m ${llvm_machine} -k -d ${host}/kernel32.def -l ${host}/kernel32.lib)
  run(${CLANG} --target=${clang_target} -ffreestanding -fno-stack-protector -O1
      -I${prefix}/include -c ${SOURCE_DIR}/tests/msvc_host/host.c -o ${host}/host.obj)
  run(${LLD_LINK} /nologo ${seh_option} /subsystem:console /entry:Start /nodefaultlib
      /out:${host}/msvc_host.exe ${host}/host.obj ${prefix}/lib${arch_dir}/dlmgr.lib ${host}/kernel32.lib)
  file(COPY ${prefix}/bin${arch_dir}/dlmgr.dll DESTINATION ${host})
  set(program ${host}/msvc_host.exe)
else()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/${HOST}_host -B ${host}
      -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/${toolchain}
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
