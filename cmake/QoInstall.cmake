# What `cmake --install` puts beside the programs and libraries that the
# targets install themselves: the documents, and what lets others find the
# qo runtime (CMake package files and pkg-config files).
#
# Components: krtlogs (the tool, its manual page, its completion and the
# documents), tools (velto-repo and krt-sim with their manual pages), dev
# (headers, static libraries and the development links of the shared ones,
# CMake and pkg-config files, the IDL) and one per runtime library, named
# after it (qo_error, qo_zip...: the shared library).
include(CMakePackageConfigHelpers)

# Documents. The Debian packages carry the license as their copyright file,
# which points to Debian's copy of the Apache License, and the changes as
# changelog.gz in every package's folder; some also carry lintian overrides
# (packaging/lintian/<package>, each with its reason).
qo_deb_packages(QO_DEB_COMPONENTS QO_DEB_PACKAGES)
set(QO_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/krtlogs)
install(FILES README.md DESTINATION ${QO_DOCDIR}
        COMPONENT ${QO_COMPONENT_TOOL})
if(QO_DEBIAN_LAYOUT)
  find_program(GZIP gzip REQUIRED)
  set(changelog_gz ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  add_custom_command(
    OUTPUT ${changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/CHANGELOG
            ${PROJECT_BINARY_DIR}/packaging/changelog
    COMMAND ${GZIP} -9nf ${PROJECT_BINARY_DIR}/packaging/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG
    COMMENT "changelog.gz"
    VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${changelog_gz})
  foreach(component package IN ZIP_LISTS QO_DEB_COMPONENTS QO_DEB_PACKAGES)
    install(FILES packaging/copyright ${changelog_gz}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
            COMPONENT ${component})
    if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/lintian/${package})
      install(FILES packaging/lintian/${package}
              DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
              COMPONENT ${component})
    endif()
  endforeach()
else()
  install(FILES LICENSE CHANGELOG DESTINATION ${QO_DOCDIR}
          COMPONENT ${QO_COMPONENT_TOOL})
endif()

# The CMake package: find_package(qo) gives the targets qo::<name> (shared)
# and qo::<name>_static.
install(EXPORT qoTargets NAMESPACE qo:: DESTINATION ${QO_INSTALL_CMAKEDIR}
        COMPONENT ${QO_COMPONENT_DEV})
configure_package_config_file(cmake/qoConfig.cmake.in
    ${PROJECT_BINARY_DIR}/qoConfig.cmake
    INSTALL_DESTINATION ${QO_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qoConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qoConfig.cmake
              ${PROJECT_BINARY_DIR}/qoConfigVersion.cmake
        DESTINATION ${QO_INSTALL_CMAKEDIR} COMPONENT ${QO_COMPONENT_DEV})

include(QoPkgConfig)
