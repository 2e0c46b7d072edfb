#include "qt/window/watch_plot.h"

#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLocale>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "modbus/formats.h"
#include "qt/window/log_save_dialog.h"

namespace qt {
namespace {

constexpr int kRedrawMs = 500;
constexpr int64_t kMinSpanMs = 10'000;

// The tables read by functions 01 to 04: coils, discrete inputs, holding and
// input registers.
const char* const kTableNames[] = {"coil", "DI", "HR", "IR"};

// Eight colours that stay apart on white and for most colour-blind eyes.
const QColor kColors[] = {QColor(0, 114, 178), QColor(213, 94, 0),   QColor(0, 158, 115), QColor(204, 121, 167),
                          QColor(230, 159, 0), QColor(86, 180, 233), QColor(0, 0, 0),     QColor(140, 86, 75)};

// A plotted value's name, from what it reads, which stays when blocks are
// moved: "S1 HR 110"; registers read in another format than INT16 name it,
// so that one register plotted twice tells its series apart: "S1 HR 100
// FLOAT_ABCD". Empty when the block is gone.
QString SeriesName(const std::vector<engine::WatchBlock>& blocks, const frmMain::PlottedValue& p) {
  for (const engine::WatchBlock& b : blocks) {
    if (b.id != p.block) continue;
    const engine::WatchBlockConfig& c = b.config;
    QString name = QStringLiteral("S%1 %2 %3")
                       .arg(c.slave)
                       .arg(QLatin1String(kTableNames[std::clamp(c.function - 1, 0, 3)]))
                       .arg(p.address);
    if (!engine::WatchReadsBits(c.function) && c.formatIndex != 0)
      name += QLatin1Char(' ') + QString::fromLatin1(modbus::FormatName(c.formatIndex));
    return name;
  }
  return {};
}

// The decade of the largest magnitude of a series (0 for one that is all 0).
int Decade(const std::vector<engine::PlotPoint>& points) {
  double most = 0;
  for (const engine::PlotPoint& p : points) most = std::max(most, std::abs(p.v));
  return most > 0 ? static_cast<int>(std::floor(std::log10(most))) : 0;
}

}  // namespace

WatchPlot::WatchPlot(frmMain& panel, QWidget* parent) : QWidget(parent), panel_(panel), data_(panel.PlotWindowMinutes) {
  wallOffset_ = QDateTime::currentMSecsSinceEpoch() - panel_.Platform().clock->MonotonicMs();
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(4);

  auto* bar = new QHBoxLayout;
  bar->setSpacing(4);
  auto button = [&](const QString& text, const char* name, const QString& tip) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    b->setToolTip(tip);
    // The style makes a text button at least 80 pixels wide; where the
    // window is tight the bar's buttons give way down to their text, so that
    // the plot fits beside the watch list on a 1920-pixel screen.
    b->setMinimumWidth(b->fontMetrics().horizontalAdvance(text) + 2 * b->fontMetrics().averageCharWidth());
    bar->addWidget(b);
    return b;
  };
  auto* windowLabel = new QLabel(QStringLiteral("Last"), this);
  window_ = new QSpinBox(this);
  window_->setObjectName(QStringLiteral("plotWindow"));
  window_->setRange(engine::PlotData::kMinWindowMinutes, engine::PlotData::kMaxWindowMinutes);
  window_->setSuffix(QStringLiteral(" min"));
  window_->setValue(data_.WindowMinutes());
  window_->setToolTip(QStringLiteral("The time the plot shows, 1 to 60 minutes"));
  windowLabel->setBuddy(window_);
  bar->addWidget(windowLabel);
  bar->addWidget(window_);
  pause_ =
      button(QStringLiteral("Pause"), "plotPause", QStringLiteral("Hold the picture; the values are still recorded"));
  pause_->setCheckable(true);
  QPushButton* zoomIn = button(QStringLiteral("Zoom in"), "plotZoomIn",
                               QStringLiteral("Zoom in around the middle (or drag a rectangle on the plot)"));
  QPushButton* zoomOut = button(QStringLiteral("Zoom out"), "plotZoomOut", QStringLiteral("Zoom out"));
  QPushButton* reset = button(QStringLiteral("Follow"), "plotFollow",
                              QStringLiteral("Undo the zoom and follow the latest values again"));
  bar->addStretch(1);
  QPushButton* csv =
      button(QStringLiteral("Save CSV\u2026"), "plotSaveCsv", QStringLiteral("Save the plotted data as CSV"));
  QPushButton* png = button(QStringLiteral("Save PNG\u2026"), "plotSavePng", QStringLiteral("Save the picture as PNG"));
  v->addLayout(bar);

