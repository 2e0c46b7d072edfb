#pragma once
// The status bar: the session statistics in one line (sent, answered,
// protocol errors, exceptions, time-outs, connection errors, response times)
// with a button that resets them. It follows the panel's statistics, at most
// every kRefreshMs: a busy link changes them twice a transaction, hundreds of
// times a second, and each new text is laid out and painted again.
#include <QStatusBar>
#include <QTimer>
#include <functional>

#include "panel/frmMain.h"

class QLabel;
class QPushButton;

namespace qt {

class StatsBar : public QStatusBar {
  Q_OBJECT
 public:
  // `afterReset` runs after the operator reset the statistics.
  StatsBar(frmMain& panel, std::function<void()> afterReset, QWidget* parent = nullptr);
  ~StatsBar() override;

  static constexpr int kRefreshMs = 100;

  // Shows the statistics of now (and drops a refresh still pending).
  void Refresh();
  QPushButton* ResetButton() const { return reset_; }

 private:
  frmMain& panel_;
  QLabel* stats_;
  QPushButton* reset_;
  QTimer pending_;  // a change not shown yet
};

}  // namespace qt
