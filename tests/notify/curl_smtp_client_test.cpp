// SPDX-License-Identifier: GPL-2.0-or-later
// The libcurl client against a real SMTP server on loopback (tests/notify/smtp_test_server.py):
// what arrives, what the events say, what the user reads when it fails, and when the password
// may travel.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "notify/curl_smtp_client.h"
#include "support/smtp_test_server.h"
#include "support/temp_folder.h"

extern char** environ;

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;
using test_smtp::ReadFile;

constexpr const char* kUser = "raid-alerts";
constexpr const char* kPassword = "S3cret-pass!";

class CurlSmtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A CA file named by the environment would make an unverifiable certificate verify.
    unsetenv("RAIDGUI_SMTP_CA_FILE");
    client_.SetEventHandler([this](SmtpEvent event) { events_.push_back(event); });
  }

  std::unique_ptr<TestSmtpServer> StartServer(const std::string& name,
                                              std::vector<std::string> options = {}) {
    auto server = std::make_unique<TestSmtpServer>(folder_ / name, std::move(options));
    EXPECT_NE(server->port(), 0) << server->server_errors();
    return server;
  }

  static SmtpAccount Account(const TestSmtpServer& server) {
    SmtpAccount account;
    account.host = "127.0.0.1";
    account.port = server.port();
    account.timeout_seconds = 5;
    return account;
  }
  static SmtpAccount LoginAccount(const TestSmtpServer& server, const std::string& password) {
    SmtpAccount account = Account(server);
    account.login = true;
    account.user = kUser;
    account.password = password;
    account.ca_file = server.ca_file().string();
    return account;
  }

  static MailMessage Mail() {
    MailMessage mail;
    mail.from_name = "RAID Monitor";
    mail.from_address = "raid@example.org";
    mail.recipients = {"first@example.org", "second@example.net"};
    mail.subject = "[RAID GUI v0.50.11-4 Message] Überhitzung";
    mail.body = {"Device1 P0 Hard Disk Drive fail.", "\nBoard: ACME X570", ".", "..", "end"};
    return mail;
  }

  // Connect, Send, Disconnect as the sender does them; the result and error of Send.
  bool SendThrough(const SmtpAccount& account, const MailMessage& mail = Mail()) {
    std::string connect_error;
    EXPECT_TRUE(client_.Connect(account, connect_error)) << connect_error;
    const bool sent = client_.Send(mail, error_);
    client_.Disconnect();
    return sent;
  }

  testing::TempFolder folder_{"mail-test-"};
  CurlSmtpClient client_;
  std::vector<SmtpEvent> events_;
  std::string error_;
};

TEST_F(CurlSmtpClientTest, DeliversToTwoRecipientsWithHeadersAndBodyIntact) {
  const auto server = StartServer("plain");
  std::string error;
  ASSERT_TRUE(client_.Connect(Account(*server), error)) << error;
  EXPECT_TRUE(client_.Connected());
  ASSERT_TRUE(client_.Send(Mail(), error)) << error;
  EXPECT_THAT(events_,
              ElementsAre(SmtpEvent::kConnected, SmtpEvent::kWorkBegin, SmtpEvent::kWorkEnd));
  client_.Disconnect();
  EXPECT_FALSE(client_.Connected());
  EXPECT_EQ(events_.back(), SmtpEvent::kDisconnected);

  const std::vector<json> data = server->Records("data");
  ASSERT_EQ(data.size(), 1U);
  EXPECT_EQ(data[0]["mail_from"], "raid@example.org");
  EXPECT_THAT(data[0]["rcpt_tos"], ElementsAre("first@example.org", "second@example.net"));
  const json& seen = data[0]["parsed"];
  EXPECT_EQ(seen["subject"], "[RAID GUI v0.50.11-4 Message] Überhitzung");
  EXPECT_EQ(seen["from_name"], "RAID Monitor");
  EXPECT_EQ(seen["from_address"], "raid@example.org");
  EXPECT_THAT(seen["to"], ElementsAre("first@example.org", "second@example.net"));
  EXPECT_EQ(seen["charset"], "utf-8");
  EXPECT_TRUE(seen["defects"].empty()) << seen["defects"];
  // The "." line was dot-stuffed once on the way, and unstuffed once by the server.
  EXPECT_EQ(seen["body"], "Device1 P0 Hard Disk Drive fail.\n\nBoard: ACME X570\n.\n..\nend\n");
  const std::string raw = ReadFile(data[0]["file"].get<std::string>());
  EXPECT_THAT(raw, HasSubstr("\r\n.\r\n..\r\nend\r\n"));
  EXPECT_EQ(server->Records("auth").size(), 0U);
}

