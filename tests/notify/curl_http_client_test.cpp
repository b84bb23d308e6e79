// SPDX-License-Identifier: GPL-2.0-or-later
// The libcurl client against a real HTTP(S) server on loopback
// (tests/notify/push_test_receiver.py): how far each exchange got, told truthfully; what each
// channel's request looks like to the service it is meant for; and certificates verified.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "notify/push/channel_request.h"
#include "notify/push/curl_http_client.h"
#include "notify/push/delivery_judge.h"
#include "notify/push/notification_text.h"
#include "support/push_test_receiver.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using json = nlohmann::json;

class CurlHttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Loopback goes straight to the receiver, and only the CA a test names is trusted.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             kNotifyCaFileVariable})
      unsetenv(name);
  }
  std::unique_ptr<testing::PushTestReceiver> Start(bool tls = false) {
    auto receiver = std::make_unique<testing::PushTestReceiver>(folder_ / "receiver", tls);
    EXPECT_NE(receiver->port(), 0) << receiver->errors();
    return receiver;
  }
  static std::string Url(const testing::PushTestReceiver& receiver, const std::string& path,
                         const char* scheme = "http") {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(receiver.port()) + path;
  }
  static HttpRequest Post(std::string url) {
    return {"POST", std::move(url), {{"Content-Type", "application/json"}}, R"({"text":"x"})"};
  }

  testing::TempFolder folder_{"raidgui-push-curl-"};
  CurlHttpClient client_;
};

TEST_F(CurlHttpClientTest, EachChannelsRequestIsTakenAsTheServiceDocumentsIt) {
  const auto receiver = Start();
  PushNotification n = PushTestNotification("nas", {"Board: ACME X570"}, {});
  n.event = "disk-fail";
  n.enclosure = 1;
  n.drive = 1;
  const std::vector<std::pair<ChannelType, std::string>> services = {
      {ChannelType::kNtfy, "/ntfy/ok/raid-alerts"},
      {ChannelType::kGotify, "/gotify/ok/"},
      {ChannelType::kWebhook, "/webhook/ok/hook"},
      {ChannelType::kAlertmanager, "/alertmanager/ok/"},
      {ChannelType::kDiscord, "/discord/ok/api/webhooks/123/secret-token"},
      {ChannelType::kSlack, "/slack/ok/services/T0/B0/xyz"},
      {ChannelType::kMatrix, "/matrix/ok"},
      {ChannelType::kTeams, "/teams/ok/workflows/1/invoke?sig=abc"},
  };
  for (const auto& [type, path] : services) {
    SCOPED_TRACE(path);
    const ChannelConfig channel{"c", type, Url(*receiver, path), "tk_1",
                                {},  {},   "!r:example.org",     {}};
    const HttpReply reply = client_.Perform(BuildChannelRequest(channel, n, "txn.1"), {});
    const DeliveryOutcome outcome = JudgeReply(channel, reply);
    EXPECT_EQ(outcome.kind, DeliveryKind::kDelivered) << outcome.reason;
    const bool has_id = type == ChannelType::kNtfy || type == ChannelType::kGotify ||
                        type == ChannelType::kDiscord || type == ChannelType::kMatrix;
    EXPECT_EQ(outcome.id.empty(), !has_id) << reply.body;
    EXPECT_EQ(receiver->Records().back()["problems"], json::array());
  }
}

TEST_F(CurlHttpClientTest, AnAnswerIsKeptWithItsStatusBodyAndRetryAfter) {
  const auto receiver = Start();
  const HttpReply busy = client_.Perform(Post(Url(*receiver, "/gotify/503,429-7/message")), {});
  EXPECT_EQ(busy.stage, HttpReply::Stage::kAnswered);
  EXPECT_EQ(busy.status, 503);
  EXPECT_THAT(busy.body, HasSubstr("\"errorCode\": 503"));
  const HttpReply limited = client_.Perform(Post(Url(*receiver, "/gotify/503,429-7/message")), {});
  EXPECT_EQ(limited.status, 429);
  EXPECT_EQ(limited.retry_after, "7");
  // A redirect is an answer, not a place to go.
  EXPECT_EQ(client_.Perform(Post(Url(*receiver, "/webhook/302/x")), {}).status, 302);
  EXPECT_EQ(receiver->Records().size(), 3U);
}

TEST_F(CurlHttpClientTest, SilenceAfterTheRequestIsNoAnswerAndARefusedConnectionIsNotSent) {
  const auto receiver = Start();
  const auto start = std::chrono::steady_clock::now();
  const HttpReply silent =
      client_.Perform(Post(Url(*receiver, "/webhook/never/x")), {std::chrono::seconds(2), ""});
  EXPECT_EQ(silent.stage, HttpReply::Stage::kNoAnswer) << silent.error;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  EXPECT_EQ(client_.Perform(Post(Url(*receiver, "/webhook/close/x")), {}).stage,
            HttpReply::Stage::kNoAnswer);
  EXPECT_EQ(receiver->Records().size(), 2U);  // both arrived

  // A port nobody listens on: the one the kernel just gave a socket that is gone again.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
  close(probe);
  const std::string closed = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  EXPECT_EQ(client_.Perform(Post(closed + "/x"), {}).stage, HttpReply::Stage::kNotSent);
}

TEST_F(CurlHttpClientTest, CancelEndsAnExchangeUnderWayAndEveryLaterOne) {
  const auto receiver = Start();
  std::thread canceller([this] {
    std::this_thread::sleep_for(300ms);
    client_.Cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  const HttpReply cut = client_.Perform(Post(Url(*receiver, "/webhook/never/x")), {});
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
  EXPECT_EQ(cut.stage, HttpReply::Stage::kNoAnswer);  // it had gone out
  EXPECT_EQ(client_.Perform(Post(Url(*receiver, "/webhook/ok/x")), {}).stage,
            HttpReply::Stage::kNotSent);
  EXPECT_EQ(receiver->Records().size(), 1U);
}

TEST_F(CurlHttpClientTest, TlsIsVerifiedWithTheChannelsCaFileAndRefusedWithoutIt) {
  const auto receiver = Start(true);
  const std::string url = Url(*receiver, "/ntfy/ok/t", "https");
  const HttpReply trusted =
      client_.Perform(Post(url), {std::chrono::seconds(10), receiver->ca_file()});
  EXPECT_EQ(trusted.status, 200) << trusted.error;
  const HttpReply refused = client_.Perform(Post(url), {});
  EXPECT_EQ(refused.stage, HttpReply::Stage::kNotSent);
  EXPECT_THAT(refused.error, HasSubstr("certificate"));
  EXPECT_EQ(receiver->Records().size(), 1U);
}

}  // namespace
}  // namespace raid
