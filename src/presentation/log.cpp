// The communication log: time-stamped, coloured rows in the log pane, with
// the bytes that a fault concerns painted inside the last response row.
#include <cstdio>

#include "common/module1.h"
#include "panel/frmMain.h"

namespace {
// The most entries the pane holds. Once more have been written, each new
// entry removes the oldest whole entry (all of its rows).
constexpr int32_t kMaxLogEntries = 1000;
// Length of the fixed head of a response row: time stamp, two blanks and
// "Response <-- ".
constexpr int32_t kResponseHead = 37;

bool IsLogHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
}  // namespace

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

void frmMain::Log(const std::string& text, uint32_t Color) {
  std::string row = text.empty() ? std::string() : FormatTimeStamp(platform_.clock->Now()) + "  " + text;
  row += "\r\n";
  const size_t start = txtLog.Length();
  txtLog.Append(row, Color);
  entryStarts_.push_back(start + logRemoved_);

  if (++LogLineCount > kMaxLogEntries) {
    // Remove the oldest entry with all its rows: it ends where the next
    // entry starts.
    entryStarts_.pop_front();
    const size_t cut = static_cast<size_t>(entryStarts_.front() - logRemoved_);
    txtLog.RemoveFront(cut);
    logRemoved_ += cut;
    RxLogStart -= static_cast<int32_t>(cut);
    RxLogEnd -= static_cast<int32_t>(cut);
    LogLineCount = kMaxLogEntries;
  }
  txtLog.Select(static_cast<int>(txtLog.Length()), 0);
}

void frmMain::LogRequest(const Frame& Data) { Log("Request  --> " + ToLogHexString(Data), LogColorInfo); }

void frmMain::LogResponse(const Frame& Data) {
  RxLogStart = static_cast<int32_t>(txtLog.Length());
  Log("Response <-- " + ToLogHexString(Data), LogColorInfo);
  RxLogEnd = static_cast<int32_t>(txtLog.Length());
}

void frmMain::LogError(const std::string& Class, const std::string& msg, bool ShowRx, int32_t HighlightLength,
                       int32_t HighlightOffset) {
  // Only bytes received for the request in flight are shown: after an answer
  // completed, RxBuffer still holds it, and it must not be logged again.
  if (ShowRx && AwaitingResponse && RxCount > 0) {
    Frame rx(RxBuffer.begin(), RxBuffer.begin() + std::min<size_t>(RxBuffer.size(), static_cast<size_t>(RxCount)));
    Log("Response <-- " + ToLogHexString(rx), LogColorInfo);
  }
  Log(Class + ": " + msg, LogColorError);
  if (HighlightLength < 1) return;

  // Paint bytes HighlightOffset .. HighlightOffset+HighlightLength-1 of the
  // last response row, counting hex digits only (blanks, line breaks and the
  // indent of continuation rows are skipped).
  const std::string& text = txtLog.Text();
  const long long first = 2LL * HighlightOffset;
  const long long last = 2LL * (static_cast<long long>(HighlightOffset) + HighlightLength);
  const long long from = static_cast<long long>(RxLogStart) + kResponseHead;
  const long long to = std::min<long long>(RxLogEnd, static_cast<long long>(text.size()));
  long long n = 0;
  for (long long pos = std::max<long long>(from, 0); pos < to; ++pos) {
    if (!IsLogHexDigit(text[static_cast<size_t>(pos)])) continue;
    if (n % 2 == 0 && n >= first && n < last) txtLog.SetColor(static_cast<size_t>(pos), 2, LogColorHighlight);
    ++n;
  }
  txtLog.Select(static_cast<int>(txtLog.Length()), 0);
}