TEST_F(CurlSmtpClientTest, NonAsciiBodyArrivesIntactThroughQuotedPrintable) {
  const auto server = StartServer("plain");
  MailMessage mail = Mail();
  mail.body = {"Temperatur über 60 °C", std::string(1500, 'x'), "trailing blank ", ".", "=?x?="};
  ASSERT_TRUE(SendThrough(Account(*server), mail)) << error_;
  const std::vector<json> data = server->Records("data");
  ASSERT_EQ(data.size(), 1U);
  EXPECT_EQ(data[0]["parsed"]["transfer_encoding"], "quoted-printable");
  EXPECT_EQ(data[0]["parsed"]["body"],
            "Temperatur über 60 °C\n" + std::string(1500, 'x') + "\ntrailing blank \n.\n=?x?=\n");
}

TEST_F(CurlSmtpClientTest, LoginGoesOverStartTlsWithTheMechanismTheServerOffers) {
  for (const std::string mechanism : {"LOGIN", "PLAIN"}) {
    const auto server = StartServer(mechanism, {"--mode", "starttls", "--user", kUser, "--password",
                                                kPassword, "--offer-auth", mechanism});
    ASSERT_TRUE(SendThrough(LoginAccount(*server, kPassword))) << mechanism << ": " << error_;
    const std::vector<json> auth = server->Records("auth");
    ASSERT_EQ(auth.size(), 1U);
    EXPECT_EQ(auth[0]["mechanism"], mechanism);
    EXPECT_EQ(auth[0]["login"], kUser);
    EXPECT_EQ(auth[0]["password"], kPassword);
    EXPECT_EQ(auth[0]["tls"], true) << "the password travelled in the clear";
    const std::vector<json> data = server->Records("data");
    ASSERT_EQ(data.size(), 1U);
    EXPECT_EQ(data[0]["tls"], true);
  }

  // A server that offers only what no client here knows is not a refused login.
  const auto odd = StartServer("odd", {"--mode", "starttls", "--user", kUser, "--password",
                                       kPassword, "--offer-auth", "XFOO"});
  EXPECT_FALSE(SendThrough(LoginAccount(*odd, kPassword)));
  EXPECT_THAT(error_, HasSubstr("offers no login method this program knows (it offers XFOO)"));
  EXPECT_THAT(error_, Not(HasSubstr("Login denied")));
  EXPECT_TRUE(odd->Records("mail").empty());

  // Nor is a 504 to AUTH: the method is not there, whatever the password.
  const auto lacking =
      StartServer("lacking", {"--mode", "starttls", "--user", kUser, "--password", kPassword,
                              "--offer-auth", "PLAIN", "--auth-unsupported"});
  EXPECT_FALSE(SendThrough(LoginAccount(*lacking, kPassword)));
  EXPECT_THAT(error_, HasSubstr("the server does not support that login method (PLAIN)"));
  EXPECT_THAT(error_, Not(HasSubstr("Login denied")));
  EXPECT_TRUE(lacking->Records("mail").empty());
}

