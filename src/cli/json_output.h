// SPDX-License-Identifier: GPL-2.0-or-later
// The one way raidctl writes JSON. Texts from devices and files (a model, a Latin-1 template) may
// hold bytes that are not UTF-8: each becomes U+FFFD, where the library would otherwise throw and
// end raidctl halfway through its output.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace raid::cli {

// A whole document, indented by two, with its line end.
std::string JsonDocumentText(const nlohmann::json& document);

// One object on one line, with its line end, its fields in the order given.
std::string JsonLineText(const nlohmann::ordered_json& object);

}  // namespace raid::cli
