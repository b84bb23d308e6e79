// SPDX-License-Identifier: GPL-2.0-or-later
// toml++, as every file here includes it: from the mended copy of its headers that the target
// raid_toml names, its parser compiled once (toml_implementation.cpp).
#pragma once

#if !defined(TOML_HEADER_ONLY) || TOML_HEADER_ONLY
#error "link raid_toml: toml++ comes from its mended copy, compiled once"
#endif

#include <toml++/toml.h>
