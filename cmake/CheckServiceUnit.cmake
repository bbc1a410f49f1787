# cmake -DUNIT=brisvane@.service.in -DPROGRAM=path/to/brisvane -DSYSTEMD_ANALYZE=... -P CheckServiceUnit.cmake
# The template unit, with the built program in ExecStart, as an instance:
# systemd-analyze verify must take it without a word.
set(dir ${CMAKE_CURRENT_BINARY_DIR}/service-unit-check)
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})
set(BRISVANE_PROGRAM ${PROGRAM})
configure_file(${UNIT} ${dir}/brisvane@board1.service @ONLY)
execute_process(COMMAND ${SYSTEMD_ANALYZE} verify --man=no ${dir}/brisvane@board1.service
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${dir})
if(NOT result EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "systemd-analyze verify refuses or warns about brisvane@.service:\n${out}${err}")
endif()
