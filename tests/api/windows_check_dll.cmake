# Reads the DLL's tables with objdump -p and checks that:
# - it exports exactly the names of the export list;
# - it imports from system DLLs only: no MinGW runtime DLL, and no msvcrt.dll;
# - its C runtime is the Universal C Runtime, the one programs built with
#   MSVC use: malloc and free come from the UCRT's heap set and _strdup from
#   the UCRT, so a host's free() releases the texts the DLL returns.
# cmake -DOBJDUMP=... -DLIBRARY=... -DEXPORTS=... -P windows_check_dll.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

set(exported "")
set(dlls "")
set(in_exports FALSE)
set(dll "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_exports TRUE)
  elseif(in_exports AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
    list(APPEND exported ${CMAKE_MATCH_1})
  elseif(line MATCHES "^\tDLL Name: (.+)$")
    set(in_exports FALSE)
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND dlls ${dll})
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([^ ]+)")
    set(source_of_${CMAKE_MATCH_1} ${dll})
  elseif(line STREQUAL "")
    set(in_exports FALSE)
  endif()
endforeach()

set(failures "")
include(${CMAKE_CURRENT_LIST_DIR}/export_names.cmake)
corvex_compare_export_names("${exported}" ${EXPORTS} difference)
if(difference)
  list(APPEND failures "${difference}")
endif()

set(system_dlls advapi32.dll bcrypt.dll crypt32.dll iphlpapi.dll kernel32.dll ole32.dll
                shell32.dll ws2_32.dll)
foreach(dll IN LISTS dlls)
  if(NOT dll MATCHES "^api-ms-win-crt-[a-z]+-l1-1-0\\.dll$" AND NOT dll IN_LIST system_dlls)
    list(APPEND failures "imports from ${dll}")
  endif()
endforeach()

foreach(function malloc free)
  if(NOT source_of_${function} STREQUAL "api-ms-win-crt-heap-l1-1-0.dll")
    list(APPEND failures "${function} comes from '${source_of_${function}}', not the UCRT's heap")
  endif()
endforeach()
if(NOT source_of__strdup MATCHES "^api-ms-win-crt-")
  list(APPEND failures "_strdup comes from '${source_of__strdup}', not the UCRT")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${LIBRARY}:\n  ${text}")
endif()
list(LENGTH exported count)
list(LENGTH dlls dll_count)
message(STATUS "${count} exported names match the list; ${dll_count} system DLLs imported; C runtime: UCRT")
