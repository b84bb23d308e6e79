// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui/widgets/visible_texts.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTextEdit>
#include <QWidget>

namespace raid::ui {
namespace {

QString OneLine(QString text) {
  return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
      .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

QString TextOf(const QWidget& widget) {
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) return label->text();
  if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) return button->text();
  if (const auto* edit = qobject_cast<const QLineEdit*>(&widget)) {
    return edit->echoMode() == QLineEdit::Normal ? edit->text() : QString();  // never a password
  }
  if (const auto* plain = qobject_cast<const QPlainTextEdit*>(&widget)) return plain->toPlainText();
  if (const auto* rich = qobject_cast<const QTextEdit*>(&widget)) return rich->toPlainText();
  return {};
}

}  // namespace

QString VisibleTexts(const QWidget& window) {
  QString lines = QStringLiteral("windowTitle: ") + OneLine(window.windowTitle()) + '\n';
  for (const QWidget* widget : window.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&window)) continue;
    if (const auto* table = qobject_cast<const QTableWidget*>(widget)) {
      for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column) {
          const QTableWidgetItem* item = table->item(row, column);
          cells << (item != nullptr ? OneLine(item->text()) : QString());
        }
        lines += table->objectName() + '[' + QString::number(row) + "]: " + cells.join('|') + '\n';
      }
      continue;
    }
    const QString text = TextOf(*widget);
    if (text.trimmed().isEmpty()) continue;
    lines += widget->objectName() + ": " + OneLine(text) + '\n';
  }
  return lines;
}

}  // namespace raid::ui
