// SPDX-License-Identifier: GPL-2.0-or-later
// The text of an alert mail as it goes after SMTP DATA: headers, a blank line and a text/plain
// UTF-8 body, every line ended by CR LF. Plain C++ so that it is tested without a server.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace raid {

struct MailMessage {
  std::string from_name;     // may be empty; any UTF-8
  std::string from_address;  // local@domain
  std::vector<std::string> recipients;
  std::string subject;  // UTF-8
  // UTF-8 lines. A line may hold line feeds (host description lines start with one); each
  // starts a new line of the mail.
  std::vector<std::string> body;
};

// Whether `address` can go into the SMTP envelope and a header as it is: local@domain of at most
// 254 characters in printable ASCII without blanks, angle brackets, quotes or separators, so
// that it can neither break a command line nor add a header nor pass the header line limit.
bool IsUsableMailAddress(std::string_view address);
// The longest address an SMTP path can carry.
inline constexpr std::size_t kMaxMailAddressLength = 254;

// RFC 4648 base64 with padding, as encoded-words and SMTP AUTH use it.
std::string EncodeBase64(std::string_view bytes);

// The message for `mail` sent at `now`: Date (local time with its offset), From, To, Subject,
// Message-ID, MIME-Version, Content-Type and Content-Transfer-Encoding, then the body. Texts that
// are not printable ASCII, and words too long for a line, go as RFC 2047 encoded-words; header
// lines are folded to 76 characters.
// The body is 7bit when every line is printable ASCII of at most 998 octets, quoted-printable
// otherwise. Lines starting with "." are left alone: the SMTP layer dot-stuffs. The addresses
// must satisfy IsUsableMailAddress.
std::string ComposeMailMessage(const MailMessage& mail, std::chrono::system_clock::time_point now);

}  // namespace raid
