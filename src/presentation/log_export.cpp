// Saving the communication log: as plain text exactly as shown, or as CSV
// with one record per entry. The file is written completely or not at all.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/module1.h"
#include "panel/frmMain.h"

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

std::string frmMain::LogAsCsv() const {
  std::vector<const LogRecord*> records;
  for (const LogRecord& r : logEntries_) records.push_back(&r);
  return LogRecordsToCsv(records);
}

bool frmMain::SaveLog(const std::string& path, bool csv) {
  namespace fs = std::filesystem;
  const std::string content = csv ? LogAsCsv() : txtLog.Text();
  const fs::path target(path);
  fs::path temp = target;
  temp += ".part";
  std::string reason;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      reason = "cannot write " + temp.string();
    } else {
      out.write(content.data(), static_cast<std::streamsize>(content.size()));
      out.close();
      if (!out) reason = "write failed";
    }
  }
  if (reason.empty()) {
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) reason = ec.message();
  }
  if (reason.empty()) return true;
  std::error_code ignored;
  fs::remove(temp, ignored);
  Log("Failed to save the log to " + path + ": " + reason, LogColorError);
  return false;
}