TEST_F(CurlSmtpClientTest, RefusedLoginIsReportedWithoutThePasswordAndSendsNothing) {
  const auto server =
      StartServer("starttls", {"--mode", "starttls", "--user", kUser, "--password", "another one"});
  // Nothing of the session may reach stderr.
  const fs::path stderr_copy = folder_ / "client-stderr.txt";
  const int saved_stderr = dup(2);
  const int capture = open(stderr_copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(capture, 2);
  const bool sent = SendThrough(LoginAccount(*server, kPassword));
  dup2(saved_stderr, 2);
  close(capture);
  close(saved_stderr);

  EXPECT_FALSE(sent);
  EXPECT_THAT(error_, HasSubstr("Login denied"));
  EXPECT_THAT(error_, HasSubstr("535 5.7.8 Authentication credentials invalid"));
  EXPECT_THAT(error_, HasSubstr(std::to_string(server->port())));
  EXPECT_THAT(error_, Not(HasSubstr(kPassword)));
  EXPECT_EQ(ReadFile(stderr_copy), "");
  EXPECT_EQ(server->Records("auth").size(), 1U) << "the login was tried again";
  EXPECT_TRUE(server->Records("mail").empty());
  EXPECT_THAT(events_, ElementsAre(SmtpEvent::kConnected, SmtpEvent::kDisconnected));
}

TEST_F(CurlSmtpClientTest, ARefusedOrUnusableRecipientLeavesTheOthersTheirMail) {
  const auto server = StartServer("plain", {"--refuse", "second@example.net"});
  MailMessage mail = Mail();
  mail.recipients = {"bob", "first@example.org", "second@example.net"};
  ASSERT_TRUE(SendThrough(Account(*server), mail)) << error_;
  const std::vector<json> data = server->Records("data");
  ASSERT_EQ(data.size(), 1U);
  EXPECT_THAT(data[0]["rcpt_tos"], ElementsAre("first@example.org"));
  EXPECT_THAT(data[0]["parsed"]["to"], ElementsAre("first@example.org", "second@example.net"));
  EXPECT_THAT(
      client_.FailedRecipients(),
      ElementsAre(RecipientFailure{"bob", "not a usable address"},
                  RecipientFailure{"second@example.net",
                                   "550 5.1.1 <second@example.net>: Recipient address rejected: "
                                   "unknown user"}));

  // Nobody left to take it: the mail fails, naming why each one did not take it.
  mail.recipients = {"second@example.net", "x@y\r\nDATA"};
  EXPECT_FALSE(SendThrough(Account(*server), mail));
  EXPECT_THAT(error_, HasSubstr("no recipient accepted the mail: second@example.net (550 5.1.1"));
  EXPECT_THAT(error_, HasSubstr("x@y??DATA (not a usable address)"));
  EXPECT_EQ(server->Records("data").size(), 1U);
  EXPECT_EQ(events_.back(), SmtpEvent::kDisconnected);
}

TEST_F(CurlSmtpClientTest, CancelEndsASessionWithASilentServerAtOnce) {
  const auto server = StartServer("silent", {"--mode", "silent"});
  SmtpAccount account = Account(*server);
  account.timeout_seconds = 60;
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    client_.Cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendThrough(account));
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_THAT(error_, HasSubstr("cancelled"));
  EXPECT_FALSE(SendThrough(account)) << "a cancelled client sends no more";
}

TEST_F(CurlSmtpClientTest, RefusedConnectionIsReported) {
  // A bound socket that does not listen refuses every connection to its port.
  const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length);
  SmtpAccount account;
  account.host = "127.0.0.1";
  account.port = ntohs(address.sin_port);

  EXPECT_FALSE(SendThrough(account));
  close(socket_fd);
  EXPECT_THAT(error_, HasSubstr("127.0.0.1:" + std::to_string(account.port)));
  EXPECT_THAT(error_, ::testing::ContainsRegex("[Cc]ouldn't connect|[Ff]ailed to connect"));
}

TEST_F(CurlSmtpClientTest, SilentServerRunsIntoTheTimeOut) {
  const auto server = StartServer("silent", {"--mode", "silent"});
  SmtpAccount account = Account(*server);
  account.timeout_seconds = 2;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendThrough(account));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1900));
  EXPECT_LT(waited, std::chrono::seconds(4));
  EXPECT_THAT(error_, ::testing::ContainsRegex("[Tt]imed? ?out"));
  EXPECT_EQ(server->Records("connection").size(), 1U);
}

TEST_F(CurlSmtpClientTest, MessageTheServerNeverConfirmsGivesWorkBeginButNoWorkEnd) {
  const auto server = StartServer("hang", {"--hang-after-data"});
  SmtpAccount account = Account(*server);
  account.timeout_seconds = 1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendThrough(account));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(server->Records("data").size(), 1U);
  EXPECT_THAT(events_,
              ElementsAre(SmtpEvent::kConnected, SmtpEvent::kWorkBegin, SmtpEvent::kDisconnected));
}

