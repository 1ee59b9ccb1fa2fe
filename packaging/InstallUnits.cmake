# Run at install time (install(SCRIPT)): the systemd units, their ExecStart
# naming commcheck-cli where this install puts it, /usr/bin in the Debian
# package. COMMCHECK_UNIT_SOURCES, COMMCHECK_UNIT_STAGING and
# COMMCHECK_UNIT_BINDIR are set by packaging/CMakeLists.txt.
set(bindir "${CMAKE_INSTALL_PREFIX}/${COMMCHECK_UNIT_BINDIR}")
foreach(unit commcheck-monitor.service commcheck-answer@.service)
    file(READ "${COMMCHECK_UNIT_SOURCES}/${unit}.in" text)
    string(REPLACE [=[@bindir@]=] "${bindir}" text "${text}")
    file(WRITE "${COMMCHECK_UNIT_STAGING}/${unit}" "${text}")
    file(INSTALL "${COMMCHECK_UNIT_STAGING}/${unit}"
         DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
endforeach()
