# Builds the 32-bit dlmgr.dll of each release of tests/releases.txt from its
# commit in the repository's own history, once, as OUTPUT/<version>/dlmgr.dll:
# tests run hosts of the released builds beside ours. A release whose commit
# this checkout does not hold (no history) is left out, and its tests skip.
#   cmake -DSOURCE_DIR=... -DWORK=... -DOUTPUT=... -P build_releases.cmake
cmake_minimum_required(VERSION 3.16)
find_program(GIT git)
file(STRINGS ${SOURCE_DIR}/tests/releases.txt releases REGEX "^[0-9]")
foreach(release IN LISTS releases)
  string(REGEX MATCH "^([0-9.]+) ([0-9a-f]+)$" matched "${release}")
  set(version ${CMAKE_MATCH_1})
  set(commit ${CMAKE_MATCH_2})
  set(dll ${OUTPUT}/${version}/dlmgr.dll)
  if(EXISTS ${dll})
    continue()
  endif()
  set(missing 1)
  if(GIT)
    execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} cat-file -e ${commit}^{commit}
                    RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(missing)
    message(STATUS "release ${version}: commit ${commit} is not in this checkout: its tests skip")
    continue()
  endif()
  set(source ${WORK}/${version})
  file(REMOVE_RECURSE ${source})
  file(MAKE_DIRECTORY ${source})
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} archive -o ${WORK}/${version}.tar ${commit}
                  RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${WORK}/${version}.tar
                    WORKING_DIRECTORY ${source} RESULT_VARIABLE failed)
  endif()
  if(NOT failed)
    execute_process(COMMAND ${CMAKE_COMMAND} --preset win32 -DBUILD_TESTING=OFF
                    WORKING_DIRECTORY ${source} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  endif()
  if(NOT failed)
    execute_process(COMMAND ${CMAKE_COMMAND} --build --preset win32 --target dlmgr
                    WORKING_DIRECTORY ${source} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  endif()
  if(failed)
    message(FATAL_ERROR "release ${version} (${commit}) could not be built:\n${out}")
  endif()
  file(COPY ${source}/build/win32/bin/dlmgr.dll DESTINATION ${OUTPUT}/${version})
  message(STATUS "release ${version}: built from ${commit}")
endforeach()
