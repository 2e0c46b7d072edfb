// The communication log pane: time-stamped, coloured rows, with the bytes
// that a fault concerns painted inside the last response row, and the log
// saved as text or CSV (the whole file or nothing).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/module1.h"
#include "panel/frmMain.h"
#include "presentation/log_record.h"

namespace {
// The most entries the pane holds. Once more have been written, each new
// entry removes the oldest whole entry (all of its rows).
constexpr int32_t kMaxLogEntries = 1000;
// The most bytes of text the pane holds; beyond them the oldest entries go
// too (the newest entry always stays).
constexpr size_t kMaxLogBytes = size_t{2} << 20;

}  // namespace

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
  std::string fileFailure;
  if (logFile_) fileFailure = logFile_->Append(row, record);
  logEntries_.push_back(std::move(record));

  ++LogLineCount;
  // Remove the oldest entries with all their rows (each ends where the next
  // starts), at once, in one edit.
  size_t cut = 0;
  while (logEntries_.size() > 1 && (LogLineCount > kMaxLogEntries || txtLog.Length() - cut > kMaxLogBytes)) {
    logEntries_.pop_front();
    cut = logEntries_.front().start - logRemoved_;
    --LogLineCount;
    ++logDropped_;
  }
  if (cut > 0) {
    txtLog.RemoveFront(cut);
    logRemoved_ += cut;
    RxLogStart -= static_cast<int32_t>(cut);
    RxLogEnd -= static_cast<int32_t>(cut);
  }
  txtLog.Select(static_cast<int>(txtLog.Length()), 0);
  // Once only: the writer stays failed, so this row is not written to the file.
  if (!fileFailure.empty()) Log("Log file stopped: " + fileFailure, LogColorError);
}

void frmMain::SetLogFile(const std::string& path, bool csv) {
  logFile_.reset();
  logFileOptions_.path = TrimBlank(path);
  logFileOptions_.csv = csv;
  if (!logFileOptions_.path.empty()) logFile_ = std::make_unique<LogFileWriter>(logFileOptions_);
}

void frmMain::SetLogFileRotation(uint64_t maxBytes, int32_t keepFiles) {
  logFileOptions_.maxBytes = maxBytes;
  logFileOptions_.keepFiles = keepFiles;
  if (logFile_) logFile_ = std::make_unique<LogFileWriter>(logFileOptions_);
}

std::string frmMain::LogHoldingText() const {
  std::string text = std::to_string(logEntries_.size()) + (logEntries_.size() == 1 ? " entry" : " entries") + " shown";
  if (logDropped_ == 0) return text;
  if (logFile_ && !logFile_->Failed()) return text + "; older ones are in " + logFileOptions_.path;
  if (logFile_) return text + "; older ones were dropped: the log file failed";
  return text + "; older ones were dropped";
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
  record.bytes = LogRowBytes(Data);
  AppendLogEntry("Response <-- " + ToLogHexStringBounded(Data), LogColorInfo, std::move(record));
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
    received.bytes = LogRowBytes(rx);
    AppendLogEntry("Response <-- " + ToLogHexStringBounded(rx), LogColorInfo, std::move(received));
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

  // Paint the bytes in the last response row, if the pane still holds it.
  for (size_t pos : PaintedDigits(txtLog.Text(), RxLogStart, RxLogEnd, HighlightOffset, HighlightLength))
    txtLog.SetColor(pos, 2, LogColorHighlight);
  txtLog.Select(static_cast<int>(txtLog.Length()), 0);
}

std::string frmMain::LogAsCsv() const {
  std::vector<const LogRecord*> records;
  for (const LogRecord& r : logEntries_) records.push_back(&r);
  return LogRecordsToCsv(records);
}

bool frmMain::SaveLog(const std::string& path, bool csv) {
  namespace fs = std::filesystem;
  const std::string content = csv ? LogAsCsv() : txtLog.Text();
  // Through a symbolic link the file it names is replaced, and the link
  // stays a link.
  fs::path target(path);
  std::error_code ec;
  // A link to a link is followed too, a bounded number of times (a loop of
  // links then fails as the system says).
  for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(target, ec)); ++hop) {
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) break;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  fs::path temp = target;
  temp += ".part";
  std::string reason;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    reason = "cannot write " + temp.string() + ": " + std::strerror(errno);
  } else {
    size_t done = 0;
    while (reason.empty() && done < content.size()) {
      const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        reason = std::string("write failed: ") + std::strerror(n < 0 ? errno : EIO);
      else
        done += static_cast<size_t>(n);
    }
    // A full disk may only show when the data reach it.
    if (reason.empty() && ::fsync(fd) != 0 && errno != EINVAL)
      reason = std::string("write failed: ") + std::strerror(errno);
    if (::close(fd) != 0 && reason.empty()) reason = std::string("write failed: ") + std::strerror(errno);
  }
  if (reason.empty() && ::rename(temp.c_str(), target.c_str()) != 0) reason = std::strerror(errno);
  if (reason.empty()) return true;
  ::unlink(temp.c_str());
  Log("Failed to save the log to " + path + ": " + reason, LogColorError);
  return false;
}
