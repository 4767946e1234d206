# The pkg-config files of the qo runtime: a module per library, qo-<name>
# (qo-error, qo-pm-core, qo-zip...), that links only its own library and
# requires the qo modules and the libraries that its headers expose; what
# only a static link needs is in Requires.private. The module qo requires
# them all.
#
# Their prefix is the one installed to, absolute and without ".." in it:
# the files are written at install time, when `cmake --install --prefix`
# or CPack's /usr is known, from templates made here from cmake/qo.pc.in.

# The pkg-config modules of the imported targets that the runtime links, and
# where a library linking one publicly lists them. omniORB's headers, which
# the runtime's include, have inline code and static initialisers that call
# its libraries, so a program including ours links them as well; zlib and
# libdeflate are called only inside the runtime. Threads::Threads is
# -pthread.
set(_qo_pc_imported
    "PkgConfig::OMNIORB|omniORB4, omniDynamic4|Requires"
    "PkgConfig::LIBDEFLATE|libdeflate|Requires.private"
    "ZLIB::ZLIB|zlib|Requires.private")

function(_qo_pc_module out library)
  string(REPLACE _ - module ${library})
  set(${out} ${module} PARENT_SCOPE)
endfunction()

# Writes the template of one module:
#   _qo_pc_template(module DESCRIPTION text REQUIRES modules
#                   REQUIRES_PRIVATE modules CFLAGS flags LIBS flags)
function(_qo_pc_template module)
  cmake_parse_arguments(PARSE_ARGV 1 QO_PC ""
      "DESCRIPTION;REQUIRES;REQUIRES_PRIVATE;CFLAGS;LIBS" "")
  set(QO_PC_PREFIX "@QO_PC_PREFIX@")  # filled in at install time
  set(QO_PC_NAME ${module})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/qo.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/${module}.pc @ONLY)
endfunction()

get_property(_qo_libraries GLOBAL PROPERTY QO_EXPORTED_LIBRARIES)
set(_qo_pc_all)
foreach(library IN LISTS _qo_libraries)
  set(Requires)
  set(Requires.private)
  set(pthread "")
  foreach(kind PUBLIC PRIVATE)
    get_target_property(deps ${library} QO_${kind}_DEPS)
    foreach(dep IN LISTS deps)
      if(dep IN_LIST _qo_libraries)
        _qo_pc_module(modules ${dep})
        set(field Requires)
      elseif(dep STREQUAL "Threads::Threads")
        set(pthread " -pthread")
        continue()
      else()
        set(entry ${_qo_pc_imported})
        list(FILTER entry INCLUDE REGEX "^${dep}\\|")
        if(NOT entry)
          message(FATAL_ERROR "${library} links ${dep}: name its pkg-config "
                              "modules in cmake/QoPkgConfig.cmake")
        endif()
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 1 modules)
        list(GET entry 2 field)
      endif()
      if(kind STREQUAL PRIVATE)
        set(field Requires.private)
      endif()
      list(APPEND ${field} "${modules}")
    endforeach()
  endforeach()
  list(JOIN Requires ", " requires)
  list(JOIN Requires.private ", " requires_private)
  _qo_pc_module(module ${library})
  _qo_pc_template(${module}
      DESCRIPTION "qo runtime of the KRT unit tools: ${QO_SUMMARY_${library}}"
      REQUIRES "${requires}" REQUIRES_PRIVATE "${requires_private}"
      CFLAGS "-I\${includedir}/qo${pthread}"
      LIBS "-L\${libdir} -l${library}${pthread}")
  list(APPEND _qo_pc_all ${module})
endforeach()
list(JOIN _qo_pc_all ", " _qo_pc_requires)
_qo_pc_template(qo
    DESCRIPTION "runtime of the KRT unit tools: errors, threads, CORBA calls, log manager and repository proxies and servants, zip archive writer"
    REQUIRES "${_qo_pc_requires}")
list(APPEND _qo_pc_all qo)

install(CODE "set(QO_PC_MODULES \"${_qo_pc_all}\")
set(QO_PC_TEMPLATES \"${PROJECT_BINARY_DIR}/pkgconfig\")
set(QO_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")"
        COMPONENT ${QO_COMPONENT_DEV})
install(CODE [[
  cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_PREFIX NORMALIZE
             OUTPUT_VARIABLE QO_PC_PREFIX)
  string(REGEX REPLACE "(.)/+$" "\\1" QO_PC_PREFIX "${QO_PC_PREFIX}")
  foreach(module IN LISTS QO_PC_MODULES)
    set(pc "$ENV{DESTDIR}${QO_PC_PREFIX}/${QO_PC_LIBDIR}/pkgconfig/${module}.pc")
    message(STATUS "Installing: ${pc}")
    configure_file("${QO_PC_TEMPLATES}/${module}.pc" "${pc}" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${pc}")
  endforeach()
]] COMPONENT ${QO_COMPONENT_DEV})
