# What `cmake --install` puts beside the programs and libraries that the
# targets install themselves: the documents, and what lets others find the
# qo runtime (CMake package files and a pkg-config file).
#
# Components: krtlogs (the tool, its manual page, its completion and the
# documents), tools (velto-repo and krt-sim with their manual pages), dev
# (headers, libraries, CMake and pkg-config files, the IDL).
include(CMakePackageConfigHelpers)

# Documents. The Debian packages carry the license as their copyright file,
# which points to Debian's copy of the Apache License, and the changes as
# changelog.gz in every package's folder.
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

# The pkg-config file, relocatable: its prefix is found from its own place.
# Libraries are listed users first, as a static link needs them.
get_property(QO_PC_LIBRARIES GLOBAL PROPERTY QO_EXPORTED_LIBRARIES)
list(REVERSE QO_PC_LIBRARIES)
list(TRANSFORM QO_PC_LIBRARIES PREPEND -l)
list(JOIN QO_PC_LIBRARIES " " QO_PC_LIBS)
file(RELATIVE_PATH QO_PC_TO_PREFIX
     /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/qo.pc.in ${PROJECT_BINARY_DIR}/qo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qo.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT ${QO_COMPONENT_DEV})
