# Debian packages, made by CPack from the install components (see
# scripts/package.sh, which configures with QO_DEBIAN_LAYOUT=ON):
#   krtlogs        the tool, its manual page and bash completion
#   krtlogs-tools  velto-repo and krt-sim, a bench without real units
#   libqo-dev      the qo runtime: headers, shared and static libraries,
#                  CMake and pkg-config files
# The libraries a package's programs link decide its dependencies
# (dpkg-shlibdeps).
set(QO_PACKAGE_MAINTAINER "krtlogs developers <krtlogs@example.org>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME krtlogs)
set(CPACK_PACKAGE_VENDOR "krtlogs developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${QO_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_KRTLOGS_PACKAGE_NAME krtlogs)
set(CPACK_DEBIAN_KRTLOGS_PACKAGE_SECTION utils)
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

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqo-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libomniorb4-dev, zlib1g-dev, libdeflate-dev, pkgconf | pkg-config")
set(CPACK_COMPONENT_DEV_DESCRIPTION
"qo runtime of the KRT unit tools (development files)
The qo runtime holds the error model, threads, the ORB wrapper with remote
call translation, the log manager and Velto repository proxies and
servants, and a zip archive writer. This package has its headers, shared
and static libraries, CMake package files (find_package(qo)) and a
pkg-config file.")
# libqo-dev carries the runtime's shared libraries: a shlibs file, so that
# programs built against them depend on it, and ldconfig run by trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_DEV_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/triggers)
# The runtime's shared libraries need one another: dpkg-shlibdeps finds
# them in the build tree.
get_property(libraries GLOBAL PROPERTY QO_EXPORTED_LIBRARIES)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
foreach(library IN LISTS libraries)
  get_target_property(dir ${library}_shared BINARY_DIR)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${dir})
endforeach()

include(CPack)
