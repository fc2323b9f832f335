# Run by cpack between staging and packing (CPACK_PRE_BUILD_SCRIPTS): with a code-signing
# certificate, signs every staged program, so that the zips and the installer hold signed ones.
if(NOT CPACK_FLOWTALLY_SIGN)
  return()
endif()
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
foreach(program IN LISTS programs)
  execute_process(COMMAND "${CPACK_FLOWTALLY_SIGN_FILE}" "${program}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${program} could not be signed")
  endif()
endforeach()
