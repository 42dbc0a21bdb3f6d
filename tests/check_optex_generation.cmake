# The generation of the lock's rules stays honest: every name and mark of the
# robust lock's own objects carries kOptexGeneration, and the rules as the
# model states them (sync/optex.pml without its comments and spacing) are
# those that generation was recorded with (sync/optex.generation). A change of
# the rules, however small, fails here until it is a new generation: the
# number, the names and the record move together, as releases side by side
# must never take one another's threads for their own.
#   cmake -DSOURCE_DIR=... -P check_optex_generation.cmake
cmake_minimum_required(VERSION 3.16)
file(READ ${SOURCE_DIR}/sync/optex_side.h side)
if(NOT side MATCHES "constexpr LONG kOptexGeneration = ([0-9]+);")
  message(FATAL_ERROR "no kOptexGeneration in sync/optex_side.h")
endif()
set(generation ${CMAKE_MATCH_1})

# The names and the side block's magic (older_generations.h names the
# released generations' objects, which it only reads).
file(GLOB headers ${SOURCE_DIR}/sync/*.h)
list(FILTER headers EXCLUDE REGEX "/older_generations\\.h$")
foreach(header IN LISTS headers)
  file(READ ${header} text)
  string(REGEX MATCHALL "Dlmgr_Optex[0-9]*_[A-Za-z]+_" names "${text}")
  foreach(name IN LISTS names)
    if(NOT name MATCHES "^Dlmgr_Optex${generation}_")
      message(FATAL_ERROR "${header}: ${name} is not a name of generation ${generation}")
    endif()
  endforeach()
endforeach()
math(EXPR digit "0x30 + ${generation}" OUTPUT_FORMAT HEXADECIMAL)
string(REPLACE "0x" "" digit "${digit}")
if(NOT side MATCHES "kOptexSideMagic = 0x${digit}4F4D44;")
  message(FATAL_ERROR "sync/optex_side.h: kOptexSideMagic is not \"DMO${generation}\"")
endif()

# The rules.
file(READ ${SOURCE_DIR}/sync/optex.pml model)
set(rules "")
while(TRUE)
  string(FIND "${model}" "/*" open)
  if(open EQUAL -1)
    string(APPEND rules "${model}")
    break()
  endif()
  string(SUBSTRING "${model}" 0 ${open} before)
  string(APPEND rules "${before}")
  string(SUBSTRING "${model}" ${open} -1 model)
  string(FIND "${model}" "*/" close)
  if(close EQUAL -1)
    message(FATAL_ERROR "sync/optex.pml: a comment that never ends")
  endif()
  math(EXPR close "${close} + 2")
  string(SUBSTRING "${model}" ${close} -1 model)
endwhile()
string(REGEX REPLACE "[ \t\r\n]+" "" rules "${rules}")
string(SHA256 hash "${rules}")
file(STRINGS ${SOURCE_DIR}/sync/optex.generation recorded REGEX "^[0-9]+ [0-9a-f]+$")
if(NOT recorded STREQUAL "${generation} ${hash}")
  message(FATAL_ERROR "the lock's rules (sync/optex.pml) are not those generation ${generation} was "
                      "recorded with (sync/optex.generation: ${recorded}). A change of the rules is "
                      "a new generation: raise kOptexGeneration, its names and the side block's "
                      "magic, and record \"<generation> ${hash}\".")
endif()
message(STATUS "generation ${generation}: ${hash}")
