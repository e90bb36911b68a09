# Warning flags shared by every target of the project.
set(KOVAN_WARNINGS -Wall -Wextra -Wshadow -Wformat=2)
if(KOVAN_WERROR)
  list(APPEND KOVAN_WARNINGS -Werror)
endif()

# Off: static libraries only, as always. On: each public library is also built as a shared
# library of the same objects, libkovan-<name>.so.<major> (the runtime package libkovan1 of
# cmake/KovanDebian.cmake), exporting only the public API (cmake/KovanVersionScript.cmake). The
# programs of this tree link the static libraries either way.
option(KOVAN_SHARED "Also build the libraries as shared libraries with versioned SONAMEs" OFF)

# Headers that only the libraries' own sources include: not installed.
set(KOVAN_INTERNAL_HEADERS foundation/ClockPolicy.h net/Inet4.h registry/RegistryWalk.h)
# Symbols that a shared library keeps to itself (prefixes of demangled names): helpers that no
# other library and no user calls. The helpers one library lends another (Kovan::detail, the
# clock policy) stay exported, as the libraries are separate files. SntpSocket's header is
# installed all the same: SntpClient holds one by value.
set(KOVAN_INTERNAL_SYMBOLS Kovan::SntpSocket:: Kovan::Registry::Walk:: Kovan::Registry::Siblings::)

# kovan_library(NAME [INTERNAL] SOURCES ... [DEPS ...]): one static library per folder, with the
# Kovan:: alias and the single include root, installed and exported with its headers. INTERNAL
# keeps it out of the installed tree. The file is libkovan-<name>.a (Debian's spelling, so
# -lkovan-<name> finds the static or the shared library alike).
function(kovan_library name)
  cmake_parse_arguments(ARG "INTERNAL" "" "SOURCES;DEPS" ${ARGN})
  set(target kovan_${name})
  string(REPLACE "_" "-" file_name "kovan-${name}")
  set(shared FALSE)
  if(KOVAN_SHARED AND NOT ARG_INTERNAL AND NOT name STREQUAL "check_handler")
    set(shared TRUE)
  endif()

  if(shared)
    # One compilation for both kinds: the objects are position-independent anyway.
    add_library(${target}_objects OBJECT ${ARG_SOURCES})
    kovan_library_usage(${target}_objects PRIVATE "${ARG_DEPS}")
    add_library(${target} STATIC $<TARGET_OBJECTS:${target}_objects>)
  else()
    add_library(${target} STATIC ${ARG_SOURCES})
  endif()
  add_library(Kovan::${name} ALIAS ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name} OUTPUT_NAME ${file_name})
  kovan_library_usage(${target} PUBLIC "${ARG_DEPS}")
  if(ARG_INTERNAL)
    return()
  endif()
  install(TARGETS ${target} EXPORT KovanTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

  if(shared)
    kovan_shared_library(${name} "${ARG_DEPS}")
  endif()

  # Headers sit beside their sources; install them under include/kovan/<folder>/ so the
  # include text stays the same for users.
  file(GLOB_RECURSE headers RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(h ${headers})
    if(NOT "${name}/${h}" IN_LIST KOVAN_INTERNAL_HEADERS)
      get_filename_component(sub ${h} DIRECTORY)
      install(FILES ${h} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kovan/${name}/${sub})
    endif()
  endforeach()
endfunction()

# What building and using a library's code takes: the include root, C++17, PIC, the warnings.
function(kovan_library_usage target scope deps)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${target} ${scope}
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/kovan>)
  target_compile_features(${target} ${scope} cxx_std_17)
  target_compile_options(${target} PRIVATE ${KOVAN_WARNINGS})
  if(deps)
    target_link_libraries(${target} ${scope} ${deps})
  endif()
endfunction()

# kovan_shared_library(NAME DEPS): Kovan::<name>_shared, libkovan-<name>.so.<major>, from the
# objects of the static library, linked against the shared libraries it builds on. Its version
# script (cmake/KovanVersionScript.cmake) exports the namespace Kovan and the trace function,
# except KOVAN_INTERNAL_SYMBOLS; all else is local. Kovan::assertFunc stays undefined: the program supplies it, as
# with the static libraries.
function(kovan_shared_library name deps)
  set(target kovan_${name}_shared)
  string(REPLACE "_" "-" file_name "kovan-${name}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${file_name}.map)
  # Lists travel comma-separated: a semicolon would end the command in the shell.
  string(REPLACE ";" "," internal "${KOVAN_INTERNAL_SYMBOLS}")
  add_custom_command(OUTPUT ${script}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DOUTPUT=${script}
      "-DOBJECTS=$<JOIN:$<TARGET_OBJECTS:kovan_${name}_objects>,$<COMMA>>"
      "-DINTERNAL=${internal}"
      -P ${PROJECT_SOURCE_DIR}/cmake/KovanVersionScript.cmake
    DEPENDS kovan_${name}_objects $<TARGET_OBJECTS:kovan_${name}_objects>
      ${PROJECT_SOURCE_DIR}/cmake/KovanVersionScript.cmake
    VERBATIM)

  # The script is a source so that it is made before the link.
  add_library(${target} SHARED $<TARGET_OBJECTS:kovan_${name}_objects> ${script})
  add_library(Kovan::${name}_shared ALIAS ${target})
  set_target_properties(${target} PROPERTIES
    EXPORT_NAME ${name}_shared
    OUTPUT_NAME ${file_name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${script})
  target_link_options(${target} PRIVATE LINKER:--version-script=${script})
  set(shared_deps "")
  foreach(dep ${deps})
    if(dep MATCHES "^Kovan::(.*)$")
      list(APPEND shared_deps Kovan::${CMAKE_MATCH_1}_shared)
    else()
      list(APPEND shared_deps ${dep})
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/kovan>)
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_link_libraries(${target} PUBLIC ${shared_deps})
  # The versioned file and the SONAME link go to the runtime package; the link a build finds
  # with -lkovan-<name> to the development package.
  install(TARGETS ${target} EXPORT KovanTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
      COMPONENT runtime NAMELINK_COMPONENT dev)
endfunction()
