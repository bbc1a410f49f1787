# cmake -DPAGE=brisvane.1 -DMAN=... -DLEXGROG=... -P CheckManualPage.cmake
# Fails when man renders the page with warnings or lexgrog finds no NAME line.
if(NOT EXISTS ${PAGE})
    message(FATAL_ERROR "no manual page ${PAGE}: build it first (needs scdoc)")
endif()
set(ENV{MANWIDTH} 80)
# man-db's sandbox fails in some containers; it guards nothing for a local file.
set(ENV{MAN_DISABLE_SECCOMP} 1)
execute_process(COMMAND ${MAN} --warnings -l ${PAGE}
    OUTPUT_VARIABLE rendered ERROR_VARIABLE warnings RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "man --warnings -l ${PAGE} (exit ${result}):\n${warnings}")
endif()
foreach(section SYNOPSIS "LINE SETTINGS" "EXIT STATUS" "SENDING AND CAPTURING FILES" RECONNECTION HOSTS)
    if(NOT rendered MATCHES "\n${section}\n")
        message(FATAL_ERROR "the rendered page has no section ${section}")
    endif()
endforeach()
execute_process(COMMAND ${LEXGROG} ${PAGE} OUTPUT_VARIABLE whatis RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT whatis MATCHES "\"brisvane - [^\"]+\"")
    message(FATAL_ERROR "lexgrog finds no NAME line in ${PAGE}: ${whatis}")
endif()