TEST_F(CurlSmtpClientTest, PasswordStaysHomeWhenTheServerOffersNoTlsOrRefusesIt) {
  const auto plain = StartServer("plain", {"--user", kUser, "--password", kPassword});
  SmtpAccount account = LoginAccount(*plain, kPassword);
  account.ca_file.clear();
  EXPECT_FALSE(SendThrough(account));
  EXPECT_THAT(error_, HasSubstr("does not offer STARTTLS"));
  EXPECT_TRUE(plain->Records("auth").empty());
  EXPECT_TRUE(plain->Records("mail").empty());

  const auto denying =
      StartServer("deny", {"--mode", "deny-starttls", "--user", kUser, "--password", kPassword});
  EXPECT_FALSE(SendThrough(LoginAccount(*denying, kPassword)));
  EXPECT_THAT(error_, HasSubstr("454 4.7.0 TLS not available"));
  EXPECT_EQ(denying->Records("starttls_denied").size(), 1U);
  EXPECT_TRUE(denying->Records("auth").empty()) << "AUTH went out in the clear";
  EXPECT_TRUE(denying->Records("mail").empty());
}

TEST_F(CurlSmtpClientTest, StartTlsIsTakenWithoutLoginTooWithTheCaFileFromTheEnvironment) {
  const auto server = StartServer("starttls", {"--mode", "starttls"});
  setenv("RAIDGUI_SMTP_CA_FILE", server->ca_file().c_str(), 1);
  const bool sent = SendThrough(Account(*server));
  unsetenv("RAIDGUI_SMTP_CA_FILE");
  ASSERT_TRUE(sent) << error_;
  const std::vector<json> data = server->Records("data");
  ASSERT_EQ(data.size(), 1U);
  EXPECT_EQ(data[0]["tls"], true);
}

TEST_F(CurlSmtpClientTest, CertificateThatDoesNotVerifyEndsTheSessionBeforeAnyCommand) {
  const auto server =
      StartServer("starttls", {"--mode", "starttls", "--user", kUser, "--password", kPassword});
  SmtpAccount account = LoginAccount(*server, kPassword);
  account.ca_file.clear();
  EXPECT_FALSE(SendThrough(account));
  EXPECT_THAT(error_, HasSubstr("certificate"));
  EXPECT_TRUE(server->Records("auth").empty());
  EXPECT_TRUE(server->Records("mail").empty());
}

TEST_F(CurlSmtpClientTest, ImplicitTlsCarriesTheWholeSession) {
  const auto server =
      StartServer("implicit", {"--mode", "implicit", "--user", kUser, "--password", kPassword});
  SmtpAccount account = LoginAccount(*server, kPassword);
  account.tls_start = SmtpTlsStart::kImplicit;
  ASSERT_TRUE(SendThrough(account)) << error_;
  const std::vector<json> ehlo = server->Records("ehlo");
  ASSERT_FALSE(ehlo.empty());
  EXPECT_EQ(ehlo[0]["tls"], true) << "the session began in the clear";
  const std::vector<json> auth = server->Records("auth");
  ASSERT_EQ(auth.size(), 1U);
  EXPECT_EQ(auth[0]["tls"], true);
  EXPECT_EQ(server->Records("data").size(), 1U);
}

TEST_F(CurlSmtpClientTest, UnusableAccountOrMailIsRefusedBeforeTheNetwork) {
  std::string error;
  EXPECT_FALSE(client_.Send(Mail(), error));
  EXPECT_EQ(error, "not connected");

  SmtpAccount account;
  account.host = "mail.example.org/evil";
  EXPECT_FALSE(client_.Connect(account, error));
  EXPECT_THAT(error, HasSubstr("is not valid"));
  account.host = "mail.example.org";
  account.port = 0;
  EXPECT_FALSE(client_.Connect(account, error));
  account.port = 587;
  account.login = true;
  EXPECT_FALSE(client_.Connect(account, error));
  EXPECT_EQ(error, "login is on but no account name is set");
  account.login = false;
  account.ca_file = (folder_ / "missing.pem").string();
  EXPECT_FALSE(client_.Connect(account, error));
  EXPECT_THAT(error, HasSubstr("cannot read the CA file"));
  EXPECT_TRUE(events_.empty());

  // The host is never looked up: no recipient can be used.
  account.ca_file.clear();
  ASSERT_TRUE(client_.Connect(account, error)) << error;
  EXPECT_FALSE(client_.Connect(account, error));
  EXPECT_EQ(error, "already connected");
  MailMessage mail = Mail();
  mail.recipients = {"x@example.org>\r\nDATA"};
  EXPECT_FALSE(client_.Send(mail, error));
  EXPECT_THAT(error, HasSubstr("no recipient address can be used"));
  EXPECT_THAT(events_, ElementsAre(SmtpEvent::kConnected));
}

}  // namespace
}  // namespace raid
