# How the project declares its libraries, programs and tests, so that every
# target gets the same warnings, include folder and install rules.
#
#   qo_add_library(name
#       SOURCES file...
#       [PUBLIC_DEPS target...] [PRIVATE_DEPS target...]
#       [EXPORT short_name]          # part of the installed qo runtime
#       [GENERATED_HEADERS file...]  # installed beside the include root
#       [BUILD_INCLUDE_DIRS dir...]  # more public include folders, build only
#       [NO_WARNINGS])               # generated code
#
# Without EXPORT the library is a static library used inside the tree.
# With EXPORT it is part of the runtime others link: its sources are
# compiled once (position independent) into
#   <name>         static library, linked by everything in the tree,
#                  installed as qo::<short_name>_static;
#   <name>_shared  shared library lib<name>.so.<major>, installed as
#                  qo::<short_name>, linked against the shared forms of its
#                  qo dependencies;
# and the headers of its folder (*.h, not those under internal/) are
# installed under include/qo/ with their path from the project root, so
# that "runtime/log/manager_if.h" is included the same way inside and
# outside the tree. An exported library may depend only on exported
# libraries declared before it and on imported targets; its dependencies
# are kept in the target properties QO_PUBLIC_DEPS and QO_PRIVATE_DEPS
# for the pkg-config files and the Debian packages. The shared library
# (lib<name>.so.<major> and its version) is installed as the component
# <name>, everything else of it as the component dev.
#
#   qo_add_executable(name SOURCES file... [DEPS target...]
#                     [INSTALL component])
#
#   qo_add_test(name SOURCES file... [LIBS target...] [LOCK])
#       One GoogleTest binary; its cases are registered with CTest. LOCK
#       makes them hold the resource lock of the repository's fixed port.
include_guard(GLOBAL)
include(GNUInstallDirs)

option(QO_WERROR "Treat warnings in the project's own code as errors" OFF)
set(QO_EXTRA_WARNINGS ""
    CACHE STRING "More warning flags for the project's own code (a ;-list)")

# Warnings for our own code only; generated code gets none. Kept as a
# variable for targets declared by hand.
set(QO_WARNINGS -Wall -Wextra ${QO_EXTRA_WARNINGS})
if(QO_WERROR)
  list(APPEND QO_WARNINGS -Werror)
endif()

# Installed headers keep their path from the project root under one folder.
set(QO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/qo)
set(QO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/qo)
# The install components and the Debian packages made of them.
set(QO_COMPONENT_TOOL krtlogs)
set(QO_COMPONENT_TOOLS tools)
set(QO_COMPONENT_DEV dev)

# What each exported library does, in a line: its pkg-config description
# and the synopsis of its Debian package.
set(QO_SUMMARY_qo_error "error codes, exceptions and message formatting")
set(QO_SUMMARY_qo_pproc "threads, mutexes and events")
set(QO_SUMMARY_qo_pos "the host's own network addresses")
set(QO_SUMMARY_qo_idl "stubs and skeletons of the KRT IDL")
set(QO_SUMMARY_qo_corba "ORB wrapper with remote call translation")
set(QO_SUMMARY_qo_log "log manager proxy and servant")
set(QO_SUMMARY_qo_pm_core "Velto repository pump and remote link")
set(QO_SUMMARY_qo_pm "Velto repository proxy and servant")
set(QO_SUMMARY_qo_zip "zip archive writer")

# The Debian package of an exported library's shared form, named after its
# SONAME: libqo_pm_core.so.1 is in libqo-pm-core1.
function(qo_runtime_package out library)
  string(REPLACE _ - package lib${library}${PROJECT_VERSION_MAJOR})
  set(${out} ${package} PARENT_SCOPE)
endfunction()

# The install components made into Debian packages and the packages' names,
# in the same order: the tool's, the tools', the development files' and one
# per exported library declared so far.
function(qo_deb_packages components_out packages_out)
  get_property(libraries GLOBAL PROPERTY QO_EXPORTED_LIBRARIES)
  set(components ${QO_COMPONENT_TOOL} ${QO_COMPONENT_TOOLS}
                 ${QO_COMPONENT_DEV} ${libraries})
  set(packages krtlogs krtlogs-tools libqo-dev)
  foreach(library IN LISTS libraries)
    qo_runtime_package(package ${library})
    list(APPEND packages ${package})
  endforeach()
  set(${components_out} ${components} PARENT_SCOPE)
  set(${packages_out} ${packages} PARENT_SCOPE)
endfunction()

