# Run by ctest (cmake -P): the field tool stays small, so nothing in it may pull in the iostream
# and locale machinery of the C++ library (hundreds of kilobytes once linked statically).
execute_process(COMMAND ${NM} -C ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE symbols)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "[^\n]*(std::ios_base|std::basic_[io]stream|std::basic_[io]fstream|std::basic_stringstream|std::locale|std::cout|std::cerr)[^\n]*"
  found "${symbols}")
if(found)
  string(REPLACE ";" "\n" found "${found}")
  message(FATAL_ERROR "${PROGRAM} uses iostreams:\n${found}")
endif()