  chart_ = new QChart;
  chart_->setMargins(QMargins(4, 4, 4, 4));
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->setAnimationOptions(QChart::NoAnimation);
  // The axes' numbers in the locale's notation, as the watch list's values
  // (its decimal separator, no grouping).
  QLocale numbers;
  numbers.setNumberOptions(QLocale::OmitGroupSeparator);
  chart_->setLocale(numbers);
  chart_->setLocalizeNumbers(true);
  time_ = new QDateTimeAxis;
  time_->setFormat(QStringLiteral("hh:mm:ss"));
  time_->setTickCount(6);
  chart_->addAxis(time_, Qt::AlignBottom);
  view_ = new QChartView(chart_, this);
  view_->setObjectName(QStringLiteral("plotView"));
  view_->setRenderHint(QPainter::Antialiasing, false);
  view_->setRubberBand(QChartView::RectangleRubberBand);
  view_->setMinimumSize(240, 160);
  view_->setFocusPolicy(Qt::NoFocus);  // it takes no keys: the bar's buttons zoom and follow
  v->addWidget(view_, 1);
  empty_ = new QLabel(QStringLiteral("Tick values in the watch list's Plot column to plot them (up to 8)."), view_);
  empty_->setObjectName(QStringLiteral("plotEmpty"));
  empty_->move(12, 12);
  empty_->adjustSize();

  connect(window_, &QSpinBox::valueChanged, this, [this](int minutes) { SetWindowMinutes(minutes); });
  connect(pause_, &QPushButton::toggled, this, [this](bool on) {
    pause_->setText(on ? QStringLiteral("Paused") : QStringLiteral("Pause"));
    if (!on) Redraw();
  });
  connect(zoomIn, &QPushButton::clicked, this, [this] { chart_->zoomIn(); });
  connect(zoomOut, &QPushButton::clicked, this, [this] { chart_->zoomOut(); });
  connect(reset, &QPushButton::clicked, this, [this] {
    chart_->zoomReset();
    pause_->setChecked(false);
    Redraw();
  });
  connect(csv, &QPushButton::clicked, this, [this] {
    const QString path = ChooseSaveFile(this, QStringLiteral("Save the plot's data"), QString(),
                                        QStringLiteral("CSV (*.csv)"), QStringLiteral("csv"));
    if (!path.isEmpty()) SaveCsv(path);
  });
  connect(png, &QPushButton::clicked, this, [this] {
    const QString path = ChooseSaveFile(this, QStringLiteral("Save the plot's picture"), QString(),
                                        QStringLiteral("PNG (*.png)"), QStringLiteral("png"));
    if (!path.isEmpty()) SavePng(path);
  });
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] {
    if (isVisible() && !pause_->isChecked() && !chart_->isZoomed()) Redraw();
  });
  timer->start(kRedrawMs);
  Sync();
}

void WatchPlot::SetWindowMinutes(int minutes) {
  if (!data_.SetWindowMinutes(minutes)) return;
  panel_.PlotWindowMinutes = minutes;
  Redraw();
}

