// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/mail_entry_checks.h"

#include <string>

#include "notify/mail_message.h"

namespace raid {
namespace {

bool IsControl(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return std::string(text);
}

std::optional<std::string> AddressEntryProblem(std::string_view address) {
  if (address.find('@') == std::string_view::npos) return "it has no \"@\"";
  // Taken, it would be skipped by every mail.
  if (address.size() > kMaxMailAddressLength) {
    return "it is longer than " + std::to_string(kMaxMailAddressLength) + " characters";
  }
  for (char c : address) {
    if (IsControl(c)) return "it holds a control character";
    if (c == ' ') return "it holds a blank";
    if (c == '<' || c == '>') return "it holds an angle bracket";
  }
  return std::nullopt;
}

std::optional<std::string> HostEntryProblem(std::string_view host) {
  if (host.empty()) return "it is empty";
  for (char c : host) {
    if (IsControl(c)) return "it holds a control character";
    if (c == ' ') return "it holds a blank";
    if (std::string_view("/?#@").find(c) != std::string_view::npos) {
      return std::string("it holds \"") + c + "\"";
    }
  }
  if (host.front() == '[') {
    // An IPv6 address, bracketed as in a URL; nothing may follow the closing bracket.
    const std::size_t close = host.find(']');
    if (close != host.size() - 1 || host.size() < 3) return "its brackets do not enclose it";
    const std::string_view inside = host.substr(1, close - 1);
    for (char c : inside) {
      const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      if (!hex && c != ':' && c != '.') return "the bracketed part is no IPv6 address";
    }
    return std::nullopt;
  }
  if (host.find_first_of("[]") != std::string_view::npos) return "its brackets do not enclose it";
  if (host.find(':') != std::string_view::npos) {
    return "it holds \":\" (put an IPv6 address in brackets, and the port in its own field)";
  }
  return std::nullopt;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  // Back off continuation bytes (10xxxxxx) to the start of the character they belong to.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

}  // namespace raid
