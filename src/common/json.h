#pragma once
// A small, strict JSON reader and writer for the program's own files.
//
// Reading follows the JSON grammar exactly: no comments, no trailing commas,
// no leading zeros, no bare control characters in strings, valid UTF-8 only,
// \u escapes with surrogate pairs joined and lone surrogates refused, and no
// key twice in one object. Hostile input is bounded: the size of the text,
// the nesting depth and the number of values are limited, and nothing
// recurses deeper than the depth limit. Numbers are doubles. A number too
// large for one is still read, as infinity of its sign, and keeps its text, so
// that a reader can refuse that one value while taking the rest; one too small
// reads as zero. Nothing throws.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace json {

class Value {
 public:
  enum class Type { Null, Bool, Number, String, Array, Object };
  using Array = std::vector<Value>;
  using Member = std::pair<std::string, Value>;
  using Object = std::vector<Member>;  // in document order, keys unique

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : type_(Type::Bool), bool_(b) {}
  Value(double n) : type_(Type::Number), number_(n) {}
  Value(int n) : type_(Type::Number), number_(n) {}
  Value(int64_t n) : type_(Type::Number), number_(static_cast<double>(n)) {}
  Value(std::string s) : type_(Type::String), string_(std::move(s)) {}
  Value(const char* s) : type_(Type::String), string_(s) {}
  Value(Array a) : type_(Type::Array), array_(std::move(a)) {}
  Value(Object o) : type_(Type::Object), object_(std::move(o)) {}

  Type type() const { return type_; }
  bool IsNull() const { return type_ == Type::Null; }
  bool IsBool() const { return type_ == Type::Bool; }
  bool IsNumber() const { return type_ == Type::Number; }
  bool IsString() const { return type_ == Type::String; }
  bool IsArray() const { return type_ == Type::Array; }
  bool IsObject() const { return type_ == Type::Object; }

  // A number too large for a double, read from `text`: it counts as infinity
  // of its sign and is written back as `text`.
  static Value BeyondRange(std::string text);

  // The contents; a default (false, 0, empty) for another type.
  bool AsBool() const { return type_ == Type::Bool && bool_; }
  double AsNumber() const { return type_ == Type::Number ? number_ : 0; }
  const std::string& AsString() const { return type_ == Type::String ? string_ : NoText(); }
  // The text of a number read beyond a double's range; empty otherwise.
  const std::string& BeyondRangeText() const { return type_ == Type::Number ? string_ : NoText(); }
  const Array& AsArray() const { return array_; }
  const Object& AsObject() const { return object_; }

  // The number when it is a whole number within lo..hi; nothing otherwise.
  std::optional<int64_t> AsInteger(int64_t lo, int64_t hi) const;
  // The member of an object with this key; nullptr when absent or not an
  // object.
  const Value* Find(std::string_view key) const;

  // Building: appends a member (an object) or an element (an array); the
  // value becomes an object or array first when it is null.
  Value& Set(std::string key, Value v);
  Value& Push(Value v);

  bool operator==(const Value&) const = default;

 private:
  static const std::string& NoText();

  Type type_ = Type::Null;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  Array array_;
  Object object_;
};

struct Limits {
  size_t maxBytes = 1 << 20;
  size_t maxDepth = 64;
  size_t maxValues = 100'000;
};

struct ParseResult {
  std::optional<Value> value;
  // When nothing was read: what is wrong and where ("expected ':' after an
  // object key", line and column counted from 1, columns in bytes).
  std::string error;
  size_t line = 0;
  size_t column = 0;
};

ParseResult Parse(std::string_view text, const Limits& limits = {});

// The value as JSON text, indented by two blanks per level, ending in a line
// feed. Whole numbers up to 2^53 are written without a fraction, others in
// the shortest form that reads back to the same double, a number read beyond
// a double's range as its text; NaN and other infinities, which JSON cannot
// hold, as null. Bytes of strings that are not
// valid UTF-8 are written as U+FFFD, so the output always reads back.
std::string Write(const Value& v);

}  // namespace json
