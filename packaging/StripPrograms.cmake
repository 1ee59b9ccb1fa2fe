# Run by CPack on the files it is about to pack: strips the programs and the
# chart module as Debian strips those of its own packages, of their symbols
# and of the compiler's notes (.comment, .note).
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
file(GLOB programs "${root}/bin/*")
file(GLOB_RECURSE modules "${root}/lib/*.so")
if(NOT programs OR NOT modules)
    message(FATAL_ERROR "no programs or no chart module to strip in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
list(APPEND programs ${modules})
foreach(program IN LISTS programs)
    execute_process(
        COMMAND "${CPACK_COMMCHECK_STRIP}" --remove-section=.comment --remove-section=.note
                --strip-unneeded "${program}"
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
