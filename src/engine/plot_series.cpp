#include "engine/plot_series.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "modbus/formats.h"
using modbus::FormatValueText;

namespace engine {

namespace {

// Floor division, for times before the origin too.
int64_t BucketOf(int64_t t, int64_t origin, int64_t width) {
  const int64_t d = t - origin;
  return d >= 0 ? d / width : -((-d + width - 1) / width);
}

std::string CsvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::vector<PlotPoint> DecimateM4(const std::vector<PlotPoint>& points, int64_t origin, int64_t bucketMs) {
  std::vector<PlotPoint> out;
  const int64_t width = std::max<int64_t>(1, bucketMs);
  size_t i = 0;
  while (i < points.size()) {
    const int64_t bucket = BucketOf(points[i].t, origin, width);
    size_t end = i, lo = i, hi = i;
    for (; end < points.size() && BucketOf(points[end].t, origin, width) == bucket; ++end) {
      if (points[end].v < points[lo].v) lo = end;
      if (points[end].v > points[hi].v) hi = end;
    }
    // The four indexes in time order, each once.
    size_t keep[4] = {i, std::min(lo, hi), std::max(lo, hi), end - 1};
    size_t last = points.size();
    for (size_t k : keep) {
      if (k != last) out.push_back(points[k]);
      last = k;
    }
    i = end;
  }
  return out;
}

PlotData::PlotData(int windowMinutes)
    : windowMinutes_(std::clamp(windowMinutes, kMinWindowMinutes, kMaxWindowMinutes)) {}

bool PlotData::SetWindowMinutes(int minutes) {
  if (minutes < kMinWindowMinutes || minutes > kMaxWindowMinutes) return false;
  windowMinutes_ = minutes;
  return true;
}

std::optional<size_t> PlotData::AddSeries(std::string name) {
  if (series_.size() >= kMaxSeries) return std::nullopt;
  series_.push_back(Series{std::move(name), {}});
  return series_.size() - 1;
}

bool PlotData::RemoveSeries(size_t index) {
  if (index >= series_.size()) return false;
  series_.erase(series_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

const std::string& PlotData::Name(size_t index) const {
  static const std::string kNone;
  return index < series_.size() ? series_[index].name : kNone;
}

int64_t PlotData::BucketMs() const { return std::max<int64_t>(1, WindowMs() / static_cast<int64_t>(kBuckets)); }

void PlotData::Compact(Series& s) const {
  const std::vector<PlotPoint> all(s.points.begin(), s.points.end());
  const std::vector<PlotPoint> kept = DecimateM4(all, 0, BucketMs());
  s.points.assign(kept.begin(), kept.end());
}

bool PlotData::Append(size_t series, int64_t t, double v) {
  if (series >= series_.size() || !std::isfinite(v)) return false;
  Series& s = series_[series];
  if (!s.points.empty() && t < s.points.back().t) return false;
  s.points.push_back({t, v});
  latest_ = std::max(latest_.value_or(t), t);
  // Points that left the window go; then, if still too many, the buckets are
  // cut down.
  const int64_t start = t - WindowMs();
  while (!s.points.empty() && s.points.front().t < start) s.points.pop_front();
  if (s.points.size() > kCompactAt) Compact(s);
  return true;
}

std::vector<PlotPoint> PlotData::Points(size_t series, int64_t from, int64_t to, size_t maxPoints) const {
  if (series >= series_.size() || to < from) return {};
  const std::deque<PlotPoint>& p = series_[series].points;
  auto first = std::lower_bound(p.begin(), p.end(), from, [](const PlotPoint& a, int64_t t) { return a.t < t; });
  auto last = std::upper_bound(first, p.end(), to, [](int64_t t, const PlotPoint& a) { return t < a.t; });
  std::vector<PlotPoint> in(first, last);
  maxPoints = std::max<size_t>(4, maxPoints);
  if (in.size() <= maxPoints) return in;
  const int64_t buckets = static_cast<int64_t>(maxPoints / 4);
  // Width rounded up, so that [from, to] spans at most `buckets` buckets.
  const int64_t width = (to - from) / buckets + 1;
  return DecimateM4(in, from, width);
}

size_t PlotData::Stored(size_t series) const { return series < series_.size() ? series_[series].points.size() : 0; }

std::string PlotData::ToCsv(const std::function<std::string(int64_t)>& timeText) const {
  std::string out = "time";
  for (const Series& s : series_) out += "," + CsvField(s.name);
  out += "\r\n";
  if (!latest_) return out;
  const int64_t start = *latest_ - WindowMs();
  // time -> the value of each series at that time
  std::map<int64_t, std::vector<std::optional<double>>> rows;
  for (size_t i = 0; i < series_.size(); ++i) {
    for (const PlotPoint& p : series_[i].points) {
      if (p.t < start) continue;
      auto& row = rows[p.t];
      row.resize(series_.size());
      row[i] = p.v;  // of several points at one time, the last
    }
  }
  for (const auto& [t, values] : rows) {
    out += CsvField(timeText ? timeText(t) : std::to_string(t));
    for (const std::optional<double>& v : values) out += "," + (v ? FormatValueText(*v, ".") : std::string());
    out += "\r\n";
  }
  return out;
}

}  // namespace engine
