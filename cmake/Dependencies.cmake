# SPDX-License-Identifier: GPL-2.0-or-later
# On Linux and for the Windows cross build every dependency comes from Debian; a native Windows
# build takes them from vcpkg. The Windows cross build has MinGW zlib but no MinGW fmt,
# nlohmann-json or GoogleTest packages: it uses the header-only forms of the first two and builds
# GoogleTest from Debian's source copy. Qt and libcurl it builds from Debian's source packages.
include("${CMAKE_CURRENT_LIST_DIR}/TomlHeaders.cmake")

if(CMAKE_CROSSCOMPILING)
  # libz.a, not the import library libz.dll.a: the exe must not need zlib1.dll beside it.
  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB REQUIRED)
  # Only the two header folders, not all of /usr/include (that holds the host's C library).
  set(RAIDGUI_HOST_HEADERS "${CMAKE_BINARY_DIR}/host-headers")
  file(MAKE_DIRECTORY "${RAIDGUI_HOST_HEADERS}")
  foreach(dir fmt nlohmann)
    if(NOT EXISTS "${RAIDGUI_HOST_HEADERS}/${dir}")
      file(CREATE_LINK "/usr/include/${dir}" "${RAIDGUI_HOST_HEADERS}/${dir}" SYMBOLIC)
    endif()
  endforeach()
  add_library(raid_fmt INTERFACE)
  target_include_directories(raid_fmt SYSTEM INTERFACE "${RAIDGUI_HOST_HEADERS}")
  target_compile_definitions(raid_fmt INTERFACE FMT_HEADER_ONLY=1)
  add_library(raid_json INTERFACE)
  target_include_directories(raid_json SYSTEM INTERFACE "${RAIDGUI_HOST_HEADERS}")
  # notify.toml, the push channels' file, is read on Windows too.
  raid_toml_headers(/usr/include)

  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  add_library(raid_gtest INTERFACE)
  target_link_libraries(raid_gtest INTERFACE gmock gtest_main)

  # Qt and libcurl for Windows, built from Debian's sources by scripts/mingw_deps.sh and found
  # through Qt's toolchain file (the test command's mingw stage). Without them the build makes
  # raidctl.exe without mail and the core's tests, as before.
  find_package(Qt6 6.2 QUIET COMPONENTS Widgets Test)
  find_package(CURL CONFIG QUIET)
elseif(WIN32)
  # A native Windows build with Visual Studio: every library from vcpkg, as vcpkg.json at the top
  # of the tree lists them (its toolchain file installs them on the first configure). Windows
  # keeps the mail settings in the registry, so neither udev, logind nor pkg-config; toml++ only
  # for notify.toml, the push channels' file.
  find_package(ZLIB REQUIRED)
  find_package(fmt CONFIG REQUIRED)
  find_package(nlohmann_json 3 CONFIG REQUIRED)
  find_package(tomlplusplus CONFIG REQUIRED)
  get_target_property(toml_folder tomlplusplus::tomlplusplus INTERFACE_INCLUDE_DIRECTORIES)
  raid_toml_headers("${toml_folder}")
  find_package(GTest REQUIRED)
  find_package(CURL REQUIRED)
  find_package(Qt6 6.2 REQUIRED COMPONENTS Widgets Svg Test)
else()
  find_package(ZLIB REQUIRED)
  find_package(fmt REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  find_package(GTest REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
  # logind's inhibitor lock over sd-bus
  pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
  find_package(tomlplusplus REQUIRED)  # the Linux settings file and notify.toml
  get_target_property(toml_folder tomlplusplus::tomlplusplus INTERFACE_INCLUDE_DIRECTORIES)
  raid_toml_headers("${toml_folder}")
  # SMTP for the alert mails.
  find_package(CURL REQUIRED)
  # The window.
  find_package(Qt6 6.2 REQUIRED COMPONENTS Widgets Svg Test)
endif()

# Where the libraries come as packages (Linux, vcpkg), the project's names for them.
if(NOT CMAKE_CROSSCOMPILING)
  add_library(raid_fmt INTERFACE)
  target_link_libraries(raid_fmt INTERFACE fmt::fmt)
  add_library(raid_json INTERFACE)
  target_link_libraries(raid_json INTERFACE nlohmann_json::nlohmann_json)
  add_library(raid_gtest INTERFACE)
  target_link_libraries(raid_gtest INTERFACE GTest::gmock GTest::gtest_main)
endif()
