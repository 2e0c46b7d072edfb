// The communication log as data: CSV with one record per entry, time
// stamps and plain hex text.
#include <cstdio>

#include "presentation/log_record.h"

namespace {

std::string CsvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string q = "\"";
  for (char c : v) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

const char* KindText(LogRecord::Kind k) {
  switch (k) {
    case LogRecord::Kind::Request:
      return "request";
    case LogRecord::Kind::Response:
      return "response";
    case LogRecord::Kind::Error:
      return "error";
    case LogRecord::Kind::Information:
      break;
  }
  return "information";
}

}  // namespace

std::string IsoTimeStamp(const LocalTime& t) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return buf;
}

std::string PlainHex(const Frame& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 0x0F];
  }
  return s;
}

std::string LogRecordsToCsv(const std::vector<const LogRecord*>& records) {
  std::string out = "time,kind,class,bytes,message,painted\r\n";
  for (const LogRecord* r : records) {
    std::string painted;
    for (auto [offset, length] : r->painted) {
      if (!painted.empty()) painted += ' ';
      painted += std::to_string(offset) + "+" + std::to_string(length);
    }
    out += IsoTimeStamp(r->time) + "," + KindText(r->kind) + "," + CsvField(r->errorClass) + "," +
           CsvField(PlainHex(r->bytes)) + "," + CsvField(r->message) + "," + CsvField(painted) + "\r\n";
  }
  return out;
}
