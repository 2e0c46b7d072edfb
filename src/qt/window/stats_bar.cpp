#include "qt/window/stats_bar.h"

#include <QLabel>
#include <QPushButton>

namespace qt {

StatsBar::StatsBar(frmMain& panel, std::function<void()> afterReset, QWidget* parent)
    : QStatusBar(parent), panel_(panel) {
  setObjectName(QStringLiteral("statusBar"));
  setSizeGripEnabled(false);
  stats_ = new QLabel(this);
  stats_->setObjectName(QStringLiteral("sessionStats"));
  stats_->setTextFormat(Qt::PlainText);
  // The statistics of a long session are wider than a small window: they are
  // cut at their end rather than making the window wider than the screen.
  stats_->setMinimumWidth(1);
  addWidget(stats_, 1);
  reset_ = new QPushButton(QStringLiteral("Reset"), this);
  reset_->setObjectName(QStringLiteral("resetStats"));
  reset_->setAutoDefault(true);  // Enter on the focused button presses it
  reset_->setToolTip(QStringLiteral("Reset the session statistics"));
  addPermanentWidget(reset_);
  connect(reset_, &QPushButton::clicked, this, [this, afterReset = std::move(afterReset)] {
    panel_.ResetStats();
    if (afterReset) afterReset();
  });
  pending_.setSingleShot(true);
  pending_.setInterval(kRefreshMs);
  connect(&pending_, &QTimer::timeout, this, [this] { Refresh(); });
  panel_.onStatsChanged = [this] {
    if (!pending_.isActive()) pending_.start();
  };
  Refresh();
}

StatsBar::~StatsBar() { panel_.onStatsChanged = nullptr; }

void StatsBar::Refresh() {
  pending_.stop();
  stats_->setText(QString::fromStdString(panel_.StatsText()));
}

}  // namespace qt