void WatchPlot::Sync() {
  if (window_->value() != panel_.PlotWindowMinutes) window_->setValue(panel_.PlotWindowMinutes);
  const std::vector<frmMain::PlottedValue>& want = panel_.Plotted;
  const std::vector<engine::WatchBlock>& blocks = panel_.Watch().Model().Blocks();
  // Series no longer plotted go, from the back so that indexes hold; so does
  // a series whose block now reads another register or reads it in another
  // format: its points are of what was read before.
  bool changed = false;
  for (size_t i = plotted_.size(); i-- > 0;) {
    if (std::find(want.begin(), want.end(), plotted_[i]) != want.end() &&
        series_[i]->name() == SeriesName(blocks, plotted_[i]))
      continue;
    data_.RemoveSeries(i);
    chart_->removeSeries(series_[i]);
    delete series_[i];
    series_.erase(series_.begin() + static_cast<std::ptrdiff_t>(i));
    plotted_.erase(plotted_.begin() + static_cast<std::ptrdiff_t>(i));
    changed = true;
  }
  for (const frmMain::PlottedValue& p : want) {
    if (std::find(plotted_.begin(), plotted_.end(), p) != plotted_.end()) continue;
    const QString name = SeriesName(blocks, p);
    if (!data_.AddSeries(name.toStdString())) break;
    auto* s = new QLineSeries;
    s->setName(name);
    chart_->addSeries(s);
    s->attachAxis(time_);
    series_.push_back(s);
    plotted_.push_back(p);
    changed = true;
  }
  // The same series: a held (paused or zoomed) picture stays as it is.
  if (!changed && !series_.empty()) return;
  // Colours by position, so that a series keeps the colour of its legend entry.
  for (size_t i = 0; i < series_.size(); ++i) {
    QPen pen(kColors[i % std::size(kColors)]);
    pen.setWidthF(1.5);
    series_[i]->setPen(pen);
  }
  groupOf_.clear();  // the axes are chosen anew at the next redraw
  empty_->setVisible(series_.empty());
  Redraw();
}

void WatchPlot::AddPoints(engine::WatchBlockId block) {
  const engine::WatchBlock* b = panel_.Watch().Model().Find(block);
  if (b == nullptr || !b->state.outcome || *b->state.outcome != engine::WatchOutcome::Good) return;
  for (size_t i = 0; i < plotted_.size(); ++i) {
    if (plotted_[i].block != block) continue;
    for (const engine::WatchValue& v : b->values)
      if (v.address == plotted_[i].address && !v.stale && v.lastGoodMs) data_.Append(i, *v.lastGoodMs, v.number);
  }
}

std::vector<int> WatchPlot::DrawnPoints() const {
  std::vector<int> out;
  for (const QLineSeries* s : series_) out.push_back(static_cast<int>(s->count()));
  return out;
}

void WatchPlot::AssignAxes(const std::vector<std::vector<engine::PlotPoint>>& points) {
  // Series whose sizes lie two decades or more apart get axes of their own,
  // so that a small value is not drawn as a flat line beside a large one.
  std::vector<size_t> order(points.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::vector<int> decade(points.size());
  for (size_t i = 0; i < points.size(); ++i) decade[i] = Decade(points[i]);
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return decade[a] < decade[b]; });
  std::vector<int> group(points.size(), 0);
  int groups = 0, low = 0;  // no series: no value axis
  for (size_t k = 0; k < order.size(); ++k) {
    if (k == 0 || decade[order[k]] - low >= 2) {
      low = decade[order[k]];
      ++groups;
    }
    group[order[k]] = groups - 1;
  }
  if (group == groupOf_ && static_cast<int>(axes_.size()) == groups) return;
  groupOf_ = group;
  for (QValueAxis* a : axes_) {
    for (QLineSeries* s : series_)
      if (s->attachedAxes().contains(a)) s->detachAxis(a);
    chart_->removeAxis(a);
    delete a;
  }
  axes_.clear();
  for (int g = 0; g < groups; ++g) {
    auto* a = new QValueAxis;
    a->setLabelFormat(QStringLiteral("%.6g"));  // a precision, as localized labels need one
    chart_->addAxis(a, g % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
    axes_.push_back(a);
  }
  for (size_t i = 0; i < series_.size(); ++i) {
    QValueAxis* a = axes_[static_cast<size_t>(group[i])];
    series_[i]->attachAxis(a);
    // An axis takes the colour of its first series when there is more than one.
    if (groups > 1 && a->property("coloured").isNull()) {
      a->setLabelsColor(series_[i]->pen().color());
      a->setLinePenColor(series_[i]->pen().color());
      a->setProperty("coloured", true);
    }
  }
}

