# Run by CPack on its staging tree before it makes the Debian packages:
# CPack installs every file under /usr, so the krtlogs component's
# configuration folder, installed as usr/etc/krtlogs, is moved to
# etc/krtlogs, where the package's conffiles list names it.
set(_qo_usr_etc
    "${CPACK_TEMPORARY_DIRECTORY}/krtlogs${CPACK_PACKAGING_INSTALL_PREFIX}/etc")
if(EXISTS "${_qo_usr_etc}")
  file(MAKE_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}/krtlogs/etc")
  file(RENAME "${_qo_usr_etc}/krtlogs"
       "${CPACK_TEMPORARY_DIRECTORY}/krtlogs/etc/krtlogs")
  file(REMOVE_RECURSE "${_qo_usr_etc}")
endif()
