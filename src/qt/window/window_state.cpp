#include "qt/window/window_state.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace qt {
namespace {

constexpr const char* kSection = "window";

std::optional<int> ParsePositive(const QString& text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  if (!ok || v <= 0 || v > 100000) return std::nullopt;
  return v;
}

}  // namespace

QList<int> ParseSizes(const std::string& text) {
  QList<int> sizes;
  for (const QString& part : QString::fromStdString(text).split(QLatin1Char(','))) {
    const std::optional<int> v = ParsePositive(part);
    if (!v) return {};
    sizes << *v;
  }
  return sizes;
}

std::string SizesText(const QList<int>& sizes) {
  QStringList parts;
  for (int s : sizes) parts << QString::number(s);
  return parts.join(QLatin1Char(',')).toStdString();
}

WindowState WindowState::Read(platform::SettingsStore& store) {
  WindowState s;
  auto read = [&](const char* key) { return store.Read(kSection, key).value_or(std::string()); };
  const std::optional<int> w = ParsePositive(QString::fromStdString(read("width")));
  const std::optional<int> h = ParsePositive(QString::fromStdString(read("height")));
  if (w && h) s.size = QSize(*w, *h);
  s.maximized = read("maximized") == "1";
  s.columns = ParseSizes(read("columns"));
  s.rows = ParseSizes(read("rows"));
  s.inspector = read("inspector") != "0";
  if (const std::optional<int> mb = ParsePositive(QString::fromStdString(read("logfilesize")))) s.logFileMb = *mb;
  s.watch = read("watch") == "1";
  if (const std::optional<int> h = ParsePositive(QString::fromStdString(read("watchheight")))) s.watchHeight = *h;
  s.watchColumns = ParseSizes(read("watchcolumns"));
  return s;
}

void WindowState::Write(platform::SettingsStore& store) const {
  store.Write(kSection, "width", std::to_string(size.width()));
  store.Write(kSection, "height", std::to_string(size.height()));
  store.Write(kSection, "maximized", maximized ? "1" : "0");
  store.Write(kSection, "columns", SizesText(columns));
  store.Write(kSection, "rows", SizesText(rows));
  store.Write(kSection, "inspector", inspector ? "1" : "0");
  store.Write(kSection, "logfilesize", std::to_string(logFileMb));
  store.Write(kSection, "watch", watch ? "1" : "0");
  if (watchHeight > 0) store.Write(kSection, "watchheight", std::to_string(watchHeight));
  if (watchColumns.size() == 2) store.Write(kSection, "watchcolumns", SizesText(watchColumns));
}

}  // namespace qt
