// The writers for scripts: JSON lines, CSV rows and the summary.
#include <cstdio>

#include "cli/output.h"
#include "common/utf8.h"

namespace cli {
namespace {

// ISO 8601 local time with milliseconds, e.g. "2026-12-05T06:04:09.045".
std::string IsoTime(const LocalTime& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return buffer;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number grammar of JSON: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
bool IsJsonNumber(const std::string& t) {
  size_t i = 0;
  if (i < t.size() && t[i] == '-') ++i;
  if (i >= t.size() || !IsDigit(t[i])) return false;
  if (t[i] == '0') {
    ++i;
  } else {
    while (i < t.size() && IsDigit(t[i])) ++i;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    if (i >= t.size() || !IsDigit(t[i])) return false;
    while (i < t.size() && IsDigit(t[i])) ++i;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (i >= t.size() || !IsDigit(t[i])) return false;
    while (i < t.size() && IsDigit(t[i])) ++i;
  }
  return i == t.size();
}

// The value as JSON: its number when it has a valid one, else its text.
std::string JsonValue(const RecordValue& v) {
  if (v.number && IsJsonNumber(*v.number)) return *v.number;
  return JsonString(v.text);
}

std::string_view OutcomeName(Outcome o) {
  switch (o) {
    case Outcome::Ok:
      return "ok";
    case Outcome::Exception:
      return "exception";
    case Outcome::ProtocolError:
      return "protocol-error";
    case Outcome::Timeout:
      return "timeout";
    case Outcome::ConnectionFailure:
      return "connection-failure";
  }
  return "";
}

template <class T, class F>
std::string Join(const std::vector<T>& items, std::string_view separator, F&& each) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += each(items[i]);
  }
  return out;
}

// An item of a list that CSV joins with ";" in one field: a backslash and a
// semicolon inside it are preceded by a backslash, so that the field splits
// back into its items at the semicolons that stand alone.
std::string ListItem(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\\' || c == ';') out += '\\';
    out += c;
  }
  return out;
}

// The text with every byte that is not part of well-formed UTF-8 replaced
// by U+FFFD: a file name or a system message may hold such bytes, and JSON
// and CSV readers refuse them.
std::string ValidUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t from = i;
    if (utf8::DecodeUtf8(text, i)) {
      out.append(text, from, i - from);
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string MeanText(const RunStats& s) {
  if (s.timed == 0) return "0";
  // Tenths of a millisecond, rounded half up.
  const int64_t tenths = (s.totalMs * 20 + static_cast<int64_t>(s.timed)) / (2 * static_cast<int64_t>(s.timed));
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : ValidUtf8(text)) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += ch;  // UTF-8 passes through as it is
        }
    }
  }
  return out + "\"";
}

