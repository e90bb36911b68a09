# Run by ctest (cmake -P): the field tools stay small, so nothing in them may pull in the iostream
# and locale machinery of the C++ library (hundreds of kilobytes once linked statically).
foreach(program ${PROGRAMS})
  execute_process(COMMAND ${NM} -C ${program} RESULT_VARIABLE rc OUTPUT_VARIABLE symbols)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${program}")
  endif()
  string(REGEX MATCHALL "[^\n]*(std::ios_base|std::basic_[io]stream|std::basic_[io]fstream|std::basic_stringstream|std::locale|std::cout|std::cerr)[^\n]*"
    found "${symbols}")
  if(found)
    string(REPLACE ";" "\n" found "${found}")
    message(FATAL_ERROR "${program} uses iostreams:\n${found}")
  endif()
endforeach()
