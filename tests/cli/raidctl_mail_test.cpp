// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl's mail commands as a process, with a settings folder of their own and a real SMTP
// server on loopback: setting up, showing without the password, the test mail, and the alert
// mails of `raidctl monitor`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/build_paths.h"
#include "support/raidctl_run.h"
#include "support/shell_command.h"
#include "support/smtp_test_server.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::SizeIs;
using json = nlohmann::json;

using testing::CliRun;

class RaidctlMailTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder_ / "logs"); }

  // raidctl with `arguments` (shell-quoted), `input` on its standard input.
  CliRun Raidctl(const std::string& arguments, const std::string& input = "") {
    const fs::path in = folder_ / "stdin.txt";
    std::ofstream(in) << input;
    return testing::RunRaidctl("RAIDGUI_CONFIG_DIR=" + (folder_ / "config").string() +
                                   " RAIDGUI_LOG_DIR=" + (folder_ / "logs").string(),
                               arguments + " <" + in.string(), folder_ / "stderr.txt");
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

  testing::TempFolder folder_{"raidctl-mail-"};
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
  // 1 MiB read with LF line ends, 1 KiB more stored with CR LF: too large to be read back.
  const fs::path grows = folder_ / "grows.txt";
  std::ofstream(grows) << [] {
    std::string lines;
    for (int i = 0; i < 1024; ++i)
      lines += std::string(1023, 'x') + "\n";
    return lines;
  }();
  EXPECT_EQ(Raidctl("mail-setup --to nobody.example.com").exit_code, 2);
  EXPECT_EQ(Raidctl("mail-setup --port 70000").exit_code, 2);
  EXPECT_EQ(Raidctl("mail-setup --port inf").exit_code, 2);
  EXPECT_EQ(Raidctl("mail-setup --timeout 100").exit_code, 2);
  for (const auto& [option, said] : std::vector<std::pair<std::string, std::string>>{
           {"--to 'a b@example.com'",
            "--to: E-Mail Address formula error! (a b@example.com: it "
            "holds a blank)"},
           {"--to '<a@example.com>'", "holds an angle bracket"},
           {"--from \"$(printf 'a@example.com\\r\\nBcc: x@y')\"",
            "--from: E-Mail Address formula error! "
            "(a@example.com??Bcc: x@y: it holds a "
            "control character)"},
           {"--smtp 'mail.example.com/x'",
            "--smtp: the host \"mail.example.com/x\" cannot be "
            "used: it holds \"/\""},
           {"--smtp '::1'", "put an IPv6 address in brackets"},
           {"--smtp 'mail example.com'", "it holds a blank"},
           {"--to " + std::string(243, 'a') + "@example.com", "longer than 254 characters"},
           {"--smtp a.example.com --smtp b.example.com", "--smtp is given twice"},
           {"--smtp mail.example.com --body disk-fail " + grows.string(),
            "it would take 1049600 bytes, more than the 1048576 a template may hold; nothing was "
            "saved"}}) {
    const CliRun run = Raidctl("mail-setup " + option);
    EXPECT_EQ(run.exit_code, 2) << option;
    EXPECT_THAT(run.err, HasSubstr(said)) << option;
  }
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

// A refused recipient never keeps the alert from the other; it is named on stderr.
TEST_F(RaidctlMailTest, MonitorMailsTheAlertOfAPulledDriveToEveryRecipientThatTakesIt) {
  const auto server = StartServer("plain", {"--refuse", "me@example.org"});
  SetUpMail(*server);
  const CliRun run = Raidctl("monitor --simulate " + std::string(RAIDGUI_SCENARIO_DIR) +
                             "/rebuild_story.json --for 60");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("alert mails go to 2 recipient(s)"));
  EXPECT_THAT(run.err, HasSubstr("raidctl: alert mail: The mail went out, but not to: "
                                 "me@example.org (550 5.1.1 <me@example.org>"));
  const std::vector<json> data = server->Records("data");
  ASSERT_THAT(data, SizeIs(1));
  EXPECT_EQ(data[0]["rcpt_tos"], json({"ops@example.com"}));
  EXPECT_EQ(data[0]["parsed"]["subject"], "[RAID GUI v0.50.11-4 Message] Drive trouble");
  const std::string body = data[0]["parsed"]["body"];
  EXPECT_EQ(body.rfind("Device1 P1 Hard Disk Drive fail.\nDevice1 information :\n", 0), 0u) << body;
  EXPECT_THAT(body, HasSubstr("  HDD2 is absent. \n"));
  EXPECT_THAT(body, HasSubstr("=========== [System Information] =============="));
  EXPECT_THAT(body, HasSubstr("\nPlease check the enclosure.\nThanks\n"));
}

