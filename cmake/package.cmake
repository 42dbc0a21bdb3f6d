# Writes the SDK archive from both builds: OUTPUT (a .zip) holds one folder
# NAME with what `cmake --install` of BUILD_DIRS puts there (include/, bin/
# and lib/ with the 64-bit build in x64/, the CMake package and its
# toolchain files, examples/, docs/, README.md, LICENSE, CHANGELOG.md).
# The same builds give the same bytes: the entries are sorted and carry one
# fixed time. Needs zip (./dev installs it).
# Usage: cmake -DBUILD_DIRS=build/win32,build/win64 -DNAME=dlmgr-1.3.0-windows
#              -DOUTPUT=.../x.zip -P package.cmake
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
set(staging ${output_dir}/${NAME})
file(REMOVE_RECURSE ${staging})
file(REMOVE ${OUTPUT})
string(REPLACE "," ";" builds "${BUILD_DIRS}")
foreach(build IN LISTS builds)
  if(NOT EXISTS ${build}/cmake_install.cmake)
    message(FATAL_ERROR "${build} is not built: build both presets first")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${build} --prefix ${staging}
                  RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    message(FATAL_ERROR "installing ${build} failed")
  endif()
endforeach()
file(GLOB_RECURSE files RELATIVE ${output_dir} ${staging}/*)
list(SORT files)
string(REPLACE ";" "\n" listing "${files}")
file(WRITE ${output_dir}/${NAME}.files "${listing}\n")
# zip -X leaves out the extended time stamps (whose change time no tool can
# set) and owner ids: each entry keeps only its DOS time, set here.
find_program(ZIP zip REQUIRED)
execute_process(COMMAND env TZ=UTC touch -d "2026-01-01 00:00:00" ${files}
                WORKING_DIRECTORY ${output_dir} RESULT_VARIABLE failed)
if(NOT failed)
  execute_process(COMMAND env TZ=UTC ${ZIP} -X -D -q ${OUTPUT} -@
                  INPUT_FILE ${output_dir}/${NAME}.files
                  WORKING_DIRECTORY ${output_dir} RESULT_VARIABLE failed)
endif()
file(REMOVE ${output_dir}/${NAME}.files)
file(REMOVE_RECURSE ${staging})
if(failed)
  message(FATAL_ERROR "writing ${OUTPUT} failed")
endif()
