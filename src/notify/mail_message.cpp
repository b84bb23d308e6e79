// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/mail_message.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <random>

#include <fmt/format.h>

#include "common/platform_files.h"

namespace raid {
namespace {

constexpr std::string_view kCrLf = "\r\n";
// RFC 2047 limits a header line that holds an encoded-word to 76 characters; we keep every
// header line to it.
constexpr std::size_t kHeaderLineLimit = 76;
// UTF-8 bytes per encoded-word: "=?UTF-8?B?" + 52 base64 characters + "?=" is 64 characters,
// which fits after "Subject: " within the limit.
constexpr std::size_t kEncodedWordBytes = 39;
// RFC 5322: at most 998 octets per line, CR LF not counted.
constexpr std::size_t kMaxLineOctets = 998;
// RFC 2045: quoted-printable lines of at most 76 characters, the soft break's "=" included.
constexpr std::size_t kQuotedPrintableLimit = 76;

bool IsPrintableAscii(char c) {
  return c >= 0x20 && c <= 0x7E;
}

bool IsAsciiAlphanumeric(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Control characters in a header text would end the header early or add one.
std::string WithoutControls(std::string_view text) {
  std::string clean(text);
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return clean;
}

bool NeedsEncodedWords(std::string_view text) {
  for (char c : text)
    if (!IsPrintableAscii(c)) return true;
  // A plain "=?" would be read back as the start of an encoded-word.
  return text.find("=?") != std::string_view::npos;
}

// Length of the UTF-8 sequence a byte starts; a stray byte counts alone.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

// Encoded-words for `text`, each holding whole characters only, since a decoder may decode each
// word on its own.
std::vector<std::string> EncodedWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size()) {
      const std::size_t length =
          std::min(SequenceLength(static_cast<unsigned char>(text[end])), text.size() - end);
      if (end + length - start > kEncodedWordBytes) break;
      end += length;
    }
    words.push_back("=?UTF-8?B?" + EncodeBase64(text.substr(start, end - start)) + "?=");
    start = end;
  }
  return words;
}

std::vector<std::string> SplitOnBlanks(std::string_view text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (std::size_t blank; (blank = text.find(' ', start)) != std::string_view::npos;
       start = blank + 1)
    words.emplace_back(text.substr(start, blank - start));
  words.emplace_back(text.substr(start));
  return words;
}

// "Name: w1 w2 ..." folded before a word that would pass the line limit. A word never folds onto
// a line of its own if it is empty (a run of blanks), since a line of only blanks is not allowed.
std::string FoldedHeader(std::string_view name, const std::vector<std::string>& words) {
  std::string header(name);
  header += ':';
  std::size_t line_length = header.size();
  bool line_has_word = false;
  for (const std::string& word : words) {
    if (line_has_word && !word.empty() && line_length + 1 + word.size() > kHeaderLineLimit) {
      header += kCrLf;
      line_length = 0;
    }
    header += ' ';
    header += word;
    line_length += 1 + word.size();
    line_has_word = true;
  }
  header += kCrLf;
  return header;
}

// Words that fold into lines of the limit: a word longer than a line (a long text without blanks)
// goes as encoded-words instead, which split anywhere between characters.
std::vector<std::string> FoldableWords(std::string_view name, std::vector<std::string> words,
                                       std::string_view text) {
  const std::size_t room = kHeaderLineLimit - name.size() - 2;  // after "Name: "
  for (const std::string& word : words)
    if (word.size() > room) return EncodedWords(text);
  return words;
}

bool IsAtomText(char c) {
  static constexpr std::string_view kSpecials = "()<>[]:;@\\,.\"";
  return IsPrintableAscii(c) && c != ' ' && kSpecials.find(c) == std::string_view::npos;
}

// The display name as words of an RFC 5322 phrase.
std::vector<std::string> DisplayNameWords(std::string_view raw_name) {
  const std::string name = WithoutControls(raw_name);
  if (NeedsEncodedWords(name)) return EncodedWords(name);
  bool plain = name.front() != ' ' && name.back() != ' ';
  for (char c : name)
    if (c != ' ' && !IsAtomText(c)) plain = false;
  if (plain) return FoldableWords("From", SplitOnBlanks(name), name);
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return FoldableWords("From", {quoted}, name);
}

std::string FromHeader(const MailMessage& mail) {
  if (mail.from_name.empty()) return FoldedHeader("From", {mail.from_address});
  std::vector<std::string> words = DisplayNameWords(mail.from_name);
  words.push_back("<" + mail.from_address + ">");
  return FoldedHeader("From", words);
}

std::string ToHeader(const std::vector<std::string>& recipients) {
  std::vector<std::string> words;
  for (std::size_t i = 0; i < recipients.size(); ++i)
    words.push_back(recipients[i] + (i + 1 < recipients.size() ? "," : ""));
  return FoldedHeader("To", words);
}

