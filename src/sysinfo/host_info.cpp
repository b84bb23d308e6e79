// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysinfo/host_info.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "common/detached_thread.h"

namespace raid {

namespace {

constexpr char kSystemNameLabel[] = "\nSystem Name : ";

using Question = std::string (HostInfoSource::*)();

// Where one question's answer lands. The asking thread and the caller each hold a share, so the
// caller may stop waiting and leave while the thread still writes.
struct AnswerSlot {
  std::mutex mutex;
  std::condition_variable arrived;
  std::optional<std::string> text;

  void Put(std::string answer) {
    {
      const std::lock_guard lock(mutex);
      text = std::move(answer);
    }
    arrived.notify_all();
  }

  std::string TakeBy(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex);
    if (!arrived.wait_until(lock, deadline, [this] { return text.has_value(); })) return {};
    return std::move(*text);
  }
};

// Runs one question on a detached thread. The thread holds its own share of the source and the
// slot, so when the caller stops waiting nothing the thread still touches goes away under it.
// Without a thread to be had the slot stays empty, which the caller takes as no answer.
std::shared_ptr<AnswerSlot> AskOnOwnThread(std::shared_ptr<HostInfoSource> source,
                                           Question question) {
  auto slot = std::make_shared<AnswerSlot>();
  RunDetached([source = std::move(source), question, slot] {
    std::string text;
    try {
      text = ((*source).*question)();
    } catch (...) {
      text.clear();  // a source that fails describes nothing
    }
    slot->Put(std::move(text));
  });
  return slot;
}

}  // namespace

std::vector<std::string> SystemInfoLines(const HostFacts& facts) {
  return {
      "\n=========== [System Information] ==============",
      "\nMotherBoard : " + facts.board_manufacturer + " - " + facts.board_product,
      kSystemNameLabel + facts.system_name,
      "\nIP Address  : " + facts.ip_addresses,
      "\n===============================================",
  };
}

std::string SystemNameOf(const std::vector<std::string>& lines) {
  const std::string_view label = kSystemNameLabel;
  for (const std::string& line : lines) {
    if (line.starts_with(label)) return line.substr(label.size());
  }
  return {};
}

HostFacts QueryHostFacts(std::shared_ptr<HostInfoSource> source,
                         std::chrono::milliseconds per_source_limit) {
  // All four at once against one deadline: a stuck service costs the limit once, not four times.
  const auto deadline = std::chrono::steady_clock::now() + per_source_limit;
  const auto manufacturer = AskOnOwnThread(source, &HostInfoSource::BoardManufacturer);
  const auto product = AskOnOwnThread(source, &HostInfoSource::BoardProduct);
  const auto name = AskOnOwnThread(source, &HostInfoSource::SystemName);
  const auto addresses = AskOnOwnThread(source, &HostInfoSource::IpAddresses);

  HostFacts facts;
  facts.board_manufacturer = manufacturer->TakeBy(deadline);
  facts.board_product = product->TakeBy(deadline);
  facts.system_name = name->TakeBy(deadline);
  facts.ip_addresses = addresses->TakeBy(deadline);
  return facts;
}

std::vector<std::string> BuildSystemInfo(std::shared_ptr<HostInfoSource> source,
                                         std::chrono::milliseconds per_source_limit) {
  return SystemInfoLines(QueryHostFacts(std::move(source), per_source_limit));
}

std::string JoinSystemInfo(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line;
  return text;
}

}  // namespace raid
