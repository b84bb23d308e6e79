// SPDX-License-Identifier: GPL-2.0-or-later
// The message text as a mail server and a mail reader see it, composed without a server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "notify/mail_message.h"

namespace raid {
namespace {

using std::chrono::system_clock;
using ::testing::HasSubstr;
using ::testing::Not;

// 2025-02-13 13:03:07 UTC, a Thursday.
const system_clock::time_point kWinterInstant = system_clock::from_time_t(1739451787);
// 2025-07-01 10:00:00 UTC.
const system_clock::time_point kSummerInstant = system_clock::from_time_t(1751364000);

MailMessage Mail() {
  return {"RAID Monitor", "raid@example.org", {"admin@example.org"}, "Alert", {"line"}};
}

std::string HeaderPart(const std::string& text) {
  return text.substr(0, text.find("\r\n\r\n"));
}
std::string BodyPart(const std::string& text) {
  return text.substr(text.find("\r\n\r\n") + 4);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// The header `name` with its continuation lines, unfolded (CR LF removed, as RFC 5322 says).
std::string Header(const std::string& text, const std::string& name) {
  const std::vector<std::string> lines = Lines(HeaderPart(text) + "\r\n");
  std::string value;
  bool inside = false;
  for (const std::string& line : lines) {
    if (line.rfind(name + ":", 0) == 0) {
      inside = true;
      value = line.substr(name.size() + 1);
    } else if (inside && !line.empty() && line[0] == ' ') {
      value += line;
    } else {
      inside = false;
    }
  }
  return value;
}

std::string DecodeBase64(const std::string& text) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<unsigned>(kDigits.find(c));
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

bool IsWholeUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead >= 0x80 && lead < 0xC0) return false;
    if (i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// The text of a header made of encoded-words, each of whole characters, decoded.
std::string DecodedWords(const std::string& folded) {
  const std::regex word(R"(=\?UTF-8\?B\?([A-Za-z0-9+/=]+)\?=)");
  std::string decoded;
  std::string rest = folded;
  for (std::smatch match; std::regex_search(rest, match, word); rest = match.suffix()) {
    EXPECT_THAT(match.prefix().str(), ::testing::MatchesRegex(" *"));
    const std::string piece = DecodeBase64(match[1]);
    EXPECT_TRUE(IsWholeUtf8(piece)) << match[0];
    decoded += piece;
  }
  return decoded;
}

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_.empty())
      unsetenv("TZ");
    else
      setenv("TZ", old_.c_str(), 1);
    tzset();
  }

 private:
  std::string old_;
};

TEST(MailMessageTest, EveryLineEndsInCrLfAndEmbeddedLineBreaksStartNewLines) {
  MailMessage mail = Mail();
  mail.body = {"Device1 P0 Hard Disk Drive fail.", "\nBoard: X570", "a\r\nb\rc", "", "."};
  const std::string text = ComposeMailMessage(mail, kWinterInstant);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
    if (text[i] == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
    }
  }
  // Dot-stuffing belongs to the SMTP layer; done here as well, the reader would see "..".
  EXPECT_EQ(BodyPart(text),
            "Device1 P0 Hard Disk Drive fail.\r\n\r\nBoard: X570\r\na\r\nb\r\nc\r\n\r\n.\r\n");
  EXPECT_EQ(Header(text, "Content-Transfer-Encoding"), " 7bit");
  EXPECT_EQ(Header(text, "Content-Type"), " text/plain; charset=UTF-8");
  EXPECT_EQ(Header(text, "MIME-Version"), " 1.0");
}

TEST(MailMessageTest, DateIsLocalTimeWithItsOffset) {
  {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(Header(ComposeMailMessage(Mail(), kWinterInstant), "Date"),
              " Thu, 13 Feb 2025 14:03:07 +0100");
    EXPECT_EQ(Header(ComposeMailMessage(Mail(), kSummerInstant), "Date"),
              " Tue, 01 Jul 2025 12:00:00 +0200");
  }
  ScopedTimeZone zone("<-0330>3:30");
  EXPECT_EQ(Header(ComposeMailMessage(Mail(), kWinterInstant), "Date"),
            " Thu, 13 Feb 2025 09:33:07 -0330");
}

TEST(MailMessageTest, NonAsciiSubjectBecomesEncodedWordsOfWholeCharacters) {
  MailMessage mail = Mail();
  std::string subject = "[RAID GUI v0.50.11-4 Message] ";
  for (int i = 0; i < 6; ++i)
    subject += "Überhitzung – Gerät " + std::to_string(i) + " \xF0\x9F\x94\xA5 ";
  mail.subject = subject;
  const std::string text = ComposeMailMessage(mail, kWinterInstant);
  for (const std::string& line : Lines(HeaderPart(text) + "\r\n"))
    EXPECT_LE(line.size(), 76U) << line;

  EXPECT_EQ(DecodedWords(Header(text, "Subject")), subject);
}

TEST(MailMessageTest, TextsWithoutBlanksToFoldAtStayWithinTheLineLimit) {
  MailMessage mail = Mail();
  mail.subject = "[RAID GUI v0.50.11-4 Message] " + std::string(3000, 'x');
  mail.from_name = std::string(1500, 'y') + ".Office";
  const std::string text = ComposeMailMessage(mail, kWinterInstant);
  for (const std::string& line : Lines(HeaderPart(text) + "\r\n"))
    EXPECT_LE(line.size(), 76U) << line.substr(0, 80);
  EXPECT_EQ(DecodedWords(Header(text, "Subject")), mail.subject);
  const std::string from = Header(text, "From");
  EXPECT_EQ(DecodedWords(from.substr(0, from.find('<'))), mail.from_name);
}

