# SPDX-License-Identifier: GPL-2.0-or-later
# What a Windows user installs: raidgui.exe and raidctl.exe with the licences of everything linked
# into them, as an NSIS installer (Program Files, a Start-menu entry, an uninstaller) and as a ZIP
# for those who do not install. Built by `cpack` in the cross build tree (the installer test).

install(TARGETS raidgui raidctl RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

# The licences. The programs link Qt (LGPL-3.0) into one executable with this project's
# GPL-2.0-or-later code, so the combined programs are distributed under the GPL-3.0; the notice
# says so and names the Debian source packages that hold the source of everything linked in.
set(licenses_dir "${CMAKE_CURRENT_BINARY_DIR}/licenses")
get_filename_component(deps_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
if(EXISTS "${deps_prefix}/versions")
  file(READ "${deps_prefix}/versions" deps_versions)
  string(STRIP "${deps_versions}" deps_versions)
else()
  message(WARNING "no ${deps_prefix}/versions: the licence notice cannot name Qt's and curl's sources")
  set(deps_versions "")
endif()
string(REGEX MATCH "qt6-base=[^ \n]+" qt_source "${deps_versions}")
string(REGEX MATCH "curl=[^ \n]+" curl_source "${deps_versions}")

# The Debian packages the other linked libraries come from, with their versions.
set(debian_libraries
  "zlib:libz-mingw-w64-dev"
  "fmt:libfmt-dev"
  "nlohmann-json:nlohmann-json3-dev"
  "tomlplusplus:libtomlplusplus-dev"
  "mingw-w64-runtime:mingw-w64-x86-64-dev"
  "gcc-runtime:gcc-mingw-w64-x86-64-posix-runtime")
set(debian_lines "")
foreach(library IN LISTS debian_libraries)
  string(REPLACE ":" ";" library "${library}")
  list(GET library 0 name)
  list(GET library 1 package)
  execute_process(COMMAND dpkg-query -W -f=\${source:Package}=\${source:Version} ${package}
                  OUTPUT_VARIABLE source RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR "the Windows package names ${package}, which is not installed")
  endif()
  string(APPEND debian_lines "  ${name}: Debian source package ${source}\n")
  install(FILES /usr/share/doc/${package}/copyright DESTINATION licenses/${name})
endforeach()
install(FILES ${deps_prefix}/licenses/qtbase/copyright DESTINATION licenses/qtbase)
install(FILES ${deps_prefix}/licenses/curl/copyright DESTINATION licenses/curl)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION licenses RENAME GPL-2.0.txt)
install(FILES /usr/share/common-licenses/GPL-3 DESTINATION licenses RENAME GPL-3.0.txt)
install(FILES /usr/share/common-licenses/LGPL-3 DESTINATION licenses RENAME LGPL-3.0.txt)
file(CONFIGURE OUTPUT "${licenses_dir}/README.txt" CONTENT "\
raidgui @PROJECT_VERSION@ for Windows: licences

raidgui's own code is under the GNU General Public License, version 2 or any later
version (GPL-2.0.txt). raidgui.exe and raidctl.exe are each one executable into which
the libraries below are linked statically. Qt is under the GNU Lesser General Public
License, version 3 (LGPL-3.0.txt), which the GPL version 2 is not compatible with but
the GPL version 3 is; raidgui's licence allows any later version, so the combined
programs are distributed under the GNU General Public License, version 3 (GPL-3.0.txt).

What is linked in, with its licence in the folder of its name and its source in the
Debian 12 source package named:
  qtbase: Debian source package ${qt_source}
    (Qt Core, Gui and Widgets under the LGPL-3.0, with the zlib, pcre2, libpng, HarfBuzz
    and FreeType it bundles; each one's licence is in qtbase/copyright)
  curl: Debian source package ${curl_source}
${debian_lines}
Every Debian source package is at https://sources.debian.org/ and in Debian's archive
(apt-get source NAME=VERSION); raidgui's build scripts (scripts/mingw_deps.sh) show how
Qt and curl were built from them.
" @ONLY)
install(FILES "${licenses_dir}/README.txt" DESTINATION licenses)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME raidgui)
set(CPACK_PACKAGE_VENDOR raidgui)
set(CPACK_PACKAGE_FILE_NAME "raidgui-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Monitor and manager for two-drive USB RAID enclosures")
set(CPACK_PACKAGE_INSTALL_DIRECTORY raidgui)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY raidgui)
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
# The Start-menu entry for the window; raidctl is a console program, started from a terminal.
set(CPACK_PACKAGE_EXECUTABLES raidgui raidgui)
# A 64-bit installer for the 64-bit programs: it needs no 32-bit Windows layer (nor does Wine).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME raidgui)
# The installer's title and the Start-menu folder.
set(CPACK_NSIS_PACKAGE_NAME raidgui)
set(CPACK_NSIS_INSTALLED_ICON_NAME raidgui.exe)
set(CPACK_NSIS_MUI_ICON "${PROJECT_BINARY_DIR}/src/icon/raidgui.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_BINARY_DIR}/src/icon/raidgui.ico")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_CONTACT "raidgui authors <raidgui@raidgui.invalid>")
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
# The ZIP unpacks into a folder of the package's name.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
