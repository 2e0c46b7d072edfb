#include "common/module1.h"

#include <algorithm>
#include <charconv>

std::string TrimChars(std::string_view text, std::string_view characters) {
  size_t b = 0, e = text.size();
  while (b < e && characters.find(text[b]) != std::string_view::npos) ++b;
  while (e > b && characters.find(text[e - 1]) != std::string_view::npos) --e;
  return std::string(text.substr(b, e - b));
}

std::string TrimBlank(std::string_view value) { return TrimChars(value, " \r\n"); }

std::string TrimToken(std::string_view text, std::string_view token, std::string_view token2) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::string_view tok : {token, token2}) {
      if (tok.empty()) continue;
      while (text.size() >= tok.size() && text.substr(0, tok.size()) == tok) {
        text.remove_prefix(tok.size());
        changed = true;
      }
      while (text.size() >= tok.size() && text.substr(text.size() - tok.size()) == tok) {
        text.remove_suffix(tok.size());
        changed = true;
      }
    }
  }
  return std::string(text);
}

int32_t GetDayMilliseconds(const LocalTime& t) {
  return t.hour * 3600000 + t.minute * 60000 + t.second * 1000 + t.millisecond;
}

std::string PadNumber(int32_t value, int16_t digits, bool hexadecimal) {
  if (digits < 0) digits = 0;
  // to_chars rather than a formatted print: called for every address and
  // time stamp written, it costs a tenth as much.
  char buf[32];
  std::to_chars_result end{};
  if (hexadecimal) {
    // 64-bit arithmetic: value + 0x10000000 may exceed the 32-bit range.
    const long long v = static_cast<long long>(value) + 0x10000000LL;
    end = std::to_chars(buf, buf + sizeof buf, static_cast<unsigned long long>(v) & 0xFFFFFFFFFFULL, 16);
    for (char* c = buf; c != end.ptr; ++c)
      if (*c >= 'a' && *c <= 'f') *c = static_cast<char>(*c - 'a' + 'A');
  } else {
    end = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value) + 1000000000LL);
  }
  const size_t length = static_cast<size_t>(end.ptr - buf);
  const size_t kept = std::min(length, static_cast<size_t>(digits));
  std::string s;
  s.reserve(kept + 2);
  if (hexadecimal) s = "0x";
  s.append(end.ptr - kept, kept);
  return s;
}

std::string PadRight(std::string_view text, int16_t width) {
  std::string s(text);
  if (width > 0 && s.size() < static_cast<size_t>(width)) s.append(static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

std::string FormatTimeStamp(const LocalTime& t) {
  std::string year = std::to_string(t.year);
  year = year.size() > 2 ? year.substr(2) : year;
  return PadNumber(t.day, 2, false) + "." + PadNumber(t.month, 2, false) + "." + year + "  " +
         PadNumber(t.hour, 2, false) + ":" + PadNumber(t.minute, 2, false) + ":" + PadNumber(t.second, 2, false) + "." +
         PadNumber(t.millisecond, 3, false);
}

void WaitWithEvents(double seconds, const bool& stop, int stepMs, const std::function<int64_t()>& nowMs,
                    const std::function<void(int)>& sleepMs, const std::function<void()>& pump) {
  const int64_t start = nowMs();
  const double limitMs = seconds * 1000.0;
  // Bounded even if the clock stands still: never more steps than the wait
  // could possibly take at one millisecond per step.
  long long guard = static_cast<long long>(limitMs) + 2;
  do {
    sleepMs(stepMs);
    pump();
  } while (!stop && static_cast<double>(nowMs() - start) <= limitMs && --guard > 0);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}
