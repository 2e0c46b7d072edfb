#pragma once
// The live plot of the watched values the operator ticked (at most eight):
// each good read of a plotted value adds a point; the plot shows the last 1
// to 60 minutes, redrawn twice a second with no more points than the plot has
// pixels for (each pixel column keeps its first, lowest, highest and last
// point, so spikes show). Values of very different size get axes of their
// own. The operator can pause the plot, zoom into it (drag a rectangle, or
// the zoom buttons), and save its data as CSV or its picture as PNG.
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "engine/plot_series.h"
#include "panel/frmMain.h"

class QChart;
class QChartView;
class QLabel;
class QPushButton;
class QSpinBox;
class QValueAxis;
class QDateTimeAxis;
class QLineSeries;

namespace qt {

class WatchPlot : public QWidget {
 public:
  explicit WatchPlot(frmMain& panel, QWidget* parent = nullptr);

  // The series follow the panel's plotted values; the data of values still
  // plotted, and still read from the same register in the same format, is
  // kept.
  void Sync();
  // Adds the plotted values of a block after its read (good reads only).
  void AddPoints(engine::WatchBlockId block);
  // Draws the window's points now (the plot also does so on its timer unless
  // paused or zoomed).
  void Redraw();

  // The data within the window as CSV (time as the wall clock), written whole
  // or not at all; the picture as PNG. False (and a message) on failure.
  bool SaveCsv(const QString& path);
  bool SavePng(const QString& path);

  const engine::PlotData& Data() const { return data_; }
  // Adds a point to a series directly (for tools and benchmarks that feed
  // the plot without a link).
  bool AppendPoint(size_t series, int64_t monotonicMs, double value) {
    return data_.Append(series, monotonicMs, value);
  }
  QChartView* View() const { return view_; }
  // The number of value axes now shown.
  int AxisCount() const { return static_cast<int>(axes_.size()); }
  // The points drawn now, per series.
  std::vector<int> DrawnPoints() const;

  std::function<void(const QString&)> onMessage;

 private:
  void SetWindowMinutes(int minutes);
  void AssignAxes(const std::vector<std::vector<engine::PlotPoint>>& points);
  QString TimeText(int64_t monotonicMs) const;
  qint64 WallMs(int64_t monotonicMs) const { return wallOffset_ + monotonicMs; }

  frmMain& panel_;
  engine::PlotData data_;
  std::vector<frmMain::PlottedValue> plotted_;  // the series, in order
  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  QDateTimeAxis* time_ = nullptr;
  std::vector<QLineSeries*> series_;
  std::vector<QValueAxis*> axes_;
  std::vector<int> groupOf_;  // the axis of each series
  QSpinBox* window_ = nullptr;
  QPushButton* pause_ = nullptr;
  QLabel* empty_ = nullptr;
  qint64 wallOffset_ = 0;  // wall-clock milliseconds since the epoch minus monotonic ones
};

}  // namespace qt
