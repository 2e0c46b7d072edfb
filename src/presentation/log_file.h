#pragma once
// The continuous log file: every log entry appended as it is written, as the
// pane's text rows or as CSV records (the formats of Save log), rotated by
// size so that a long session keeps its evidence beyond the pane's entries.
//
// Rotation: before an entry would take the file beyond `maxBytes`, the file is
// renamed to "<path>.1" (".1" to ".2" and so on, the oldest beyond `keepFiles`
// removed) and a new one started; a CSV file starts with its header line.
// The first write that fails stops the writer: Append returns the reason once
// and nothing is written afterwards, so a full disk never stalls the caller.
#include <cstdint>
#include <string>

#include "presentation/log_record.h"

struct LogFileOptions {
  std::string path;
  bool csv = false;
  uint64_t maxBytes = 10ull * 1024 * 1024;
  int32_t keepFiles = 5;  // rotated files kept beside the current one
};

class LogFileWriter {
 public:
  explicit LogFileWriter(LogFileOptions options);
  ~LogFileWriter();
  LogFileWriter(const LogFileWriter&) = delete;
  LogFileWriter& operator=(const LogFileWriter&) = delete;

  // Appends one entry: `row` is its text as the pane shows it (ending in CR LF),
  // `record` its data for CSV. Returns the reason of a failure the first time
  // writing fails, empty otherwise (also after that first failure).
  std::string Append(const std::string& row, const LogRecord& record);

  bool Failed() const { return failed_; }
  uint64_t EntriesWritten() const { return entries_; }
  const LogFileOptions& Options() const { return options_; }

 private:
  std::string Open();
  std::string Rotate();
  std::string WriteAll(const std::string& bytes);

  LogFileOptions options_;
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t entries_ = 0;
  bool failed_ = false;
};
