// The log's text for frames, and where a fault's bytes lie in a response row.
#include <algorithm>
#include <string>

#include "common/module1.h"
#include "presentation/log_record.h"

namespace {
// Length of the fixed head of a response row: time stamp, two blanks and
// "Response <-- ".
constexpr int32_t kResponseHead = 37;

bool IsLogHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
}  // namespace

std::string DroppedBytesText(int64_t count) {
  return "Dropped " + std::to_string(count) + (count == 1 ? " unread byte" : " unread bytes");
}

std::string ToLogHexString(const Frame& data) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(data.size() * 3 + data.size() / 16 * 40);
  int row = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    s += kDigits[data[i] >> 4];
    s += kDigits[data[i] & 0x0F];
    s += ' ';
    if (++row == 16 && i + 1 < data.size()) {
      s += "\r\n";
      s.append(static_cast<size_t>(kResponseHead), ' ');
      row = 0;
    }
  }
  return TrimToken(s, " ");
}

std::string ToLogHexStringBounded(const Frame& data, size_t maxBytes) {
  if (data.size() <= maxBytes) return ToLogHexString(data);
  const Frame shown(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(maxBytes));
  return ToLogHexString(shown) + " \u2026 (" + std::to_string(data.size() - maxBytes) + " bytes more)";
}

std::vector<size_t> PaintedDigits(const std::string& text, int32_t rowStart, int32_t rowEnd, int32_t offset,
                                  int32_t length) {
  // Bytes offset .. offset+length-1, counting hex digits only (blanks, line
  // breaks and the indent of continuation rows are skipped).
  std::vector<size_t> positions;
  if (length < 1) return positions;
  const long long first = 2LL * offset;
  const long long last = 2LL * (static_cast<long long>(offset) + length);
  const long long from = static_cast<long long>(rowStart) + kResponseHead;
  const long long to = std::min<long long>(rowEnd, static_cast<long long>(text.size()));
  long long n = 0;
  for (long long pos = std::max<long long>(from, 0); pos < to; ++pos) {
    const char c = text[static_cast<size_t>(pos)];
    if (!IsLogHexDigit(c)) {
      if (c == ' ' || c == '\r' || c == '\n') continue;
      break;
    }
    if (n % 2 == 0 && n >= first && n < last) positions.push_back(static_cast<size_t>(pos));
    ++n;
  }
  return positions;
}
