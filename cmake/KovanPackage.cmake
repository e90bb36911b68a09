# What `cmake --install` adds beside the libraries, headers and program (installed where they are
# defined): the CMake package (find_package(Kovan), targets Kovan::<library>), a pkg-config
# file for builds that do not use CMake, and quillo's manual page (others go with their programs).
include(CMakePackageConfigHelpers)

set(KOVAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kovan)

# Libraries in link order (users before the libraries they use).
set(KOVAN_PACKAGE_LIBRARIES sntp net registry foundation)

# 32-bit builds use 64-bit file offsets (see the armhf toolchain file); a user compiled without
# them would disagree about off_t in every call that passes one. On 64-bit targets off_t is
# 64 bits anyway, and the definition is left out so it renames nothing there.
set(KOVAN_PC_CFLAGS "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(kovan_foundation INTERFACE _FILE_OFFSET_BITS=64)
  set(KOVAN_PC_CFLAGS " -D_FILE_OFFSET_BITS=64")
endif()

# quillo's manual page goes wherever quillo goes.
install(FILES ${PROJECT_SOURCE_DIR}/tool/quillo.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8
  COMPONENT quillo)

install(EXPORT KovanTargets
  NAMESPACE Kovan::
  FILE KovanTargets.cmake
  DESTINATION ${KOVAN_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KovanConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KovanConfig.cmake
  INSTALL_DESTINATION ${KOVAN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KovanConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KovanConfig.cmake ${PROJECT_BINARY_DIR}/KovanConfigVersion.cmake
  DESTINATION ${KOVAN_CMAKE_DIR})

# pkg-config: one file per library, each requiring the libraries it builds on, as Debian's C++
# libraries do; kovan.pc requires all four; kovan-check-handler is asked for by name. -lkovan-<name>
# finds the shared library where one is installed, else the static one.
# The prefix is found from the file's own place, so the tree can be installed with --prefix or
# DESTDIR and moved afterwards.
file(RELATIVE_PATH KOVAN_PC_PREFIX_FROM_PCDIR
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KOVAN_PC_PREFIX_FROM_PCDIR "${KOVAN_PC_PREFIX_FROM_PCDIR}")

# kovan_pc(NAME DESCRIPTION REQUIRES LIBS): kovan-NAME.pc.
function(kovan_pc name description requires libs)
  set(KOVAN_PC_NAME kovan-${name})
  set(KOVAN_PC_DESCRIPTION "${description}")
  set(KOVAN_PC_REQUIRES "${requires}")
  set(KOVAN_PC_LIBS "${libs}")
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/kovan-library.pc.in
    ${PROJECT_BINARY_DIR}/pkgconfig/kovan-${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/kovan-${name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

kovan_pc(foundation "Kovan foundation runtime: diagnostics, strings, threads, time, files" ""
  "-lkovan-foundation -pthread")
kovan_pc(net "Kovan networking: sockets, addresses, byte buffers, channels" kovan-foundation
  -lkovan-net)
kovan_pc(registry "Kovan settings registry, binary streams, MD5, Base64" kovan-foundation
  -lkovan-registry)
kovan_pc(sntp "Kovan SNTP time service: client with background sync, servers"
  "kovan-net kovan-foundation" -lkovan-sntp)
# The usual Kovan::assertFunc; -u takes it from the archive wherever the libraries come.
kovan_pc(check-handler "The usual Kovan check handler: the failed check on standard error, abort"
  "" "-Wl,--undefined=${KOVAN_ASSERT_FUNC_SYMBOL} -lkovan-check-handler")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kovan.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/kovan.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/kovan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
