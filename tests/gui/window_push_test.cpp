// SPDX-License-Identifier: GPL-2.0-or-later
// The window's alerts on two push channels, "phone" (ntfy) and "desk" (a webhook), each answered
// by a scripted client: what they are sent, how a failure stands in the status bar, and a closing
// that does not wait for a service that never answers.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <fstream>

#include "gui/window_test.h"
#include "support/fake_http_client.h"
#include "sysinfo/host_info.h"

namespace raid {
namespace {

using ::testing::Contains;
using testing::FakeHttpClient;
using ::testing::Pair;

class WindowPushTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    std::ofstream(folder_ / "notify.toml")
        << "[[channel]]\nname = \"phone\"\ntype = \"ntfy\"\nurl = \"http://127.0.0.1:9/raid\"\n"
           "[[channel]]\nname = \"desk\"\ntype = \"webhook\"\nurl = \"http://127.0.0.1:9/hook\"\n";
    adjust_options_ = [this](WindowOptions& options) {
      options.notify_file = folder_ / "notify.toml";
      options.http_client = [this] {
        auto client = std::make_unique<FakeHttpClient>();
        clients_.push_back(client.get());
        return client;
      };
      options.system_info = [] { return SystemInfoLines({"", "", "raid-host", ""}); };
    };
  }

  std::vector<FakeHttpClient*> clients_;  // in the file's order; the window owns them
};

// Mail is not set up, and the alerts still go out in its words. A failure stands in full behind
// what another channel delivers meanwhile, until its own channel next delivers.
TEST_F(WindowPushTest, AFailureStandsUntilItsChannelDeliversAgain) {
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }));
  FakeHttpClient* phone = clients_.at(0);
  FakeHttpClient* desk = clients_.at(1);
  phone->Script({FakeHttpClient::Answer(403, "token lacks rights\n{\"code\":40301}"),
                 FakeHttpClient::Answer(200)});
  desk->Hold();  // answered once the failure shows
  QLabel* panel = Find<QLabel>("Panel4");
  const QString failed = "phone: failed (HTTP 403: token lacks rights)";
  host_->enclosure(1)->PullDrive(1);
  ASSERT_TRUE(WaitFor([&] { return panel->text() == failed && desk->Calls().size() == 1; }, 30));
  desk->Hold(false);
  WaitFor([] { return false; }, 4);
  EXPECT_EQ(panel->text(), failed);
  EXPECT_EQ(panel->toolTip(), failed);
  const std::string subject = "[RAID GUI v0.50.11-4 Message] Hard Disks Fail";
  EXPECT_THAT(phone->Calls()[0].request.headers, Contains(Pair("Title", subject)));
  const QJsonObject alert =
      QJsonDocument::fromJson(QByteArray::fromStdString(desk->Calls()[0].request.body))["alerts"][0]
          .toObject();
  EXPECT_EQ(alert["annotations"]["summary"].toString().toStdString(), subject);
  EXPECT_EQ(alert["labels"]["host"].toString(), "raid-host");

  host_->enclosure(1)->PullDrive(0);
  ASSERT_TRUE(WaitFor([&] { return panel->text() != failed; }, 30));
  EXPECT_EQ(phone->Calls().size(), 2U);
  EXPECT_TRUE(panel->text().endsWith(": delivered")) << panel->text().toStdString();
  EXPECT_THAT(messages_, ::testing::IsEmpty());  // the failure fits its panel: no box
}

// The window hides at once, serves its events meanwhile, and is gone within the stop's seconds.
TEST_F(WindowPushTest, ClosingWhileAChannelNeverAnswersEndsInSeconds) {
  Open(OneEnclosure());
  ASSERT_TRUE(WaitFor([&] { return StateText() == "Normal"; }));
  clients_.at(0)->Hold();
  host_->enclosure(1)->PullDrive(1);
  ASSERT_TRUE(WaitFor([&] { return clients_[0]->Calls().size() == 1; }, 30));
  bool hidden_while_closing = false;
  QTimer::singleShot(20, [&] { hidden_while_closing = !form_->isVisible(); });
  QElapsedTimer closing;
  closing.start();
  EXPECT_TRUE(form_->close());
  EXPECT_LT(closing.elapsed(), 5000);
  EXPECT_TRUE(hidden_while_closing);
}

}  // namespace
}  // namespace raid
