# Run by ctest (cmake -P): install, build the consumer both ways, run it, compare its output.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Everything the package promises is where users look for it.
foreach(f ${LIBDIR}/cmake/Kovan/KovanConfig.cmake ${LIBDIR}/cmake/Kovan/KovanTargets.cmake
    ${LIBDIR}/pkgconfig/kovan.pc ${LIBDIR}/libkovan_foundation.a
    include/kovan/foundation/Btring.h ${BINDIR}/quillo ${BINDIR}/quillo-rtc
    ${MANDIR}/man8/quillo.8)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

file(READ ${SOURCE_DIR}/expected.txt expected)

function(check_output program how)
  run(${EMULATOR} ${program})
  if(NOT run_output STREQUAL expected)
    message(FATAL_ERROR "${how} consumer printed:\n${run_output}\nexpected:\n${expected}")
  endif()
  message(STATUS "${how} consumer: ok")
endfunction()

# find_package(Kovan) against the installed tree only (a cross toolchain searches only the
# target's own tree, so there the package is named directly).
set(configure_args -S ${SOURCE_DIR} -B ${WORK_DIR}/cmake-build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
if(MAKE_PROGRAM)
  list(APPEND configure_args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
if(TOOLCHAIN_FILE)
  list(APPEND configure_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}
    -DKovan_DIR=${prefix}/${LIBDIR}/cmake/Kovan)
endif()
run(${CMAKE_COMMAND} ${configure_args})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
check_output(${WORK_DIR}/cmake-build/consumer "find_package")

# pkg-config, with nothing but the installed file on its path.
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${LIBDIR}/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
run(pkg-config --cflags --libs kovan)
string(STRIP "${run_output}" flags)
separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS} ${flags} ${LINKER_FLAGS}")
# pkg-config lists the libraries only: this build brings its own assertion hook.
run(${CXX_COMPILER} -std=c++17 -DCONSUMER_OWN_CHECK_HANDLER ${SOURCE_DIR}/main.cpp ${flags}
  -o ${WORK_DIR}/consumer-pc)
check_output(${WORK_DIR}/consumer-pc "pkg-config")
