#include "common/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "common/utf8.h"

namespace json {

namespace {

using utf8::AppendUtf8;
using utf8::DecodeUtf8;

class Parser {
 public:
  Parser(std::string_view text, const Limits& limits) : t_(text), limits_(limits) {}

  ParseResult Run() {
    ParseResult r;
    if (t_.size() > limits_.maxBytes) {
      r.error = "the text is longer than " + std::to_string(limits_.maxBytes) + " bytes";
      r.line = r.column = 1;
      return r;
    }
    // A byte order mark is not JSON; say so rather than "unexpected character".
    if (t_.substr(0, 3) == "\xEF\xBB\xBF") return Fail("a byte order mark is not allowed");
    Value v;
    SkipBlanks();
    if (!ParseValue(v, 0)) return Result();
    SkipBlanks();
    if (p_ != t_.size()) return Fail("unexpected text after the value");
    r.value = std::move(v);
    return r;
  }

 private:
  ParseResult Result() const {
    ParseResult r;
    r.error = error_;
    r.line = 1;
    size_t lineStart = 0;
    for (size_t k = 0; k < errorAt_ && k < t_.size(); ++k) {
      if (t_[k] == '\n') {
        ++r.line;
        lineStart = k + 1;
      }
    }
    r.column = errorAt_ - lineStart + 1;
    return r;
  }
  // Records the first error; parsing then unwinds.
  ParseResult Fail(std::string message) {
    if (error_.empty()) {
      error_ = std::move(message);
      errorAt_ = p_;
    }
    return Result();
  }
  bool Error(std::string message) {
    Fail(std::move(message));
    return false;
  }

  bool AtEnd() const { return p_ >= t_.size(); }
  char Peek() const { return AtEnd() ? '\0' : t_[p_]; }
  void SkipBlanks() {
    while (!AtEnd() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\n' || t_[p_] == '\r')) ++p_;
  }
  bool Literal(std::string_view word) {
    if (t_.substr(p_, word.size()) != word) return Error("unexpected character");
    p_ += word.size();
    return true;
  }

  bool ParseValue(Value& out, size_t depth) {
    if (++values_ > limits_.maxValues) return Error("more than " + std::to_string(limits_.maxValues) + " values");
    if (AtEnd()) return Error("unexpected end of the text");
    switch (Peek()) {
      case '{':
        return ParseObject(out, depth + 1);
      case '[':
        return ParseArray(out, depth + 1);
      case '"': {
        std::string s;
        if (!ParseString(s)) return false;
        out = Value(std::move(s));
        return true;
      }
      case 't':
        return Literal("true") && (out = Value(true), true);
      case 'f':
        return Literal("false") && (out = Value(false), true);
      case 'n':
        return Literal("null") && (out = Value(), true);
      default:
        return ParseNumber(out);
    }
  }

  bool ParseObject(Value& out, size_t depth) {
    if (depth > limits_.maxDepth) return Error("nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
    ++p_;  // '{'
    Value::Object members;
    std::unordered_set<std::string> keys;
    SkipBlanks();
    if (Peek() == '}') {
      ++p_;
      out = Value(std::move(members));
      return true;
    }
    for (;;) {
      SkipBlanks();
      if (Peek() != '"') return Error(AtEnd() ? "unexpected end of the text" : "expected a string as object key");
      const size_t keyAt = p_;
      std::string key;
      if (!ParseString(key)) return false;
      if (!keys.insert(key).second) {
        p_ = keyAt;
        return Error("duplicate key \"" + key + "\"");
      }
      SkipBlanks();
      if (Peek() != ':') return Error("expected ':' after an object key");
      ++p_;
      SkipBlanks();
      Value v;
      if (!ParseValue(v, depth)) return false;
      members.emplace_back(std::move(key), std::move(v));
      SkipBlanks();
      if (Peek() == ',') {
        ++p_;
        continue;
      }
      if (Peek() == '}') {
        ++p_;
        out = Value(std::move(members));
        return true;
      }
      return Error(AtEnd() ? "unexpected end of the text" : "expected ',' or '}' in an object");
    }
  }

  bool ParseArray(Value& out, size_t depth) {
    if (depth > limits_.maxDepth) return Error("nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
    ++p_;  // '['
    Value::Array elements;
    SkipBlanks();
    if (Peek() == ']') {
      ++p_;
      out = Value(std::move(elements));
      return true;
    }
    for (;;) {
      SkipBlanks();
      Value v;
      if (!ParseValue(v, depth)) return false;
      elements.push_back(std::move(v));
      SkipBlanks();
      if (Peek() == ',') {
        ++p_;
        continue;
      }
      if (Peek() == ']') {
        ++p_;
        out = Value(std::move(elements));
        return true;
      }
      return Error(AtEnd() ? "unexpected end of the text" : "expected ',' or ']' in an array");
    }
  }

  std::optional<unsigned> Hex4() {
    if (p_ + 4 > t_.size()) return std::nullopt;
    unsigned v = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = t_[p_ + k];
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        v |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    p_ += 4;
    return v;
  }

  bool ParseString(std::string& out) {
    ++p_;  // '"'
    for (;;) {
      if (AtEnd()) return Error("unterminated string");
      const unsigned char c = static_cast<unsigned char>(t_[p_]);
      if (c == '"') {
        ++p_;
        return true;
      }
      if (c < 0x20) return Error("control character in a string");
      if (c == '\\') {
        ++p_;
        if (AtEnd()) return Error("unterminated string");
        const char e = t_[p_++];
        switch (e) {
          case '"':
            out += '"';
            break;
          case '\\':
            out += '\\';
            break;
          case '/':
            out += '/';
            break;
          case 'b':
            out += '\b';
            break;
          case 'f':
            out += '\f';
            break;
          case 'n':
            out += '\n';
            break;
          case 'r':
            out += '\r';
            break;
          case 't':
            out += '\t';
            break;
          case 'u': {
            const size_t at = p_ - 2;
            std::optional<unsigned> u = Hex4();
            if (!u) return Error("\\u needs four hexadecimal digits");
            char32_t cp = *u;
            if (cp >= 0xDC00 && cp <= 0xDFFF) {
              p_ = at;
              return Error("lone low surrogate in a \\u escape");
            }
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              std::optional<unsigned> low;
              if (t_.substr(p_, 2) == "\\u") {
                p_ += 2;
                low = Hex4();
              }
              if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                p_ = at;
                return Error("high surrogate without a low one in a \\u escape");
              }
              cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
            }
            AppendUtf8(out, cp);
            break;
          }
          default:
            p_ -= 2;
            return Error("unknown escape in a string");
        }
        continue;
      }
      const size_t start = p_;
      if (!DecodeUtf8(t_, p_)) return Error("invalid UTF-8 in a string");
      out.append(t_.substr(start, p_ - start));
    }
  }

  bool ParseNumber(Value& out) {
    const size_t start = p_;
    auto digits = [&] {
      const size_t from = p_;
      while (!AtEnd() && t_[p_] >= '0' && t_[p_] <= '9') ++p_;
      return p_ - from;
    };
    if (Peek() == '-') ++p_;
    if (Peek() == '0') {
      ++p_;
      if (Peek() >= '0' && Peek() <= '9') return Error("leading zero in a number");
    } else if (digits() == 0) {
      if (AtEnd()) return Error("unexpected end of the text");
      p_ = start;
      return Error("unexpected character");
    }
    if (Peek() == '.') {
      ++p_;
      if (digits() == 0) return Error("digits expected after '.'");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++p_;
      if (Peek() == '+' || Peek() == '-') ++p_;
      if (digits() == 0) return Error("digits expected in the exponent");
    }
    double v = 0;
    const char* first = t_.data() + start;
    const char* last = t_.data() + p_;
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec == std::errc::result_out_of_range || !std::isfinite(v)) {
      // Valid JSON all the same: a value too large is kept with its text for
      // the reader to refuse (one bad field must not cost the whole file), a
      // value too small is zero.
      const std::string_view text = t_.substr(start, p_ - start);
      out = DecimalOrder(text) > 0 ? Value::BeyondRange(std::string(text)) : Value(text[0] == '-' ? -0.0 : 0.0);
      return true;
    }
    if (ptr != last) {
      p_ = start;
      return Error("number out of range");
    }
    out = Value(v);
    return true;
  }

