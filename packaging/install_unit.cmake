# SPDX-License-Identifier: GPL-2.0-or-later
# Run by `cmake --install` (see packaging.cmake): installs the service unit with ExecStart naming
# the raidctl this install puts in place.
if(IS_ABSOLUTE "${RAIDGUI_BINDIR}")
  set(raidctl "${RAIDGUI_BINDIR}/raidctl")
else()
  set(raidctl "${CMAKE_INSTALL_PREFIX}/${RAIDGUI_BINDIR}/raidctl")
endif()
if(raidctl MATCHES " ")
  set(raidctl "\"${raidctl}\"")
endif()
file(READ "${RAIDGUI_UNIT_SOURCE}" unit)
string(REPLACE "ExecStart=/usr/bin/raidctl " "ExecStart=${raidctl} " unit "${unit}")
file(WRITE "${RAIDGUI_UNIT_STAGED}" "${unit}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
     FILES "${RAIDGUI_UNIT_STAGED}")
