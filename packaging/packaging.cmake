# SPDX-License-Identifier: GPL-2.0-or-later
# What `cmake --install` puts on a Linux machine, and the Debian package CPack builds from it:
# the two programs, the service unit (installed, not enabled) with its user and settings folder,
# the desktop entry with its icon, the README with its section on rights, the manual pages and the
# shell completion.
include(GNUInstallDirs)

install(TARGETS raidctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET raidgui)
  install(TARGETS raidgui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The unit's ExecStart names raidctl where this install puts it, whatever prefix `cmake --install`
# is given; the package's prefix is /usr.
install(CODE "set(RAIDGUI_UNIT_SOURCE \"${CMAKE_CURRENT_LIST_DIR}/raidctl-monitor.service\")
              set(RAIDGUI_UNIT_STAGED \"${CMAKE_CURRENT_BINARY_DIR}/raidctl-monitor.service\")
              set(RAIDGUI_BINDIR \"${CMAKE_INSTALL_BINDIR}\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install_unit.cmake)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/raidctl.sysusers
        DESTINATION lib/sysusers.d RENAME raidctl.conf)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/raidctl.tmpfiles
        DESTINATION lib/tmpfiles.d RENAME raidctl.conf)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/raidgui.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/gui/widgets/pictures/icon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME raidgui.svg)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# For a fleet's Prometheus and Grafana, to copy or point at.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/prometheus/raidgui.rules.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/raidgui/prometheus)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/grafana/raidgui.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/raidgui/grafana)

# The manual pages, compressed as Debian ships them; -n leaves out the name and time, so that the
# same page always makes the same bytes. Built with raidctl, so that whatever builds the programs
# can install them.
set(RAIDGUI_MANUALS)
foreach(page raidctl.1 raidgui.1)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
                     COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/man/${page}
                             ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
                     COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
                     DEPENDS ${CMAKE_CURRENT_LIST_DIR}/man/${page} VERBATIM)
  list(APPEND RAIDGUI_MANUALS ${compressed})
endforeach()
add_custom_target(manuals ALL DEPENDS ${RAIDGUI_MANUALS})
add_dependencies(raidctl manuals)
install(FILES ${RAIDGUI_MANUALS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/completion/raidctl.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME raidctl)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/completion/_raidctl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/completion/raidctl.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

# What a distribution's checker (lintian) asks of the package: the copyright file in Debian's
# machine-readable form, the changelog compressed as dpkg would (gzip -9n: no name, no time stamp,
# so two builds give the same bytes), and the AppStream metadata software centres list the window
# by. The changelog is compressed when CMake configures, so that building only the programs
# (`build_native raidgui raidctl`) still leaves everything `cmake --install` needs.
set(RAIDGUI_APPSTREAM_ID io.github.raidgui.raidgui)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog)
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/changelog
                OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
                COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${RAIDGUI_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME raidgui)
set(CPACK_PACKAGE_VENDOR "raidgui")
# The project has no public address yet; the reserved .invalid domain says so honestly, where
# localhost would look like a real, local mailbox. The changelog's trailer names the same.
set(CPACK_PACKAGE_CONTACT "raidgui authors <raidgui@raidgui.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Monitor and manager for two-drive USB RAID enclosures")
# CPack puts the summary above this as the description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
raidgui finds two-drive USB RAID enclosures among the host's disks, polls their
status, keeps a daily event log, mails alerts over SMTP, judges the member
drives' SMART data and upgrades the enclosure controller's firmware. It only
ever sends one-block SCSI READ(10) and INQUIRY commands; it never writes to a
disk.

The package holds the window, raidgui; the command-line tool, raidctl; and the
raidctl-monitor service, which watches the enclosures at boot as an
unprivileged user (installed, not enabled).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# The libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the maintainer scripts create the user and the settings folder with: systemd's own tools,
# or their stand-alone builds on a machine without systemd. The service's reload sends its signal
# with procps's /bin/kill, which a minimal system lacks.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "systemd | systemd-standalone-sysusers | systemd-sysusers, \
systemd | systemd-standalone-tmpfiles | systemd-tmpfiles, procps")
set(CPACK_STRIP_FILES ON)
# The package creates the service's user and settings folder, and stops the service it removes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
