// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/upgrade/window_upgrade_views.h"

#include <QCheckBox>
#include <QThread>

#include "gui/upgrade/upgrade_page.h"

namespace raid {

void WindowUpgradeViews::OnWindowThread(std::function<void()> call) {
  if (!window_) return;
  if (QThread::currentThread() == window_->thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(window_, std::move(call), Qt::QueuedConnection);
}

void WindowUpgradeViews::EnableMonitorBoxes(bool enabled) {
  OnWindowThread([this, enabled] {
    for (QCheckBox* box : boxes_) {
      if (box != nullptr) box->setEnabled(enabled);
    }
  });
}

void WindowUpgradeViews::ShowProgress(std::uint32_t maximum) {
  OnWindowThread([this, maximum] {
    page_->SetProgressMaximum(static_cast<int>(maximum));
    page_->SetProgress(0);
    page_->ShowProgressPanel(true);
    timer_.start();
  });
}

void WindowUpgradeViews::SetProgressLabel(const std::string& text) {
  OnWindowThread([this, text] { page_->SetProgressLabel(text); });
}

void WindowUpgradeViews::SetProgressCaption(const std::string& text) {
  OnWindowThread([this, text] { page_->SetProgressCaption(text); });
}

void WindowUpgradeViews::SetProgressPosition(std::uint32_t position) {
  OnWindowThread([this, position] { page_->SetProgress(static_cast<int>(position)); });
}

void WindowUpgradeViews::HideProgress() {
  OnWindowThread([this] {
    timer_.stop();
    page_->ShowProgressPanel(false);
  });
}

}  // namespace raid
