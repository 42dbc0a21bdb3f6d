# Checks the built DLL: a PE32 DLL with a version resource, whose imports are Windows system DLLs only
# and whose exports are exactly the ten DM_ functions, undecorated.
# Usage: cmake -DDLL=<path> -DOBJDUMP=<i686 objdump> -P check_dll_binary.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

if(NOT dump MATCHES "file format pei-i386")
  message(FATAL_ERROR "${DLL} is not a PE32 (i386) image")
endif()
if(NOT dump MATCHES "Characteristics[^\n]*\n([^\n]*\n)*[^\n]*DLL")
  message(FATAL_ERROR "${DLL} is not marked as a DLL")
endif()

if(NOT dump MATCHES "Resource Directory \\[\\.rsrc\\]")
  message(FATAL_ERROR "${DLL} carries no resources (its version information)")
endif()

set(allowed KERNEL32.dll USER32.dll ADVAPI32.dll SHELL32.dll SHLWAPI.dll msvcrt.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  list(FIND allowed "${name}" index)
  if(index EQUAL -1)
    message(FATAL_ERROR "${DLL} imports ${name}, which is not a Windows system DLL")
  endif()
  message(STATUS "imports ${name}")
endforeach()

set(expected DM_DeleteTask DM_DownloadAgain DM_GetLastError DM_GetTaskCount DM_GetTaskInfo
             DM_GetTimeStamp DM_OpenTaskFile DM_PauseTask DM_ResumeTask DM_SetTaskInfo)
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([^\n]*\\[ *[0-9]+\\] [^\n]+\n)+)" table "${dump}")
string(REGEX MATCHALL "\\] [A-Za-z_@0-9]+" exported "${CMAKE_MATCH_1}")
list(TRANSFORM exported REPLACE "[] ]" "")
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports are '${exported}', expected '${expected}'")
endif()
message(STATUS "exports ${exported}")
