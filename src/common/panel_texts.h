// SPDX-License-Identifier: GPL-2.0-or-later
// What each status-bar panel shows when failures hold it. A failure (the daily log that cannot
// be saved, a mail that did not reach everyone) holds its panel until it ends: the texts that the
// polls and the pages write meanwhile wait behind it and show once no failure holds the panel.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace raid {

inline constexpr std::size_t kPanelCount = 5;

class PanelTexts {
 public:
  // The text the panel shows now.
  const std::string& Shown(int panel) const;
  // An ordinary text. True when it is shown now.
  bool Set(int panel, const std::string& text);
  // A failure under `key` begins, or its text changes. True when the failure is new.
  bool Hold(int panel, const std::string& key, const std::string& text);
  // The failure under `key` ends; true when it held the panel.
  bool Release(int panel, const std::string& key);
  bool Held(int panel) const;

 private:
  struct Panel {
    std::string text;
    std::vector<std::pair<std::string, std::string>> failures;  // key, text; the last shows
  };
  static bool Valid(int panel) { return panel >= 0 && panel < static_cast<int>(kPanelCount); }
  std::array<Panel, kPanelCount> panels_{};
};

}  // namespace raid
