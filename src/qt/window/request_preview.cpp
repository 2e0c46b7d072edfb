#include "qt/window/request_preview.h"

#include <QLabel>
#include <QResizeEvent>
#include <algorithm>

#include "qt/window/window_look.h"

namespace qt {
namespace {

// The preview holds bytes as hex text ("01 03 00 00 | ..."), or ASCII frames
// as their characters (":010300000001FB<CR><LF>"), unless the form refuses
// to make a frame, when it holds the reason in words.
bool IsHexText(QString text) {
  text.remove(QStringLiteral("<CR><LF>"));
  text.remove(u':');
  return std::all_of(text.begin(), text.end(), [](QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || c == u' ' || c == u'|';
  });
}

}  // namespace

RequestPreview::RequestPreview(QWidget* parent)
    : QLineEdit(parent), arrow_(new QLabel(QStringLiteral("\u2192"), this)) {
  setObjectName(QStringLiteral("requestPreview"));
  setFont(FixedFont(kInputPt));
  setReadOnly(true);
  setFocusPolicy(Qt::ClickFocus);  // to select and copy; not a stop for Tab
  setPlaceholderText(QStringLiteral("Request preview"));
  {
    QFont f = parentWidget() != nullptr ? parentWidget()->font() : font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    arrow_->setFont(f);
  }
  const int room = arrow_->fontMetrics().horizontalAdvance(arrow_->text()) + 6;
  arrow_->setGeometry(3, 0, room, height());
  arrow_->setAlignment(Qt::AlignCenter);
  QPalette arrowPal = arrow_->palette();
  arrowPal.setColor(QPalette::WindowText, palette().color(QPalette::PlaceholderText));
  arrow_->setPalette(arrowPal);
  setTextMargins(room, 0, 0, 0);
  QPalette pal = palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Window));
  setPalette(pal);
}

void RequestPreview::resizeEvent(QResizeEvent* e) {
  QLineEdit::resizeEvent(e);
  arrow_->setGeometry(arrow_->x(), 0, arrow_->width(), height());
}

void RequestPreview::Show(const QString& text) {
  if (this->text() != text) {
    setText(text);
    setCursorPosition(0);  // the start of a long preview in view
  }
  QPalette pal = palette();
  pal.setColor(QPalette::Text, IsHexText(text) ? window()->palette().color(QPalette::Text) : kRefusalColor);
  setPalette(pal);
  // A long preview is cut off by the field; its tool tip shows it whole.
  setToolTip(QStringLiteral("The bytes the next Send puts on the wire") +
             (text.isEmpty() ? QString() : QStringLiteral(":\n") + text));
}

}  // namespace qt
