# Run by CPack on its staging tree before it makes the Debian packages,
# after cmake/QoDebStrip.cmake: for the package of each runtime library
# (the components CPACK_QO_RUNTIME_COMPONENTS), writes the symbols file of
# its shared library into CPACK_QO_CONTROL_DIR/<package>/, where the
# package's control files are taken from, and adds what dpkg-shlibdeps
# finds the library needs to the package's Depends. Every symbol is marked
# as there since this version; the file names libqo-dev as the package
# that programs are built with.
foreach(component IN LISTS CPACK_QO_RUNTIME_COMPONENTS)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(dir "${CPACK_TEMPORARY_DIRECTORY}/${component}")
  set(library "${dir}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_QO_LIBDIR}/lib${component}.so.${CPACK_PACKAGE_VERSION}")
  if(NOT EXISTS "${library}")
    message(FATAL_ERROR "${package}: no ${library}")
  endif()

  # Made afresh: dpkg-gensymbols would start from a file left by a run before.
  set(symbols ${CPACK_QO_CONTROL_DIR}/${package}/symbols)
  file(REMOVE ${symbols})
  execute_process(
      COMMAND dpkg-gensymbols -q -p${package} -v${CPACK_PACKAGE_VERSION}
              -e${library} -O${symbols}
      WORKING_DIRECTORY "${dir}"
      RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-gensymbols ${package}: ${status}")
  endif()
  file(STRINGS ${symbols} lines)
  list(INSERT lines 1 "* Build-Depends-Package: ${CPACK_DEBIAN_DEV_PACKAGE_NAME}")
  list(JOIN lines "\n" text)
  file(WRITE ${symbols} "${text}\n")

  # dpkg-shlibdeps wants a source package's control file, and the folders
  # of the other qo libraries, which it finds but leaves to the Depends
  # already given.
  set(work ${CPACK_QO_CONTROL_DIR}/${package}/shlibdeps)
  file(WRITE "${work}/debian/control" "")
  set(search)
  foreach(other IN LISTS CPACK_QO_RUNTIME_COMPONENTS)
    list(APPEND search "-l${CPACK_TEMPORARY_DIRECTORY}/${other}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_QO_LIBDIR}")
  endforeach()
  execute_process(
      COMMAND dpkg-shlibdeps -O --ignore-missing-info ${search} "${library}"
      WORKING_DIRECTORY "${work}"
      RESULT_VARIABLE status
      OUTPUT_VARIABLE found
      ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-shlibdeps ${package}: ${errors}")
  endif()
  file(REMOVE_RECURSE "${work}")
  string(REGEX REPLACE "^shlibs:Depends=([^\n]*)\n?$" "\\1" found "${found}")
  set(depends ${CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS})
  if(depends)
    string(APPEND depends ", ")
  endif()
  set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${depends}${found}")
endforeach()
