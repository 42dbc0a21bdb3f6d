# Checks a Promela model (sync/optex.pml, store/store_intent.pml) with the
# Spin model checker in one configuration:
# generates the verifier (spin -a), builds pan with the host's C compiler and
# runs it. MODE safety: assertions (never two owners, levels that match, the
# lock back in its uncontended form after the last death) and deadlocks;
# MODE live: cycles in which no thread makes progress, under weak fairness.
# EXPECT fail: the configuration plays a rule of an earlier protocol, and
# the check passes when the model finds the fault (its steps go to trail.txt).
#   cmake -DMODEL=... -DWORK=... -DDEFINES="A=1;B=2" -DMODE=safety|live
#         -DEXPECT=pass|fail [-DSPIN=spin] [-DCC=cc] -P check_spin_model.cmake
if(NOT SPIN)
  find_program(SPIN spin)
endif()
if(NOT CC)
  find_program(CC NAMES cc gcc)
endif()
if(NOT SPIN OR NOT CC)
  message(FATAL_ERROR "the model check needs spin and a C compiler for the host (./dev installs them)")
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
configure_file(${MODEL} ${WORK}/model.pml COPYONLY)
set(defines)
foreach(define IN LISTS DEFINES)
  list(APPEND defines -D${define})
endforeach()

execute_process(COMMAND ${SPIN} ${defines} -a model.pml WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "spin -a failed:\n${out}")
endif()
if(MODE STREQUAL "live")
  set(panflags -DNP -DNFAIR=4)
  set(runflags -l -f)
else()
  set(panflags -DSAFETY)
  set(runflags)
endif()
execute_process(COMMAND ${CC} -O2 -w -DCOLLAPSE ${panflags} -o pan pan.c WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "building pan failed:\n${out}")
endif()
# -m: the depth of search; -E where deadlocks are not what is checked.
execute_process(COMMAND ./pan -m2000000 ${runflags} ${PANARGS} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(REGEX MATCH "errors: ([0-9]+)" found "${out}")
set(errors ${CMAKE_MATCH_1})
string(REGEX MATCH "[0-9.e+]+ states, stored" states "${out}")
if(errors STREQUAL "")
  message(FATAL_ERROR "pan did not finish:\n${out}")
endif()
if(NOT out MATCHES "Search not completed" AND out MATCHES "max search depth too small")
  message(FATAL_ERROR "the search was cut short by its depth:\n${out}")
endif()
if(EXPECT STREQUAL "fail")
  if(errors EQUAL 0)
    message(FATAL_ERROR "the model found no fault in a configuration that plays a faulty rule (${states})")
  endif()
  # The counterexample, step by step, as the threads ran it.
  execute_process(COMMAND ${SPIN} ${defines} -t -p -g model.pml WORKING_DIRECTORY ${WORK}
                  OUTPUT_FILE trail.txt ERROR_QUIET)
  string(REGEX MATCH "pan:1: [^\n]*" what "${out}")
  message(STATUS "found, as expected: ${what}; the steps are in ${WORK}/trail.txt")
else()
  if(NOT errors EQUAL 0)
    execute_process(COMMAND ${SPIN} ${defines} -t -p -g model.pml WORKING_DIRECTORY ${WORK}
                    OUTPUT_FILE trail.txt ERROR_QUIET)
    message(FATAL_ERROR "the model found a fault:\n${out}\nthe steps are in ${WORK}/trail.txt")
  endif()
  message(STATUS "no fault (${states})")
endif()