TEST(MailMessageTest, LongAsciiSubjectFoldsAtBlanksAndUnfoldsUnchanged) {
  MailMessage mail = Mail();
  mail.subject = "[RAID GUI v0.50.11-4 Message] ";
  for (int i = 0; i < 20; ++i)
    mail.subject += "Device" + std::to_string(i) + "  removed; ";
  const std::string text = ComposeMailMessage(mail, kWinterInstant);
  for (const std::string& line : Lines(HeaderPart(text) + "\r\n")) {
    EXPECT_LE(line.size(), 76U) << line;
    EXPECT_THAT(line, Not(::testing::MatchesRegex(" *"))) << "a folded line of blanks only";
  }
  EXPECT_EQ(Header(text, "Subject"), " " + mail.subject);
}

TEST(MailMessageTest, HeaderTextsCannotAddHeaders) {
  MailMessage mail = Mail();
  mail.subject = "Alert\r\nBcc: thief@example.net";
  mail.from_name = "Eve\nBcc: thief@example.net";
  const std::string headers = HeaderPart(ComposeMailMessage(mail, kWinterInstant));
  for (const std::string& line : Lines(headers + "\r\n"))
    EXPECT_THAT(line, Not(::testing::StartsWith("Bcc:")));
}

TEST(MailMessageTest, FromNameIsPlainQuotedOrEncodedAsItNeeds) {
  MailMessage mail = Mail();
  EXPECT_EQ(Header(ComposeMailMessage(mail, kWinterInstant), "From"),
            " RAID Monitor <raid@example.org>");
  mail.from_name = "RAID, \"Main\" Office";
  EXPECT_EQ(Header(ComposeMailMessage(mail, kWinterInstant), "From"),
            R"( "RAID, \"Main\" Office" <raid@example.org>)");
  mail.from_name = "Zoë";
  EXPECT_EQ(Header(ComposeMailMessage(mail, kWinterInstant), "From"),
            " =?UTF-8?B?Wm/Dqw==?= <raid@example.org>");
  mail.from_name.clear();
  EXPECT_EQ(Header(ComposeMailMessage(mail, kWinterInstant), "From"), " raid@example.org");
}

TEST(MailMessageTest, RecipientsFoldAfterCommas) {
  MailMessage mail = Mail();
  mail.recipients.clear();
  for (int i = 0; i < 10; ++i)
    mail.recipients.push_back("administrator" + std::to_string(i) + "@example.org");
  const std::string text = ComposeMailMessage(mail, kWinterInstant);
  for (const std::string& line : Lines(HeaderPart(text) + "\r\n"))
    EXPECT_LE(line.size(), 76U) << line;
  EXPECT_THAT(Header(text, "To"),
              HasSubstr("administrator0@example.org, administrator1@example.org,"));
  EXPECT_THAT(Header(text, "To"), ::testing::EndsWith(" administrator9@example.org"));
}

TEST(MailMessageTest, BodyOutsideSevenBitGoesQuotedPrintableInShortLines) {
  MailMessage mail = Mail();
  mail.body = {"Temperatur über 60 °C", std::string(1200, 'x'), "trailing blank ", "a=b", "."};
  const std::string text = ComposeMailMessage(mail, kWinterInstant);
  EXPECT_EQ(Header(text, "Content-Transfer-Encoding"), " quoted-printable");
  const std::vector<std::string> lines = Lines(BodyPart(text));
  for (const std::string& line : lines)
    EXPECT_LE(line.size(), 76U) << line;
  EXPECT_EQ(lines.front(), "Temperatur =C3=BCber 60 =C2=B0C");
  EXPECT_THAT(lines, ::testing::Contains("trailing blank=20"));
  EXPECT_THAT(lines, ::testing::Contains("a=3Db"));
  EXPECT_EQ(lines.back(), ".");

  // Plain ASCII, but one line longer than SMTP allows: quoted-printable too.
  mail.body = {std::string(999, 'y')};
  EXPECT_EQ(Header(ComposeMailMessage(mail, kWinterInstant), "Content-Transfer-Encoding"),
            " quoted-printable");
}

TEST(MailMessageTest, MessageIdsDifferAndNameTheSendersDomain) {
  const MailMessage mail = Mail();
  const std::string first = Header(ComposeMailMessage(mail, kWinterInstant), "Message-ID");
  const std::string second = Header(ComposeMailMessage(mail, kWinterInstant), "Message-ID");
  EXPECT_NE(first, second);
  EXPECT_THAT(first, ::testing::MatchesRegex(R"( <[0-9a-f.]+@example\.org>)"));
  MailMessage odd = Mail();
  odd.from_address = "raid@exa_mple";
  EXPECT_THAT(Header(ComposeMailMessage(odd, kWinterInstant), "Message-ID"),
              ::testing::EndsWith("@localhost>"));
}

TEST(MailMessageTest, OnlyAddressesThatCannotBreakACommandAreUsable) {
  EXPECT_TRUE(IsUsableMailAddress("admin@example.org"));
  EXPECT_TRUE(IsUsableMailAddress("first.last+raid@mail.example.org"));
  for (const char* bad : {"", "admin", "@example.org", "admin@", "ad min@example.org",
                          "a@b@example.org", "<admin@example.org>", "admin@example.org,x@y",
                          "admin@example.org\r\nRCPT TO:<x@y>", "admin\"@example.org"})
    EXPECT_FALSE(IsUsableMailAddress(bad)) << bad;
  EXPECT_TRUE(IsUsableMailAddress(std::string(242, 'a') + "@example.org"));
  EXPECT_FALSE(IsUsableMailAddress(std::string(243, 'a') + "@example.org"));
}

}  // namespace
}  // namespace raid
