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
set(promised ${LIBDIR}/cmake/Kovan/KovanConfig.cmake ${LIBDIR}/cmake/Kovan/KovanTargets.cmake
  ${LIBDIR}/libkovan-check-handler.a include/kovan/foundation/Btring.h ${BINDIR}/quillo
  ${BINDIR}/quillo-rtc ${MANDIR}/man8/quillo.8)
foreach(name foundation net registry sntp)
  list(APPEND promised ${LIBDIR}/libkovan-${name}.a ${LIBDIR}/pkgconfig/kovan-${name}.pc)
  if(SHARED)
    list(APPEND promised ${LIBDIR}/libkovan-${name}.so ${LIBDIR}/libkovan-${name}.so.1)
  endif()
endforeach()
foreach(f ${promised} ${LIBDIR}/pkgconfig/kovan.pc ${LIBDIR}/pkgconfig/kovan-check-handler.pc)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# ... and nothing that is not for users: internal headers, loose object files.
file(GLOB_RECURSE objects ${prefix}/*.o)
if(objects)
  message(FATAL_ERROR "object files installed: ${objects}")
endif()
foreach(f net/Inet4.h registry/RegistryWalk.h foundation/ClockPolicy.h)
  if(EXISTS ${prefix}/include/kovan/${f})
    message(FATAL_ERROR "installed, but internal: ${f}")
  endif()
endforeach()
# Every header an installed header includes is installed too.
file(GLOB_RECURSE headers ${prefix}/include/kovan/*.h)
foreach(h ${headers})
  file(STRINGS ${h} includes REGEX "^#include \"(foundation|net|registry|sntp)/")
  foreach(line ${includes})
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
    if(NOT EXISTS ${prefix}/include/kovan/${included})
      message(FATAL_ERROR "${h} includes ${included}, which is not installed")
    endif()
  endforeach()
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
set(configure_args -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
if(MAKE_PROGRAM)
  list(APPEND configure_args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
if(TOOLCHAIN_FILE)
  list(APPEND configure_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}
    -DKovan_DIR=${prefix}/${LIBDIR}/cmake/Kovan)
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/cmake-build ${configure_args})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
check_output(${WORK_DIR}/cmake-build/consumer "find_package")

# pkg-config, with nothing but the installed files on its path: the usual check handler asked
# for by name, and a program's own hook beside the libraries alone.
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${LIBDIR}/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
function(pkg_config_build source output defines)
  run(pkg-config --cflags --libs ${ARGN})
  string(STRIP "${run_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS} ${flags} ${LINKER_FLAGS}")
  run(${CXX_COMPILER} -std=c++17 ${defines} ${source} ${flags} -o ${output})
endfunction()
pkg_config_build(${SOURCE_DIR}/main.cpp ${WORK_DIR}/consumer-pc "" kovan kovan-check-handler)
check_output(${WORK_DIR}/consumer-pc "pkg-config")
pkg_config_build(${SOURCE_DIR}/main.cpp ${WORK_DIR}/consumer-own "-DCONSUMER_OWN_CHECK_HANDLER"
  kovan-sntp kovan-registry)
check_output(${WORK_DIR}/consumer-own "pkg-config, own check handler,")

# The board daemon of the guide, both ways and with either kind of library; it runs elsewhere
# (it serves and syncs time), here it answers --help.
set(daemon_source ${EXAMPLES_DIR}/board-daemon)
set(kinds OFF)
if(SHARED)
  list(APPEND kinds ON)
endif()
foreach(shared ${kinds})
  set(build ${WORK_DIR}/daemon-cmake-${shared})
  run(${CMAKE_COMMAND} -S ${daemon_source} -B ${build} ${configure_args}
    -DBOARD_DAEMON_SHARED=${shared})
  run(${CMAKE_COMMAND} --build ${build})
  run(${EMULATOR} ${build}/board-daemon --help)
  message(STATUS "board-daemon, find_package, shared ${shared}: ok")
endforeach()
pkg_config_build(${daemon_source}/BoardDaemon.cpp ${WORK_DIR}/daemon-pc "" kovan-sntp
  kovan-registry kovan-check-handler)
run(${EMULATOR} ${WORK_DIR}/daemon-pc --help)
message(STATUS "board-daemon, pkg-config: ok")
