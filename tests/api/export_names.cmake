# corvex_compare_export_names(<names> <list file> <out>): sets <out> to a
# description of how the exported names differ from the checked-in list, or
# to an empty text when they are the same names.
function(corvex_compare_export_names names list_file out)
  file(STRINGS ${list_file} expected)
  list(SORT names)
  list(SORT expected)
  set(difference "")
  if(NOT names STREQUAL expected)
    set(extra ${names})
    list(REMOVE_ITEM extra ${expected})
    set(missing ${expected})
    list(REMOVE_ITEM missing ${names})
    set(difference "exported names differ from the list: not listed: ${extra}; missing: ${missing}")
  endif()
  set(${out} "${difference}" PARENT_SCOPE)
endfunction()
