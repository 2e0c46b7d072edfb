#pragma once
// The writers of vesktarvelo-cli: pure functions from transaction records to
// text. Each returns complete lines ending in "\n" (or nothing); the caller
// chooses the stream.
//
// Where the text goes (PlanOutput): the value lines, JSON objects and CSV rows
// on standard output; error lines on standard error. The traffic rows
// (--verbose) on standard output in the default format, on standard error
// with --csv or --json, so that standard output stays one format. The summary
// (--stats): text on standard output, the last JSON line with --json, text on
// standard error with --csv.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/record.h"

namespace cli {

// How addresses are written: as the window's response view does (five
// decimal digits, or "0x" and four hexadecimal digits when the address was
// typed in hexadecimal), counted from 1, or as reference numbers.
struct AddressStyle {
  AddressNotation notation = AddressNotation::Protocol;
  bool hex = false;
  int table = -1;          // reference notation: the leading digit 0, 1, 3 or 4; -1 none
  bool sixDigits = false;  // reference notation: the 400001 form
};
AddressStyle AddressStyleOf(const CliOptions& options);
// 20 -> "00020", "0x0014"; from one "00021"; reference (table 4) "40021" or
// "400021". A reference number past the 5-digit form's 9999 takes the
// 6-digit form.
std::string AddressText(uint32_t address, const AddressStyle& style);

// The default output: one "ADDRESS: VALUE" line per value (the label instead
// of the address for labelled values). Nothing for a record without values.
std::string ValueLines(const TransactionRecord& record, const AddressStyle& style);

// The lines for standard error: one per problem of the record, e.g.
// "vesktarvelo-cli: slave 1, function 3: Modbus exception: Illegal Data Address (Code 2)".
// Nothing for an Ok record.
std::string ErrorLines(const TransactionRecord& record);

// The traffic rows as the window logs them: time stamp, "Request  -->" or
// "Response <--" and the bytes (16 a row, continuation rows indented under
// the first byte), then one row per fault, exception or communication error.
// With `color`, error rows are red and the painted bytes of the answer stand
// out in bold white on red; without it, a row of "^^" under the hex digits
// marks the painted bytes.
std::string TrafficRows(const TransactionRecord& record, bool color);

// A row of a link event for the traffic (e.g. "Connected to 127.0.0.1:502",
// or an error row "Communication Error: Connection refused (Code 0)"): the
// time stamp and the text, red when it is an error and colour is on.
std::string EventRow(const LocalTime& time, const std::string& text, bool isError, bool color);

// One JSON object on one line: time, slave, function, address, outcome,
// values (numbers, 0/1 for bits, strings where a value is not a number),
// texts, addresses, labels (only when the values have them), response_ms,
// exception (null or {"code", "text"}), faults ([{"message", "offset",
// "length"}]), error, request, response (hex text, bytes separated by
// blanks).
std::string JsonLine(const TransactionRecord& record);

// The CSV header row and one row per record, the same fields as the JSON
// object (labels last, empty when the values have none); lists are joined with ";" inside their field (a ";" or "\"
// inside an item preceded by "\"), faults written "OFFSET+LENGTH MESSAGE". Fields are quoted when they hold a comma, a
// quote, a line break or blanks at an end.
std::string CsvHeader();
std::string CsvRow(const TransactionRecord& record);

// The session summary of --stats.
struct RunStats {
  uint64_t transactions = 0;
  uint64_t ok = 0;
  uint64_t exceptions = 0;
  uint64_t protocolErrors = 0;
  uint64_t timeouts = 0;
  uint64_t connectionErrors = 0;
  // Response times of the good answers, in ms.
  uint64_t timed = 0;
  int64_t lastMs = 0;
  int64_t minMs = 0;
  int64_t maxMs = 0;
  int64_t totalMs = 0;

  void Count(const TransactionRecord& record);
};
// "key: value" lines under a "--- statistics ---" head.
std::string StatsText(const RunStats& stats);
// {"statistics": {...}} on one line.
std::string StatsJson(const RunStats& stats);

// Whether to colour: always, never, or (auto) when the stream is a terminal,
// NO_COLOR is not set and TERM is not "dumb".
bool UseColor(ColorChoice choice, bool streamIsTerminal, bool noColorSet, bool dumbTerminal);

// Where a run's text goes and whether the traffic rows are coloured, from
// the options and what the streams are (isatty and the environment, passed in).
struct OutputPlan {
  bool trafficToStderr = false;  // --verbose rows
  bool statsToStderr = false;    // --stats summary
  bool statsAsJson = false;      // the summary as one JSON object
  bool color = false;            // colour the traffic rows
};
OutputPlan PlanOutput(const CliOptions& options, bool stdoutIsTerminal, bool stderrIsTerminal, bool noColorSet,
                      bool dumbTerminal);

// Text as a JSON string literal, quotes included. Here and in CsvField a
// byte that is not part of well-formed UTF-8 becomes U+FFFD.
std::string JsonString(const std::string& text);
// A CSV field, quoted when it needs to be.
std::string CsvField(const std::string& text);
// The bytes as upper-case hex pairs separated by blanks.
std::string HexText(const std::vector<uint8_t>& bytes);

}  // namespace cli
