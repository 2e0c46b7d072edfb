#include "qt/window/widgets.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace qt {

void ClickLabel::mouseReleaseEvent(QMouseEvent* e) {
  QLabel::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
}

void PressButton::mousePressEvent(QMouseEvent* e) {
  // Any mouse button acts. The handler may hide this button (the other Auto
  // button takes its place); the pressed look is only drawn when it stays.
  emit mouseDown();
  if (isVisible())
    QPushButton::mousePressEvent(e);
  else
    e->accept();
}

namespace {
bool IsActivationKey(int key) {
  return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select;
}
}  // namespace

void PressButton::keyPressEvent(QKeyEvent* e) {
  if (IsActivationKey(e->key())) {
    e->accept();
    return;
  }
  QPushButton::keyPressEvent(e);
}

void PressButton::keyReleaseEvent(QKeyEvent* e) {
  if (IsActivationKey(e->key())) {
    e->accept();
    return;
  }
  QPushButton::keyReleaseEvent(e);
}

LogoWidget::LogoWidget(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent, false); }

QPixmap LogoWidget::Render(QSize size, qreal dpr) {
  QPixmap pm(size * dpr);
  pm.setDevicePixelRatio(dpr);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0.5, 0.5, size.width() - 1.0, size.height() - 1.0);

  // A dark plate in the colour of the log pane, with a thin accent edge.
  p.setPen(QPen(QColor(58, 64, 78), 1.0));
  p.setBrush(QColor(21, 25, 34));
  p.drawRoundedRect(r, 4, 4);

  // The mark: a square-wave pulse train, like bits on a serial line.
  const qreal h = size.height();
  const qreal y0 = h * 0.70, y1 = h * 0.30;
  QPainterPath wave;
  wave.moveTo(4, y0);
  const qreal step = 3.5;
  qreal x = 4;
  for (int i = 0; i < 3; ++i) {
    wave.lineTo(x += step, y0);
    wave.lineTo(x, y1);
    wave.lineTo(x += step, y1);
    wave.lineTo(x, y0);
  }
  p.setPen(QPen(QColor(64, 196, 170), 1.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(wave);

  // The name.
  QFont f;
  f.setPixelSize(static_cast<int>(h * 0.46));
  f.setBold(true);
  f.setLetterSpacing(QFont::PercentageSpacing, 104);
  p.setFont(f);
  p.setPen(QColor(225, 228, 234));
  p.drawText(QRectF(x + 4, 0, size.width() - x - 6, h), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Tarvelo"));
  return pm;
}

QPixmap LogoWidget::RenderMark(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(21, 25, 34));
  p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);
  QPainterPath wave;
  const qreal y0 = s * 0.68, y1 = s * 0.32, step = s * 0.14;
  qreal x = s * 0.12;
  wave.moveTo(x, y0);
  for (int i = 0; i < 3; ++i) {
    wave.lineTo(x += step, y0);
    wave.lineTo(x, y1);
    wave.lineTo(x += step * 0.5, y1);
    wave.lineTo(x, y0);
  }
  wave.lineTo(s * 0.88, y0);
  p.setPen(QPen(QColor(64, 196, 170), s * 0.07, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(wave);
  return pm;
}

void LogoWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, Render(size(), devicePixelRatioF()));
}

void LogoWidget::mouseReleaseEvent(QMouseEvent* e) {
  QWidget::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
}

void FilteredTextEdit::insertFromMimeData(const QMimeData* source) {
  if (source == nullptr || !source->hasText()) return;
  if (!pasteFilter) {
    QPlainTextEdit::insertFromMimeData(source);
    return;
  }
  const QString allowed = pasteFilter(source->text());
  if (!allowed.isEmpty()) textCursor().insertText(allowed);
}

}  // namespace qt
