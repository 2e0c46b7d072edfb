#pragma once
// The value inspector: the register of the response view's line the operator
// picked (and the next one) read in every register format, under a heading
// with the register's address. The table is as tall as its rows where there
// is room, and scrolls where there is not. The line picked is marked in the view; it
// stays picked while the model rebuilds the view, so that polling updates the
// values shown. The Value column keeps the width its values need; the Bytes
// column gives way (cut with an ellipsis) where the inspector is narrow.
#include <QWidget>

#include "panel/frmMain.h"

class QLabel;
class QTableWidget;

namespace qt {

class ResponseGrid;

class ValueInspector : public QWidget {
  Q_OBJECT
 public:
  // `updating` counts the window's updates from the model (see UpdateGuard):
  // the view's cursor moves made by them are not the operator's choice.
  ValueInspector(frmMain& panel, ResponseGrid* responseView, const int& updating, QWidget* parent = nullptr);

  // Reads the picked line again (after the view changed).
  void Refresh();
  // The inspector is greyed with the response view.
  void SetReadable(bool enabled);
  // The line inspected (-1 for none).
  int Line() const { return line_; }
  // Wide enough for every column whole: the longest value beside all eight
  // bytes of a 64-bit format.
  QSize sizeHint() const override { return {wanted_, QWidget::sizeHint().height()}; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Shares the table's width between the Bytes and the Value column.
  void FitColumns();

  frmMain& panel_;
  ResponseGrid* view_;
  QLabel* address_;
  QTableWidget* table_;
  int line_ = -1;   // the response view's line the operator chose; -1 for none
  int wanted_ = 0;  // the width that shows every column whole
};

}  // namespace qt
