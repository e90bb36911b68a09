# Run by ctest (cmake -P): PROGRAM COUNT times, each within TIMEOUT seconds; the first failure
# ends the test with its run number and output. Start-up order faults are races, so one run
# proves little.
foreach(run RANGE 1 ${COUNT})
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} TIMEOUT ${TIMEOUT}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc STREQUAL "0")
    message(FATAL_ERROR "run ${run} of ${COUNT} failed (${rc}):\n${out}${err}")
  endif()
endforeach()
message(STATUS "${COUNT} of ${COUNT} runs succeeded")
