#pragma once
// The request preview: the bytes the next Send puts on the wire, as hex text
// after an arrow (as the log marks a request), or the reason in words, in red,
// when the form refuses to make a frame. A display rather than an input: it
// can be selected and copied but is no stop for Tab.
#include <QLineEdit>

class QLabel;

namespace qt {

class RequestPreview : public QLineEdit {
  Q_OBJECT
 public:
  explicit RequestPreview(QWidget* parent = nullptr);
  // Shows the preview text the panel made.
  void Show(const QString& text);

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  QLabel* arrow_;
};

}  // namespace qt
