cmake_minimum_required(VERSION 3.25)
# Fails when a file in console/ includes a header from a floor above its
# own, or from a sibling floor, or names a type of such a floor in a forward
# declaration. The floors, bottom up: line, rules, then screen and features
# (siblings), then program. Headers outside console/ (the core, the shared
# link rules, the system) are not this check's business.
#
# rules/ is pure: no curses, no headers of file, terminal or system calls,
# and no such calls (open, read, write, fopen, ioctl, tcsetattr,
# clock_gettime, stat, ...); what does I/O lives on another floor.
# It also holds each header's guard to its path: BRISVANE_CONSOLE_, the path
# below the floor's folder, _H (console/features/serve/server.h:
# BRISVANE_CONSOLE_SERVE_SERVER_H), so a guard follows its file when it moves.
set(floor_line 0)
set(floor_rules 1)
set(floor_screen 2)
set(floor_features 2)
set(floor_program 3)
set(folders line rules screen features program)
set(impure_headers "curses|ncurses|ncursesw/[a-z]+|term|termios|fcntl|unistd|dirent|poll|ini|sys/[a-z]+")
set(impure_calls "open|openat|read|write|close|fopen|fdopen|freopen|fclose|fread|fwrite|fgets|fputs|fprintf|printf"
    "|puts|ioctl|tcsetattr|tcgetattr|tcflush|tcdrain|cfsetispeed|cfsetospeed|clock_gettime|gettimeofday|time"
    "|opendir|readdir|closedir|stat|fstat|lstat|unlink|rename|mkdir|poll|select|isatty|fsync|ftruncate|lseek"
    "|dup|dup2|pipe|socket|connect|accept|send|recv|getch|wgetch|refresh|wrefresh")
string(JOIN "" impure_calls ${impure_calls})
file(GLOB_RECURSE sources "${SOURCE_DIR}/console/*.h" "${SOURCE_DIR}/console/*.cpp")
set(bad "")

# Where each type is defined: a forward declaration may only name a type of
# its own floor's folder or of a floor below.
foreach(source IN LISTS sources)
    file(RELATIVE_PATH relative "${SOURCE_DIR}/console" "${source}")
    string(REGEX MATCH "^[a-z_]+" own "${relative}")
    file(STRINGS "${source}" definitions REGEX "^(struct|class)[ \t]+[A-Za-z_][A-Za-z0-9_]*[^;]*$")
    foreach(line IN LISTS definitions)
        string(REGEX REPLACE "^(struct|class)[ \t]+([A-Za-z_][A-Za-z0-9_]*).*" "\\2" type "${line}")
        set(defined_in_${type} "${own}")
    endforeach()
endforeach()

foreach(source IN LISTS sources)
    file(RELATIVE_PATH relative "${SOURCE_DIR}/console" "${source}")
    string(REGEX MATCH "^[a-z_]+/" own "${relative}")
    string(REPLACE "/" "" own "${own}")
    if(NOT own IN_LIST folders)
        list(APPEND bad "console/${relative}: not in a floor's folder")
        continue()
    endif()
    if(relative MATCHES "\\.h$")
        string(REGEX REPLACE "^[a-z_]+/(.*)\\.h$" "\\1" guard "${relative}")
        string(REGEX REPLACE "[/.-]" "_" guard "${guard}")
        string(TOUPPER "BRISVANE_CONSOLE_${guard}_H" guard)
        file(STRINGS "${source}" guards REGEX "^#(ifndef|define) BRISVANE_")
        if(NOT guards STREQUAL "#ifndef ${guard};#define ${guard}")
            list(APPEND bad "console/${relative}: its guard is not ${guard}")
        endif()
    endif()
    file(STRINGS "${source}" declared REGEX "^[ \t]*(struct|class)[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]*;")
    foreach(line IN LISTS declared)
        string(REGEX REPLACE "^[ \t]*(struct|class)[ \t]+([A-Za-z_][A-Za-z0-9_]*).*" "\\2" type "${line}")
        set(other "${defined_in_${type}}")
        if(other AND (floor_${other} GREATER floor_${own} OR (floor_${other} EQUAL floor_${own} AND NOT other STREQUAL own)))
            list(APPEND bad "console/${relative} (${own}): declares ${type}, a type of ${other}/")
        endif()
    endforeach()
    if(own STREQUAL "rules")
        file(STRINGS "${source}" text)
        foreach(line IN LISTS text)
            string(REGEX REPLACE "//.*" "" code "${line}")
            if(code MATCHES "^[ \t]*#[ \t]*include[ \t]*<(${impure_headers})(\\.h)?>")
                list(APPEND bad "console/${relative}: includes <${CMAKE_MATCH_1}.h> (rules/ does no I/O)")
            elseif(code MATCHES "(^|[^A-Za-z0-9_.>])(std::|::)?(${impure_calls})[ \t]*\\(")
                list(APPEND bad "console/${relative}: calls ${CMAKE_MATCH_3} (rules/ does no I/O)")
            endif()
        endforeach()
    endif()
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"console/")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"console/([a-z_]+)/.*" "\\1" other "${line}")
        if(NOT other IN_LIST folders)
            list(APPEND bad "console/${relative}: ${line} (not in a floor's folder)")
        elseif(floor_${other} GREATER floor_${own} OR (floor_${other} EQUAL floor_${own} AND NOT other STREQUAL own))
            list(APPEND bad "console/${relative} (${own}): ${line}")
        endif()
    endforeach()
endforeach()
if(bad)
    list(JOIN bad "\n  " text)
    message(FATAL_ERROR "console/ runs up or across its floors, does I/O in rules/, or guards miss their paths:\n  ${text}")
endif()
list(LENGTH sources count)
message(STATUS "${count} console files checked")
