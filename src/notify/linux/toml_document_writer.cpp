// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/linux/toml_document_writer.h"

#include <cstdio>
#include <sstream>

namespace raid {
namespace {

bool IsBareKey(std::string_view key) {
  if (key.empty()) return false;
  for (const char c : key) {
    const bool bare = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    if (!bare) return false;
  }
  return true;
}

// A basic string: quotes, backslashes and control characters escaped, the rest (UTF-8, as the
// parser and the value checks leave it) as it stands.
void AppendBasicString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void AppendKey(std::string& out, std::string_view key) {
  if (IsBareKey(key)) {
    out += key;
  } else {
    AppendBasicString(out, key);
  }
}

void AppendValue(std::string& out, const toml::node& node) {
  if (const toml::table* table = node.as_table()) {
    if (table->empty()) {
      out += "{}";
      return;
    }
    out += "{ ";
    bool first = true;
    for (const auto& [key, value] : *table) {
      if (!first) out += ", ";
      first = false;
      AppendKey(out, key.str());
      out += " = ";
      AppendValue(out, value);
    }
    out += " }";
  } else if (const toml::array* array = node.as_array()) {
    if (array->empty()) {
      out += "[]";
      return;
    }
    out += "[ ";
    bool first = true;
    for (const toml::node& element : *array) {
      if (!first) out += ", ";
      first = false;
      AppendValue(out, element);
    }
    out += " ]";
  } else if (const toml::value<std::string>* text = node.as_string()) {
    AppendBasicString(out, text->get());
  } else {
    // Numbers, booleans, dates and times: toml++ writes these faithfully.
    std::ostringstream scalar;
    scalar << toml::toml_formatter{node};
    out += scalar.str();
  }
}

}  // namespace

std::string TomlDocumentText(const toml::table& table) {
  std::string out;
  for (const auto& [key, value] : table) {
    AppendKey(out, key.str());
    out += " = ";
    AppendValue(out, value);
    out += '\n';
  }
  return out;
}

}  // namespace raid
