#include "qt/window/text_map.h"

#include <algorithm>

namespace qt {
namespace {

// UTF-16 units that the character starting with byte `b` takes: 2 for a
// four-byte sequence (a surrogate pair), 0 for a continuation byte, else 1.
int UnitsOfByte(unsigned char b) {
  if ((b & 0xC0) == 0x80) return 0;
  if (b >= 0xF0) return 2;
  return 1;
}

// Walks `text` and maps positions. With `lines`, CR LF is one unit (the LF
// carries it) and a lone CR is one unit.
int ToWidget(std::string_view text, int bytePos, bool lines) {
  const size_t end = bytePos < 0 ? 0 : std::min(text.size(), static_cast<size_t>(bytePos));
  int units = 0;
  for (size_t i = 0; i < end; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (lines && b == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    units += UnitsOfByte(b);
  }
  return units;
}

int ToPanel(std::string_view text, int widgetPos, bool lines) {
  int units = 0;
  size_t i = 0;
  while (i < text.size()) {
    // The width of the character (or CR LF pair) at i, in bytes and in units.
    size_t bytes = 1;
    int u = UnitsOfByte(static_cast<unsigned char>(text[i]));
    if (lines && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      bytes = 2;
      u = 1;
    } else {
      while (i + bytes < text.size() && (static_cast<unsigned char>(text[i + bytes]) & 0xC0) == 0x80) ++bytes;
    }
    if (units + u > widgetPos) break;
    units += u;
    i += bytes;
  }
  return static_cast<int>(i);
}

// The byte at which line `line` starts (the text's size past the last line).
size_t LineStart(std::string_view text, int line) {
  size_t at = 0;
  for (int i = 0; i < line; ++i) {
    const size_t next = text.find("\r\n", at);
    if (next == std::string_view::npos) return text.size();
    at = next + 2;
  }
  return at;
}

}  // namespace

QString ToWidgetText(std::string_view text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QChar(u'\r'), QChar(u'\n'));
  return s;
}

std::string FromWidgetText(const QString& text) {
  QString s = text;
  s.replace(QChar::ParagraphSeparator, QChar(u'\n'));
  s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return s.toStdString();
}

QString ToLineText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int WidgetPos(std::string_view text, int bytePos) { return ToWidget(text, bytePos, true); }
int PanelPos(std::string_view text, int widgetPos) { return ToPanel(text, widgetPos, true); }
int LineWidgetPos(std::string_view text, int bytePos) { return ToWidget(text, bytePos, false); }
int LinePanelPos(std::string_view text, int widgetPos) { return ToPanel(text, widgetPos, false); }

std::pair<int, int> LineSpan(std::string_view text, int first, int last) {
  if (last < first || first < 0) return {0, 0};
  const size_t start = LineStart(text, first);
  size_t end = text.find("\r\n", LineStart(text, last));
  if (end == std::string_view::npos) end = text.size();
  return {static_cast<int>(start), static_cast<int>(std::max(start, end))};
}

std::pair<int, int> LinesTouched(std::string_view text, int start, int length) {
  if (length <= 0 || start < 0 || static_cast<size_t>(start) >= text.size()) return {0, -1};
  const size_t end = std::min(text.size(), static_cast<size_t>(start) + static_cast<size_t>(length));
  int first = 0, last = 0;
  for (size_t i = 0; i + 1 < end; ++i) {
    if (text[i] != '\r' || text[i + 1] != '\n') continue;
    if (i + 2 <= static_cast<size_t>(start)) ++first;
    if (i + 2 < end) ++last;
  }
  return {first, last};
}

void LogTextMap::Clear() {
  pieces_.clear();
  frontByte_ = frontUnit_ = endByte_ = endUnit_ = 0;
}

void LogTextMap::Append(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t lineEnd = text.find("\r\n", at);
    size_t cut = lineEnd == std::string_view::npos ? text.size() : lineEnd + 2;
    if (cut - at > kPieceBytes) {
      // A long line is cut where a character starts, never between CR and LF.
      cut = at + kPieceBytes;
      while (cut > at + 1 &&
             ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80 || (text[cut - 1] == '\r' && text[cut] == '\n')))
        --cut;
    }
    AddPiece(text.substr(at, cut - at));
    at = cut;
  }
}

void LogTextMap::AddPiece(std::string_view text) {
  const int units = ToWidget(text, static_cast<int>(text.size()), true);
  pieces_.push_back({endByte_, endUnit_, std::string(text)});
  endByte_ += static_cast<long long>(text.size());
  endUnit_ += units;
}

int LogTextMap::RemoveFront(size_t n) {
  const long long target = frontByte_ + static_cast<long long>(std::min(n, Bytes()));
  while (!pieces_.empty() && pieces_.front().byte + static_cast<long long>(pieces_.front().text.size()) <= target)
    pieces_.pop_front();
  if (!pieces_.empty() && pieces_.front().byte < target) {
    // Cut inside the first piece: it now starts at the first byte kept.
    Piece& p = pieces_.front();
    const auto k = static_cast<size_t>(target - p.byte);
    p.unit += ToWidget(p.text, static_cast<int>(k), true);
    p.text.erase(0, k);
    p.byte = target;
  }
  const long long newFrontUnit = pieces_.empty() ? endUnit_ : pieces_.front().unit;
  const auto removed = static_cast<int>(newFrontUnit - frontUnit_);
  frontByte_ = target;
  frontUnit_ = newFrontUnit;
  return removed;
}

void LogTextMap::Discard(size_t n) {
  if (!pieces_.empty()) return;
  frontByte_ += static_cast<long long>(n);
  endByte_ = frontByte_;
}

size_t LogTextMap::PieceOfByte(long long p) const {
  auto it = std::upper_bound(pieces_.begin(), pieces_.end(), p, [](long long v, const Piece& x) { return v < x.byte; });
  return it == pieces_.begin() ? 0 : static_cast<size_t>(it - pieces_.begin() - 1);
}

size_t LogTextMap::PieceOfUnit(long long p) const {
  auto it = std::upper_bound(pieces_.begin(), pieces_.end(), p, [](long long v, const Piece& x) { return v < x.unit; });
  return it == pieces_.begin() ? 0 : static_cast<size_t>(it - pieces_.begin() - 1);
}

int LogTextMap::WidgetPos(size_t bytePos) const {
  if (pieces_.empty()) return 0;
  const long long at = frontByte_ + static_cast<long long>(std::min(bytePos, Bytes()));
  const Piece& p = pieces_[PieceOfByte(at)];
  return static_cast<int>(p.unit + ToWidget(p.text, static_cast<int>(at - p.byte), true) - frontUnit_);
}

size_t LogTextMap::PanelPos(int widgetPos) const {
  if (pieces_.empty()) return 0;
  const long long at = frontUnit_ + std::clamp<long long>(widgetPos, 0, Units());
  const Piece& p = pieces_[PieceOfUnit(at)];
  return static_cast<size_t>(p.byte + ToPanel(p.text, static_cast<int>(at - p.unit), true) - frontByte_);
}

std::string LogTextMap::Text() const {
  std::string all;
  for (const Piece& p : pieces_) all += p.text;
  return all;
}

}  // namespace qt
