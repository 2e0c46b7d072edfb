#include "qt/window/window_look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QPlainTextEdit>
#include <cmath>

namespace qt {

int Px(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

QFont FixedFont(qreal pointSize) {
  QFont f = QFontDatabase::hasFamily(QStringLiteral("Courier New"))
                ? QFont(QStringLiteral("Courier New"))
                : QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setStyleHint(QFont::TypeWriter);
  f.setPointSizeF(pointSize);
  return f;
}

QColor ToQColor(uint32_t c) {
  const QPalette pal = QApplication::palette();
  if ((c & 0x80000000u) != 0) {
    switch (c & 0xFFu) {
      case 0x11:  // grey (disabled) text
        return pal.color(QPalette::Disabled, QPalette::WindowText);
      case 0x12:  // button text
        return pal.color(QPalette::Active, QPalette::ButtonText);
      case 0x08:  // window text
        return pal.color(QPalette::Active, QPalette::Text);
      default:
        return pal.color(QPalette::Active, QPalette::WindowText);
    }
  }
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

QTextCharFormat LogFormat(uint32_t color) {
  QTextCharFormat f;
  f.setForeground(ToQColor(color));
  return f;
}

void SetPaneLocked(QPlainTextEdit* w, bool locked) {
  w->setReadOnly(locked);
  if (locked) w->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

}  // namespace qt
