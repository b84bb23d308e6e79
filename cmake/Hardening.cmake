# SPDX-License-Identifier: GPL-2.0-or-later
# The native Linux build hardens the programs as Debian builds its own packages: libc calls with
# sizes checked where the compiler knows them (_FORTIFY_SOURCE), stack canaries, and relocations
# resolved at start and then made read-only (full RELRO). PIE is already the compiler's default.
# The sanitizer and fuzz builds are left alone, as the sanitizers intercept those same libc calls
# and want the stack unprotected; so is the Windows cross build, whose static MinGW runtime has no
# RELRO. _FORTIFY_SOURCE needs an optimised build, so a Debug build goes without it.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND NOT RAIDGUI_SANITIZE AND NOT RAIDGUI_TSAN
   AND NOT RAIDGUI_FUZZ)
  add_compile_options(-fstack-protector-strong
                      "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  add_link_options(LINKER:-z,relro,-z,now)
endif()
