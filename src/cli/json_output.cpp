// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/json_output.h"

namespace raid::cli {

std::string JsonDocumentText(const nlohmann::json& document) {
  return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string JsonLineText(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace raid::cli
