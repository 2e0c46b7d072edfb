#include "cli/output.h"

#include <algorithm>

#include "common/module1.h"

namespace cli {
namespace {

constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kPaint = "\x1b[1;37;41m";  // bold white on red
constexpr std::string_view kReset = "\x1b[0m";

// 22 (time stamp) + 2 blanks + 13 ("Response <-- "): where the first byte's
// digits start, so continuation rows line up under it.
constexpr size_t kHexColumn = 37;
constexpr size_t kBytesPerRow = 16;

std::string Hex2(uint8_t b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[b >> 4], kDigits[b & 15]};
}

std::string Stamp(const LocalTime& t) { return FormatTimeStamp(t) + "  "; }

bool Painted(const std::vector<RecordFault>& faults, size_t index) {
  for (const RecordFault& f : faults) {
    if (f.length < 1 || f.offset < 0) continue;
    const size_t begin = static_cast<size_t>(f.offset);
    if (index >= begin && index - begin < static_cast<size_t>(f.length)) return true;
  }
  return false;
}

// "Request  --> " or "Response <-- " and the bytes; the painted ones marked.
std::string FrameRows(const LocalTime& time, std::string_view head, const std::vector<uint8_t>& bytes,
                      const std::vector<RecordFault>& faults, bool color) {
  std::string out = Stamp(time) + std::string(head);
  const std::string indent(kHexColumn, ' ');
  for (size_t row = 0; row * kBytesPerRow < bytes.size() || row == 0; ++row) {
    if (row > 0) out += indent;
    std::string marks;
    bool anyMark = false;
    const size_t end = std::min(bytes.size(), (row + 1) * kBytesPerRow);
    for (size_t i = row * kBytesPerRow; i < end; ++i) {
      const bool painted = Painted(faults, i);
      if (i > row * kBytesPerRow) {
        out += ' ';
        marks += ' ';
      }
      if (painted && color) {
        out += std::string(kPaint) + Hex2(bytes[i]) + std::string(kReset);
      } else {
        out += Hex2(bytes[i]);
      }
      marks += painted ? "^^" : "  ";
      anyMark = anyMark || painted;
    }
    out += '\n';
    if (anyMark && !color) {
      while (!marks.empty() && marks.back() == ' ') marks.pop_back();
      out += indent + marks + "\n";
    }
    if (bytes.empty()) break;
  }
  return out;
}

std::string ErrorRow(const LocalTime& time, const std::string& text, bool color) {
  if (!color) return Stamp(time) + text + "\n";
  return Stamp(time) + std::string(kRed) + text + std::string(kReset) + "\n";
}

std::string ExceptionMessage(const RecordException& e) {
  return (e.text.empty() ? std::string("Unknown exception") : e.text) + " (Code " + std::to_string(e.code) + ")";
}

}  // namespace

AddressStyle AddressStyleOf(const CliOptions& options) {
  AddressStyle style;
  style.notation = options.addresses;
  style.hex = options.hexAddresses;
  style.table = ReferenceTable(options.function);
  style.sixDigits = options.sixDigitReference;
  return style;
}

std::string AddressText(uint32_t address, const AddressStyle& style) {
  switch (style.notation) {
    case AddressNotation::Protocol:
      return style.hex ? PadNumber(static_cast<int32_t>(address), 4, true)
                       : PadNumber(static_cast<int32_t>(address), 5, false);
    case AddressNotation::FromOne:
      // Register number 65536 (0x10000) takes a fifth hexadecimal digit.
      return style.hex ? PadNumber(static_cast<int32_t>(address + 1), address + 1 > 0xFFFF ? 5 : 4, true)
                       : PadNumber(static_cast<int32_t>(address + 1), 5, false);
    case AddressNotation::Reference: {
      if (style.table < 0) return PadNumber(static_cast<int32_t>(address), 5, false);
      const bool six = style.sixDigits || address + 1 > 9999;
      return std::to_string(style.table) + PadNumber(static_cast<int32_t>(address + 1), six ? 5 : 4, false);
    }
  }
  return {};
}

