# What `cmake --install` puts in place. Native builds: the program, its
# manual page, the compiled terminal description, the host's login set-up,
# the bash completion and the copyright file, plus the Windows program and its Linux launcher when
# BRISVANE_WINDOWS_EXE names a brisvane.exe.
# Windows builds: the layout of the zip for Windows users.
include(GNUInstallDirs)

if(WIN32)
    # Notepad users get CRLF line ends.
    configure_file(${CMAKE_SOURCE_DIR}/doc/windows-readme.txt ${CMAKE_BINARY_DIR}/README.txt
        @ONLY NEWLINE_STYLE CRLF)
    install(TARGETS brisvane RUNTIME DESTINATION .)
    install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_SOURCE_DIR}/host/brisvane.terminfo
        ${CMAKE_SOURCE_DIR}/host/brisvane.profile DESTINATION .)
    return()
endif()

install(TARGETS brisvane_console RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page, when scdoc is there to build it.
find_program(SCDOC scdoc)
if(SCDOC)
    set(manual_page ${CMAKE_BINARY_DIR}/doc/brisvane.1)
    add_custom_command(OUTPUT ${manual_page} ${manual_page}.gz
        COMMAND ${CMAKE_COMMAND} -DSCDOC=${SCDOC} -DSOURCE=${CMAKE_SOURCE_DIR}/doc/brisvane.1.scd
                -DPAGE=${manual_page} -P ${CMAKE_SOURCE_DIR}/cmake/ManualPage.cmake
        DEPENDS ${CMAKE_SOURCE_DIR}/doc/brisvane.1.scd ${CMAKE_SOURCE_DIR}/cmake/ManualPage.cmake
        COMMENT "Building the manual page brisvane.1")
    add_custom_target(brisvane_manual_page ALL DEPENDS ${manual_page} ${manual_page}.gz)
    install(FILES ${manual_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(STATUS "scdoc not found: no manual page (apt-get install scdoc)")
endif()

# The terminal description, compiled into the directory layout tic uses here.
find_program(TIC tic REQUIRED)
set(terminfo_dir ${CMAKE_BINARY_DIR}/terminfo)
add_custom_command(OUTPUT ${terminfo_dir}.stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${terminfo_dir}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${terminfo_dir}
    COMMAND ${TIC} -x -o ${terminfo_dir} ${CMAKE_SOURCE_DIR}/host/brisvane.terminfo
    COMMAND ${CMAKE_COMMAND} -E touch ${terminfo_dir}.stamp
    DEPENDS ${CMAKE_SOURCE_DIR}/host/brisvane.terminfo
    COMMENT "Compiling the terminal description")
add_custom_target(brisvane_terminfo ALL DEPENDS ${terminfo_dir}.stamp)
install(DIRECTORY ${terminfo_dir}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/terminfo)
# The source too, and the login set-up, for users to copy to their hosts.
install(FILES ${CMAKE_SOURCE_DIR}/host/brisvane.terminfo ${CMAKE_SOURCE_DIR}/host/brisvane.profile
    DESTINATION ${CMAKE_INSTALL_DATADIR}/brisvane)
# Completion in bash, where bash-completion loads it on demand.
install(FILES ${CMAKE_SOURCE_DIR}/completion/brisvane.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME brisvane)
# The template unit that serves a profile's line (brisvane@PROFILE). Its
# program's path is known at install time (cpack installs under /usr).
install(CODE "
    set(BRISVANE_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/brisvane\")
    configure_file(\"${CMAKE_SOURCE_DIR}/console/features/serve/brisvane@.service.in\"
        \"${CMAKE_BINARY_DIR}/brisvane@.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/brisvane@.service DESTINATION lib/systemd/system)
# A commented sample of /etc/brisvane/config, the profiles the unit serves.
install(FILES ${CMAKE_SOURCE_DIR}/console/features/serve/config.sample
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples RENAME config)
# Where Debian looks for a package's copyright.
install(FILES ${CMAKE_SOURCE_DIR}/doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(BRISVANE_WINDOWS_EXE "" CACHE FILEPATH
    "An i686 brisvane.exe to install with its Linux launcher (empty: none)")
if(BRISVANE_WINDOWS_EXE)
    if(NOT EXISTS ${BRISVANE_WINDOWS_EXE})
        message(FATAL_ERROR "BRISVANE_WINDOWS_EXE: no file ${BRISVANE_WINDOWS_EXE} (build it first: tools/test or tools/run)")
    endif()
    set(launcher_dir ${CMAKE_INSTALL_DATADIR}/brisvane)
    install(FILES ${BRISVANE_WINDOWS_EXE} DESTINATION ${launcher_dir} RENAME brisvane.exe)
    install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/brisvane-linux ${CMAKE_SOURCE_DIR}/tools/wine-prefix
        DESTINATION ${launcher_dir})
    install(FILES ${CMAKE_SOURCE_DIR}/tools/lib/need-packages.sh
                  ${CMAKE_SOURCE_DIR}/tools/lib/windows-build.sh
                  ${CMAKE_SOURCE_DIR}/tools/lib/wine-session.sh
        DESTINATION ${launcher_dir}/lib)
endif()
