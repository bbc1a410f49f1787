# cmake -DSCDOC=... -DSOURCE=x.scd -DPAGE=out.1 -P ManualPage.cmake
# Writes the manual page PAGE from its scdoc SOURCE, and PAGE.gz for
# installing, compressed without a time stamp so rebuilds are identical.
get_filename_component(directory ${PAGE} DIRECTORY)
file(MAKE_DIRECTORY ${directory})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${PAGE}.new
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${PAGE}.new)
    message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
file(RENAME ${PAGE}.new ${PAGE})
execute_process(COMMAND gzip -9 -n -c ${PAGE} OUTPUT_FILE ${PAGE}.gz RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${PAGE}")
endif()