# Warnings and the project's include root for one of our targets.
function(_qo_compile_setup target scope no_warnings)
  if(NOT no_warnings)
    target_compile_options(${target} PRIVATE ${QO_WARNINGS})
  endif()
  target_include_directories(${target} ${scope}
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
endfunction()

# The dependencies of a shared library: the shared form of each exported
# qo library, everything else as given.
function(_qo_shared_deps out)
  get_property(exported GLOBAL PROPERTY QO_EXPORTED_LIBRARIES)
  set(result)
  foreach(dep IN LISTS ARGN)
    if(dep IN_LIST exported)
      list(APPEND result ${dep}_shared)
    elseif(dep MATCHES "::")
      list(APPEND result ${dep})  # imported
    else()
      message(FATAL_ERROR "'${dep}': an exported library links only "
                          "exported qo libraries declared before it and "
                          "imported targets")
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(qo_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 L "NO_WARNINGS" "EXPORT"
      "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS;GENERATED_HEADERS;BUILD_INCLUDE_DIRS")
  if(L_UNPARSED_ARGUMENTS OR NOT L_SOURCES)
    message(FATAL_ERROR "qo_add_library(${name}): SOURCES missing or unknown "
                        "arguments: ${L_UNPARSED_ARGUMENTS}")
  endif()
  if(L_EXPORT AND NOT DEFINED QO_SUMMARY_${name})
    message(FATAL_ERROR "qo_add_library(${name}): no QO_SUMMARY_${name}")
  endif()

  if(NOT L_EXPORT)
    add_library(${name} STATIC ${L_SOURCES})
    _qo_compile_setup(${name} PUBLIC "${L_NO_WARNINGS}")
    target_include_directories(${name} PUBLIC ${L_BUILD_INCLUDE_DIRS})
    target_link_libraries(${name} PUBLIC ${L_PUBLIC_DEPS}
                                  PRIVATE ${L_PRIVATE_DEPS})
    return()
  endif()

  # Compiled once, linked twice.
  set(objects ${name}_objects)
  add_library(${objects} OBJECT ${L_SOURCES})
  set_target_properties(${objects} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  _qo_compile_setup(${objects} PUBLIC "${L_NO_WARNINGS}")
  target_include_directories(${objects} PUBLIC ${L_BUILD_INCLUDE_DIRS})
  target_link_libraries(${objects} PUBLIC ${L_PUBLIC_DEPS} ${L_PRIVATE_DEPS})

  _qo_shared_deps(shared_public ${L_PUBLIC_DEPS})
  _qo_shared_deps(shared_private ${L_PRIVATE_DEPS})
  set(build_includes)
  foreach(dir IN LISTS L_BUILD_INCLUDE_DIRS)
    list(APPEND build_includes $<BUILD_INTERFACE:${dir}>)
  endforeach()

  add_library(${name} STATIC $<TARGET_OBJECTS:${objects}>)
  target_link_libraries(${name} PUBLIC ${L_PUBLIC_DEPS}
                                PRIVATE ${L_PRIVATE_DEPS})
  set_target_properties(${name} PROPERTIES
      EXPORT_NAME ${L_EXPORT}_static
      QO_PUBLIC_DEPS "${L_PUBLIC_DEPS}"
      QO_PRIVATE_DEPS "${L_PRIVATE_DEPS}")

  add_library(${name}_shared SHARED $<TARGET_OBJECTS:${objects}>)
  target_link_libraries(${name}_shared PUBLIC ${shared_public}
                                       PRIVATE ${shared_private})
  target_link_options(${name}_shared PRIVATE LINKER:--no-undefined)
  set_target_properties(${name}_shared PROPERTIES
      OUTPUT_NAME ${name}
      EXPORT_NAME ${L_EXPORT}
      VERSION ${PROJECT_VERSION}
      SOVERSION ${PROJECT_VERSION_MAJOR})

  foreach(target ${name} ${name}_shared)
    target_include_directories(${target} PUBLIC
        $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> ${build_includes}
        $<INSTALL_INTERFACE:${QO_INSTALL_INCLUDEDIR}>)
  endforeach()
  add_library(qo::${L_EXPORT} ALIAS ${name}_shared)
  add_library(qo::${L_EXPORT}_static ALIAS ${name})
  set_property(GLOBAL APPEND PROPERTY QO_EXPORTED_LIBRARIES ${name})

  install(TARGETS ${name} ${name}_shared EXPORT qoTargets
      ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
              COMPONENT ${QO_COMPONENT_DEV}
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
              COMPONENT ${name}
              NAMELINK_COMPONENT ${QO_COMPONENT_DEV})
  # A folder's headers are installed once, whatever number of libraries
  # it holds.
  get_property(folders GLOBAL PROPERTY QO_HEADER_FOLDERS)
  if(NOT CMAKE_CURRENT_SOURCE_DIR IN_LIST folders)
    set_property(GLOBAL APPEND PROPERTY QO_HEADER_FOLDERS
                 ${CMAKE_CURRENT_SOURCE_DIR})
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR})
    install(FILES ${headers} DESTINATION ${QO_INSTALL_INCLUDEDIR}/${folder}
            COMPONENT ${QO_COMPONENT_DEV})
  endif()
  install(FILES ${L_GENERATED_HEADERS} DESTINATION ${QO_INSTALL_INCLUDEDIR}
          COMPONENT ${QO_COMPONENT_DEV})
endfunction()

function(qo_add_executable name)
  cmake_parse_arguments(PARSE_ARGV 1 E "" "INSTALL" "SOURCES;DEPS")
  if(E_UNPARSED_ARGUMENTS OR NOT E_SOURCES)
    message(FATAL_ERROR "qo_add_executable(${name}): SOURCES missing or "
                        "unknown arguments: ${E_UNPARSED_ARGUMENTS}")
  endif()
  add_executable(${name} ${E_SOURCES})
  _qo_compile_setup(${name} PRIVATE FALSE)
  target_link_libraries(${name} PRIVATE ${E_DEPS})
  if(E_INSTALL)
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT ${E_INSTALL})
  endif()
endfunction()

function(qo_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 T "LOCK" "" "SOURCES;LIBS")
  if(T_UNPARSED_ARGUMENTS OR NOT T_SOURCES)
    message(FATAL_ERROR "qo_add_test(${name}): SOURCES missing or unknown "
                        "arguments: ${T_UNPARSED_ARGUMENTS}")
  endif()
  qo_add_executable(${name} SOURCES ${T_SOURCES}
                    DEPS ${T_LIBS} test_support GTest::gtest_main)
  set(props TIMEOUT 600)
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK velto_port_4000)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
