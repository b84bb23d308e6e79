// SPDX-License-Identifier: GPL-2.0-or-later
// UTF-8, the program's text, to and from UTF-16, the text of the Windows API.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace raid {

inline std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

inline std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
  return narrow;
}

}  // namespace raid
