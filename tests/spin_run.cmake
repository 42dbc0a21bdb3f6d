# Runs the Spin model checker on one copy of a Promela model in one
# configuration: generates the verifier (spin -a), builds pan with the host's
# C compiler and runs it in WORK. MODE safety: assertions and deadlocks, every
# state stored; MODE bitstate: the same with states kept as bits of a hash
# table (pan's -w sets its size), for spaces too large to store, which the
# search then covers in part; MODE random: a bitstate search that takes the
# threads and their choices in an order pan's seed picks (-RS in its
# arguments), which reaches deep states that an ordered search of the same
# size never gets to, and repeats as the seed does; MODE live: cycles in
# which no thread makes progress, under weak fairness.
# Sets <prefix>_ERRORS (empty when pan did not finish), <prefix>_STATES,
# <prefix>_OUTPUT and <prefix>_SECONDS in the caller's scope; a failure to
# build the verifier is fatal. With TIMEOUT (seconds), a search that takes
# longer is stopped and reported as unfinished.
if(NOT SPIN)
  find_program(SPIN spin)
endif()
if(NOT CC)
  find_program(CC NAMES cc gcc)
endif()
if(NOT SPIN OR NOT CC)
  message(FATAL_ERROR "the model check needs spin and a C compiler for the host (./dev installs them)")
endif()

# dlmgr_spin_run(PREFIX MODEL_TEXT WORK "A=1;B" MODE "PANARGS" [TIMEOUT])
function(dlmgr_spin_run prefix model_text work defines mode panargs)
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work})
  file(WRITE ${work}/model.pml "${model_text}")
  set(flags)
  foreach(define IN LISTS defines)
    list(APPEND flags -D${define})
  endforeach()
  string(TIMESTAMP started "%s")
  execute_process(COMMAND ${SPIN} ${flags} -a model.pml WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "spin -a failed in ${work}:\n${out}")
  endif()
  if(mode STREQUAL "live")
    set(panflags -DCOLLAPSE -DNP -DNFAIR=4)
    set(runflags -l -f)
  elseif(mode STREQUAL "bitstate")
    set(panflags -DBITSTATE -DSAFETY)
    set(runflags)
  elseif(mode STREQUAL "random")
    set(panflags -DBITSTATE -DSAFETY -DT_RAND -DP_RAND)
    set(runflags)
  else()
    set(panflags -DCOLLAPSE -DSAFETY)
    set(runflags)
  endif()
  # DLMGR_PAN_OPT, when the caller sets it: how much the verifier is optimised.
  set(opt -O2)
  if(DLMGR_PAN_OPT)
    set(opt ${DLMGR_PAN_OPT})
  endif()
  execute_process(COMMAND ${CC} ${opt} -w ${panflags} -o pan pan.c WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "building pan failed in ${work}:\n${out}")
  endif()
  set(limit)
  if(ARGC GREATER 6)
    set(limit TIMEOUT ${ARGV6})
  endif()
  separate_arguments(panargs UNIX_COMMAND "${panargs}")
  # -m: the depth of search.
  execute_process(COMMAND ./pan -m2000000 ${runflags} ${panargs} WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out ${limit})
  string(TIMESTAMP ended "%s")
  math(EXPR seconds "${ended} - ${started}")
  string(REGEX MATCH "errors: ([0-9]+)" found "${out}")
  set(errors ${CMAKE_MATCH_1})
  if(NOT out MATCHES "Search not completed" AND out MATCHES "max search depth too small")
    message(FATAL_ERROR "the search was cut short by its depth in ${work}:\n${out}")
  endif()
  string(REGEX MATCH "[0-9.e+]+ states, stored" states "${out}")
  set(${prefix}_ERRORS "${errors}" PARENT_SCOPE)
  set(${prefix}_STATES "${states}" PARENT_SCOPE)
  set(${prefix}_OUTPUT "${out}" PARENT_SCOPE)
  set(${prefix}_SECONDS "${seconds}" PARENT_SCOPE)
endfunction()

# The counterexample of the last run in WORK, step by step, into trail.txt.
function(dlmgr_spin_trail work defines)
  set(flags)
  foreach(define IN LISTS defines)
    list(APPEND flags -D${define})
  endforeach()
  execute_process(COMMAND ${SPIN} ${flags} -t -p -g model.pml WORKING_DIRECTORY ${work}
                  OUTPUT_FILE trail.txt ERROR_QUIET)
endfunction()
