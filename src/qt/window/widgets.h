#pragma once
// Small widgets the window needs beyond the stock ones.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>

namespace qt {

// A label that reports a click (the mouse button released over it).
class ClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;
};

// A button that acts when a mouse button goes down on it, and on nothing
// else: Space, Enter and Return do not activate it.
class PressButton : public QPushButton {
  Q_OBJECT
 public:
  using QPushButton::QPushButton;
 signals:
  void mouseDown();

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  // A latched look is set from outside; clicks never change it.
  void nextCheckState() override {}
};

// The maker's logo, drawn as vectors so that it stays sharp at any scale;
// reports a click like ClickLabel.
class LogoWidget : public QWidget {
  Q_OBJECT
 public:
  explicit LogoWidget(QWidget* parent = nullptr);
  // The logo at `size` logical pixels for the given device pixel ratio.
  static QPixmap Render(QSize size, qreal dpr);
  // The pulse mark alone, square, for the window icon.
  static QPixmap RenderMark(int size);
 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
};

// A multi-line text field whose pasted and dropped text goes through a
// filter first (the field's key filter, character by character).
class FilteredTextEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  using QPlainTextEdit::QPlainTextEdit;
  // Gets the text to insert; returns what may be inserted.
  std::function<QString(const QString&)> pasteFilter;

 protected:
  void insertFromMimeData(const QMimeData* source) override;
};

}  // namespace qt
