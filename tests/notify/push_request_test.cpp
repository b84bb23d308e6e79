// SPDX-License-Identifier: GPL-2.0-or-later
// The request each kind of channel sends: method, URL, the headers that matter and the fields that
// carry our content (the rest of each service's form is checked against the receiver in the
// libcurl client's tests); texts cut to the services' limits without breaking a character;
// secrets only where the service expects them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "notify/push/channel_request.h"
#include "notify/push/notification_text.h"

namespace raid {
namespace {

using json = nlohmann::json;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kToken[] = "tk_S3cret";
constexpr char kSubject[] = "[RAID GUI v0.50.11-4 Message] Hard Disk Drive fail";

PushNotification DiskFail() {
  PushNotification n;
  n.event = "disk-fail";
  n.subject = kSubject;
  n.body_lines = {"Device1 HDD1 fail.", "Board: ACME X570"};
  n.host = "nas";
  n.enclosure = 1;
  n.drive = 2;
  n.starts_at = std::chrono::sys_days(std::chrono::year(2024) / 5 / 1) + std::chrono::hours(13) +
                std::chrono::minutes(45) + std::chrono::seconds(7);
  return n;
}

ChannelConfig Channel(ChannelType type, std::string url, std::string token = "") {
  return {"phone", type, std::move(url), std::move(token), {}, {}, "!abc:example.org", {}};
}

std::string Header(const HttpRequest& request, const std::string& name) {
  for (const auto& [key, value] : request.headers) {
    if (key == name) return value;
  }
  return "<none>";
}

json Body(const ChannelConfig& channel, const PushNotification& n) {
  return json::parse(BuildChannelRequest(channel, n, "").body);
}

TEST(PushRequestTest, EachTypeSendsTheServicesOwnForm) {
  struct Case {
    ChannelConfig channel;
    std::string method, url;
    std::map<std::string, std::string> headers;
    std::map<std::string, json> fields;  // JSON pointer -> value; "" for a text body
  };
  const std::string body = "Device1 HDD1 fail.\nBoard: ACME X570";
  const std::string text = std::string(kSubject) + "\n" + body;
  const std::string bearer = std::string("Bearer ") + kToken;
  const std::string json_type = "application/json";
  const std::vector<Case> cases = {
      {Channel(ChannelType::kNtfy, "https://ntfy.example.org/raid", kToken),
       "POST",
       "https://ntfy.example.org/raid",
       {{"Content-Type", "text/plain; charset=utf-8"},
        {"Title", kSubject},
        {"Priority", "high"},
        {"Tags", "warning,disk-fail"},
        {"Authorization", bearer}},
       {{"", body}}},
      {Channel(ChannelType::kGotify, "https://gotify.example.org/g/?x=1#top", kToken),
       "POST",
       "https://gotify.example.org/g/message?x=1",
       {{"Content-Type", json_type}, {"X-Gotify-Key", kToken}},
       {{"/title", kSubject}, {"/message", body}, {"/priority", 8}}},
      {Channel(ChannelType::kWebhook, "https://hooks.example.org/raid", kToken),
       "POST",
       "https://hooks.example.org/raid",
       {{"Content-Type", json_type}, {"Authorization", bearer}},
       {{"/status", "firing"},
        {"/groupKey", "{}:{alertname=\"RaidguiAlert\", host=\"nas\"}"},
        {"/groupLabels", {{"alertname", "RaidguiAlert"}, {"host", "nas"}}},
        {"/commonLabels/drive", "HDD2"},
        {"/alerts/0/status", "firing"},
        {"/alerts/0/labels",
         {{"alertname", "RaidguiAlert"},
          {"event", "disk-fail"},
          {"host", "nas"},
          {"enclosure", "1"},
          {"drive", "HDD2"}}},
        {"/alerts/0/annotations", {{"summary", kSubject}, {"description", body}}},
        {"/alerts/0/startsAt", "2024-05-01T13:45:07Z"},
        {"/alerts/0/endsAt", "0001-01-01T00:00:00Z"}}},
      {Channel(ChannelType::kAlertmanager, "http://am.example:9093/", kToken),
       "POST",
       "http://am.example:9093/api/v2/alerts",
       {{"Content-Type", json_type}, {"Authorization", bearer}},
       {{"/0/labels/event", "disk-fail"}, {"/0/startsAt", "2024-05-01T13:45:07Z"}}},
      {Channel(ChannelType::kDiscord, "https://discord.com/api/webhooks/12/XyZ?thread_id=7"),
       "POST",
       "https://discord.com/api/webhooks/12/XyZ?thread_id=7&wait=true",
       {{"Content-Type", json_type}},
       {{"/content", text}, {"/allowed_mentions/parse", json::array()}}},
      {Channel(ChannelType::kSlack, "https://hooks.slack.com/services/T1/B2/c3"),
       "POST",
       "https://hooks.slack.com/services/T1/B2/c3",
       {{"Content-Type", json_type}},
       {{"/text", text}}},
      {Channel(ChannelType::kMatrix, "https://matrix.example.org/", kToken),
       "PUT",
       "https://matrix.example.org/_matrix/client/v3/rooms/%21abc%3Aexample.org/send/"
       "m.room.message/raidgui.1%2F2",
       {{"Content-Type", json_type}, {"Authorization", bearer}},
       {{"/msgtype", "m.text"}, {"/body", text}}},
      {Channel(ChannelType::kTeams, "https://x.logic.azure.com/workflows/1/invoke?sig=Zz"),
       "POST",
       "https://x.logic.azure.com/workflows/1/invoke?sig=Zz",
       {{"Content-Type", json_type}},
       {{"/attachments/0/content/body/0/text", kSubject},
        {"/attachments/0/content/body/0/weight", "Bolder"},
        {"/attachments/0/content/body/2/text", "Board: ACME X570"}}},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.url);
    const HttpRequest request = BuildChannelRequest(item.channel, DiskFail(), "raidgui.1/2");
    EXPECT_EQ(request.method, item.method);
    EXPECT_EQ(request.url, item.url);
    for (const auto& [name, value] : item.headers)
      EXPECT_EQ(Header(request, name), value) << name;
    for (const auto& [pointer, value] : item.fields) {
      if (pointer.empty()) {
        EXPECT_EQ(request.body, value.get<std::string>());
      } else {
        EXPECT_EQ(json::parse(request.body).at(json::json_pointer(pointer)), value) << pointer;
      }
    }
    // A token goes in a header only, never into the URL or the body.
    EXPECT_THAT(request.url + request.body, Not(HasSubstr(kToken)));
  }
}

TEST(PushRequestTest, ResolvedAndMergedNotificationsSaySo) {
  PushNotification n = DiskFail();
  n.resolved = true;
  n.stands_for = 3;
  n.ends_at = n.starts_at + std::chrono::minutes(2);
  const HttpRequest ntfy = BuildChannelRequest(Channel(ChannelType::kNtfy, "https://n/t"), n, "");
  EXPECT_EQ(Header(ntfy, "Title"), std::string("Resolved: ") + kSubject);
  EXPECT_EQ(Header(ntfy, "Priority"), "default");
  EXPECT_EQ(Header(ntfy, "Tags"), "white_check_mark,disk-fail");
  EXPECT_THAT(ntfy.body, EndsWith("\n(stands for 3 alerts)"));
  const json hook = Body(Channel(ChannelType::kWebhook, "https://h/"), n);
  EXPECT_EQ(hook["status"], "resolved");
  EXPECT_EQ(hook["alerts"][0]["endsAt"], "2024-05-01T13:47:07Z");
  EXPECT_EQ(Body(Channel(ChannelType::kAlertmanager, "https://a"), n)[0]["endsAt"],
            "2024-05-01T13:47:07Z");
  // A firing alert gives Alertmanager no end to take.
  EXPECT_FALSE(
      Body(Channel(ChannelType::kAlertmanager, "https://a"), DiskFail())[0].contains("endsAt"));
}

TEST(PushRequestTest, TextsFitEachServiceWithoutBreakingACharacterOrAHeader) {
  PushNotification n = DiskFail();
  n.subject = "Überhitzung\r\nX-Injected: yes";
  // A stray byte and Slack's markup, then 1,000 emoji (two UTF-16 units each) and 1,500
  // two-byte letters: cut for ntfy and Discord.
  n.body_lines = {"\xFF <b> & @everyone ", ""};
  for (int i = 0; i < 1000; ++i)
    n.body_lines[0] += "\xF0\x9F\x98\x80";
  for (int i = 0; i < 1500; ++i)
    n.body_lines[1] += "\xC3\xBC";

  const HttpRequest ntfy = BuildChannelRequest(Channel(ChannelType::kNtfy, "https://n/t"), n, "");
  EXPECT_LE(ntfy.body.size(), kNtfyTextMaxBytes);
  EXPECT_THAT(ntfy.body, EndsWith(kCutShortText));
  EXPECT_EQ(ValidUtf8(ntfy.body), ntfy.body);
  // Not ASCII: an encoded-word, which also keeps the line break out of the header.
  EXPECT_EQ(Header(ntfy, "Title"), "=?UTF-8?B?w5xiZXJoaXR6dW5nICBYLUluamVjdGVkOiB5ZXM=?=");

  const std::string content =
      Body(Channel(ChannelType::kDiscord, "https://d/api/webhooks/1/x"), n)["content"];
  std::size_t units = 0;  // as Discord counts: UTF-16 units
  for (const char c : content) {
    const auto byte = static_cast<unsigned char>(c);
    units += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
  }
  EXPECT_LE(units, kDiscordTextMaxUnits);
  EXPECT_GT(units, kDiscordTextMaxUnits - 50);
  EXPECT_THAT(content, HasSubstr("\xEF\xBF\xBD <b>"));  // the stray byte, replaced
  EXPECT_THAT(std::string(Body(Channel(ChannelType::kSlack, "https://s"), n)["text"]),
              HasSubstr("&lt;b&gt; &amp; @everyone"));

  // A Teams card holds as many lines as fit, then says the rest was cut.
  n.body_lines.assign(2000, "Device1 over heat: 71 \"C\", fan 0 rpm");
  const std::string card =
      BuildChannelRequest(Channel(ChannelType::kTeams, "https://t"), n, "").body;
  EXPECT_LE(card.size(), kTeamsCardMaxBytes);
  EXPECT_GT(card.size(), kTeamsCardMaxBytes - 200);
  EXPECT_EQ(json::parse(card)["attachments"][0]["content"]["body"].back()["text"], kCutShortText);
}

TEST(PushRequestTest, LabelsFingerprintStablyAndNameAnEnclosureAlways) {
  const auto labels = PushAlertLabels(DiskFail());
  auto other = labels;
  other["drive"] = "HDD1";
  // Sixteen hex digits (MinGW's GoogleTest reads only simple regular expressions).
  const std::string fingerprint = LabelFingerprint(labels);
  EXPECT_EQ(fingerprint.size(), 16u);
  EXPECT_EQ(fingerprint.find_first_not_of("0123456789abcdef"), std::string::npos) << fingerprint;
  EXPECT_EQ(LabelFingerprint(labels), LabelFingerprint(PushAlertLabels(DiskFail())));
  EXPECT_NE(LabelFingerprint(labels), LabelFingerprint(other));
  const auto test = PushAlertLabels(PushTestNotification("nas", {}, {}));
  EXPECT_EQ(test.at("enclosure"), "0");
  EXPECT_EQ(test.count("drive"), 0U);
  // A host whose name is not known still has the label: an empty one would be no label at all.
  EXPECT_EQ(PushAlertLabels(PushTestNotification("", {}, {})).at("host"), kUnknownHostLabel);
}

}  // namespace
}  // namespace raid
