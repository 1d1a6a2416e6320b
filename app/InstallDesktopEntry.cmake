# SPDX-License-Identifier: GPL-3.0-or-later
# Runs at install time (install(SCRIPT)): writes the desktop entry with the
# program's path under the prefix actually installed to (cmake --install
# --prefix may differ from the configured one) and, for an install straight
# into the system (no DESTDIR), refreshes the MIME and desktop caches so the
# association works at once. Set beforehand: SP_DESKTOP_TEMPLATE,
# SP_STAGING_DIR, SP_BINDIR, SP_DATADIR, SP_PROGRAM, SP_ICON, SP_MIME_TYPE.

set(SP_EXEC "${CMAKE_INSTALL_PREFIX}/${SP_BINDIR}/${SP_PROGRAM}")
if(SP_EXEC MATCHES "[ \t\"'\\\\><~|&;$*?#()`]")
    # Quoted, with ", `, $ and \ escaped, then every backslash doubled for
    # the key's string type.
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" SP_EXEC "${SP_EXEC}")
    string(REPLACE "\\" "\\\\" SP_EXEC "${SP_EXEC}")
    set(SP_EXEC "\"${SP_EXEC}\"")
endif()
string(REPLACE "%" "%%" SP_EXEC "${SP_EXEC}")

configure_file("${SP_DESKTOP_TEMPLATE}" "${SP_STAGING_DIR}/vantorel-sessionplayer.desktop" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${SP_DATADIR}/applications" TYPE FILE
     FILES "${SP_STAGING_DIR}/vantorel-sessionplayer.desktop")

if("$ENV{DESTDIR}" STREQUAL "")
    find_program(SP_UPDATE_MIME update-mime-database)
    find_program(SP_UPDATE_DESKTOP update-desktop-database)
    if(SP_UPDATE_MIME)
        execute_process(COMMAND "${SP_UPDATE_MIME}" "${CMAKE_INSTALL_PREFIX}/${SP_DATADIR}/mime")
    endif()
    if(SP_UPDATE_DESKTOP)
        execute_process(COMMAND "${SP_UPDATE_DESKTOP}" "${CMAKE_INSTALL_PREFIX}/${SP_DATADIR}/applications")
    endif()
endif()
