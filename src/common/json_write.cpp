// The JSON writer: values as indented text, strings escaped, numbers in
// their shortest exact form.
#include <charconv>
#include <cmath>

#include "common/json.h"
#include "common/utf8.h"

namespace json {

namespace {

using utf8::AppendUtf8;
using utf8::DecodeUtf8;

void WriteString(std::string& out, std::string_view s) {
  out += '"';
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\b':
        out += "\\b";
        ++i;
        continue;
      case '\f':
        out += "\\f";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      default:
        break;
    }
    if (c < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
      ++i;
      continue;
    }
    const size_t start = i;
    if (DecodeUtf8(s, i)) {
      out.append(s.substr(start, i - start));
    } else {
      AppendUtf8(out, 0xFFFD);
      ++i;
    }
  }
  out += '"';
}

void WriteNumber(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char buf[64];
  std::to_chars_result r;
  if (v == std::floor(v) && std::fabs(v) <= 9007199254740992.0) {
    r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v));
  } else {
    r = std::to_chars(buf, buf + sizeof buf, v);
  }
  out.append(buf, r.ptr);
}

void WriteValue(std::string& out, const Value& v, size_t indent) {
  const std::string pad(2 * (indent + 1), ' ');
  const std::string close(2 * indent, ' ');
  switch (v.type()) {
    case Value::Type::Null:
      out += "null";
      return;
    case Value::Type::Bool:
      out += v.AsBool() ? "true" : "false";
      return;
    case Value::Type::Number:
      if (!v.BeyondRangeText().empty()) {
        out += v.BeyondRangeText();  // as read: it reads back the same
        return;
      }
      WriteNumber(out, v.AsNumber());
      return;
    case Value::Type::String:
      WriteString(out, v.AsString());
      return;
    case Value::Type::Array: {
      if (v.AsArray().empty()) {
        out += "[]";
        return;
      }
      out += "[\n";
      bool first = true;
      for (const Value& e : v.AsArray()) {
        out += first ? "" : ",\n";
        first = false;
        out += pad;
        WriteValue(out, e, indent + 1);
      }
      out += "\n" + close + "]";
      return;
    }
    case Value::Type::Object: {
      if (v.AsObject().empty()) {
        out += "{}";
        return;
      }
      out += "{\n";
      bool first = true;
      for (const auto& [key, member] : v.AsObject()) {
        out += first ? "" : ",\n";
        first = false;
        out += pad;
        WriteString(out, key);
        out += ": ";
        WriteValue(out, member, indent + 1);
      }
      out += "\n" + close + "}";
      return;
    }
  }
}

}  // namespace

std::string Write(const Value& v) {
  std::string out;
  WriteValue(out, v, 0);
  out += '\n';
  return out;
}

}  // namespace json
