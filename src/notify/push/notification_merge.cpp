// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/notification_merge.h"

#include <fmt/format.h>

#include <algorithm>

#include "events/monitor_events.h"
#include "notify/push/notification_text.h"

namespace raid {
namespace {

constexpr std::string_view kOthersLine = "Other alerts:";
constexpr std::string_view kTimesText = "{} ({} times)";

}  // namespace

bool IsGraveNotification(const PushNotification& notification) {
  return !notification.resolved &&
         (notification.event == MonitorEventName(MonitorEventKind::kDiskFail) ||
          notification.event == MonitorEventName(MonitorEventKind::kDeviceRemoved));
}

void NotificationMerge::Add(const PushNotification& notification) {
  const unsigned count = std::max(notification.stands_for, 1u);
  if (!first_) {
    first_ = notification;
    earliest_ = notification.starts_at;
  }
  if (!first_firing_ && !notification.resolved) first_firing_ = notification;
  stands_for_ += count;
  all_resolved_ = all_resolved_ && notification.resolved;
  same_enclosure_ = same_enclosure_ && notification.enclosure == first_->enclosure;
  same_drive_ = same_drive_ && notification.drive == first_->drive;
  earliest_ = std::min(earliest_, notification.starts_at);
  if (IsGraveNotification(notification)) {
    grave_.push_back(notification);
    return;
  }
  const std::string title = NotificationTitle(notification);
  const auto seen = std::find_if(others_.begin(), others_.end(),
                                 [&](const Other& other) { return other.subject == title; });
  if (seen != others_.end()) {
    seen->count += count;
  } else {
    others_.push_back({title, count});
  }
}

PushNotification NotificationMerge::Result() const {
  if (!first_) return {};
  if (stands_for_ == 1) return *first_;
  // As grave as the gravest alert in it, and titled after that one; the others by their subjects.
  PushNotification merged = !grave_.empty() ? grave_.front()
                            : first_firing_ ? *first_firing_
                                            : *first_;
  merged.body_lines.clear();
  for (std::size_t i = 0; i < grave_.size(); ++i) {
    if (i > 0) merged.body_lines.push_back(grave_[i].subject);
    merged.body_lines.insert(merged.body_lines.end(), grave_[i].body_lines.begin(),
                             grave_[i].body_lines.end());
  }
  if (!grave_.empty() && !others_.empty()) merged.body_lines.emplace_back(kOthersLine);
  for (const Other& other : others_) {
    merged.body_lines.push_back(
        other.count == 1 ? other.subject
                         : fmt::format(fmt::runtime(kTimesText), other.subject, other.count));
  }
  merged.resolved = all_resolved_;
  if (!same_enclosure_) merged.enclosure = 0;
  if (!same_drive_ || !same_enclosure_) merged.drive.reset();
  merged.starts_at = earliest_;
  if (!all_resolved_) merged.ends_at.reset();
  merged.stands_for = stands_for_;
  return merged;
}

}  // namespace raid
