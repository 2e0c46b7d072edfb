#pragma once
// One entry of the communication log as data, kept beside the pane's text
// so that the log can be saved as CSV with one record per entry.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "common/local_time.h"

struct LogRecord {
  enum class Kind { Information, Request, Response, Error };
  Kind kind = Kind::Information;
  LocalTime time;
  size_t start = 0;        // where the entry starts, in characters ever written
  std::string errorClass;  // errors only
  std::string message;     // information and error text; empty for frames
  Frame bytes;             // requests and responses
  // Painted byte ranges of a response row: offset and length.
  std::vector<std::pair<int32_t, int32_t>> painted;
};

// "2026-12-05T06:04:09.045"
std::string IsoTimeStamp(const LocalTime& t);
// The bytes as hexadecimal, one blank between bytes, on one line.
std::string PlainHex(const Frame& bytes);
// One CSV record (RFC 4180 quoting) per entry, after a header line:
// time,kind,class,bytes,message,painted
std::string LogRecordsToCsv(const std::vector<const LogRecord*>& records);
