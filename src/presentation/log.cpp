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
  LogRecord record;
  record.kind = Color == LogColorError ? LogRecord::Kind::Error : LogRecord::Kind::Information;
  record.message = text;
  AppendLogEntry(text, Color, std::move(record));
}

void frmMain::AppendLogEntry(const std::string& text, uint32_t Color, LogRecord record) {
  record.time = platform_.clock->Now();
  std::string row = text.empty() ? std::string() : FormatTimeStamp(record.time) + "  " + text;
  row += "\r\n";
  record.start = txtLog.Length() + logRemoved_;
  txtLog.Append(row, Color);
  logEntries_.push_back(std::move(record));

  if (++LogLineCount > kMaxLogEntries) {
    // Remove the oldest entry with all its rows: it ends where the next
    // entry starts.
    logEntries_.pop_front();
    const size_t cut = logEntries_.front().start - logRemoved_;
    txtLog.RemoveFront(cut);
    logRemoved_ += cut;
    RxLogStart -= static_cast<int32_t>(cut);
    RxLogEnd -= static_cast<int32_t>(cut);
    LogLineCount = kMaxLogEntries;
  }
  txtLog.Select(static_cast<int>(txtLog.Length()), 0);
}

void frmMain::LogRequest(const Frame& Data) {
  LogRecord record;
  record.kind = LogRecord::Kind::Request;
  record.bytes = Data;
  AppendLogEntry("Request  --> " + ToLogHexString(Data), LogColorInfo, std::move(record));
}

void frmMain::LogResponse(const Frame& Data) {
  RxLogStart = static_cast<int32_t>(txtLog.Length());
  LogRecord record;
  record.kind = LogRecord::Kind::Response;
  record.bytes = Data;
  AppendLogEntry("Response <-- " + ToLogHexString(Data), LogColorInfo, std::move(record));
  RxLogEnd = static_cast<int32_t>(txtLog.Length());
  lastResponseStart_ = logEntries_.back().start;
}

void frmMain::LogError(const std::string& Class, const std::string& msg, bool ShowRx, int32_t HighlightLength,
                       int32_t HighlightOffset) {
  // Only bytes received for the request in flight are shown: after an answer
  // completed, RxBuffer still holds it, and it must not be logged again.
  if (ShowRx && AwaitingResponse && RxCount > 0) {
    Frame rx(RxBuffer.begin(), RxBuffer.begin() + std::min<size_t>(RxBuffer.size(), static_cast<size_t>(RxCount)));
    LogRecord received;
    received.kind = LogRecord::Kind::Response;
    received.bytes = rx;
    AppendLogEntry("Response <-- " + ToLogHexString(rx), LogColorInfo, std::move(received));
  }
  LogRecord record;
  record.kind = LogRecord::Kind::Error;
  record.errorClass = Class;
  record.message = msg;
  AppendLogEntry(Class + ": " + msg, LogColorError, std::move(record));
  if (HighlightLength < 1) return;
  // The painted range belongs to the last response row, if the pane still
  // holds it.
  for (auto it = logEntries_.rbegin(); it != logEntries_.rend(); ++it)
    if (it->start == lastResponseStart_ && it->kind == LogRecord::Kind::Response) {
      it->painted.emplace_back(HighlightOffset, HighlightLength);
      break;
    }

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
