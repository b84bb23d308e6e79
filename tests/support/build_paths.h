// SPDX-License-Identifier: GPL-2.0-or-later
// Where the programs, scenarios and scripts the tests start or read are. Each test program gets
// the ones it uses in a small file the build writes (raid_test_paths in tests/CMakeLists.txt),
// not on every compile line: a checkout in another folder then compiles only that file again and
// takes every test file from the compiler cache.
#pragma once

namespace raid::testing::build_paths {

extern const char* const kRaidctl;           // the raidctl program
extern const char* const kRaidgui;           // the raidgui program
extern const char* const kHookProbe;         // the hook stand-in of the event hook tests
extern const char* const kRaidsimNbd;        // the simulator's NBD server
extern const char* const kScenarioDir;       // sim/scenarios
extern const char* const kPackagingDir;      // packaging/
extern const char* const kSmtpTestServer;    // tests/notify/smtp_test_server.py
extern const char* const kPushTestReceiver;  // tests/notify/push_test_receiver.py

}  // namespace raid::testing::build_paths

#define RAIDCTL_PATH ::raid::testing::build_paths::kRaidctl
#define RAIDGUI_PATH ::raid::testing::build_paths::kRaidgui
#define HOOK_PROBE_PATH ::raid::testing::build_paths::kHookProbe
#define RAIDSIM_NBD ::raid::testing::build_paths::kRaidsimNbd
#define RAIDGUI_SCENARIO_DIR ::raid::testing::build_paths::kScenarioDir
#define RAIDSIM_SCENARIO_DIR ::raid::testing::build_paths::kScenarioDir
#define RAIDGUI_PACKAGING_DIR ::raid::testing::build_paths::kPackagingDir
#define SMTP_TEST_SERVER ::raid::testing::build_paths::kSmtpTestServer
#define PUSH_TEST_RECEIVER ::raid::testing::build_paths::kPushTestReceiver
