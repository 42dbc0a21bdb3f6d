# Installs the build into a scratch prefix, builds tests/sdk against the
# installed package with the same toolchain, and runs the host under Wine.
# Usage: cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DSCRATCH=... -P check_sdk_install.cmake
file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${SCRATCH}/prefix)

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

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/sdk -B ${SCRATCH}/host
    -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-i686.cmake
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${SCRATCH}/host)
run(${SOURCE_DIR}/cmake/wine-run ${SCRATCH}/host/sdk_host.exe)
if(NOT last_output MATCHES "found its task")
  message(FATAL_ERROR "the host did not find its task: ${last_output}")
endif()
message(STATUS "${last_output}")
file(REMOVE_RECURSE ${SCRATCH})
