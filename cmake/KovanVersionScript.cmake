# Run at build time (cmake -P) for each shared library: writes OUTPUT, the linker version script
# that exports the public API from the library's OBJECTS and nothing else.
#
# Exported: everything in namespace Kovan with its type information and virtual tables, and the
# global trace function. The linker takes a name listed exactly over a pattern, so each defined
# symbol whose demangled name starts with one of the INTERNAL prefixes is listed as local by its
# mangled name. Everything else (the C++ library's template code, helpers with internal linkage)
# is local too. The version node KOVAN_1 lets a later incompatible change coexist.
string(REPLACE "," ";" OBJECTS "${OBJECTS}")
string(REPLACE "," ";" INTERNAL "${INTERNAL}")
set(internal_names "")
foreach(object ${OBJECTS})
  # Unsorted, so the mangled and the demangled listing name the same symbols in the same order.
  foreach(demangle "" "-C")
    execute_process(COMMAND ${NM} --defined-only --no-sort --format=posix ${demangle} ${object}
      RESULT_VARIABLE rc OUTPUT_VARIABLE out)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${NM} failed on ${object}")
    endif()
    string(REPLACE ";" "\\;" out "${out}")
    string(REGEX REPLACE "\n$" "" out "${out}")
    string(REPLACE "\n" ";" out "${out}")
    if(demangle)
      set(demangled "${out}")
    else()
      set(mangled "${out}")
    endif()
  endforeach()
  list(LENGTH mangled count)
  if(count EQUAL 0)
    continue()
  endif()
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    list(GET demangled ${i} line)
    foreach(prefix ${INTERNAL})
      string(FIND "${line}" "${prefix}" at)
      # At the start, or after "typeinfo for ", "vtable for ", "guard variable for " ...
      if(at EQUAL 0 OR (at GREATER 0 AND line MATCHES "^[a-zA-Z ]+ for ${prefix}"))
        list(GET mangled ${i} entry)
        # posix format: NAME TYPE VALUE SIZE; a mangled name has no space.
        string(REGEX REPLACE " .*" "" symbol "${entry}")
        list(APPEND internal_names "${symbol}")
        break()
      endif()
    endforeach()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES internal_names)

set(text "KOVAN_1 {\n  global:\n    extern \"C++\" {\n")
# The unquoted ? matches the space that a pattern cannot hold (a quoted name is never a pattern).
foreach(pattern "Kovan::*" "typeinfo?for?Kovan::*" "typeinfo?name?for?Kovan::*"
    "vtable?for?Kovan::*" "VTT?for?Kovan::*" "guard?variable?for?Kovan::*"
    "\"trace(char const*, ...)\"")
  string(APPEND text "      ${pattern};\n")
endforeach()
string(APPEND text "    };\n  local:\n")
foreach(symbol ${internal_names})
  string(APPEND text "    ${symbol};\n")
endforeach()
string(APPEND text "    *;\n};\n")
# Rewritten only when it changes, so an unchanged library is not linked again.
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${text}" @ONLY)
