#pragma once
// The live plot's data: up to eight series of (time, value) points over a
// window of 1 to 60 minutes, in bounded memory. Time is a monotonic time in
// milliseconds given by the caller; each series takes its points in time
// order.
//
// Memory: the window is cut into kBuckets buckets of equal time. When a series
// holds more than kCompactAt points, each bucket is cut down to its first,
// lowest, highest and last point. That is what a line drawn at one pixel per
// bucket shows anyway, so spikes survive; a series never holds more than
// kCompactAt points, whatever the rate.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace engine {

struct PlotPoint {
  int64_t t = 0;
  double v = 0;
  bool operator==(const PlotPoint&) const = default;
};

class PlotData {
 public:
  static constexpr size_t kMaxSeries = 8;
  static constexpr int kMinWindowMinutes = 1;
  static constexpr int kMaxWindowMinutes = 60;
  static constexpr size_t kBuckets = 1000;
  static constexpr size_t kCompactAt = 5 * kBuckets;

  explicit PlotData(int windowMinutes = 10);

  // 1..60; false (and no change) otherwise. A shorter window drops what lies
  // before it at the next point.
  bool SetWindowMinutes(int minutes);
  int WindowMinutes() const { return windowMinutes_; }

  // A new series at the end; its index, or nothing when eight exist.
  std::optional<size_t> AddSeries(std::string name);
  bool RemoveSeries(size_t index);
  size_t SeriesCount() const { return series_.size(); }
  const std::string& Name(size_t index) const;

  // Appends a point. Ignored (false) for an unknown series, a time before the
  // series' last point, or a value that is not finite (no line can be drawn
  // to it: it shows as a gap in the point sequence).
  bool Append(size_t series, int64_t t, double v);

  // The points of [from, to] in time order, at most `maxPoints` (4 at least):
  // when more lie there, the range is cut into maxPoints / 4 buckets, each
  // drawn by its first, lowest, highest and last point.
  std::vector<PlotPoint> Points(size_t series, int64_t from, int64_t to, size_t maxPoints) const;
  // The points a series holds now.
  size_t Stored(size_t series) const;
  // The latest time of any point; nothing before the first.
  std::optional<int64_t> Latest() const { return latest_; }

  // The data as CSV: a header "time" and the series names, then one row per
  // distinct time within the window (ascending), a value where a series has
  // a point at that time and an empty field otherwise. `timeText` writes a
  // time (default: the milliseconds as a whole number). Lines end in CR LF.
  std::string ToCsv(const std::function<std::string(int64_t)>& timeText = {}) const;

 private:
  struct Series {
    std::string name;
    std::deque<PlotPoint> points;
  };
  int64_t WindowMs() const { return int64_t{windowMinutes_} * 60'000; }
  int64_t BucketMs() const;
  void Compact(Series& s) const;

  int windowMinutes_;
  std::vector<Series> series_;
  std::optional<int64_t> latest_;
};

// The first, lowest, highest and last point of each run of `points` that
// falls into one bucket of `bucketMs` (counted from time 0), in time order and
// without repeats. Times must be ascending.
std::vector<PlotPoint> DecimateM4(const std::vector<PlotPoint>& points, int64_t origin, int64_t bucketMs);

}  // namespace engine
