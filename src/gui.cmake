# SPDX-License-Identifier: GPL-2.0-or-later
# raidgui: the Qt 6 window. Every file that includes Qt lives in gui/ (a folder per page: its
# widget, its form and its binding to the core; widgets/ for what the pages share) or app/ (the
# window, the log viewer, start-up and the tour). Both folders make one library that the program
# and the GUI tests share; the platform folders of app/ are added below.
file(GLOB_RECURSE raidwidgets_files CONFIGURE_DEPENDS
  gui/*.cpp gui/*.ui gui/*.qrc app/*.cpp app/*.ui)
list(FILTER raidwidgets_files EXCLUDE REGEX "/app/(linux|windows)/|/app/main\\.cpp$")
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
target_link_libraries(raidwidgets PUBLIC raidcore raidmail Qt6::Widgets Qt6::Svg)

if(WIN32)
  target_sources(raidwidgets PRIVATE
    app/windows/native_window_events_windows.cpp)
else()
  target_sources(raidwidgets PRIVATE
    app/linux/native_window_events_linux.cpp)
endif()

add_executable(raidgui app/main.cpp)
target_link_libraries(raidgui PRIVATE raidwidgets raidhost raid_project_version)
