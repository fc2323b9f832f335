# Run by cpack before each generator (CPACK_PROJECT_CONFIG_FILE): signing, when the environment
# names a code-signing certificate (FLOWTALLY_SIGN_PKCS12, read by sign-file). The programs are
# signed once staged (sign-programs.cmake), the installer and its uninstaller by makensis as it
# makes them.
if(NOT "$ENV{FLOWTALLY_SIGN_PKCS12}" STREQUAL "")
  set(CPACK_FLOWTALLY_SIGN ON)
  set(CPACK_FLOWTALLY_NSIS_SIGN "!finalize '\"${CPACK_FLOWTALLY_SIGN_FILE}\" \"%1\"'
!uninstfinalize '\"${CPACK_FLOWTALLY_SIGN_FILE}\" \"%1\"'")
  if("$ENV{FLOWTALLY_SIGN_TIMESTAMP_URL}" STREQUAL "")
    message(NOTICE "flowtally: no time-stamping service (FLOWTALLY_SIGN_TIMESTAMP_URL): the "
                   "signatures hold no timestamp and end with the certificate")
  endif()
else()
  set(CPACK_FLOWTALLY_SIGN OFF)
  set(CPACK_FLOWTALLY_NSIS_SIGN "")
  message(NOTICE "flowtally: no code-signing certificate (FLOWTALLY_SIGN_PKCS12): the programs "
                 "and the installer are not signed")
endif()
