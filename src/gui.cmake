# SPDX-License-Identifier: GPL-2.0-or-later
# raidgui: the Qt 6 window. Every file that includes Qt lives in gui/ (a folder per page: its
# widget, its form and its binding to the core; widgets/ for what the pages share) or app/ (the
# window, the log viewer, start-up and the tour). Both folders make one library that the program
# and the GUI tests share; the platform folders of app/ are added below.
file(GLOB_RECURSE raidwidgets_files CONFIGURE_DEPENDS
  gui/*.cpp gui/*.ui app/*.cpp app/*.ui)
list(FILTER raidwidgets_files EXCLUDE REGEX
     "/app/(linux|windows)/|/app/main\\.cpp$|/gui/widgets/picture_(svg|png)\\.cpp$")
add_library(raidwidgets STATIC ${raidwidgets_files})
# The window descriptions are compiled explicitly: automatic uic would take our
# "common/ui_sink.h" for a generated header.
get_target_property(raidwidgets_sources raidwidgets SOURCES)
list(FILTER raidwidgets_sources INCLUDE REGEX "\\.ui$")
qt_wrap_ui(raidwidgets_forms ${raidwidgets_sources})
target_sources(raidwidgets PRIVATE ${raidwidgets_forms})
target_include_directories(raidwidgets PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
set_target_properties(raidwidgets PROPERTIES
  AUTOMOC ON
  AUTORCC ON)
target_link_libraries(raidwidgets PUBLIC raidcore raidmail Qt6::Widgets)

if(TARGET Qt6::Svg)
  target_sources(raidwidgets PRIVATE gui/widgets/picture_svg.cpp gui/widgets/pictures.qrc)
  target_link_libraries(raidwidgets PUBLIC Qt6::Svg)
else()
  # A Qt without its SVG module (the Windows build): each picture as a PNG at twice its size,
  # rendered from the SVG by librsvg, in a resource of the same name. This Qt reads no
  # zstd-compressed resources, which the host's rcc writes by default.
  find_program(RAIDGUI_RSVG_CONVERT rsvg-convert REQUIRED)
  file(GLOB picture_svgs CONFIGURE_DEPENDS gui/widgets/pictures/*.svg)
  set(picture_pngs "")
  set(picture_entries "")
  foreach(svg IN LISTS picture_svgs)
    get_filename_component(name "${svg}" NAME_WE)
    set(png "${CMAKE_CURRENT_BINARY_DIR}/pictures/${name}.png")
    add_custom_command(OUTPUT "${png}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/pictures"
      COMMAND "${RAIDGUI_RSVG_CONVERT}" --zoom 2 --output "${png}" "${svg}"
      DEPENDS "${svg}" VERBATIM)
    list(APPEND picture_pngs "${png}")
    string(APPEND picture_entries "    <file alias=\"${name}.png\">pictures/${name}.png</file>\n")
  endforeach()
  set(picture_qrc "${CMAKE_CURRENT_BINARY_DIR}/pictures.qrc")
  file(CONFIGURE OUTPUT "${picture_qrc}" CONTENT
    "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/pictures\">\n${picture_entries}  </qresource>\n</RCC>\n")
  set(picture_cpp "${CMAKE_CURRENT_BINARY_DIR}/qrc_pictures.cpp")
  add_custom_command(OUTPUT "${picture_cpp}"
    COMMAND Qt6::rcc --no-zstd --name pictures --output "${picture_cpp}" "${picture_qrc}"
    DEPENDS "${picture_qrc}" ${picture_pngs} VERBATIM)
  target_sources(raidwidgets PRIVATE gui/widgets/picture_png.cpp "${picture_cpp}")
  set_target_properties(raidwidgets PROPERTIES AUTORCC_OPTIONS "--no-zstd")
endif()

if(WIN32)
  target_sources(raidwidgets PRIVATE
    app/windows/native_window_events_windows.cpp)
else()
  target_sources(raidwidgets PRIVATE
    app/linux/native_window_events_linux.cpp)
endif()

add_executable(raidgui app/main.cpp)
target_link_libraries(raidgui PRIVATE raidwidgets raidhost raid_project_version)
if(WIN32)
  # With the MinGW build's static Qt, one self-contained file: its platform plugins are linked in
  # with it (a Qt of DLLs, as vcpkg's, loads them instead). Qt's offscreen platform serves the
  # tests and the demo's pictures without a display.
  set_target_properties(raidgui PROPERTIES WIN32_EXECUTABLE TRUE)
  qt_import_plugins(raidgui INCLUDE Qt6::QWindowsIntegrationPlugin Qt6::QOffscreenIntegrationPlugin)

  # Its icon (the window's own picture at the sizes Explorer shows), the manifest that asks for
  # an administrator's rights (raw disk access needs them) and per-monitor DPI, its version.
  enable_language(RC)
  set(windows_dir "${PROJECT_SOURCE_DIR}/packaging/windows")
  if(MSVC)
    # Visual Studio's linker writes a manifest of its own, which would clash with raidgui.rc's.
    target_link_options(raidgui PRIVATE /MANIFEST:NO)
    # A Visual Studio machine may lack rsvg-convert or Python: raidgui.exe then has no icon.
    find_program(RAIDGUI_RSVG_CONVERT rsvg-convert)
    find_program(RAIDGUI_PYTHON NAMES python3 python)
  else()
    set(RAIDGUI_PYTHON /usr/bin/python3)
  endif()
  set(RAIDGUI_MANIFEST "${windows_dir}/raidgui.exe.manifest")
  set(rc_depends "${RAIDGUI_MANIFEST}")
  set(RAIDGUI_ICON_RESOURCE "// no icon: rsvg-convert or Python was not found")
  if(RAIDGUI_RSVG_CONVERT AND RAIDGUI_PYTHON)
    set(icon_pngs "")
    foreach(side 16 32 48 256)
      set(png "${CMAKE_CURRENT_BINARY_DIR}/icon/icon_${side}.png")
      add_custom_command(OUTPUT "${png}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/icon"
        COMMAND "${RAIDGUI_RSVG_CONVERT}" --width ${side} --height ${side} --output "${png}"
                "${CMAKE_CURRENT_SOURCE_DIR}/gui/widgets/pictures/icon.svg"
        DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/gui/widgets/pictures/icon.svg" VERBATIM)
      list(APPEND icon_pngs "${png}")
    endforeach()
    set(RAIDGUI_ICO "${CMAKE_CURRENT_BINARY_DIR}/icon/raidgui.ico")
    add_custom_command(OUTPUT "${RAIDGUI_ICO}"
      COMMAND "${RAIDGUI_PYTHON}" "${windows_dir}/make_ico.py" "${RAIDGUI_ICO}" ${icon_pngs}
      DEPENDS "${windows_dir}/make_ico.py" ${icon_pngs} VERBATIM)
    set(RAIDGUI_ICON_RESOURCE "1 ICON \"${RAIDGUI_ICO}\"")
    set(rc_depends "${RAIDGUI_ICO};${RAIDGUI_MANIFEST}")
    target_sources(raidgui PRIVATE "${RAIDGUI_ICO}")
  endif()
  configure_file("${windows_dir}/raidgui.rc.in" "${CMAKE_CURRENT_BINARY_DIR}/raidgui.rc" @ONLY)
  target_sources(raidgui PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/raidgui.rc")
  set_source_files_properties("${CMAKE_CURRENT_BINARY_DIR}/raidgui.rc" PROPERTIES
    OBJECT_DEPENDS "${rc_depends}")
endif()