std::string ValueLines(const TransactionRecord& record, const AddressStyle& style) {
  AddressStyle used = style;
  // One listing, one reference form: the 6-digit form as soon as one value needs it.
  for (const RecordValue& v : record.values)
    if (v.address + 1 > 9999) used.sixDigits = true;
  std::string out;
  out.reserve(record.values.size() * 16);
  for (const RecordValue& v : record.values) {
    out += v.label.empty() ? AddressText(v.address, used) : v.label;
    out += ": ";
    out += v.text;
    out += '\n';
  }
  return out;
}

std::string ErrorLines(const TransactionRecord& record) {
  if (record.outcome == Outcome::Ok) return {};
  const std::string head =
      "vesktarvelo-cli: slave " + std::to_string(record.slave) + ", function " + std::to_string(record.function) + ": ";
  std::string out;
  switch (record.outcome) {
    case Outcome::Ok:
      break;
    case Outcome::Exception:
      out += head + "Modbus exception: " +
             (record.exception ? ExceptionMessage(*record.exception) : std::string("Unknown exception")) + "\n";
      break;
    case Outcome::ProtocolError:
      for (const RecordFault& f : record.faults) out += head + "protocol error: " + f.message + "\n";
      if (record.faults.empty()) out += head + "protocol error\n";
      break;
    case Outcome::Timeout:
      out += head + (record.error.empty() ? std::string("Request Timeout") : record.error) + "\n";
      break;
    case Outcome::ConnectionFailure:
      out += "vesktarvelo-cli: connection failure: " +
             (record.error.empty() ? std::string("the link could not be opened") : record.error) + "\n";
      break;
  }
  return out;
}

std::string TrafficRows(const TransactionRecord& record, bool color) {
  std::string out;
  if (!record.request.empty()) out += FrameRows(record.requestTime, "Request  --> ", record.request, {}, color);
  if (!record.response.empty()) {
    std::vector<RecordFault> painted = record.faults;
    if (record.exception) painted.push_back({"", record.exception->offset, record.exception->length});
    out += FrameRows(record.responseTime, "Response <-- ", record.response, painted, color);
  }
  if (record.exception)
    out += ErrorRow(record.responseTime, "Modbus Exception: " + ExceptionMessage(*record.exception), color);
  for (const RecordFault& f : record.faults)
    out += ErrorRow(record.responseTime, "Protocol Error: " + f.message, color);
  if (!record.error.empty()) out += ErrorRow(record.responseTime, "Communication Error: " + record.error, color);
  return out;
}

std::string EventRow(const LocalTime& time, const std::string& text, bool isError, bool color) {
  return isError ? ErrorRow(time, text, color) : Stamp(time) + text + "\n";
}

bool UseColor(ColorChoice choice, bool streamIsTerminal, bool noColorSet, bool dumbTerminal) {
  switch (choice) {
    case ColorChoice::Always:
      return true;
    case ColorChoice::Never:
      return false;
    case ColorChoice::Auto:
      return streamIsTerminal && !noColorSet && !dumbTerminal;
  }
  return false;
}

OutputPlan PlanOutput(const CliOptions& options, bool stdoutIsTerminal, bool stderrIsTerminal, bool noColorSet,
                      bool dumbTerminal) {
  OutputPlan plan;
  // CSV and JSON keep standard output to one format.
  plan.trafficToStderr = options.output != OutputFormat::Text;
  plan.statsToStderr = options.output == OutputFormat::Csv;
  plan.statsAsJson = options.output == OutputFormat::Json;
  const bool terminal = plan.trafficToStderr ? stderrIsTerminal : stdoutIsTerminal;
  plan.color = UseColor(options.color, terminal, noColorSet, dumbTerminal);
  return plan;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ' ';
    out += Hex2(bytes[i]);
  }
  return out;
}

}  // namespace cli
