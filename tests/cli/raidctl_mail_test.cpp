// raidctl's mail commands as a process, with a settings folder of their own and a real SMTP
// server on loopback: setting up, showing without the password, the test mail, and the alert
// mails of `raidctl monitor`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "support/shell_command.h"
#include "support/smtp_test_server.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::SizeIs;
using json = nlohmann::json;

struct CliRun : testing::ShellRun {
  std::string err;
};

class RaidctlMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("raidctl-mail-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_ / "logs");
  }
  void TearDown() override { fs::remove_all(folder_); }

  // raidctl with `arguments` (shell-quoted), `input` on its standard input.
  CliRun Raidctl(const std::string& arguments, const std::string& input = "") {
    const fs::path in = folder_ / "stdin.txt";
    const fs::path err = folder_ / "stderr.txt";
    std::ofstream(in) << input;
    const std::string command = "RAIDGUI_CONFIG_DIR=" + (folder_ / "config").string() +
                                " RAIDGUI_LOG_DIR=" + (folder_ / "logs").string() + " " +
                                RAIDCTL_PATH + " " + arguments + " <" + in.string() + " 2>" +
                                err.string();
    CliRun run;
    static_cast<testing::ShellRun&>(run) = testing::RunShellCommand(command);
    run.err = test_smtp::ReadFile(err);
    return run;
  }

  std::unique_ptr<TestSmtpServer> StartServer(const std::string& name,
                                              std::vector<std::string> options = {}) {
    auto server = std::make_unique<TestSmtpServer>(folder_ / name, std::move(options));
    EXPECT_NE(server->port(), 0) << server->server_errors();
    return server;
  }

  void SetUpMail(const TestSmtpServer& server) {
    std::ofstream(folder_ / "body.txt") << "Please check the enclosure.\r\nThanks\r\n";
    const CliRun run =
        Raidctl("mail-setup --smtp 127.0.0.1 --port " + std::to_string(server.port()) +
                " --from raid@example.com --name 'RAID Box' --timeout 5"
                " --to ops@example.com --to me@example.org"
                " --subject disk-fail 'Drive trouble' --body 1 " +
                (folder_ / "body.txt").string());
    ASSERT_EQ(run.exit_code, 0) << run.err;
  }

  fs::path folder_;
};

TEST_F(RaidctlMailTest, SetupWritesOwnerOnlySettingsAndShowKeepsThePasswordSecret) {
  CliRun run = Raidctl("mail-show --json");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(json::parse(run.out)["configured"], false);

  run = Raidctl(
      "mail-setup --smtp mail.example.com --from raid@example.com --auth --user raid"
      " --to ops@example.com --suppress device-removed",
      "Secret-15-chars\n");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  struct stat info {};
  ASSERT_EQ(stat((folder_ / "config" / "settings.toml").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_THAT(test_smtp::ReadFile(folder_ / "config" / "settings.toml"),
              Not(HasSubstr("Secret-15-chars")));

  run = Raidctl("mail-show --json");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, Not(HasSubstr("Secret")));
  const json shown = json::parse(run.out);
  EXPECT_EQ(shown["port"], "25");
  EXPECT_EQ(shown["timeout"], "0");
  EXPECT_EQ(shown["login"], true);
  EXPECT_EQ(shown["account"], "raid");
  EXPECT_EQ(shown["password"], "set");
  EXPECT_EQ(shown["recipients"], json({"ops@example.com"}));
  EXPECT_EQ(shown["suppressed"], 2);

  // A later setup changes what it names and keeps the rest, password included.
  run =
      Raidctl("mail-setup --port 587 --send device-removed --to a@example.com --to b@example.com");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const json changed = json::parse(Raidctl("mail-show --json").out);
  EXPECT_EQ(changed["port"], "587");
  EXPECT_EQ(changed["smtp"], "mail.example.com");
  EXPECT_EQ(changed["password"], "set");
  EXPECT_EQ(changed["suppressed"], 0);
  EXPECT_EQ(changed["recipients"], json({"a@example.com", "b@example.com"}));
}

TEST_F(RaidctlMailTest, SetupRefusesWhatThePageWouldRefuseAndChangesNothing) {
  EXPECT_EQ(Raidctl("mail-setup --to nobody.example.com").exit_code, 2);
  EXPECT_EQ(Raidctl("mail-setup --port 70000").exit_code, 2);
  EXPECT_EQ(Raidctl("mail-setup --auth --user raid", "sixteen-chars-pw\n").exit_code, 2);
  EXPECT_EQ(Raidctl("mail-setup --subject 3 'Hot'").exit_code, 2);
  std::string eleven;
  for (int i = 0; i < 11; ++i)
    eleven += " --to r" + std::to_string(i) + "@example.com";
  const CliRun run = Raidctl("mail-setup" + eleven);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_THAT(run.err, HasSubstr("at most ten recipients"));
  EXPECT_FALSE(fs::exists(folder_ / "config" / "settings.toml"));
}

TEST_F(RaidctlMailTest, TestMailPrintsTheServersAnswerOrWhyItFailed) {
  auto server = StartServer("plain");
  SetUpMail(*server);
  CliRun run = Raidctl("mail-test");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("250 2.0.0 Message accepted"));
  const std::vector<json> data = server->Records("data");
  ASSERT_THAT(data, SizeIs(1));
  EXPECT_EQ(data[0]["rcpt_tos"], json({"raid@example.com"}));

  // A server that has gone away: the reason, and a failure status.
  const std::uint16_t port = server->port();
  server.reset();
  run = Raidctl("mail-test");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.err, HasSubstr("E-Mail Message: "));
  EXPECT_THAT(run.err, HasSubstr(std::to_string(port)));
}

TEST_F(RaidctlMailTest, MonitorMailsTheAlertOfAPulledDrive) {
  const auto server = StartServer("plain");
  SetUpMail(*server);
  const CliRun run = Raidctl("monitor --simulate " + std::string(RAIDGUI_SCENARIO_DIR) +
                             "/rebuild_story.json --for 60");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("alert mails go to 2 recipient(s)"));
  const std::vector<json> data = server->Records("data");
  ASSERT_THAT(data, SizeIs(1));
  EXPECT_EQ(data[0]["rcpt_tos"], json({"ops@example.com", "me@example.org"}));
  EXPECT_EQ(data[0]["parsed"]["subject"], "[RAID GUI v0.50.11-4 Message] Drive trouble");
  const std::string body = data[0]["parsed"]["body"];
  EXPECT_EQ(body.rfind("Device1 P1 Hard Disk Drive fail.\nDevice1 information :\n", 0), 0u) << body;
  EXPECT_THAT(body, HasSubstr("  HDD2 is absent. \n"));
  EXPECT_THAT(body, HasSubstr("=========== [System Information] =============="));
  EXPECT_THAT(body, HasSubstr("\nPlease check the enclosure.\nThanks\n"));
}

}  // namespace
}  // namespace raid
