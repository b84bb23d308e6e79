# SPDX-License-Identifier: GPL-2.0-or-later
# The platform back ends and the protocol trace. Included from tests/device/CMakeLists.txt.
if(WIN32)
  set(BACKEND_PLATFORM_TESTS
    windows_device_change_test.cpp
    windows_disk_system_test.cpp
  )
else()
  set(BACKEND_PLATFORM_TESTS
    linux_device_watch_test.cpp
    linux_disk_system_test.cpp
    linux_mount_info_test.cpp
    linux_sg_io_test.cpp
  )
endif()

raid_add_test(backend_tests
  SOURCES
    tracing_disk_system_test.cpp
    windows_drive_letters_test.cpp
    ${BACKEND_PLATFORM_TESTS}
  LIBS raidcore
  LABELS threads)  # one trace file written from several threads
