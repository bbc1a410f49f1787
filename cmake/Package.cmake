# cpack: a Debian package from a native build, a zip from a Windows build.
# The version is the one the program reports.
file(STRINGS ${CMAKE_SOURCE_DIR}/console/program/main.cpp version_line
    REGEX "^#define BRISVANE_VERSION \"[^\"]+\"")
if(NOT version_line MATCHES "\"([^\"]+)\"")
    message(FATAL_ERROR "cannot find BRISVANE_VERSION in console/program/main.cpp")
endif()
set(CPACK_PACKAGE_VERSION ${CMAKE_MATCH_1})
set(CPACK_PACKAGE_NAME brisvane)
set(CPACK_PACKAGE_VENDOR "brisvane")
set(CPACK_PACKAGE_CONTACT "brisvane maintainers <maintainers@brisvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "24 x 80 character terminal for a host on a serial line")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME brisvane-${CPACK_PACKAGE_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION comm)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # XMODEM, YMODEM and ZMODEM transfers run its commands; the rest works without.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS lrzsz)
    set(CPACK_STRIP_FILES ON)
    # Makes the system user brisvane@.service runs as.
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/console/features/serve/postinst)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    # The completion file does nothing without it.
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
    set(CPACK_PACKAGE_DESCRIPTION [[
brisvane makes the terminal it runs in a character-cell terminal of 24 rows
and 80 columns for a host computer on a serial line. It interprets the host's
control characters, escape sequences and cursor addressing, sends keys as
short escape sequences, and sends and captures files.
The package holds the program, its manual page, the terminal description
that the host's programs use with TERM=brisvane, brisvane.profile, the
login set-up for a Unix host on the line, completion for bash, and a
systemd template unit that serves a profile's line as a service.]])
endif()

include(CPack)
