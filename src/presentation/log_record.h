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

// The information rows the log and the client's traffic rows share: unread
// bytes dropped before a request ("Dropped 1 unread byte", "Dropped 7 unread
// bytes"), and the head of a slave's closing of the connection.
std::string DroppedBytesText(int64_t count);
inline constexpr const char* kSlaveClosedText = "Slave closed the connection";

// The hex text of a frame as the log shows it: two upper-case digits per
// byte, one blank between bytes, 16 bytes per row, continuation rows indented
// by 37 blanks.
std::string ToLogHexString(const Frame& data);
// The most bytes one log row shows of a frame.
inline constexpr size_t kLogRowMaxBytes = 512;
// The hex text of at most the first `maxBytes` bytes; a longer frame ends
// with " … (N bytes more)".
std::string ToLogHexStringBounded(const Frame& data, size_t maxBytes = kLogRowMaxBytes);
// The first `maxBytes` bytes of a frame (what a log record keeps of it).
inline Frame LogRowBytes(const Frame& data, size_t maxBytes = kLogRowMaxBytes) {
  return data.size() <= maxBytes ? data : Frame(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(maxBytes));
}
// Where to paint the bytes offset .. offset + length - 1 of the response row
// that spans [rowStart, rowEnd) of the log's text: the position of each such
// byte's first digit (counting digits only; a range beyond the row or the
// text paints what exists). The bytes end at the first character that is no
// digit, blank or line break (the note of a row cut short is never painted).
std::vector<size_t> PaintedDigits(const std::string& text, int32_t rowStart, int32_t rowEnd, int32_t offset,
                                  int32_t length);