std::string CsvField(const std::string& raw) {
  const std::string text = ValidUtf8(raw);
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string JsonLine(const TransactionRecord& r) {
  std::string out = "{\"time\":" + JsonString(IsoTime(r.requestTime));
  out += ",\"slave\":" + std::to_string(r.slave);
  out += ",\"function\":" + std::to_string(r.function);
  out += ",\"address\":" + std::to_string(r.address);
  out += ",\"outcome\":" + JsonString(std::string(OutcomeName(r.outcome)));
  out += ",\"values\":[" + Join(r.values, ",", JsonValue) + "]";
  out += ",\"texts\":[" + Join(r.values, ",", [](const RecordValue& v) { return JsonString(v.text); }) + "]";
  out += ",\"addresses\":[" + Join(r.values, ",", [](const RecordValue& v) { return std::to_string(v.address); }) + "]";
  bool labelled = false;
  for (const RecordValue& v : r.values) labelled = labelled || !v.label.empty();
  if (labelled)
    out += ",\"labels\":[" + Join(r.values, ",", [](const RecordValue& v) { return JsonString(v.label); }) + "]";
  out += ",\"response_ms\":" + (r.responseMs ? std::to_string(*r.responseMs) : std::string("null"));
  // Only an answer that can be trusted reports its exception (an exception
  // answer with faults is a protocol error).
  const bool exception = r.exception && r.outcome == Outcome::Exception;
  out += ",\"exception\":" + (exception ? "{\"code\":" + std::to_string(r.exception->code) +
                                              ",\"text\":" + JsonString(r.exception->text) + "}"
                                        : std::string("null"));
  out += ",\"faults\":[" +
         Join(r.faults, ",",
              [](const RecordFault& f) {
                return "{\"message\":" + JsonString(f.message) + ",\"offset\":" + std::to_string(f.offset) +
                       ",\"length\":" + std::to_string(f.length) + "}";
              }) +
         "]";
  out += ",\"error\":" + (r.error.empty() ? std::string("null") : JsonString(r.error));
  out += ",\"request\":" + JsonString(HexText(r.request));
  out += ",\"response\":" + JsonString(HexText(r.response));
  return out + "}\n";
}

std::string CsvHeader() {
  return "time,outcome,slave,function,address,values,texts,addresses,response_ms,exception_code,exception_text,"
         "faults,error,request,response,labels\n";
}

std::string CsvRow(const TransactionRecord& r) {
  std::vector<std::string> fields;
  fields.push_back(IsoTime(r.requestTime));
  fields.emplace_back(OutcomeName(r.outcome));
  fields.push_back(std::to_string(r.slave));
  fields.push_back(std::to_string(r.function));
  fields.push_back(std::to_string(r.address));
  fields.push_back(Join(r.values, ";", [](const RecordValue& v) { return ListItem(v.number ? *v.number : v.text); }));
  fields.push_back(Join(r.values, ";", [](const RecordValue& v) { return ListItem(v.text); }));
  fields.push_back(Join(r.values, ";", [](const RecordValue& v) { return std::to_string(v.address); }));
  fields.push_back(r.responseMs ? std::to_string(*r.responseMs) : std::string());
  const bool exception = r.exception && r.outcome == Outcome::Exception;
  fields.push_back(exception ? std::to_string(r.exception->code) : std::string());
  fields.push_back(exception ? r.exception->text : std::string());
  fields.push_back(Join(r.faults, ";", [](const RecordFault& f) {
    return ListItem(std::to_string(f.offset) + "+" + std::to_string(f.length) + " " + f.message);
  }));
  fields.push_back(r.error);
  fields.push_back(HexText(r.request));
  fields.push_back(HexText(r.response));
  // Last, so that the columns before it keep their places: the names of
  // labelled values (device identification objects), empty for addressed ones.
  bool labelled = false;
  for (const RecordValue& v : r.values) labelled = labelled || !v.label.empty();
  fields.push_back(labelled ? Join(r.values, ";", [](const RecordValue& v) { return ListItem(v.label); })
                            : std::string());
  return Join(fields, ",", CsvField) + "\n";
}

void RunStats::Count(const TransactionRecord& record) {
  ++transactions;
  switch (record.outcome) {
    case Outcome::Ok:
      ++ok;
      if (record.responseMs) {
        const int64_t ms = *record.responseMs < 0 ? 0 : *record.responseMs;
        if (timed == 0 || ms < minMs) minMs = ms;
        if (timed == 0 || ms > maxMs) maxMs = ms;
        lastMs = ms;
        totalMs += ms;
        ++timed;
      }
      break;
    case Outcome::Exception:
      ++exceptions;
      break;
    case Outcome::ProtocolError:
      ++protocolErrors;
      break;
    case Outcome::Timeout:
      ++timeouts;
      break;
    case Outcome::ConnectionFailure:
      ++connectionErrors;
      break;
  }
}

std::string StatsText(const RunStats& s) {
  std::string out = "--- statistics ---\n";
  out += "transactions: " + std::to_string(s.transactions) + "\n";
  out += "ok: " + std::to_string(s.ok) + "\n";
  out += "exceptions: " + std::to_string(s.exceptions) + "\n";
  out += "protocol errors: " + std::to_string(s.protocolErrors) + "\n";
  out += "time-outs: " + std::to_string(s.timeouts) + "\n";
  out += "connection failures: " + std::to_string(s.connectionErrors) + "\n";
  if (s.timed == 0) return out + "response ms: -\n";
  return out + "response ms: min " + std::to_string(s.minMs) + ", avg " + MeanText(s) + ", max " +
         std::to_string(s.maxMs) + ", last " + std::to_string(s.lastMs) + "\n";
}

std::string StatsJson(const RunStats& s) {
  std::string out = "{\"statistics\":{\"transactions\":" + std::to_string(s.transactions) +
                    ",\"ok\":" + std::to_string(s.ok) + ",\"exceptions\":" + std::to_string(s.exceptions) +
                    ",\"protocol_errors\":" + std::to_string(s.protocolErrors) +
                    ",\"timeouts\":" + std::to_string(s.timeouts) +
                    ",\"connection_failures\":" + std::to_string(s.connectionErrors) + ",\"response_ms\":";
  if (s.timed == 0) return out + "null}}\n";
  return out + "{\"min\":" + std::to_string(s.minMs) + ",\"avg\":" + MeanText(s) +
         ",\"max\":" + std::to_string(s.maxMs) + ",\"last\":" + std::to_string(s.lastMs) + "}}}\n";
}

}  // namespace cli
