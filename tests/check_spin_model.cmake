# Checks a Promela model (sync/optex.pml, store/store_intent.pml) with the
# Spin model checker in one configuration (spin_run.cmake says how). MODE
# safety: assertions (never two owners, levels that match, what the dead left
# accounted for at every step) and deadlocks; MODE live: cycles in which no
# thread makes progress, under weak fairness. EXPECT fail: the configuration
# plays a rule of an earlier protocol, and the check passes when the model
# finds the fault (its steps go to trail.txt).
#   cmake -DMODEL=... -DWORK=... -DDEFINES="A=1;B=2" -DMODE=safety|live
#         -DEXPECT=pass|fail [-DSPIN=spin] [-DCC=cc] -P check_spin_model.cmake
include(${CMAKE_CURRENT_LIST_DIR}/spin_run.cmake)

file(READ ${MODEL} model)
dlmgr_spin_run(run "${model}" ${WORK} "${DEFINES}" ${MODE} "${PANARGS}")
if(run_ERRORS STREQUAL "")
  message(FATAL_ERROR "pan did not finish:\n${run_OUTPUT}")
endif()
if(EXPECT STREQUAL "fail")
  if(run_ERRORS EQUAL 0)
    message(FATAL_ERROR "the model found no fault in a configuration that plays a faulty rule (${run_STATES})")
  endif()
  dlmgr_spin_trail(${WORK} "${DEFINES}")
  string(REGEX MATCH "pan:1: [^\n]*" what "${run_OUTPUT}")
  message(STATUS "found, as expected: ${what}; the steps are in ${WORK}/trail.txt")
else()
  if(NOT run_ERRORS EQUAL 0)
    dlmgr_spin_trail(${WORK} "${DEFINES}")
    message(FATAL_ERROR "the model found a fault:\n${run_OUTPUT}\nthe steps are in ${WORK}/trail.txt")
  endif()
  message(STATUS "no fault (${run_STATES}, ${run_SECONDS} s)")
endif()
