# Installs the build into a scratch prefix, builds one host against the
# installed package exactly as docs/hosts.md tells, and runs it under Wine.
#   HOST=c or cpp: the project in examples/<HOST>_host, with the MinGW toolchain.
#   HOST=msvc: tests/msvc_host with the Microsoft ABI (clang, lld-link /SAFESEH),
#   linked against the installed dlmgr.lib; needs CLANG, LLD_LINK, LLVM_DLLTOOL.
# Usage: cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DSCRATCH=... -DHOST=... [...] -P check_sdk_install.cmake
file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${SCRATCH}/prefix)
set(host ${SCRATCH}/host)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file bin/dlmgr.dll bin/dlmgrctl.exe include/dlmgr.h lib/libdlmgr.dll.a lib/dlmgr.lib
             lib/cmake/dlmgr/dlmgrConfig.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "the package lacks ${file}")
  endif()
endforeach()

if(HOST STREQUAL "msvc")
  file(MAKE_DIRECTORY ${host})
  run(${LLVM_DLLTOOL} -m i386 -k -d ${SOURCE_DIR}/tests/msvc_host/kernel32.def -l ${host}/kernel32.lib)
  run(${CLANG} --target=i686-pc-windows-msvc -ffreestanding -fno-stack-protector -O1
      -I${prefix}/include -c ${SOURCE_DIR}/tests/msvc_host/host.c -o ${host}/host.obj)
  run(${LLD_LINK} /nologo /safeseh /subsystem:console /entry:Start /nodefaultlib
      /out:${host}/msvc_host.exe ${host}/host.obj ${prefix}/lib/dlmgr.lib ${host}/kernel32.lib)
  file(COPY ${prefix}/bin/dlmgr.dll DESTINATION ${host})
  set(program ${host}/msvc_host.exe)
else()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/${HOST}_host -B ${host}
      -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-i686.cmake
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
