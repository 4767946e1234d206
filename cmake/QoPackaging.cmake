# Debian packages, made by CPack from the install components (see
# scripts/package.sh, which configures with QO_DEBIAN_LAYOUT=ON):
#   krtlogs        the tool, its manual page and bash completion, and its
#                  scheduled collection (a systemd service and timer)
#   krtlogs-tools  velto-repo and krt-sim, a bench without real units
#   libqo-dev      the qo runtime's development files: headers, static
#                  libraries, the development links of the shared ones,
#                  CMake and pkg-config files, the IDL
#   libqo-error1, libqo-pproc1, libqo-pos1, libqo-idl1, libqo-corba1,
#   libqo-log1, libqo-pm-core1, libqo-pm1, libqo-zip1
#                  one runtime library each, named after its SONAME, so
#                  that a program pulls in only the libraries it links
#                  (a zip-only program libqo-zip1, and not the ORB)
# The programs link the runtime statically. A runtime package has the
# shlibs, symbols and ldconfig trigger files of its library and depends on
# the runtime packages of the qo libraries it links, of the same version.
# Before packaging, CPack runs cmake/QoDebStrip.cmake and
# cmake/QoDebRuntime.cmake on its staging tree. The libraries that a
# package's ELF files need decide the rest of its dependencies
# (dpkg-shlibdeps).
set(QO_PACKAGE_MAINTAINER "krtlogs developers <krtlogs@example.org>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME krtlogs)
set(CPACK_PACKAGE_VENDOR "krtlogs developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL ${QO_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Stripped as Debian's dh_strip does, not by CPack's plain strip, which
# leaves static libraries and the .comment and .note sections alone.
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/QoDebStrip.cmake
                            ${PROJECT_SOURCE_DIR}/cmake/QoDebRuntime.cmake
                            ${PROJECT_SOURCE_DIR}/cmake/QoDebEtc.cmake)
set(CPACK_QO_STRIP ${CMAKE_STRIP})
set(CPACK_QO_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(CPACK_QO_CONTROL_DIR ${PROJECT_BINARY_DIR}/packaging)

set(_qo_description_runtime
"The qo runtime holds the error model, threads, the ORB wrapper with remote
call translation, the log manager and Velto repository proxies and
servants, and a zip archive writer.")

set(CPACK_DEBIAN_KRTLOGS_PACKAGE_NAME krtlogs)
set(CPACK_DEBIAN_KRTLOGS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_KRTLOGS_PACKAGE_RECOMMENDS bash-completion)
# The scheduled collection: its configuration file is a conffile, so that
# an upgrade keeps the operator's edits; the maintainer scripts make its
# system user and tell systemd about the units (packaging/systemd/).
set(_qo_systemd ${PROJECT_SOURCE_DIR}/packaging/systemd)
set(CPACK_DEBIAN_KRTLOGS_PACKAGE_CONTROL_EXTRA
    ${_qo_systemd}/conffiles ${_qo_systemd}/postinst ${_qo_systemd}/prerm
    ${_qo_systemd}/postrm)
set(CPACK_COMPONENT_KRTLOGS_DESCRIPTION
"collects the logs of KRT units into a zip archive
krtlogs finds the KRT units of this host's network through the Velto
repository, reads each unit's whole log, writes one text file per unit and
packs the files into a zip archive; it can also empty the units' logs.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME krtlogs-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
"Velto repository and simulated KRT units for trying krtlogs
velto-repo serves an in-memory Velto repository on port 4000 and krt-sim
runs simulated KRT units that publish their log managers in it, so that
krtlogs can be run and tried on one machine without real units.")

# The exported libraries that a library links, directly or through others.
function(_qo_linked_libraries out library)
  get_property(exported GLOBAL PROPERTY QO_EXPORTED_LIBRARIES)
  get_target_property(public ${library} QO_PUBLIC_DEPS)
  get_target_property(private ${library} QO_PRIVATE_DEPS)
  set(result)
  foreach(dep IN LISTS public private)
    if(dep IN_LIST exported)
      _qo_linked_libraries(indirect ${dep})
      list(APPEND result ${dep} ${indirect})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()

get_property(_qo_libraries GLOBAL PROPERTY QO_EXPORTED_LIBRARIES)
set(CPACK_QO_RUNTIME_COMPONENTS ${_qo_libraries})
set(_qo_runtime_packages)
foreach(library IN LISTS _qo_libraries)
  string(TOUPPER ${library} component)
  qo_runtime_package(package ${library})
  list(APPEND _qo_runtime_packages "${package} (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${component}_PACKAGE_SECTION libs)
  set(CPACK_COMPONENT_${component}_DESCRIPTION
"qo runtime of the KRT unit tools: ${QO_SUMMARY_${library}}
${_qo_description_runtime}
This package holds the shared library lib${library}.so.${PROJECT_VERSION_MAJOR}.")
  # cmake/QoDebRuntime.cmake adds what dpkg-shlibdeps finds: CPack's own
  # run would also give the package maintainer scripts calling ldconfig,
  # which the trigger does.
  set(CPACK_DEBIAN_${component}_PACKAGE_SHLIBDEPS OFF)
  _qo_linked_libraries(linked ${library})
  set(depends)
  foreach(dep IN LISTS linked)
    qo_runtime_package(dep_package ${dep})
    list(APPEND depends "${dep_package} (= ${PROJECT_VERSION})")
  endforeach()
  list(JOIN depends ", " CPACK_DEBIAN_${component}_PACKAGE_DEPENDS)
  # Programs built against the library depend on its package, from this
  # version on; the symbols file is made from the library at package time.
  set(control ${CPACK_QO_CONTROL_DIR}/${package})
  file(WRITE ${control}/shlibs "lib${library} ${PROJECT_VERSION_MAJOR} "
                               "${package} (>= ${PROJECT_VERSION})\n")
  set(CPACK_DEBIAN_${component}_PACKAGE_CONTROL_EXTRA
      ${control}/shlibs ${control}/symbols
      ${PROJECT_SOURCE_DIR}/packaging/triggers)
endforeach()

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqo-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
list(JOIN _qo_runtime_packages ", " _qo_runtime_depends)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${_qo_runtime_depends}, \
libomniorb4-dev, zlib1g-dev, libdeflate-dev, pkgconf | pkg-config")
set(CPACK_COMPONENT_DEV_DESCRIPTION
"qo runtime of the KRT unit tools (development files)
${_qo_description_runtime}
This package has its headers, static libraries, CMake package files
(find_package(qo)), pkg-config files (qo and one module per library,
such as qo-zip) and the IDL.")

include(CPack)