  // The decimal order of magnitude of a number's text, enough to tell a
  // number too large for a double from one too small: the digits before the
  // point (leading zeros not counted), less the zeros after it before its
  // first other digit, plus the exponent. Saturates far beyond a double's
  // range.
  static int64_t DecimalOrder(std::string_view text) {
    constexpr int64_t kFar = 1'000'000'000;
    size_t i = text[0] == '-' ? 1 : 0;
    while (i < text.size() && text[i] == '0') ++i;
    int64_t order = 0;
    bool significant = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, significant = true)
      order = std::min(order + 1, kFar);
    if (i < text.size() && text[i] == '.') {
      for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (text[i] != '0') significant = true;
        if (!significant) order = std::max(order - 1, -kFar);
      }
    }
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
      const bool negative = text[++i] == '-';
      if (text[i] == '-' || text[i] == '+') ++i;
      for (; i < text.size(); ++i) exponent = std::min(exponent * 10 + (text[i] - '0'), kFar);
      if (negative) exponent = -exponent;
    }
    return order + exponent;
  }

  std::string_view t_;
  const Limits& limits_;
  size_t p_ = 0;
  size_t values_ = 0;
  std::string error_;
  size_t errorAt_ = 0;
};

}  // namespace

std::optional<int64_t> Value::AsInteger(int64_t lo, int64_t hi) const {
  if (type_ != Type::Number || number_ != std::floor(number_)) return std::nullopt;
  // Beyond +/-2^63 the conversion below would be undefined.
  if (std::fabs(number_) >= 9223372036854775808.0) return std::nullopt;
  if (number_ < static_cast<double>(lo) || number_ > static_cast<double>(hi)) return std::nullopt;
  return static_cast<int64_t>(number_);
}

Value Value::BeyondRange(std::string text) {
  Value v(text.front() == '-' ? -HUGE_VAL : HUGE_VAL);
  v.string_ = std::move(text);
  return v;
}

const std::string& Value::NoText() {
  static const std::string empty;
  return empty;
}

const Value* Value::Find(std::string_view key) const {
  if (type_ != Type::Object) return nullptr;
  for (const Member& m : object_) {
    if (m.first == key) return &m.second;
  }
  return nullptr;
}

Value& Value::Set(std::string key, Value v) {
  if (type_ == Type::Null) type_ = Type::Object;
  object_.emplace_back(std::move(key), std::move(v));
  return *this;
}

Value& Value::Push(Value v) {
  if (type_ == Type::Null) type_ = Type::Array;
  array_.push_back(std::move(v));
  return *this;
}

ParseResult Parse(std::string_view text, const Limits& limits) { return Parser(text, limits).Run(); }

}  // namespace json
