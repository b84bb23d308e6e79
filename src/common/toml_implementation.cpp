// SPDX-License-Identifier: GPL-2.0-or-later
// toml++'s parser and writers, compiled here once for every target that reads TOML.
#define TOML_IMPLEMENTATION
#include <toml++/toml.h>
