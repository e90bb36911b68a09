# Run by CPack after it has staged each package's files, before it builds the packages: what
# Debian asks of every binary package and a plain install does not need. Programs lose their
# .comment section. Manual pages are
# compressed (gzip -9n: no name or time stamp, so rebuilds give the same bytes), and each
# package gets /usr/share/doc/<package>/copyright and changelog.Debian.gz, and its lintian
# overrides (cmake/debian/).
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(root ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
  if(NOT IS_DIRECTORY ${root})
    message(FATAL_ERROR "package ${package} has no files (nothing installed to component ${component})")
  endif()

  file(GLOB pages ${root}/share/man/man*/*.[1-9])
  foreach(page ${pages})
    execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "gzip ${page} failed")
    endif()
  endforeach()

  # The compiler's version note, which the C runtime's start files bring into every program even
  # when this build leaves it out (-fno-ident): of no use on the board, as Debian's own packages.
  # Links are left alone: the development package's link to a shared library dangles here.
  file(GLOB_RECURSE programs ${root}/bin/* ${root}/sbin/* ${root}/lib/*.so ${root}/lib/*.so.*)
  foreach(program ${programs})
    if(IS_SYMLINK ${program})
      continue()
    endif()
    file(READ ${program} magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      execute_process(COMMAND ${CPACK_KOVAN_OBJCOPY} --remove-section=.comment ${program}
        RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "objcopy ${program} failed")
      endif()
    endif()
  endforeach()

  # A package's settings under /etc (outside the prefix, so never in a plain install): the tree
  # cmake/debian/<package>/etc, each file listed in cmake/debian/<package>/conffiles.
  if(IS_DIRECTORY ${CPACK_KOVAN_DOC_DIR}/${package}/etc)
    file(COPY ${CPACK_KOVAN_DOC_DIR}/${package}/etc DESTINATION ${CPACK_TEMPORARY_DIRECTORY}/${component}
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
      DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
      WORLD_EXECUTE)
  endif()

  set(doc ${root}/share/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  file(COPY_FILE ${CPACK_KOVAN_DOC_DIR}/copyright ${doc}/copyright)
  execute_process(COMMAND gzip -9nc ${CPACK_KOVAN_DOC_DIR}/changelog
    OUTPUT_FILE ${doc}/changelog.Debian.gz RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip changelog failed")
  endif()
  # Lintian's overrides: the ones every package shares, then the package's own, each explained
  # in its file.
  set(overrides ${root}/share/lintian/overrides/${package})
  file(READ ${CPACK_KOVAN_DOC_DIR}/lintian-overrides text)
  if(EXISTS ${CPACK_KOVAN_DOC_DIR}/${package}.lintian-overrides)
    file(READ ${CPACK_KOVAN_DOC_DIR}/${package}.lintian-overrides own)
    string(APPEND text "${own}")
  endif()
  file(WRITE ${overrides} "${text}")
  file(CHMOD ${overrides} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(CHMOD ${root}/share/lintian ${root}/share/lintian/overrides DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

  file(CHMOD ${doc}/copyright ${doc}/changelog.Debian.gz PERMISSIONS OWNER_READ OWNER_WRITE
    GROUP_READ WORLD_READ)
  file(CHMOD ${doc} ${root}/share/doc DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
