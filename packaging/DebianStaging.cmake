# Run by CPack on its staging tree, before it makes the Debian package: Debian keeps manual pages
# compressed, where a plain install leaves them as they are.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page ${pages})
  execute_process(COMMAND gzip -9 -n -f "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
