// SPDX-License-Identifier: GPL-2.0-or-later
// A TOML table as text that reads back as the same table.
#pragma once

#include "common/toml.h"

#include <string>

namespace raid {

// Every entry as one `key = value` line, tables and arrays inline, strings as basic strings.
// This toml++ writes a key holding a quote, tab or line feed bare, which no reader takes back; here
// every key that is not bare is quoted. Nesting is bounded by what the parser accepts.
std::string TomlDocumentText(const toml::table& table);

}  // namespace raid
