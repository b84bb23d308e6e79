// SPDX-License-Identifier: GPL-2.0-or-later
// notify.toml on a real file system: what a good file gives, and that every way of getting it
// wrong is refused with a message naming the file, the line and the fault.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "notify/mail_templates.h"
#include "notify/push/channel_config.h"
#include "notify/push/push_files.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kPem[] = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";

class PushConfigTest : public ::testing::Test {
 protected:
  fs::path Write(const std::string& name, const std::string& content) {
    std::ofstream(folder_ / name, std::ios::binary) << content;
    return folder_ / name;
  }
  // The message for `text` as notify.toml, or "" when it was taken.
  std::string Refusal(const std::string& text) {
    std::vector<ChannelConfig> channels;
    std::string error;
    const bool taken = LoadNotifyChannels(Write(kNotifyFileName, text), channels, error);
    EXPECT_EQ(taken, error.empty());
    if (!taken) {
      EXPECT_TRUE(channels.empty());
    }
    return error;
  }
  std::string File() const { return PathToUtf8(folder_ / kNotifyFileName); }
  std::string Beside(const std::string& name) const { return PathToUtf8(folder_ / name); }

  testing::TempFolder folder_{"raidgui-push-config-"};
};

TEST_F(PushConfigTest, GoodFileGivesEveryChannelWithDefaultsAndFilesReadBesideIt) {
  Write("phone.token", "tk_secret\n");
  Write("ca.pem", kPem);
  const std::string text = R"(
[[channel]]
name = "phone"
type = "ntfy"
url = "https://ntfy.example.org/raid-alerts"
token_file = "phone.token"
ca_file = "ca.pem"

[[channel]]
name = "ops.room_2"
type = "matrix"
url = "https://matrix.example.org"
token = "syt_abc"
room = "!abc:example.org"
events = ["disk-fail", "responding", "disk-fail"]
remind = "diminishing"
)";
  std::vector<ChannelConfig> channels;
  std::string error;
  ASSERT_TRUE(LoadNotifyChannels(Write(kNotifyFileName, text), channels, error)) << error;
  ASSERT_EQ(channels.size(), 2U);
  EXPECT_EQ(channels[0].name, "phone");
  EXPECT_EQ(channels[0].type, ChannelType::kNtfy);
  EXPECT_EQ(channels[0].token, "tk_secret");  // the line break gone
  EXPECT_EQ(PathFromUtf8(channels[0].ca_file), folder_ / "ca.pem");
  EXPECT_THAT(channels[0].events,
              ElementsAre("disk-fail", "device-removed", "over-heat", "fan-fail", "no-response"));
  EXPECT_EQ(channels[0].remind, RemindPolicy::kOnce);
  EXPECT_EQ(channels[1].room, "!abc:example.org");
  EXPECT_THAT(channels[1].events, ElementsAre("disk-fail", "responding"));
  EXPECT_EQ(channels[1].remind, RemindPolicy::kDiminishing);

  // No file: no channel, and nothing wrong.
  EXPECT_TRUE(LoadNotifyChannels(folder_ / "none.toml", channels, error));
  EXPECT_TRUE(channels.empty());
}

TEST_F(PushConfigTest, EachFaultIsRefusedWithFileLineAndReason) {
  Write("empty.token", "\n");
  Write("not-ca.pem", "just text\n");
  Write("huge.token", std::string(kTokenFileMaxBytes + 1, 'x'));
  fs::create_directory(folder_ / "folder.token");
  const std::string head = "[[channel]]\nname = \"a\"\n";
  const std::string ntfy = head + "type = \"ntfy\"\nurl = \"https://n.example/t\"\n";
  struct Case {
    std::string text;
    std::string fragment;  // after "<file> line "
  };
  const std::vector<Case> cases = {
      {"[[channel]]\nname = \"a\"\ntype = \"pager\"\nurl = \"https://x\"\n",
       "3: channel \"a\": unknown type \"pager\" (one of ntfy, gotify, webhook, alertmanager, "
       "discord, slack, matrix, teams)"},
      {head + "url = \"https://x\"\n", "1: channel \"a\": no type"},
      {"[[channel]]\ntype = \"ntfy\"\nurl = \"https://x/t\"\n", "1: a channel without a name"},
      {"[[channel]]\nname = \"\"\n", "2: the channel name is empty"},
      {"[[channel]]\nname = \"my phone\"\n", "2: the channel name \"my phone\" may hold only"},
      {"[[channel]]\nname = \"" + std::string(65, 'n') + "\"\n", "2: the channel name \"nnn"},
      {ntfy + ntfy, "6: the channel name \"a\" is taken by the channel on line 1"},
      {head + "type = \"ntfy\"\nurl = \"ftp://x/t\"\n",
       "4: channel \"a\": the url \"ftp://x/t\" is not an http:// or https:// address"},
      {head + "type = \"ntfy\"\nurl = \"https://x/a b\"\n", "4: channel \"a\": the url"},
      {head + "type = \"ntfy\"\n", "1: channel \"a\": no url"},
      {head + "type = \"ntfy\"\nurl = 5\n", "4: url must be a text in quotes"},
      {ntfy + "token = \"t\"\ntoken_file = \"empty.token\"\n",
       "6: channel \"a\": token and token_file both given"},
      {ntfy + "token_file = \"empty.token\"\n", "5: channel \"a\": the token file"},
      {ntfy + "token_file = \"missing.token\"\n",
       "5: channel \"a\": cannot read the token file: cannot open " + Beside("missing.token")},
      {ntfy + "token_file = \"folder.token\"\n",
       "5: channel \"a\": cannot read the token file: " + Beside("folder.token") +
           " is not a regular file (a folder)"},
      {ntfy + "token_file = \"huge.token\"\n",
       "5: channel \"a\": cannot read the token file: " + Beside("huge.token") +
           " is larger than 65536 bytes"},
      {head + "type = \"discord\"\nurl = \"https://d.example/api/webhooks/1/x\"\ntoken = \"t\"\n",
       "5: channel \"a\": a discord channel takes no token"},
      {ntfy + "events = [\"disk-fail\", \"disk-full\"]\n",
       "5: channel \"a\": unknown event \"disk-full\" (the events: disk-fail, device-removed, "
       "over-heat, fan-fail, device-found, no-response, responding)"},
      {ntfy + "events = []\n", "5: channel \"a\": events is empty"},
      {ntfy + "remind = \"weekly\"\n", "5: channel \"a\": unknown remind \"weekly\""},
      {head + "type = \"matrix\"\nurl = \"https://m.example\"\ntoken = \"t\"\n",
       "1: channel \"a\": a matrix channel needs the room it posts to"},
      {ntfy + "room = \"!r:x\"\n", "5: channel \"a\": room is for matrix channels only"},
      {ntfy + "ca_file = \"not-ca.pem\"\n",
       "5: channel \"a\": the CA file " + Beside("not-ca.pem") + " holds no PEM certificate"},
      {ntfy + "colour = \"red\"\n", "5: unknown key \"colour\" (the keys of a channel: name,"},
      {"[settings]\nx = 1\n", "1: unknown key \"settings\""},
      {"[channel]\nname = \"a\"\n", "1: channel must be a table of its own: write [[channel]]"},
      {ntfy + "name = \"b\"\n", "5: "},  // toml++: a key defined twice
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.text);
    EXPECT_THAT(Refusal(item.text), HasSubstr(File() + " line " + item.fragment));
  }
}

}  // namespace
}  // namespace raid
