# Warning flags shared by every target of the project.
set(KOVAN_WARNINGS -Wall -Wextra -Wshadow -Wformat=2)
if(KOVAN_WERROR)
  list(APPEND KOVAN_WARNINGS -Werror)
endif()

# kovan_library(NAME [OBJECT] [INTERNAL] SOURCES ... [DEPS ...]): one static library per folder,
# with the Kovan:: alias and the single include root, installed and exported with its headers.
# OBJECT makes an object library (its objects go into every program that links it); INTERNAL
# keeps it out of the installed tree.
function(kovan_library name)
  cmake_parse_arguments(ARG "OBJECT;INTERNAL" "" "SOURCES;DEPS" ${ARGN})
  set(target kovan_${name})
  set(kind STATIC)
  if(ARG_OBJECT)
    set(kind OBJECT)
  endif()
  add_library(${target} ${kind} ${ARG_SOURCES})
  add_library(Kovan::${name} ALIAS ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name} POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/kovan>)
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_compile_options(${target} PRIVATE ${KOVAN_WARNINGS})
  if(ARG_DEPS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  endif()
  if(ARG_INTERNAL)
    return()
  endif()
  install(TARGETS ${target} EXPORT KovanTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    OBJECTS DESTINATION ${CMAKE_INSTALL_LIBDIR}/kovan)
  # Headers sit beside their sources; install them under include/kovan/<folder>/ so the
  # include text stays the same for users.
  file(GLOB_RECURSE headers RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(h ${headers})
    get_filename_component(sub ${h} DIRECTORY)
    install(FILES ${h} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kovan/${name}/${sub})
  endforeach()
endfunction()
