// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/firmware_command.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "cli/platform.h"
#include "cli/unopened_drives.h"
#include "cli/upgrade_terminal.h"
#include "common/text_helpers.h"
#include "firmware/firmware_image.h"
#include "firmware/upgrade_firmware.h"
#include "power/system_keep_awake.h"

namespace raid::cli {
namespace {

constexpr int kRefused = 1;
constexpr int kCannotRun = 2;
// No such DeviceN among the drives that opened while some did not: it may well be behind one of
// those, so the number is no bad argument and the work failed.
constexpr int kNotAmongOpened = 1;

// What the load shows in the status bar and its message boxes, in order.
void PrintLoadVerdict(const FirmwareLoadResult& result, std::FILE* out) {
  std::fprintf(out, "%s\n", result.file_text.c_str());
  for (const std::optional<std::string>& text :
       {result.checksum_text, result.enclosure_date_text, result.image_date_text}) {
    if (text) std::fprintf(out, "%s\n", text->c_str());
  }
  for (const MessageBoxRequest& message : result.messages)
    std::fprintf(out, "%s: %s\n", message.caption.c_str(), message.text.c_str());
}

// DeviceN after a discovery pass; none, with the reason printed, when there is no such device.
std::optional<unsigned> FindDevice(CliSession& session, unsigned device) {
  session.DiscoverAndInstall();
  SayUnopenedDrives(session.device().discovery().UnopenedDrives());
  const unsigned position = device - 1;
  if (position >= session.device().registry().current.size()) {
    std::fprintf(stderr, "raidctl: there is no Device%u%s\n", device,
                 session.device().discovery().UnopenedDrives().empty()
                     ? ""
                     : " among the drives that could be opened");
    return std::nullopt;
  }
  return position;
}

int NoDeviceExit(CliSession& session) {
  return session.device().discovery().UnopenedDrives().empty() ? kCannotRun : kNotAmongOpened;
}

FirmwareLoadResult LoadFor(CliSession& session, unsigned position, const std::string& path) {
  FileByteSource source(path);
  const EnclosureRegistry& registry = session.device().registry();
  return LoadFirmwareFile(path, source, registry.current[position].controller_kind,
                          registry.CurrentBlock(position));
}

bool Confirmed(CliSession& session, unsigned position, const std::string& path) {
  const EnclosureRegistry& registry = session.device().registry();
  const IdentificationBlock& block = registry.CurrentBlock(position);
  std::fprintf(stderr,
               "Write %s to the firmware flash of Device%u (physical drive %u, %s, firmware "
               "%s)?\nDo not disconnect or power off the enclosure until it is done.\n"
               "Type yes to go on: ",
               path.c_str(), position + 1, DriveNumberOf(registry.current[position].device_code),
               ModelText(block, kIdModelText).c_str(), FirmwareRevisionText(block).c_str());
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  return answer == "yes";
}

}  // namespace

int RunFirmwareCheckCommand(CliSession* session, const CliOptions& options) {
  const std::string& path = options.arguments[1];
  FirmwareLoadResult result;
  if (session == nullptr) {
    FileByteSource source(path);
    result = LoadFirmwareFile(path, source);
  } else {
    const std::optional<unsigned> position = FindDevice(*session, *options.device);
    if (!position) return NoDeviceExit(*session);
    result = LoadFor(*session, *position, path);
  }
  PrintLoadVerdict(result, stdout);
  const bool passed = result.image.Loaded();
  std::fprintf(stdout, "%s\n",
               !passed              ? "Verdict: refused"
               : session == nullptr ? "Verdict: the file is a firmware image; give --device N to "
                                      "check it against an enclosure"
                                    : "Verdict: suits this enclosure");
  return passed ? 0 : kRefused;
}

int RunFirmwareUpgradeCommand(CliSession& session, const CliOptions& options) {
  const std::string& path = options.arguments[1];
  // Before any disk is touched: nobody could answer the question.
  if (!options.yes && !StandardInputIsTerminal()) {
    std::fputs(
        "raidctl: firmware upgrade asks for confirmation on a terminal; standard input is not "
        "one, so give --yes to upgrade without asking\n",
        stderr);
    return kCannotRun;
  }
  const std::optional<unsigned> position = FindDevice(session, *options.device);
  if (!position) return NoDeviceExit(session);
  const FirmwareLoadResult loaded = LoadFor(session, *position, path);
  PrintLoadVerdict(loaded, stderr);
  if (!loaded.image.Loaded()) return kRefused;
  if (!options.yes && !Confirmed(session, *position, path)) {
    std::fputs("raidctl: firmware upgrade cancelled\n", stderr);
    return kRefused;
  }

  SystemKeepAwake keep_awake;
  UpgradeFirmware upgrade(session.device(), session.state(), keep_awake);
  UpgradeTerminal terminal(session.state().upgrade.progress_count);
  UpgradeResult result;
  {
    // Ending raidctl now would leave the controller's flash erased or half written.
    HeldStopSignals held;
    result = upgrade.Run(loaded.image, *position, {terminal, terminal, terminal});
  }
  return result.Succeeded() ? 0 : kRefused;
}

}  // namespace raid::cli
