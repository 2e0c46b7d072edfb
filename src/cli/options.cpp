#include "cli/options.h"

#include <array>
#include <map>

#include "cli/option_parsing.h"
#include "common/version.h"

namespace cli {
namespace {

using detail::Converter;
using detail::Fail;
using detail::Given;
using detail::Invalid;
using detail::Lower;

enum class Arg { None, Required, Optional };

struct OptionDef {
  std::string_view name;  // without "--"
  char shortName;         // 0: none
  Arg arg;
};

constexpr std::array<OptionDef, 37> kOptions = {{
    {"mode", 'm', Arg::Required},
    {"host", 'H', Arg::Required},
    {"port", 'p', Arg::Required},
    {"device", 'd', Arg::Required},
    {"baud", 'b', Arg::Required},
    {"parity", 0, Arg::Required},
    {"data-bits", 0, Arg::Required},
    {"stop-bits", 0, Arg::Required},
    {"slave", 's', Arg::Required},
    {"function", 'f', Arg::Required},
    {"address", 'a', Arg::Required},
    {"quantity", 'q', Arg::Required},
    {"values", 'w', Arg::Required},
    {"type", 't', Arg::Required},
    {"timeout", 'o', Arg::Required},
    {"polls", 'n', Arg::Required},
    {"interval", 'i', Arg::Required},
    {"raw", 'r', Arg::Required},
    {"verbose", 'v', Arg::None},
    {"color", 0, Arg::Optional},
    {"colour", 0, Arg::Optional},
    {"csv", 'c', Arg::None},
    {"json", 'j', Arg::None},
    {"stats", 'S', Arg::None},
    {"help", 'h', Arg::None},
    {"version", 'V', Arg::None},
    {"and-mask", 0, Arg::Required},
    {"or-mask", 0, Arg::Required},
    {"write-address", 0, Arg::Required},
    {"read-code", 0, Arg::Required},
    {"object-id", 0, Arg::Required},
    {"addresses", 0, Arg::Required},
    {"unit", 'u', Arg::Required},
    {"baudrate", 0, Arg::Required},
    {"count", 0, Arg::Required},
    {"no-color", 0, Arg::None},
    {"json-lines", 0, Arg::None},
}};

// Aliases users reach for, mapped onto the canonical names above.
std::string_view Canonical(std::string_view name) {
  if (name == "unit") return "slave";
  if (name == "baudrate") return "baud";
  if (name == "count") return "polls";
  if (name == "colour") return "color";
  if (name == "json-lines") return "json";
  return name;
}

const OptionDef* FindLong(std::string_view name) {
  for (const OptionDef& o : kOptions)
    if (o.name == name) return &o;
  return nullptr;
}

const OptionDef* FindShort(char c) {
  for (const OptionDef& o : kOptions)
    if (o.shortName == c) return &o;
  return nullptr;
}

// Bytes typed as hexadecimal: groups separated by blanks, commas or colons,
// each an optional "0x" and one digit or an even number of digits.
std::optional<std::vector<uint8_t>> ParseRawBytes(std::string_view text) {
  std::vector<uint8_t> bytes;
  size_t i = 0;
  auto isSep = [](char c) { return c == ' ' || c == ',' || c == ':' || c == '\t'; };
  auto hexValue = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  while (i < text.size()) {
    if (isSep(text[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && !isSep(text[end])) ++end;
    std::string_view group = text.substr(i, end - i);
    if (group.size() > 2 && group[0] == '0' && (group[1] == 'x' || group[1] == 'X')) group.remove_prefix(2);
    if (group.size() > 1 && group.size() % 2 != 0) return std::nullopt;
    for (char c : group)
      if (hexValue(c) < 0) return std::nullopt;
    if (group.size() == 1) {
      bytes.push_back(static_cast<uint8_t>(hexValue(group[0])));
    } else {
      for (size_t k = 0; k < group.size(); k += 2)
        bytes.push_back(static_cast<uint8_t>(hexValue(group[k]) * 16 + hexValue(group[k + 1])));
    }
    i = end;
  }
  if (bytes.empty() || bytes.size() > 65536) return std::nullopt;
  return bytes;
}

bool ConvertLink(Converter& c) {
  const Given& g = c.given;
  CliOptions& o = c.o;
  if (g.Has("mode")) {
    const std::string m = Lower(g.Get("mode"));
    if (m == "tcp")
      o.mode = LinkMode::Tcp;
    else if (m == "rtu")
      o.mode = LinkMode::Rtu;
    else if (m == "rtu-over-tcp")
      o.mode = LinkMode::RtuOverTcp;
    else if (m == "ascii")
      o.mode = LinkMode::Ascii;
    else if (m == "ascii-over-tcp")
      o.mode = LinkMode::AsciiOverTcp;
    else {
      c.error = Invalid("mode", g.Get("mode"), "the modes are tcp, rtu, rtu-over-tcp, ascii and ascii-over-tcp");
      return false;
    }
  }
  if (g.Has("host")) o.host = g.Get("host");
  if (g.Has("device")) o.device = g.Get("device");
  if (g.Has("host") && (o.host.empty() || o.host.find_first_of(" \t") != std::string::npos)) {
    c.error = Invalid("host", o.host, "a host is a name or an IP address without blanks");
    return false;
  }
  if (g.Has("device") && o.device.empty()) {
    c.error = Invalid("device", o.device, "a device is the path of a serial port, e.g. /dev/ttyUSB0");
    return false;
  }
  const std::string modeName = g.Has("mode") ? Lower(g.Get("mode")) : "tcp";
  const bool serial = UsesSerialPort(o);
  if (o.mode == LinkMode::Ascii && g.Has("host") && g.Has("device")) {
    c.error = Fail("--host and --device cannot be used together: ASCII goes over one of them");
    return false;
  }
  if (serial) {
    if (o.device.empty()) {
      c.error = Fail("--device is needed for --mode " + modeName + " (the serial port, e.g. /dev/ttyUSB0)");
      return false;
    }
    if (!c.NotWith("host", "does not apply to a serial port")) return false;
    if (!c.NotWith("port", "does not apply to a serial port")) return false;
  } else {
    if (o.host.empty()) {
      c.error = Fail(o.mode == LinkMode::Ascii ? "--device or --host is needed for --mode ascii"
                                               : "--host is needed for --mode " + modeName);
      return false;
    }
    for (std::string_view s : {"device", "baud", "parity", "data-bits", "stop-bits"})
      if (!c.NotWith(s, "applies to a serial port, not to --mode " + modeName)) return false;
  }
  uint32_t v = o.port;
  if (!c.Number("port", 1, 65535, "a port is 1 to 65535", v)) return false;
  o.port = static_cast<uint16_t>(v);
  if (!c.Number("baud", 50, 4000000, "a baud rate is 50 to 4000000", o.baud)) return false;
  if (g.Has("parity")) {
    const std::string p = Lower(g.Get("parity"));
    if (p == "none" || p == "n")
      o.parity = Parity::None;
    else if (p == "even" || p == "e")
      o.parity = Parity::Even;
    else if (p == "odd" || p == "o")
      o.parity = Parity::Odd;
    else {
      c.error = Invalid("parity", g.Get("parity"), "the parities are none, even and odd");
      return false;
    }
  }
  if (g.Has("data-bits")) {
    const std::string& d = g.Get("data-bits");
    if (d != "7" && d != "8") {
      c.error = Invalid("data-bits", d, "the data bits are 7 or 8");
      return false;
    }
    o.dataBits = d[0] - '0';
    // An RTU byte is eight bits: seven would lose every byte's top bit.
    if (o.dataBits == 7 && o.mode == LinkMode::Rtu) {
      c.error = Invalid("data-bits", d, "RTU needs 8 data bits (7 is for --mode ascii)");
      return false;
    }
  }
  if (g.Has("stop-bits")) {
    const std::string& s = g.Get("stop-bits");
    if (s != "1" && s != "2") {
      c.error = Invalid("stop-bits", s, "the stop bits are 1 or 2");
      return false;
    }
    o.stopBits = s[0] - '0';
  }
  return true;
}

bool ConvertRun(Converter& c) {
  const Given& g = c.given;
  CliOptions& o = c.o;
  // The link's timers take at most 65535 ms; a longer time-out would never fire.
  if (!c.Number("timeout", 1, 65535, "a time-out is 1 to 65535 ms", o.timeoutMs)) return false;
  if (!c.Number("polls", 0, 4294967295u, "polls are 0 (until interrupted) to 4294967295", o.polls)) return false;
  if (!c.Number("interval", 0, 86400000, "an interval is 0 to 86400000 ms", o.intervalMs)) return false;
  if (g.Has("color")) {
    const std::string v = Lower(g.Get("color"));
    if (v == "auto")
      o.color = ColorChoice::Auto;
    else if (v == "always" || v.empty())
      o.color = ColorChoice::Always;
    else if (v == "never")
      o.color = ColorChoice::Never;
    else {
      c.error = Invalid("color", g.Get("color"), "the choices are auto, always and never");
      return false;
    }
  }
  if (g.Has("no-color")) o.color = ColorChoice::Never;
  if (g.Has("csv") && g.Has("json")) {
    c.error = Fail("--csv and --json cannot be used together");
    return false;
  }
  if (g.Has("csv")) o.output = OutputFormat::Csv;
  if (g.Has("json")) o.output = OutputFormat::Json;
  o.verbose = g.Has("verbose");
  o.stats = g.Has("stats");
  if (g.Has("addresses")) {
    const std::string v = Lower(g.Get("addresses"));
    if (v == "protocol")
      o.addresses = AddressNotation::Protocol;
    else if (v == "one")
      o.addresses = AddressNotation::FromOne;
    else if (v == "reference")
      o.addresses = AddressNotation::Reference;
    else {
      c.error = Invalid("addresses", g.Get("addresses"), "the notations are protocol, one and reference");
      return false;
    }
  }
  return true;
}

bool ConvertRaw(Converter& c) {
  const Given& g = c.given;
  for (std::string_view s : {"function", "slave", "address", "quantity", "values", "and-mask", "or-mask",
                             "write-address", "read-code", "object-id"})
    if (!c.NotWith(s, "does not apply to --raw (the bytes are sent as typed)")) return false;
  const auto bytes = ParseRawBytes(g.Get("raw"));
  if (!bytes) {
    c.error =
        Invalid("raw", g.Get("raw"), "bytes are hexadecimal pairs separated by blanks, e.g. \"01 03 00 00 00 0A\"");
    return false;
  }
  c.o.raw = *bytes;
  c.o.rawGiven = true;
  // The answer is reported and read as the request's own bytes ask: its
  // slave and function, and the start address and quantity of a read
  // (behind the MBAP header in TCP; in ASCII framing the bytes typed are the
  // binary frame). The addresses are shown in hexadecimal, as the window
  // shows those of a raw request.
  const std::vector<uint8_t>& raw = c.o.raw;
  const size_t at = c.o.mode == LinkMode::Tcp ? 6 : 0;
  if (raw.size() > at + 1) {
    c.o.slave = raw[at];
    c.o.function = raw[at + 1];
  }
  if (raw.size() > at + 5) {
    c.o.address = static_cast<uint16_t>(raw[at + 2] << 8 | raw[at + 3]);
    c.o.quantity = static_cast<uint16_t>(raw[at + 4] << 8 | raw[at + 5]);
  }
  c.o.hexAddresses = true;
  if (g.Has("type")) {
    const auto t = ValueTypeOfName(g.Get("type"));
    if (!t) {
      c.error = Invalid("type", g.Get("type"), "not a known type (INT16, UINT16, FLOAT_ABCD, ... see --help)");
      return false;
    }
    c.o.type = *t;
    c.o.typeGiven = true;
  }
  return true;
}

}  // namespace

bool IsWriteOnlyFunction(int function) {
  return function == 5 || function == 6 || function == 15 || function == 16 || function == 22;
}

bool UsesSerialPort(const CliOptions& options) {
  return options.mode == LinkMode::Rtu || (options.mode == LinkMode::Ascii && !options.device.empty());
}

CliParse ParseCliOptions(const std::vector<std::string>& args) {
  CliParse result;
  auto usage = [&result](std::string line) {
    result.action = CliAction::UsageError;
    result.error = std::move(line);
    return result;
  };
  Given given;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const OptionDef* def = nullptr;
    std::optional<std::string> value;
    std::string shown;  // the option as typed, for messages
    if (arg == "--") {
      if (i + 1 < args.size()) return usage(Fail("unexpected argument '" + args[i + 1] + "'"));
      break;
    }
    if (arg.size() > 2 && arg[0] == '-' && arg[1] == '-') {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      def = FindLong(name);
      shown = "--" + name;
      if (eq != std::string::npos) value = arg.substr(eq + 1);
    } else if (arg.size() >= 2 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9')) {
      def = FindShort(arg[1]);
      shown = arg.substr(0, 2);
      if (def && arg.size() > 2) {
        if (def->arg == Arg::None) return usage(Fail("option " + shown + " takes no value"));
        value = arg.substr(2);
      }
    } else {
      return usage(Fail("unexpected argument '" + arg + "'"));
    }
    if (!def) return usage(Fail("unknown option '" + shown + "' (see --help)"));
    if (def->arg == Arg::None && value) return usage(Fail("option " + shown + " takes no value"));
    if (def->arg == Arg::Required && !value) {
      if (i + 1 >= args.size()) return usage(Fail("option " + shown + " needs a value"));
      value = args[++i];
    }
    const std::string_view name = Canonical(def->name);
    if (name == "help") {
      result.action = CliAction::Help;
      return result;
    }
    if (name == "version") {
      result.action = CliAction::Version;
      return result;
    }
    given.values[std::string(name)] = value.value_or("");
  }

  Converter c{given, result.options, {}};
  if (!ConvertLink(c) || !ConvertRun(c)) return usage(c.error);
  const bool ok = given.Has("raw") ? ConvertRaw(c) : detail::ConvertRequest(c);
  if (!ok) return usage(c.error);
  return result;
}

std::vector<std::string_view> CliLongOptionNames() {
  std::vector<std::string_view> names;
  for (const OptionDef& o : kOptions) names.push_back(o.name);
  return names;
}

std::string CliVersion() { return "vesktarvelo-cli " VESKTARVELO_VERSION_TEXT "\n"; }

}  // namespace cli
