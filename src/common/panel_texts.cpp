// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/panel_texts.h"

#include <algorithm>

namespace raid {

const std::string& PanelTexts::Shown(int panel) const {
  static const std::string kNothing;
  if (!Valid(panel)) return kNothing;
  const Panel& p = panels_[static_cast<std::size_t>(panel)];
  return p.failures.empty() ? p.text : p.failures.back().second;
}

bool PanelTexts::Set(int panel, const std::string& text) {
  if (!Valid(panel)) return false;
  Panel& p = panels_[static_cast<std::size_t>(panel)];
  p.text = text;
  return p.failures.empty();
}

bool PanelTexts::Hold(int panel, const std::string& key, const std::string& text) {
  if (!Valid(panel)) return false;
  auto& failures = panels_[static_cast<std::size_t>(panel)].failures;
  const auto same = std::find_if(failures.begin(), failures.end(),
                                 [&](const auto& failure) { return failure.first == key; });
  const bool began = same == failures.end();
  if (!began) failures.erase(same);
  failures.emplace_back(key, text);
  return began;
}

bool PanelTexts::Release(int panel, const std::string& key) {
  if (!Valid(panel)) return false;
  auto& failures = panels_[static_cast<std::size_t>(panel)].failures;
  const auto same = std::find_if(failures.begin(), failures.end(),
                                 [&](const auto& failure) { return failure.first == key; });
  if (same == failures.end()) return false;
  failures.erase(same);
  return true;
}

bool PanelTexts::Held(int panel) const {
  return Valid(panel) && !panels_[static_cast<std::size_t>(panel)].failures.empty();
}

}  // namespace raid
