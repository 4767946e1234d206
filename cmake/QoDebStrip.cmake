# Run by CPack on its staging tree before it makes the Debian packages:
# strips the ELF files as Debian's dh_strip does. Programs lose their
# symbols, shared libraries what linking against them does not need, static
# libraries their debug information (made deterministic again); all lose the
# .comment and .note sections, which only name the tools that built them.
# CPACK_QO_STRIP is the strip program.
set(_qo_strip_common --remove-section=.comment --remove-section=.note)
file(GLOB_RECURSE _qo_files LIST_DIRECTORIES false
     "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS _qo_files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 8 HEX)
  if(magic MATCHES "^213c617263683e0a")  # "!<arch>\n"
    set(options --strip-debug --enable-deterministic-archives)
  elseif(NOT magic MATCHES "^7f454c46")  # not ELF
    continue()
  elseif(file MATCHES "\\.so(\\.[0-9]+)*$")
    set(options --strip-unneeded)
  else()
    set(options)
  endif()
  execute_process(
      COMMAND "${CPACK_QO_STRIP}" ${_qo_strip_common} ${options} "${file}"
      RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip ${file}: ${status}")
  endif()
endforeach()
