# SPDX-License-Identifier: GPL-2.0-or-later
# raidgui: the Qt 6 window. Its widget code lives beside the logic of each subsystem; the files
# that include Qt are listed here, in one library that the program and the GUI tests share.
add_library(raidwidgets STATIC
  app/about_page.cpp
  app/demo_tour.cpp
  app/guarded_application.cpp
  app/tform1.cpp
  app/window_email.cpp
  app/window_firmware.cpp
  app/window_log_save.cpp
  app/window_look.cpp
  app/window_smart.cpp
  app/window_upgrade_views.cpp
  app/window_ui_sink.cpp
  firmware/upgrade_page.cpp
  health/smart_page.cpp
  notify/email_page.cpp
  status/event_log_viewer.cpp
  status/status_page.cpp
  ui/message_boxes.cpp
  ui/two_state_image_button.cpp
  ui/visible_texts.cpp
  ui/about_page.ui
  ui/email_page.ui
  ui/smart_page.ui
  ui/status_page.ui
  ui/tform1.ui
  ui/tform5.ui
  ui/upgrade_page.ui
  ui/pictures.qrc
)
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
