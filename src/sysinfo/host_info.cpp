// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysinfo/host_info.h"

#include <future>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace raid {

namespace {

constexpr char kSystemNameLabel[] = "\nSystem Name : ";

using Question = std::string (HostInfoSource::*)();

// Runs one question on a detached thread. The thread holds its own share of the source and the
// promise, so when the caller stops waiting nothing the thread still touches goes away under it.
std::future<std::string> AskOnOwnThread(std::shared_ptr<HostInfoSource> source, Question question) {
  std::promise<std::string> promise;
  std::future<std::string> answer = promise.get_future();
  try {
    std::thread([source = std::move(source), question, promise = std::move(promise)]() mutable {
      std::string text;
      try {
        text = ((*source).*question)();
      } catch (...) {
        text.clear();  // a source that fails describes nothing
      }
      promise.set_value(std::move(text));
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the promise went with the lambda, so the future reports a broken
    // promise, which the caller takes as no answer.
  }
  return answer;
}

std::string AnswerBy(std::future<std::string>& answer,
                     std::chrono::steady_clock::time_point deadline) {
  if (!answer.valid() || answer.wait_until(deadline) != std::future_status::ready) return {};
  try {
    return answer.get();
  } catch (const std::future_error&) {
    return {};
  }
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
  std::future<std::string> manufacturer =
      AskOnOwnThread(source, &HostInfoSource::BoardManufacturer);
  std::future<std::string> product = AskOnOwnThread(source, &HostInfoSource::BoardProduct);
  std::future<std::string> name = AskOnOwnThread(source, &HostInfoSource::SystemName);
  std::future<std::string> addresses = AskOnOwnThread(source, &HostInfoSource::IpAddresses);

  HostFacts facts;
  facts.board_manufacturer = AnswerBy(manufacturer, deadline);
  facts.board_product = AnswerBy(product, deadline);
  facts.system_name = AnswerBy(name, deadline);
  facts.ip_addresses = AnswerBy(addresses, deadline);
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
