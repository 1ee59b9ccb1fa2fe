# Run by CPack on the files it is about to pack: strips the programs as
# Debian strips those of its own packages, of their symbols and of the
# compiler's notes (.comment, .note).
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
if(NOT programs)
    message(FATAL_ERROR "no programs to strip in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
    execute_process(
        COMMAND "${CPACK_COMMCHECK_STRIP}" --remove-section=.comment --remove-section=.note
                --strip-unneeded "${program}"
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