void WatchPlot::Redraw() {
  const int64_t now = panel_.Platform().clock->MonotonicMs();
  const int64_t to = std::max(now, data_.Latest().value_or(now));
  const int64_t from = to - int64_t{data_.WindowMinutes()} * 60'000;
  // Two points per pixel column at most: the first, lowest, highest and
  // last of each pair of columns.
  const size_t maxPoints = static_cast<size_t>(std::max(200, static_cast<int>(chart_->plotArea().width()) * 2));
  std::vector<std::vector<engine::PlotPoint>> points(series_.size());
  for (size_t i = 0; i < series_.size(); ++i) points[i] = data_.Points(i, from, to, maxPoints);
  AssignAxes(points);
  std::vector<double> low(axes_.size(), 0), high(axes_.size(), 0);
  std::vector<bool> any(axes_.size(), false);
  for (size_t i = 0; i < series_.size(); ++i) {
    QList<QPointF> list;
    list.reserve(static_cast<qsizetype>(points[i].size()));
    const size_t g = static_cast<size_t>(groupOf_[i]);
    for (const engine::PlotPoint& p : points[i]) {
      list.append(QPointF(static_cast<qreal>(WallMs(p.t)), p.v));
      low[g] = any[g] ? std::min(low[g], p.v) : p.v;
      high[g] = any[g] ? std::max(high[g], p.v) : p.v;
      any[g] = true;
    }
    series_[i]->replace(list);
  }
  // Until the data fills the window, the time axis spans what there is (at
  // least kMinSpanMs), so that the first minutes are not a line squeezed
  // against the right edge.
  int64_t start = to;
  for (const std::vector<engine::PlotPoint>& p : points)
    if (!p.empty()) start = std::min(start, p.front().t);
  start = std::max(from, std::min(start, to - kMinSpanMs));
  time_->setRange(QDateTime::fromMSecsSinceEpoch(WallMs(start)), QDateTime::fromMSecsSinceEpoch(WallMs(to)));
  for (size_t g = 0; g < axes_.size(); ++g) {
    double lo = any[g] ? low[g] : 0, hi = any[g] ? high[g] : 1;
    const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::abs(hi) * 0.05);
    axes_[g]->setRange(lo - pad, hi + pad);
    axes_[g]->applyNiceNumbers();  // ticks at round values
  }
}

QString WatchPlot::TimeText(int64_t monotonicMs) const {
  return QDateTime::fromMSecsSinceEpoch(WallMs(monotonicMs)).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

bool WatchPlot::SaveCsv(const QString& path) {
  const std::string csv = data_.ToCsv([this](int64_t t) { return TimeText(t).toStdString(); });
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) &&
      file.write(csv.data(), static_cast<qint64>(csv.size())) == static_cast<qint64>(csv.size()) && file.commit())
    return true;
  if (onMessage) onMessage(QStringLiteral("The plot's data was not saved: %1").arg(file.errorString()));
  return false;
}

bool WatchPlot::SavePng(const QString& path) {
  // Whole or not at all, as the data: the picture goes to a temporary file
  // beside the old one and replaces it only once complete.
  QSaveFile file(path);
  QString reason;
  if (!file.open(QIODevice::WriteOnly)) {
    reason = file.errorString();
  } else if (!view_->grab().save(&file, "PNG")) {
    reason = file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("the picture was not encoded");
    file.cancelWriting();
  } else if (!file.commit()) {
    reason = file.errorString();
  }
  if (reason.isEmpty()) return true;
  if (onMessage) onMessage(QStringLiteral("The plot's picture was not saved to %1: %2").arg(path, reason));
  return false;
}

}  // namespace qt
