# A path as one argument of a desktop entry's or D-Bus service's Exec line: quoted where a character
# would otherwise split or change it, with the four characters that stay special inside quotes escaped.
function(glimra_exec_argument path out)
  if(path MATCHES "[] \t\"'\\\\><~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" path "${path}")
    set(path "\"${path}\"")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