std::string SubjectHeader(std::string_view raw_subject) {
  const std::string subject = WithoutControls(raw_subject);
  if (NeedsEncodedWords(subject)) return FoldedHeader("Subject", EncodedWords(subject));
  return FoldedHeader("Subject", FoldableWords("Subject", SplitOnBlanks(subject), subject));
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

// RFC 5322 date in local time, e.g. "Thu, 13 Feb 2025 14:03:07 +0100". English names whatever the
// locale: the format is not for people.
std::string DateText(std::chrono::system_clock::time_point now) {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::tm local = LocalTime(now);
  // The offset is what the local fields say minus the true time, which holds on every platform
  // (tm_gmtoff does not exist on Windows).
  const std::int64_t local_seconds =
      DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                    static_cast<unsigned>(local.tm_mday)) *
          86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  const std::int64_t true_seconds =
      std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count();
  const std::int64_t offset_minutes = (local_seconds - true_seconds) / 60;
  const std::int64_t magnitude = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  return fmt::format("{}, {:02} {} {} {:02}:{:02}:{:02} {}{:02}{:02}",
                     kDays[static_cast<std::size_t>(local.tm_wday) % 7], local.tm_mday,
                     kMonths[static_cast<std::size_t>(local.tm_mon) % 12], local.tm_year + 1900,
                     local.tm_hour, local.tm_min, local.tm_sec, offset_minutes < 0 ? '-' : '+',
                     magnitude / 60, magnitude % 60);
}

std::string MessageIdDomain(std::string_view address) {
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos) return "localhost";
  const std::string_view domain = address.substr(at + 1);
  if (domain.empty() || domain.front() == '.' || domain.back() == '.') return "localhost";
  for (char c : domain)
    if (!(IsAsciiAlphanumeric(c) || c == '.' || c == '-')) return "localhost";
  return std::string(domain);
}

long ThisProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<long>(getpid());
#endif
}

// Unique across processes and restarts: the time to the microsecond, the process, a count within
// it, and a random value drawn once, since a process id comes back after a restart.
std::string MessageId(std::chrono::system_clock::time_point now, std::string_view from_address) {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint32_t salt = std::random_device{}();
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  return fmt::format("<{}.{}.{}.{:08x}@{}>", micros, ThisProcessId(), ++counter, salt,
                     MessageIdDomain(from_address));
}

// Body lines with every embedded line break (LF, CR LF or CR) starting a new line.
std::vector<std::string> BodyLines(const std::vector<std::string>& body) {
  std::vector<std::string> lines;
  for (const std::string& entry : body) {
    std::string line;
    for (std::size_t i = 0; i < entry.size(); ++i) {
      if (entry[i] == '\r' || entry[i] == '\n') {
        lines.push_back(std::move(line));
        line.clear();
        if (entry[i] == '\r' && i + 1 < entry.size() && entry[i + 1] == '\n') ++i;
      } else {
        line += entry[i];
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

bool FitsSevenBit(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.size() > kMaxLineOctets) return false;
    for (char c : line)
      if (!IsPrintableAscii(c) && c != '\t') return false;
  }
  return true;
}

// One body line as quoted-printable, with soft line breaks that keep each output line within the
// limit and never split an "=XX" triplet.
void AppendQuotedPrintable(std::string_view line, std::string& out) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const bool last = i + 1 == line.size();
    const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
    const std::string piece =
        literal ? std::string(1, static_cast<char>(c)) : fmt::format("={:02X}", c);
    // The last piece may take the column the soft break's "=" would need.
    const std::size_t room = last ? kQuotedPrintableLimit : kQuotedPrintableLimit - 1;
    if (length + piece.size() > room) {
      out += "=";
      out += kCrLf;
      length = 0;
    }
    out += piece;
    length += piece.size();
  }
  out += kCrLf;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 2]);
    out += kDigits[(group >> 18) & 0x3F];
    out += kDigits[(group >> 12) & 0x3F];
    out += i + 1 < bytes.size() ? kDigits[(group >> 6) & 0x3F] : '=';
    out += i + 2 < bytes.size() ? kDigits[group & 0x3F] : '=';
  }
  return out;
}

bool IsUsableMailAddress(std::string_view address) {
  static constexpr std::string_view kRefused = "<>()[]\\,;:\"";
  if (address.size() > kMaxMailAddressLength) return false;
  const std::size_t at = address.find('@');
  if (at == 0 || at == std::string_view::npos || at + 1 == address.size()) return false;
  if (address.find('@', at + 1) != std::string_view::npos) return false;
  for (char c : address)
    if (!IsPrintableAscii(c) || c == ' ' || kRefused.find(c) != std::string_view::npos)
      return false;
  return true;
}

std::string ComposeMailMessage(const MailMessage& mail, std::chrono::system_clock::time_point now) {
  const std::vector<std::string> lines = BodyLines(mail.body);
  const bool seven_bit = FitsSevenBit(lines);

  std::string text;
  text += "Date: " + DateText(now) + std::string(kCrLf);
  text += FromHeader(mail);
  text += ToHeader(mail.recipients);
  text += SubjectHeader(mail.subject);
  text += "Message-ID: " + MessageId(now, mail.from_address) + std::string(kCrLf);
  text += "MIME-Version: 1.0\r\n";
  text += "Content-Type: text/plain; charset=UTF-8\r\n";
  text += seven_bit ? "Content-Transfer-Encoding: 7bit\r\n"
                    : "Content-Transfer-Encoding: quoted-printable\r\n";
  text += kCrLf;
  for (const std::string& line : lines) {
    if (seven_bit) {
      text += line;
      text += kCrLf;
    } else {
      AppendQuotedPrintable(line, text);
    }
  }
  return text;
}

}  // namespace raid