// A settings file that does not parse, or holds a value of the wrong type, is never written over
// by a save of a few fields; a template that cannot be written is named as the one thing unsaved.
TEST_F(RaidctlMailTest, SetupNeverWritesOverASettingsFileItCannotReadWhole) {
  const fs::path settings = folder_ / "config" / "settings.toml";
  fs::create_directories(settings.parent_path());
  for (const std::string content :
       {"SMTP = \"mail.example.com\"\nAddr = \"raid@example.com\nPort = \"25\"\n",
        "SMTP = \"mail.example.com\"\nPort = 2525\n"}) {
    std::ofstream(settings) << content;
    const CliRun run = Raidctl("mail-setup --port 26");
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("The mail settings were not saved: "));
    EXPECT_THAT(run.err, ::testing::AnyOf(HasSubstr(settings.string() + " line 2"),
                                          HasSubstr("the value Port should be text")));
    EXPECT_EQ(test_smtp::ReadFile(settings), content);
  }

  fs::remove(settings);
  fs::create_directories(folder_ / "config" / "EmailContens Hard Disks Fail.txt");
  std::ofstream(folder_ / "body.txt") << "Check it.\n";
  const CliRun run = Raidctl("mail-setup --smtp mail.example.com --body disk-fail " +
                             (folder_ / "body.txt").string());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.err, HasSubstr("The mail settings were saved in " + settings.string() +
                                 ", but the mail template EmailContens Hard Disks Fail.txt was "
                                 "not: "));
  EXPECT_EQ(json::parse(Raidctl("mail-show --json").out)["smtp"], "mail.example.com");
}

// SIGTERM ends the monitor within seconds while a mail server never answers and a hook hangs;
// meanwhile the story went on being logged, and the monitor says what it left undone.
TEST_F(RaidctlMailTest, StopEndsTheMonitorAtOnceWhateverTheMailServerOrAHookDoes) {
  const auto silent = StartServer("silent", {"--mode", "silent"});
  const CliRun setup =
      Raidctl("mail-setup --smtp 127.0.0.1 --port " + std::to_string(silent->port()) +
              " --timeout 99 --from raid@example.com --to ops@example.com");
  ASSERT_EQ(setup.exit_code, 0) << setup.err;
  const fs::path hook = folder_ / "hook.sh";
  std::ofstream(hook) << "#!/bin/sh\ntouch " << (folder_ / "hook-ran").string() << "\nsleep 3600\n";
  fs::permissions(hook, fs::perms::owner_all);

  const fs::path err = folder_ / "monitor-err.txt";
  const auto start_monitor = [&] {
    const testing::ShellRun started = testing::RunShellCommand(
        "RAIDGUI_CONFIG_DIR=" + (folder_ / "config").string() +
        " RAIDGUI_LOG_DIR=" + (folder_ / "logs").string() + " " + RAIDCTL_PATH +
        " monitor --simulate " + RAIDGUI_SCENARIO_DIR + "/rebuild_story.json --exec " +
        hook.string() + " --exec-timeout 3600 >/dev/null 2>" + err.string() + " & echo $!");
    return static_cast<pid_t>(std::stoi(started.out));
  };
  const pid_t pid = start_monitor();
  const auto waited_for = [](const std::function<bool()>& done) {
    for (int i = 0; i < 300 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return done();
  };
  // The mail hangs at the server, the hook sleeps, and the story's later lines are logged.
  ASSERT_TRUE(waited_for([&] {
    return !silent->Records("connection").empty() && fs::exists(folder_ / "hook-ran") &&
           fs::exists(folder_ / "logs") && !fs::is_empty(folder_ / "logs") &&
           test_smtp::ReadFile(fs::directory_iterator(folder_ / "logs")->path())
                   .find("HDD1 --> HDD2") != std::string::npos;
  })) << test_smtp::ReadFile(err);

  const auto signalled = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  ASSERT_TRUE(waited_for([&] {
    const std::string said = test_smtp::ReadFile(err);
    return said.find("raidctl: monitor stopped") != std::string::npos;
  })) << test_smtp::ReadFile(err);
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(5));
  const std::string said = test_smtp::ReadFile(err);
  EXPECT_THAT(said, HasSubstr("raidctl: 1 alert mail(s) not sent: the monitor stopped"));
  EXPECT_THAT(said, HasSubstr("ended before it finished: the monitor stopped"));

  // A second Ctrl-C ends it at once, and it still says what it leaves unsent. It comes while the
  // first one's stop waits out the mail's 2 s grace (two at once would be taken as one), so
  // the count is the signal handler's own, not the orderly stop's.
  const pid_t again = start_monitor();
  ASSERT_TRUE(waited_for([&] { return silent->Records("connection").size() >= 2; }));
  ASSERT_EQ(kill(again, SIGINT), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(kill(again, SIGINT), 0);
  ASSERT_TRUE(waited_for([&] { return kill(again, 0) != 0; }));
  const std::string cut_short = test_smtp::ReadFile(err);
  EXPECT_THAT(cut_short, Not(HasSubstr("raidctl: monitor stopped")));
  EXPECT_THAT(cut_short, HasSubstr("raidctl: 1 alert mail(s) not sent: the monitor stopped"));
}

}  // namespace
}  // namespace raid
