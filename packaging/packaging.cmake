# What `cmake --install` puts on a Linux machine, and the Debian package CPack builds from it:
# the two programs, the service unit (installed, not enabled), the desktop entry with its icon,
# and the README with its section on rights.
include(GNUInstallDirs)

install(TARGETS raidctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET raidgui)
  install(TARGETS raidgui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/raidctl-monitor.service
        DESTINATION lib/systemd/system)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/raidgui.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/ui/pictures/icon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME raidgui.svg)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME raidgui)
set(CPACK_PACKAGE_VENDOR "raidgui")
set(CPACK_PACKAGE_CONTACT "raidgui developers <raidgui@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Monitor and manager for two-drive USB RAID enclosures")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# The libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
