// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/upgrade_terminal.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "cli/platform.h"

namespace raid::cli {
namespace {

constexpr auto kTickInterval = std::chrono::milliseconds(200);
constexpr int kBarWidth = 40;

}  // namespace

UpgradeTerminal::UpgradeTerminal(const std::atomic<std::uint32_t>& progress_count)
    : progress_count_(progress_count), redraw_(StandardErrorIsTerminal()) {}

UpgradeTerminal::~UpgradeTerminal() {
  HideProgress();
}

void UpgradeTerminal::SetPanelText(int, const std::string& text) {
  std::lock_guard lock(mutex_);
  PrintLineLocked(text);
}

void UpgradeTerminal::ShowMessage(const MessageBoxRequest& request) {
  std::lock_guard lock(mutex_);
  PrintLineLocked(request.caption.empty() ? request.text : request.caption + ": " + request.text);
}

void UpgradeTerminal::ShowProgress(std::uint32_t maximum) {
  std::lock_guard lock(mutex_);
  maximum_ = std::max<std::uint32_t>(maximum, 1);
  shown_ = true;
  if (redraw_) {
    DrawBarLocked();
    ticker_ = std::thread([this] { Tick(); });
  }
}

void UpgradeTerminal::SetProgressLabel(const std::string& text) {
  std::lock_guard lock(mutex_);
  PrintLineLocked(text);
}

void UpgradeTerminal::SetProgressCaption(const std::string& text) {
  std::lock_guard lock(mutex_);
  caption_ = text;
  if (redraw_) {
    if (shown_) DrawBarLocked();
  } else {
    PrintLineLocked(text);
  }
}

void UpgradeTerminal::HideProgress() {
  {
    std::lock_guard lock(mutex_);
    if (!shown_) return;
    shown_ = false;
    if (bar_drawn_) std::fputs("\n", stderr);
    bar_drawn_ = false;
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

void UpgradeTerminal::Tick() {
  std::unique_lock lock(mutex_);
  while (shown_) {
    DrawBarLocked();
    wake_.wait_for(lock, kTickInterval, [this] { return !shown_; });
  }
}

void UpgradeTerminal::PrintLineLocked(const std::string& line) {
  // Blanks rather than an erase sequence, which not every Windows console understands.
  if (bar_drawn_) std::fputs(("\r" + std::string(bar_length_, ' ') + "\r").c_str(), stderr);
  std::fprintf(stderr, "%s\n", line.c_str());
  bar_drawn_ = false;
  if (shown_ && redraw_) DrawBarLocked();
}

void UpgradeTerminal::DrawBarLocked() {
  const std::uint32_t done = std::min(progress_count_.load(), maximum_);
  const int filled = static_cast<int>(std::uint64_t{done} * kBarWidth / maximum_);
  const int percent = static_cast<int>(std::uint64_t{done} * 100 / maximum_);
  const std::string bar = fmt::format("{} [{}{}] {:3}%", caption_, std::string(filled, '#'),
                                      std::string(kBarWidth - filled, '.'), percent);
  std::fputs(("\r" + bar).c_str(), stderr);
  bar_length_ = bar.size();
  std::fflush(stderr);
  bar_drawn_ = true;
}

}  // namespace raid::cli
