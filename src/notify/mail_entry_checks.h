// SPDX-License-Identifier: GPL-2.0-or-later
// The checks a mail setting gets where a person enters it (the E-mail page, raidctl mail-setup):
// recipient and sender addresses, the SMTP host and the password's length. Settings stored by an
// older version may fail them; those stay stored and shown, and sending skips what cannot be
// used.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace raid {

// Blanks (spaces and tabs) around `text` removed.
std::string TrimBlanks(std::string_view text);

// Why an entered address cannot be taken, or nothing. The "@" anywhere is the page's own rule;
// control characters, blanks inside and angle brackets are refused too, since they would break
// the mail's envelope or headers. Trim first: blanks around are not the user's fault.
std::optional<std::string> AddressEntryProblem(std::string_view address);

// Why an SMTP host cannot be taken, or nothing: blanks, control characters, "/?#@" (they would
// change the URL it goes into) and ":" outside a bracketed IPv6 address ("[2001:db8::1]").
std::optional<std::string> HostEntryProblem(std::string_view host);

// The longest start of `text` of at most `max_bytes` bytes that ends between UTF-8 characters.
std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes);

}  // namespace raid
