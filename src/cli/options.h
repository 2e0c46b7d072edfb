#pragma once
// The command line of vesktarvelo-cli: what the user asked for, checked and
// converted before anything goes on the wire. Pure: no I/O, no toolkit.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/value_types.h"

namespace cli {

enum class LinkMode { Tcp, Rtu, RtuOverTcp, Ascii, AsciiOverTcp };
enum class Parity { None, Even, Odd };
enum class ColorChoice { Auto, Always, Never };
enum class AddressNotation { Protocol, FromOne, Reference };
enum class OutputFormat { Text, Csv, Json };

// Everything a run needs, with the defaults of an empty command line.
struct CliOptions {
  LinkMode mode = LinkMode::Tcp;
  // Network link (tcp, rtu-over-tcp, ascii-over-tcp, and ascii when no device
  // is given).
  std::string host;
  uint16_t port = 502;
  // Serial link (rtu, and ascii when a device is given).
  std::string device;
  uint32_t baud = 9600;
  Parity parity = Parity::None;
  int dataBits = 8;
  int stopBits = 1;

  uint8_t slave = 1;
  int function = 3;
  // Protocol addresses (what goes on the wire), whatever notation was typed.
  uint16_t address = 0;
  // Coils, inputs or registers (not values); for 23 the read block.
  uint16_t quantity = 1;
  // 23: the write block's start.
  uint16_t writeAddress = 0;
  ValueType type = ValueType::Int16;
  bool typeGiven = false;
  // What --values asked to write: coil states for 5 and 15, register words in
  // wire order for 6, 16, 23 and the data words of 8.
  std::vector<uint8_t> coils;
  std::vector<uint16_t> registers;
  // 22.
  uint16_t andMask = 0;
  uint16_t orMask = 0;
  // 43/14.
  int readCode = 1;
  uint8_t objectId = 0;
  // --raw: the bytes as typed; the engine frames them for the mode. Empty
  // when the request is built from the options above.
  // With them, the slave, function, address and quantity above are those the
  // bytes carry, so that the answer is reported and read as for a request
  // built from options.
  std::vector<uint8_t> raw;
  bool rawGiven = false;

  uint32_t timeoutMs = 1000;
  uint32_t polls = 1;  // 0: until interrupted
  uint32_t intervalMs = 1000;

  AddressNotation addresses = AddressNotation::Protocol;
  // The address was typed in hexadecimal ("0x10"): addresses are shown in
  // hexadecimal, as the window's response view does.
  bool hexAddresses = false;
  // The address was typed as a 6-digit reference number (400001 form).
  bool sixDigitReference = false;

  OutputFormat output = OutputFormat::Text;
  ColorChoice color = ColorChoice::Auto;
  bool verbose = false;
  bool stats = false;
};

enum class CliAction { Run, Help, Version, UsageError };

struct CliParse {
  CliAction action = CliAction::Run;
  CliOptions options;
  // For UsageError: one line, "vesktarvelo-cli: ..." without a line feed.
  std::string error;
};

// `args`: the arguments after the program name. --help and --version win over
// everything after them that is well formed; the first bad option or value
// ends the parse with UsageError.
CliParse ParseCliOptions(const std::vector<std::string>& args);

// The text of --help, ending with a line feed.
std::string CliUsage();
// "vesktarvelo-cli <version>\n".
std::string CliVersion();
// Every long option the parser knows, without "--" (aliases included).
std::vector<std::string_view> CliLongOptionNames();

// The exit status of a usage error.
inline constexpr int kExitUsage = 2;

// True for the function codes that only write (the ones that may be
// broadcast to slave 0).
bool IsWriteOnlyFunction(int function);
// The leading digit of a reference number for the table the function works
// on: 0 coils, 1 discrete inputs, 3 input registers, 4 holding registers;
// -1 for a function without one.
int ReferenceTable(int function);
// True when the link is a serial port rather than a network connection.
bool UsesSerialPort(const CliOptions& options);

}  // namespace cli
