#pragma once
// Shared by the option parser's files: the options as given, and the
// conversions they share. Not part of the library's interface.
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.h"

namespace cli::detail {

inline constexpr std::string_view kProgram = "vesktarvelo-cli";

std::string Lower(std::string_view t);
// "vesktarvelo-cli: <text>".
std::string Fail(std::string_view text);
// "vesktarvelo-cli: invalid --<option> '<value>': <reason>".
std::string Invalid(std::string_view option, std::string_view value, std::string_view reason);

struct AddressValue {
  uint16_t address = 0;
  bool hex = false;
  int table = -1;  // reference notation: 0, 1, 3 or 4
  bool sixDigits = false;
};
// An address typed in the chosen notation, or nothing and the reason.
std::optional<AddressValue> ParseAddress(std::string_view text, AddressNotation notation, std::string& reason);

// The options as given, last one winning.
struct Given {
  std::map<std::string, std::string, std::less<>> values;
  bool Has(std::string_view name) const { return values.find(name) != values.end(); }
  const std::string& Get(std::string_view name) const { return values.find(name)->second; }
};

struct Converter {
  const Given& given;
  CliOptions& o;
  std::string error;

  bool Number(std::string_view name, uint32_t min, uint32_t max, std::string_view reason, uint32_t& out) {
    if (!given.Has(name)) return true;
    const std::string& text = given.Get(name);
    const auto v = ParseUnsigned(text, max);
    if (!v || *v < min) {
      error = Invalid(name, text, reason);
      return false;
    }
    out = *v;
    return true;
  }
  bool NotWith(std::string_view name, std::string_view why) {
    if (!given.Has(name)) return true;
    error = Fail("--" + std::string(name) + " " + std::string(why));
    return false;
  }
};

// The request options (function, addresses, quantities, values, masks,
// device identification); false with c.error set on the first bad one.
bool ConvertRequest(Converter& c);

}  // namespace cli::detail
