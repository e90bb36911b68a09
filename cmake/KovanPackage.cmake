# What `cmake --install` adds beside the libraries, headers and program (installed where they are
# defined): the CMake package (find_package(Kovan), targets Kovan::<library>), a pkg-config
# file for builds that do not use CMake, and quillo's manual page (others go with their programs).
include(CMakePackageConfigHelpers)

set(KOVAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kovan)

# Libraries in link order (users before the libraries they use). Kovan::check_handler, an object
# library, is in the CMake package only.
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

set(KOVAN_PC_LIBS "")
foreach(name ${KOVAN_PACKAGE_LIBRARIES})
  string(APPEND KOVAN_PC_LIBS " -lkovan_${name}")
endforeach()
# The prefix is found from the file's own place, so the tree can be installed with --prefix or
# DESTDIR and moved afterwards.
file(RELATIVE_PATH KOVAN_PC_PREFIX_FROM_PCDIR
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KOVAN_PC_PREFIX_FROM_PCDIR "${KOVAN_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kovan.pc.in ${PROJECT_BINARY_DIR}/kovan.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kovan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
