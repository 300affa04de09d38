# Checks that a source file names exactly the exports of the export list.
# Comments and preprocessor lines are left out (the later lines of a continued
# directive stay, so an X-macro table is read) and each run of blanks becomes
# one space. Every match of PATTERN names one export: its first capture group
# that matched a non-empty text, so that an optional group before the usual
# one overrides it (a C# EntryPoint).
# cmake -DSOURCE=<file> -DPATTERN=<regex> -DEXPORTS=<list> -P check_source_names.cmake
cmake_minimum_required(VERSION 3.20)
file(READ ${SOURCE} text)

# The code without its comments; string literals are kept whole, so that a
# "//" inside one is not taken for a comment.
set(code "")
while(NOT text STREQUAL "")
  if(text MATCHES "^//")
    string(FIND "${text}" "\n" end)
  elseif(text MATCHES "^/\\*")
    string(FIND "${text}" "*/" end)
    if(end LESS 0)
      message(FATAL_ERROR "${SOURCE}: a comment is not closed")
    endif()
    string(APPEND code " ")
    math(EXPR end "${end} + 2")
  else()
    # Plain code, a string literal, or a lone slash or quote.
    string(REGEX MATCH "^([^\"/]+|\"([^\"\\\\\n]|\\\\.)*\"|.)" kept "${text}")
    string(APPEND code "${kept}")
    string(LENGTH "${kept}" end)
  endif()
  if(end LESS 0)
    set(text "")
  else()
    string(SUBSTRING "${text}" ${end} -1 text)
  endif()
endwhile()
string(REGEX REPLACE "\n[ \t]*#[^\n]*" "\n" code "\n${code}")
string(REGEX REPLACE "[ \t\r\n]+" " " code "${code}")

set(names "")
while(code MATCHES "${PATTERN}")
  set(match "${CMAKE_MATCH_0}")
  set(name "")
  foreach(group RANGE 1 9)
    if(name STREQUAL "" AND NOT "${CMAKE_MATCH_${group}}" STREQUAL "")
      set(name "${CMAKE_MATCH_${group}}")
    endif()
  endforeach()
  string(LENGTH "${match}" length)
  if(length EQUAL 0 OR name STREQUAL "")
    message(FATAL_ERROR "PATTERN matched '${match}' but gave no name: ${PATTERN}")
  endif()
  list(APPEND names ${name})
  string(FIND "${code}" "${match}" at)
  math(EXPR at "${at} + ${length}")
  string(SUBSTRING "${code}" ${at} -1 code)
endwhile()
list(REMOVE_DUPLICATES names)

include(${CMAKE_CURRENT_LIST_DIR}/export_names.cmake)
corvex_require_export_names("${names}" ${EXPORTS} "${SOURCE}")
