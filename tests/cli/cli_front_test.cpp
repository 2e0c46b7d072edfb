// The command-line client's front: what the parser accepts and refuses, the register words it makes
// of typed values, the writers' output read back as a script would read it, exit statuses.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

#include "cli/device_check.h"
#include "cli/exit_status.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/reporter.h"
#include "cli/value_types.h"
#include "gtest/gtest.h"

using namespace cli;

namespace {

CliParse Parse(const std::string& line) {
  std::vector<std::string> args;
  std::istringstream in(line);
  for (std::string a; in >> a;) args.push_back(a);
  return ParseCliOptions(args);
}

CliOptions Accepted(const std::string& line) {
  const CliParse p = Parse(line);
  EXPECT_EQ(p.action, CliAction::Run) << line << ": " << p.error;
  return p.options;
}

QJsonObject Json(const std::string& text) { return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object(); }

TEST(CliOptions, RefusesBadOptionsWithOneLine) {
  std::string coils = "1";
  for (int i = 1; i < 1969; ++i) coils += ",1";
  const std::string functions = "the function codes are 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 22, 23 and 43 (in decimal)";
  const std::string raw = "bytes are hexadecimal pairs separated by blanks, e.g. \"01 03 00 00 00 0A\"";
  const std::pair<std::string, std::string> cases[] = {
      // the line; the whole error after "vesktarvelo-cli: "
      {"-H h --address 70000", "invalid --address '70000': an address is 0 to 65535"},
      {"-H h --slave 300", "invalid --slave '300': a slave address is 0 to 255"},
      {"-H h --quantity 0", "invalid --quantity '0': read 1 to 125 registers"},
      {"-H h -f 1 --quantity 2001", "invalid --quantity '2001': read 1 to 2000 bits"},
      {"-H h -f 23 -q 126 --write-address 0 -w 1", "invalid --quantity '126': read 1 to 125 registers"},
      {"-H h --type FLOAT_XYZW",
       "invalid --type 'FLOAT_XYZW': not a known type (INT16, UINT16, FLOAT_ABCD, ... see --help)"},
      {"-H h --address 12abc", "invalid --address '12abc': an address is 0 to 65535"},
      {"-H h --timeout 1.5", "invalid --timeout '1.5': a time-out is 1 to 65535 ms"},
      {"-H h --timeout 0", "invalid --timeout '0': a time-out is 1 to 65535 ms"},
      {"-H h --timeout 65536", "invalid --timeout '65536': a time-out is 1 to 65535 ms"},
      {"-H h --port 0", "invalid --port '0': a port is 1 to 65535"},
      {"-H h --polls many", "invalid --polls 'many': polls are 0 (until interrupted) to 4294967295"},
      {"-H h --csv --json", "--csv and --json cannot be used together"},
      {"-H h --frobnicate", "unknown option '--frobnicate' (see --help)"},
      {"-H h -X", "unknown option '-X' (see --help)"},
      {"-H h stray", "unexpected argument 'stray'"},
      {"-H h --address", "option --address needs a value"},
      {"-H h --verbose=yes", "option --verbose takes no value"},
      {"--address 5", "--host is needed for --mode tcp"},
      {"--mode rtu", "--device is needed for --mode rtu (the serial port, e.g. /dev/ttyUSB0)"},
      {"--mode ascii", "--device or --host is needed for --mode ascii"},
      {"--mode modbus -H x", "invalid --mode 'modbus': the modes are tcp, rtu, rtu-over-tcp, ascii and ascii-over-tcp"},
      {"-H h --baud 9600", "--baud applies to a serial port, not to --mode tcp"},
      {"-m rtu -d /dev/ttyS0 --baudrate fast", "invalid --baud 'fast': a baud rate is 50 to 4000000"},
      {"-m rtu -d /dev/ttyS0 --parity mark", "invalid --parity 'mark': the parities are none, even and odd"},
      {"-m rtu -d /dev/ttyS0 --data-bits 9", "invalid --data-bits '9': the data bits are 7 or 8"},
      {"-m rtu -d /dev/ttyS0 --data-bits 7", "invalid --data-bits '7': RTU needs 8 data bits (7 is for --mode ascii)"},
      {"-m rtu -d /dev/ttyS0 --stop-bits 3", "invalid --stop-bits '3': the stop bits are 1 or 2"},
      {"-m rtu -d /dev/ttyS0 -H 10.0.0.1", "--host does not apply to a serial port"},
      {"-H h --slave 0", "invalid --slave '0': slave 0 (broadcast) is for writes (5, 6, 15, 16, 22) only"},
      {"-H h -f 9", "invalid --function '9': " + functions},
      {"-H h -f 0x03", "invalid --function '0x03': " + functions},
      {"-H h -f 3 --values 1", "--values does not apply to function 3"},
      {"-H h -f 16", "--values is needed for function 16"},
      {"-H h -f 16 -w 1,x", "invalid --values '1,x': 'x' is not a valid INT16 value (-32768 to 32767)"},
      {"-H h -f 16 -w 1,,2", "invalid --values '1,,2': an empty value in the list"},
      {"-H h -f 15 -w 1,2", "invalid --values '1,2': '2' is not a coil state (0 or 1)"},
      {"-H h -f 15 -w " + coils,  // a long value is cut in the message
       "invalid --values '" + coils.substr(0, 37) + "...': write 1 to 1968 coils (1969 given)"},
      {"-H h -f 16 -w " + coils.substr(0, 247),
       "invalid --values '" + coils.substr(0, 37) + "...': write 1 to 123 registers (124 given)"},
      {"-H h -f 5 -w 1,0", "invalid --values '1,0': function 5 writes one coil (0 or 1)"},
      {"-H h -f 6 -w 1,2", "invalid --values '1,2': function 6 writes one 16- or 32-bit value (use 16 for more)"},
      {"-H h -f 6 -t INT64_ABCDEFGH -w 1",
       "invalid --values '1': function 6 writes one 16- or 32-bit value (use 16 for more)"},
      {"-H h -f 16 -w 1,2 -q 3", "invalid --quantity '3': --values gives 2 registers"},
      {"-H h -f 3 -a 65530 -q 7", "--address 65530 and 7 items go past address 65535"},
      {"-H h -f 6 -a 65535 -t FLOAT_ABCD -w 1.5", "--address 65535 and 2 items go past address 65535"},
      {"-H h -t FLOAT_ABCD -q 1", "invalid --quantity '1': FLOAT_ABCD takes 2 registers a value"},
      {"-H h -f 1 -t FLOAT_ABCD", "--type applies to register functions (3, 4, 6, 16, 23)"},
      {"-H h -f 22 -a 1 --and-mask 0xF2", "--and-mask and --or-mask are needed for function 22"},
      {"-H h -f 22 --and-mask 0x10000 --or-mask 0",
       "invalid --and-mask '0x10000': a mask is 0 to 65535 or 0x0000 to 0xFFFF"},
      {"-H h -f 3 --or-mask 1", "--or-mask applies to function 22"},
      {"-H h -f 23 -w 1", "--write-address is needed for function 23"},
      {"-H h -f 43 --read-code 5",
       "invalid --read-code '5': the read codes are 1 basic, 2 regular, 3 extended and 4 one object"},
      {"-H h -f 43 -a 3", "--address does not apply to function 43"},
      {"-H h --raw 01,03,zz", "invalid --raw '01,03,zz': " + raw},
      {"-H h --raw 010 -f 3", "--function does not apply to --raw (the bytes are sent as typed)"},
      {"-H h --raw 010", "invalid --raw '010': " + raw},
      {"-H h --color=sometimes", "invalid --color 'sometimes': the choices are auto, always and never"},
      {"-H h --addresses=plc", "invalid --addresses 'plc': the notations are protocol, one and reference"},
      {"-H h --addresses one -a 0", "invalid --address '0': a register number is 1 to 65536"},
      {"-H h --addresses reference -a 40001 -f 1",
       "invalid --address '40001': reference 4xxxx does not go with function 1"},  // a reference names its table
  };
  for (const auto& [line, error] : cases) {
    const CliParse p = Parse(line);
    EXPECT_EQ(std::pair(p.action, p.error), std::pair(CliAction::UsageError, "vesktarvelo-cli: " + error)) << line;
  }
  // Reference numbers outside their forms (the reason is no new text).
  for (const char* address : {"40000", "4000", "400000", "465537", "50001", "20001", "0x100", "4000001", "49999x"}) {
    const CliParse p = Parse(std::string("-H h --addresses reference -a ") + address);
    EXPECT_TRUE(p.action == CliAction::UsageError &&
                p.error.rfind(std::string("vesktarvelo-cli: invalid --address '") + address + "'", 0) == 0)
        << address << ": " << p.error;
  }
}

// The further functions' lines are parsed and framed in the link's test.
TEST(CliOptions, AcceptsEachFunctionWithItsRanges) {
  const struct {
    std::string line;
    int function;
    uint16_t address, quantity;
    std::vector<uint16_t> registers;
    std::vector<uint8_t> coils;
  } cases[] = {
      {"-H h -f 1 -a 20 -q 2000", 1, 20, 2000, {}, {}},
      {"-H h --function=02 --address=0x10 --quantity=1", 2, 16, 1, {}, {}},
      {"-H h -f 4 -a 65535", 4, 65535, 1, {}, {}},
      {"-H h -f 3 -a 65411 -q 125", 3, 65411, 125, {}, {}},
      {"-H h -f 3 -t FLOAT_CDAB", 3, 0, 2, {}, {}},  // one value by default
      {"-H h -f 3 -t DOUBLE_HGFEDCBA", 3, 0, 4, {}, {}},
      {"-H h -f 6 -a 9 -w -2", 6, 9, 1, {0xFFFE}, {}},  // a negative value is a
                                                        // value, not an option
      {"-H h -f 6 -a 65534 -t UINT32_CDAB -w 0x12345678", 6, 65534, 1, {0x5678, 0x1234}, {}},
      {"-H h -f 16 -a 1 -w 1,2,3 -q 3", 16, 1, 3, {1, 2, 3}, {}},
      {"-H h -f 16 -t FLOAT_ABCD -w 1,-2.5", 16, 0, 4, {0x3F80, 0x0000, 0xC020, 0x0000}, {}},
      {"-H h -s 0 -f 16 -w 5", 16, 0, 1, {5}, {}},
      {"-H h --addresses one -a 65536", 3, 65535, 1, {}, {}},
      {"-H h --addresses reference -a 30010", 4, 9, 1, {}, {}},
      {"-H h --addresses reference -a 10001", 2, 0, 1, {}, {}},
      {"-H h --addresses reference -a 00017", 1, 16, 1, {}, {}},
      {"-H h --addresses reference -a 465536", 3, 65535, 1, {}, {}},
      {"-H h --addresses reference -a 400001 -f 16 -w 7", 16, 0, 1, {7}, {}},
      {"-H h --addresses reference -a 09999 -f 5 -w 0", 5, 9998, 1, {}, {0}},
  };
  for (const auto& c : cases) {
    const CliOptions o = Accepted(c.line);
    const bool counted = c.function <= 4 || c.function == 15 || c.function == 16 || c.function == 23;
    EXPECT_EQ(std::tuple(o.function, o.address, counted ? o.quantity : c.quantity, o.registers, o.coils),
              std::tuple(c.function, c.address, c.quantity, c.registers, c.coils))
        << c.line;
  }
}

// The link, run and output choices of a line as "name value" pairs in a fixed order, so that a row
// names the run of pairs it expects.
std::string Summary(const CliOptions& o) {
  std::ostringstream s;
  s << "mode " << static_cast<int>(o.mode) << " host " << o.host << " port " << o.port << " serial "
    << UsesSerialPort(o) << " device " << o.device << " baud " << o.baud << " parity " << static_cast<int>(o.parity)
    << " bits " << o.dataBits << o.stopBits << " slave " << static_cast<int>(o.slave) << " timeout " << o.timeoutMs
    << " polls " << o.polls << " interval " << o.intervalMs << " output " << static_cast<int>(o.output) << " color "
    << static_cast<int>(o.color) << " verbose " << o.verbose << " stats " << o.stats << " notation "
    << static_cast<int>(o.addresses) << " type " << ValueTypeName(o.type) << " raw " << HexText(o.raw) << " given "
    << o.rawGiven;
  return s.str();
}

TEST(CliOptions, AcceptsLinkRunAndOutputChoices) {
  const std::pair<const char*, const char*> cases[] = {
      {"-H 192.0.2.7",  // the defaults
       "mode 0 host 192.0.2.7 port 502 serial 0 device  baud 9600 parity 0 bits 81 slave 1 timeout 1000 polls 1 "
       "interval 1000 output 0 color 0 verbose 0 stats 0 notation 0 type INT16 raw  given 0"},
      {"-m ascii -d /dev/ttyUSB0 -b 19200 --parity even --data-bits 7 --stop-bits 2",
       "mode 3 host  port 502 serial 1 device /dev/ttyUSB0 baud 19200 parity 1 bits 72"},
      {"-m rtu -d /dev/ttyUSB0 --parity O", "parity 2"},
      {"--mode=RTU-over-TCP -H 127.0.0.1 -p 1502", "mode 2 host 127.0.0.1 port 1502 serial 0"},
      {"-m ascii -d /dev/ttyS1", "mode 3 host  port 502 serial 1 device /dev/ttyS1"},
      {"-m ascii -H 127.0.0.1", "mode 3 host 127.0.0.1 port 502 serial 0"},
      {"-H h --json -v --stats --color -n 0 -i 250 -o 300 -s 5 -s 6",  // the
                                                                       // last of a repeated option
                                                                       // wins
       "slave 6 timeout 300 polls 0 interval 250 output 2 color 1 verbose 1 stats 1"},
      {"-H h --color=never", "color 2"},
      {"-H h --no-color", "color 2"},
      {"-H h --colour=auto", "color 0"},
      {"-H h -c", "output 1"},
      {"-H h --json-lines -u 7 --count 3", "slave 7 timeout 1000 polls 3 interval 1000 output 2"},
      {"-H h --raw 01:03:0000,0x000A -t FLOAT_ABCD", "type FLOAT_ABCD raw 01 03 00 00 00 0A given 1"},
  };
  for (const auto& [line, has] : cases) EXPECT_NE(Summary(Accepted(line)).find(has), std::string::npos) << line;
  EXPECT_EQ(HexText(ParseCliOptions({"-H", "h", "--raw", "01:03:0000 0x000A"}).options.raw), "01 03 00 00 00 0A");
}

TEST(CliOptions, HelpAndVersionWinOverLaterProblems) {
  const std::pair<const char*, CliAction> cases[] = {{"--help --address 70000", CliAction::Help},
                                                     {"-h", CliAction::Help},
                                                     {"-V --csv --json", CliAction::Version},
                                                     {"--bogus --help", CliAction::UsageError}};  // met first
  for (const auto& [line, action] : cases) EXPECT_EQ(Parse(line).action, action) << line;
  EXPECT_TRUE(std::regex_match(CliVersion(), std::regex("vesktarvelo-cli [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << CliVersion();
}

// Every option the parser takes is documented in --help and in the man page, and so is every exit
// status.
TEST(CliOptions, HelpAndManPageDocumentEveryOption) {
  std::stringstream man;
  man << std::ifstream(VESK_CLI_MAN_PAGE).rdbuf();
  std::string manText = man.str();
  ASSERT_FALSE(manText.empty()) << VESK_CLI_MAN_PAGE;
  std::erase(manText, '\\');  // roff writes a minus as "\-"
  const std::string help = CliUsage();
  for (std::string_view name : CliLongOptionNames()) {
    const std::string option = "--" + std::string(name);
    EXPECT_NE(help.find(option), std::string::npos) << option << " missing in --help";
    EXPECT_NE(manText.find(option), std::string::npos) << option << " missing in the man page";
  }
  for (const char* status : {"0", "2", "3", "4", "5", "6"}) {
    EXPECT_NE(help.find(std::string("  ") + status + " "), std::string::npos) << status;
    EXPECT_NE(manText.find(std::string(".B ") + status + "\n"), std::string::npos) << status;
  }
}

// The least denormal float and double, 2^53 + 1 (exact here, not in a double), ASCII taking the
// whole text, commas included, two floats where one was perhaps meant; then the refusals.
TEST(CliValues, EncodesEachTypeInItsByteOrder) {
  const struct {
    const char* type;
    const char* text;
    std::vector<uint16_t> registers;
  } cases[] = {{"INT16", "-32768,32767", {0x8000, 0x7FFF}},
               {"INT16", "0xFFFF", {0xFFFF}},
               {"UINT16", " 65535 , +1 ", {0xFFFF, 0x0001}},
               {"FLOAT_ABCD", "1", {0x3F80, 0x0000}},
               {"FLOAT_CDAB", "1", {0x0000, 0x3F80}},
               {"FLOAT_BADC", "1", {0x803F, 0x0000}},
               {"FLOAT_DCBA", "1", {0x0000, 0x803F}},
               {"FLOAT_ABCD", "-inf", {0xFF80, 0x0000}},
               {"FLOAT_ABCD", "nan", {0x7FC0, 0x0000}},
               {"FLOAT_ABCD", "0x3F800000", {0x3F80, 0x0000}},
               {"FLOAT_ABCD", "3.4028235e38", {0x7F7F, 0xFFFF}},
               {"FLOAT_ABCD", "1e-45", {0x0000, 0x0001}},
               {"FLOAT_ABCD", "1,5", {0x3F80, 0x0000, 0x40A0, 0x0000}},
               {"INT32_ABCD", "-2", {0xFFFF, 0xFFFE}},
               {"INT32_CDAB", "0x12345678", {0x5678, 0x1234}},
               {"INT32_BADC", "305419896", {0x3412, 0x7856}},
               {"INT32_DCBA", "-2147483648", {0x0000, 0x0080}},
               {"UINT32_ABCD", "4294967295", {0xFFFF, 0xFFFF}},
               {"UINT32_BADC", "0x12345678", {0x3412, 0x7856}},
               {"INT64_ABCDEFGH", "0x0102030405060708", {0x0102, 0x0304, 0x0506, 0x0708}},
               {"INT64_GHEFCDAB", "0x0102030405060708", {0x0708, 0x0506, 0x0304, 0x0102}},
               {"INT64_BADCFEHG", "0x0102030405060708", {0x0201, 0x0403, 0x0605, 0x0807}},
               {"INT64_HGFEDCBA", "0x0102030405060708", {0x0807, 0x0605, 0x0403, 0x0201}},
               {"INT64_ABCDEFGH", "-9223372036854775808", {0x8000, 0x0000, 0x0000, 0x0000}},
               {"UINT64_ABCDEFGH", "18446744073709551615", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}},
               {"UINT64_ABCDEFGH", "9007199254740993", {0x0020, 0x0000, 0x0000, 0x0001}},
               {"DOUBLE_ABCDEFGH", "1", {0x3FF0, 0x0000, 0x0000, 0x0000}},
               {"DOUBLE_HGFEDCBA", "1", {0x0000, 0x0000, 0x0000, 0xF03F}},
               {"DOUBLE_GHEFCDAB", "-2", {0x0000, 0x0000, 0x0000, 0xC000}},
               {"DOUBLE_ABCDEFGH", "4.9e-324", {0x0000, 0x0000, 0x0000, 0x0001}},
               {"double_abcdefgh", "0.1", {0x3FB9, 0x9999, 0x9999, 0x999A}},
               {"HEX", "1a2B,0xFF", {0x1A2B, 0x00FF}},
               {"BINARY", "0b101,1111000011110000,0x8001", {0x0005, 0xF0F0, 0x8001}},
               {"ASCII", "ABC", {0x4142, 0x4300}},
               {"ASCII", "a,b", {0x612C, 0x6200}}};
  for (const auto& c : cases) {
    const EncodedValues v = EncodeValues(ValueTypeOfName(c.type).value(), c.text);
    EXPECT_EQ(std::pair(v.registers, v.error), std::pair(c.registers, std::string())) << c.type << " " << c.text;
  }
  const std::pair<const char*, std::vector<const char*>> refused[] = {
      {"INT16", {"32768", "-32769", "1.5", "0x10000", "1 2"}},
      {"UINT16", {"-1", "65536"}},
      {"INT32_ABCD", {"2147483648"}},
      {"UINT32_ABCD", {"4294967296"}},
      {"INT64_ABCDEFGH", {"9223372036854775808"}},
      {"UINT64_ABCDEFGH", {"18446744073709551616"}},
      {"FLOAT_ABCD", {"1e39", "1.5.2", ""}},
      {"DOUBLE_ABCDEFGH", {"1e400"}},
      {"HEX", {"10000", "0xG1"}},
      {"BINARY", {"10000000000000000", "102"}},
      {"ASCII", {"caf\xc3\xa9"}}};
  for (const auto& [type, texts] : refused) {
    for (const char* text : texts) {
      const EncodedValues v = EncodeValues(ValueTypeOfName(type).value(), text);
      EXPECT_TRUE(v.registers.empty() && !v.error.empty()) << type << " " << text;
    }
  }
}

TEST(CliValues, KnowsTheWindowsFormatNamesAndTheWiderOnes) {
  for (const char* name :
       {"INT16", "UINT16", "FLOAT_ABCD", "FLOAT_CDAB", "FLOAT_BADC", "FLOAT_DCBA", "INT32_ABCD", "INT32_CDAB",
        "INT32_BADC", "INT32_DCBA", "UINT32_ABCD", "UINT32_CDAB", "UINT32_BADC", "UINT32_DCBA"})
    EXPECT_EQ(ValueTypeName(*ValueTypeOfName(name)), name);
  const std::pair<const char*, int> widths[] = {{"UINT32_DCBA", 2}, {"UINT64_BADCFEHG", 4}, {"ASCII", 1}};
  for (const auto& [name, registers] : widths) EXPECT_EQ(RegistersPerValue(*ValueTypeOfName(name)), registers) << name;
  for (const char* name : {"INT8", "FLOAT", "FLOAT_ABDC", "", "INT64_ABCD", "UINT64_DCBA"})
    EXPECT_FALSE(ValueTypeOfName(name)) << name;
}

// A read of three registers at 20 from slave 17 over TCP, and its variants.
TransactionRecord Record(Outcome outcome = Outcome::Ok) {
  TransactionRecord r;
  r.requestTime = {2026, 12, 5, 6, 4, 9, 45};
  r.responseTime = {2026, 12, 5, 6, 4, 9, 48};
  r.slave = 17;
  r.address = 20;
  r.outcome = outcome;
  r.request = {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x11, 0x03, 0x00, 0x14, 0x00, 0x03};
  if (outcome == Outcome::Timeout) {
    r.error = "Request Timeout";
    return r;
  }
  r.responseMs = 3;
  r.response = {0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x11, 0x03, 0x06, 0x00, 0x01, 0xFF, 0xFF, 0x7F, 0xC0};
  if (outcome == Outcome::Exception) r.exception = RecordException{2, "Illegal Data Address"};
  if (outcome != Outcome::Exception) r.values = {{20, "1", "1", ""}, {21, "-1", "-1", ""}, {22, "NaN", {}, ""}};
  return r;
}

TEST(CliOutput, AddressesInEachNotation) {
  const struct {
    AddressStyle style;
    uint32_t address;
    const char* text;
  } cases[] = {
      {{AddressNotation::Protocol, false, 4, false}, 20, "00020"},
      {{AddressNotation::Protocol, true, 4, false}, 16, "0x0010"},
      {{AddressNotation::FromOne, false, 4, false}, 65535, "65536"},
      {{AddressNotation::FromOne, true, 4, false}, 65535, "0x10000"},
      {{AddressNotation::Reference, false, 0, false}, 16, "00017"},
      {{AddressNotation::Reference, false, 3, false}, 9998, "39999"},
      {{AddressNotation::Reference, false, 3, false}, 9999, "310000"},
      {{AddressNotation::Reference, false, 4, true}, 0, "400001"},
      {{AddressNotation::Reference, false, -1, false}, 7, "00007"},  // a function without a table
  };
  for (const auto& c : cases) EXPECT_EQ(AddressText(c.address, c.style), c.text) << c.text;
  // Value lines; a reference listing keeps one form, the 6-digit one once a value needs it.
  const AddressStyle plain = AddressStyleOf(Accepted("-H h -a 20 -q 3"));
  TransactionRecord r = Record();
  EXPECT_EQ(ValueLines(r, plain), "00020: 1\n00021: -1\n00022: NaN\n");
  r.values = {{9997, "5", "5", ""}, {9998, "6", "6", ""}, {9999, "7", "7", ""}};
  EXPECT_EQ(ValueLines(r, AddressStyleOf(Accepted("-H h --addresses reference -a 49998 -q 3"))),
            "409998: 5\n409999: 6\n410000: 7\n");
  r.values = {{0, "Acme \"Devices\"", std::nullopt, "VendorName"}};
  EXPECT_EQ(ValueLines(r, plain), "VendorName: Acme \"Devices\"\n");
  EXPECT_EQ(ValueLines(Record(Outcome::Exception), plain), "");
}

// Every key of `expected` has its value in `o`.
void ExpectKeys(const QJsonObject& o, const QJsonObject& expected) {
  for (const QString& key : expected.keys()) EXPECT_EQ(o[key], expected[key]) << key.toStdString();
}

TEST(CliOutput, JsonLinesParseBack) {
  TransactionRecord r = Record(Outcome::ProtocolError);
  r.faults = {{"Wrong Transaction ID (expected 00 2A)", 0, 2},
              {"a \"quoted\" back\\slash\ttab\x01 \xc3\xa9 n\xff", 9, 4}};
  r.values.push_back({23, "18446744073709551615", std::string("18446744073709551615"), ""});  // stays a number
  r.values.push_back({24, "Inf", std::string("Inf"), ""});  // not JSON: written as text
  const std::string line = JsonLine(r);
  ASSERT_EQ(line.find('\n'), line.size() - 1) << "one object, one line";
  // JSON forbids raw control characters in strings; Qt's reader lets them pass. A byte that is no
  // UTF-8 (a file name's) becomes U+FFFD, as Qt reads it from the record.
  EXPECT_TRUE(std::all_of(line.begin(), line.end() - 1, [](char c) { return static_cast<unsigned char>(c) >= 0x20; }));
  QJsonParseError error{};
  const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
  ExpectKeys(
      o, {{"slave", 17},
          {"function", 3},
          {"address", 20},
          {"outcome", "protocol-error"},
          {"time", "2026-12-05T06:04:09.045"},
          {"values", QJsonArray{1, -1, "NaN", 18446744073709551615.0, "Inf"}},
          {"texts", QJsonArray{"1", "-1", "NaN", "18446744073709551615", "Inf"}},
          {"addresses", QJsonArray{20, 21, 22, 23, 24}},
          {"response_ms", 3},
          {"exception", QJsonValue::Null},
          {"error", QJsonValue::Null},
          {"request", "00 01 00 00 00 06 11 03 00 14 00 03"},
          {"response", "00 01 00 00 00 09 11 03 06 00 01 FF FF 7F C0"},
          {"faults",
           QJsonArray{
               QJsonObject{{"message", "Wrong Transaction ID (expected 00 2A)"}, {"offset", 0}, {"length", 2}},
               QJsonObject{{"message", QString::fromStdString(r.faults[1].message)}, {"offset", 9}, {"length", 4}}}}});
  EXPECT_FALSE(o.contains("labels"));
  ExpectKeys(Json(JsonLine(Record(Outcome::Exception))),
             {{"exception", QJsonObject{{"code", 2}, {"text", "Illegal Data Address"}}}, {"values", QJsonArray{}}});
  ExpectKeys(
      Json(JsonLine(Record(Outcome::Timeout))),
      {{"response_ms", QJsonValue::Null}, {"response", ""}, {"error", "Request Timeout"}, {"outcome", "timeout"}});
}

// The fields of one RFC 4180 record from `pos` on (the test's own reader).
std::vector<std::string> ReadCsvRecord(const std::string& text, size_t& pos) {
  std::vector<std::string> fields(1);
  for (bool quoted = false; pos < text.size();) {
    const char c = text[pos++];
    if (c == '"' && quoted && pos < text.size() && text[pos] == '"')
      fields.back() += text[pos++];
    else if (c == '"')
      quoted = !quoted;
    else if (!quoted && c == ',')
      fields.emplace_back();
    else if (!quoted && c == '\n')
      break;
    else
      fields.back() += c;
  }
  return fields;
}

TEST(CliOutput, CsvRowsParseBackUnderTheirHeader) {
  TransactionRecord r = Record(Outcome::ProtocolError);
  r.faults = {{"Bad Checksum (expected 45 C9)", 13, 2}, {"line\nbreak, \"comma\" \xff", 1, 1}};
  r.values[1].text = " -1";      // blanks at an end survive
  r.values[2].text = "A;\\x00";  // a list item's own ";" and "\" are escaped
  TransactionRecord second = Record();
  second.faults = {{"line\nbreak", 1, 1}};  // quoted for the line break alone
  second.values = {{0, "Acme", {}, "00 VendorName"}, {0, "V1", {}, "01 ProductCode"}};
  const std::string text = CsvHeader() + CsvRow(r) + CsvRow(second);
  size_t pos = 0;
  const std::vector<std::string> header = ReadCsvRecord(text, pos);
  std::map<std::string, std::string> rows[2];
  for (auto& row : rows) {
    const std::vector<std::string> fields = ReadCsvRecord(text, pos);
    ASSERT_EQ(fields.size(), header.size());
    for (size_t i = 0; i < fields.size(); ++i) row[header[i]] = fields[i];
  }
  EXPECT_EQ(pos, text.size());
  EXPECT_EQ(header.size(), 16u);
  const std::map<std::string, std::string> expected = {
      {"slave", "17"},
      {"function", "3"},
      {"address", "20"},
      {"outcome", "protocol-error"},
      {"values", "1;-1;A\\;\\\\x00"},
      {"texts", "1; -1;A\\;\\\\x00"},
      {"response_ms", "3"},
      {"exception_code", ""},
      {"faults", "13+2 Bad Checksum (expected 45 C9);1+1 line\nbreak, \"comma\" \xEF\xBF\xBD"},
      {"request", "00 01 00 00 00 06 11 03 00 14 00 03"},
      {"labels", ""}};
  for (const auto& [key, value] : expected) EXPECT_EQ(rows[0][key], value) << key;
  EXPECT_EQ(std::tuple(rows[1]["outcome"], rows[1]["faults"], rows[1]["labels"]),
            std::tuple(std::string("ok"), std::string("1+1 line\nbreak"), std::string("00 VendorName;01 ProductCode")));
}

TEST(CliOutput, TrafficRowsPaintTheFaultyBytesOnlyWithColour) {
  TransactionRecord r = Record(Outcome::ProtocolError);
  r.response.resize(20, 0xAB);  // two rows: 16 bytes, then 4
  r.faults = {{"Wrong Transaction ID (expected 00 2A)", 0, 2}, {"Invalid Length", 17, 1}};
  const std::string req = "05.12.26  06:04:09.045  ", res = "05.12.26  06:04:09.048  ", indent(37, ' ');
  EXPECT_EQ(TrafficRows(r, false), req + "Request  --> 00 01 00 00 00 06 11 03 00 14 00 03\n" + res +
                                       "Response <-- 00 01 00 00 00 09 11 03 06 00 01 FF FF 7F C0 AB\n" + indent +
                                       "^^ ^^\n" + indent + "AB AB AB AB\n" + indent + "   ^^\n" + res +
                                       "Protocol Error: Wrong Transaction ID (expected 00 2A)\n" + res +
                                       "Protocol Error: Invalid Length\n");
  const std::string coloured = TrafficRows(r, true), paint = "\x1b[1;37;41m", reset = "\x1b[0m";
  for (const std::string& part : std::vector<std::string>{
           "Request  --> 00 01 00 00 00 06",  // never painted
           "Response <-- " + paint + "00" + reset + " " + paint + "01" + reset + " 00 00",
           indent + "AB " + paint + "AB" + reset + " AB AB\n", "\x1b[31mProtocol Error: Invalid Length" + reset})
    EXPECT_NE(coloured.find(part), std::string::npos) << part << "\n" << coloured;
  EXPECT_EQ(coloured.find("^^"), std::string::npos);
  // A time-out shows what arrived, then the error row; an exception its row.
  TransactionRecord t = Record(Outcome::Timeout);
  t.response = {0x00, 0x01};
  EXPECT_NE(TrafficRows(t, false).find("Response <-- 00 01\n" + res + "Communication Error: Request Timeout\n"),
            std::string::npos);
  EXPECT_NE(TrafficRows(Record(Outcome::Exception), false).find("Modbus Exception: Illegal Data Address (Code 2)\n"),
            std::string::npos);
  // Link events: only error rows are coloured.
  const LocalTime at{2026, 12, 5, 6, 4, 9, 45};
  const std::string error = "Communication Error: Connect timeout";
  EXPECT_EQ(EventRow(at, "Connected", false, true), req + "Connected\n");
  EXPECT_EQ(EventRow(at, error, true, true), req + "\x1b[31m" + error + "\x1b[0m\n");
  EXPECT_EQ(EventRow(at, error, true, false), req + error + "\n");
}

TEST(CliOutput, ErrorLinesNameTheTransaction) {
  EXPECT_EQ(ErrorLines(Record()), "");
  TransactionRecord r = Record(Outcome::Exception);
  r.exception = RecordException{131, ""};
  EXPECT_EQ(ErrorLines(r), "vesktarvelo-cli: slave 17, function 3: Modbus exception: Unknown exception (Code 131)\n");
  r = Record(Outcome::ProtocolError);
  r.faults = {{"Bad Checksum (expected 45 C9)", 13, 2}, {"Invalid Length", 4, 2}};
  EXPECT_EQ(ErrorLines(r),
            "vesktarvelo-cli: slave 17, function 3: protocol error: Bad Checksum (expected 45 C9)\nvesktarvelo-cli: "
            "slave 17, function 3: protocol error: Invalid Length\n");
  r.outcome = Outcome::ConnectionFailure;
  r.error = "Connection refused";
  EXPECT_EQ(ErrorLines(r), "vesktarvelo-cli: connection failure: Connection refused\n");
}

// Colour follows the stream the traffic rows go to: standard error with CSV and JSON, whose
// standard output is usually a pipe. "auto" colours a terminal unless NO_COLOR is set or TERM is
// "dumb". Columns: stdout and stderr terminals, NO_COLOR, dumb; then the plan.
TEST(CliOutput, PlanKeepsStandardOutputOneFormat) {
  using B4 = std::array<bool, 4>;
  const std::tuple<const char*, B4, B4> cases[] = {
      {"-H h -v", {1, 0, 0, 0}, {0, 0, 0, 1}},
      {"-H h -v", {0, 1, 0, 0}, {0, 0, 0, 0}},
      {"-H h -v", {1, 0, 1, 0}, {0, 0, 0, 0}},
      {"-H h -v", {1, 0, 0, 1}, {0, 0, 0, 0}},
      {"-H h -v --color=always", {0, 0, 1, 1}, {0, 0, 0, 1}},
      {"-H h -v --color=never", {1, 1, 0, 0}, {0, 0, 0, 0}},
      {"-H h -v --json", {0, 1, 0, 0}, {1, 0, 1, 1}},
      {"-H h -v --csv", {1, 0, 0, 0}, {1, 1, 0, 0}},
  };
  for (const auto& [line, in, plan] : cases) {
    const OutputPlan p = PlanOutput(Accepted(line), in[0], in[1], in[2], in[3]);
    EXPECT_EQ((B4{p.trafficToStderr, p.statsToStderr, p.statsAsJson, p.color}), plan)
        << line << " " << ::testing::PrintToString(in);
  }
}

TEST(CliOutput, StatisticsCountEachOutcomeOnce) {
  const auto stats = [](const std::vector<std::pair<Outcome, std::optional<int64_t>>>& run) {
    RunStats s;
    for (const auto& [outcome, ms] : run) {
      TransactionRecord r;
      r.outcome = outcome;
      r.responseMs = ms;
      s.Count(r);
    }
    return s;
  };
  EXPECT_NE(StatsText(stats({})).find("response ms: -\n"), std::string::npos);
  using O = Outcome;
  const RunStats s = stats({{O::Ok, 3},
                            {O::Ok, 2},
                            {O::Ok, 9},
                            {O::Ok, 4},
                            {O::Exception, 1},
                            {O::ProtocolError, 5},
                            {O::Timeout, {}},
                            {O::ConnectionFailure, {}}});
  // Mean of 3, 2, 9, 4: 4.5; only good answers are timed.
  EXPECT_EQ(StatsText(s),
            "--- statistics ---\ntransactions: 8\nok: 4\nexceptions: 1\nprotocol errors: 1\ntime-outs: 1\nconnection "
            "failures: 1\nresponse ms: min 2, avg 4.5, max 9, last 4\n");
  const QJsonObject o = Json(StatsJson(s))["statistics"].toObject();
  EXPECT_EQ(std::tuple(o["transactions"].toInt(), o["timeouts"].toInt(), o["response_ms"].toObject()["avg"].toDouble()),
            std::tuple(8, 1, 4.5));
  const std::string thirds = StatsText(stats({{O::Ok, 1}, {O::Ok, 2}, {O::Ok, 2}}));
  EXPECT_NE(thirds.find("avg 1.7,"), std::string::npos) << thirds;  // 1.666... shows as 1.7
}

// The report of a run: standard output, standard error and the exit status.
std::tuple<std::string, std::string, int> Report(const std::string& line, const std::vector<TransactionRecord>& records,
                                                 bool interrupted = false) {
  const CliOptions o = Accepted(line);
  std::string out, err;
  RunReporter reporter(
      o, PlanOutput(o, false, false, false, false), [&out](std::string_view t) { out += t; },
      [&err](std::string_view t) { err += t; });
  for (const TransactionRecord& r : records) reporter.Report(r);
  const int status = reporter.Finish(interrupted);
  return {out, err, status};
}

TEST(CliReport, TextValuesOnStandardOutputErrorsOnStandardError) {
  EXPECT_EQ(Report("-H h -a 20 -q 3", {Record(), Record(Outcome::Exception), Record()}),
            std::tuple("00020: 1\n00021: -1\n00022: NaN\n00020: 1\n00021: -1\n00022: NaN\n",
                       "vesktarvelo-cli: slave 17, function 3: Modbus exception: Illegal Data Address (Code 2)\n", 5));
  // Interrupted: the summary comes even without --stats.
  auto [out, err, status] = Report("-H h -a 20 -q 3 -n 0", {Record()}, true);
  EXPECT_NE(out.find("--- statistics ---\ntransactions: 1\nok: 1\n"), std::string::npos) << out;
  EXPECT_EQ(status, 0);
  std::tie(out, err, status) = Report("-H h -n 0", {}, true);
  EXPECT_NE(out.find("transactions: 0\n"), std::string::npos) << out;
  // Verbose text: the traffic rows on standard output before the values, errors still on stderr.
  std::tie(out, err, status) = Report("-H h -a 20 -q 3 -v", {Record(Outcome::Exception)});
  EXPECT_EQ(out.find("05.12.26  06:04:09.045  Request  --> "), 0u) << out;
  EXPECT_NE(out.find("Modbus Exception: Illegal Data Address (Code 2)\n"), std::string::npos);
  EXPECT_NE(err.find("Modbus exception: Illegal Data Address (Code 2)\n"), std::string::npos);
}

TEST(CliReport, JsonAndCsvKeepStandardOutputOneFormat) {
  const TransactionRecord timeout = Record(Outcome::Timeout);
  auto [out, err, status] = Report("-H h --json -v --stats", {Record(), timeout, Record(Outcome::Exception)});
  EXPECT_EQ(status, 4);
  std::vector<QJsonObject> objects;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    QJsonParseError error{};
    objects.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object());
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
  }
  ASSERT_EQ(objects.size(), 4u) << out;
  EXPECT_EQ(objects[1]["outcome"].toString(), "timeout");
  EXPECT_EQ(objects[3]["statistics"].toObject()["timeouts"].toInt(), 1);
  // The traffic rows went to standard error and name every fault: no error line repeats them.
  EXPECT_NE(err.find("Communication Error: Request Timeout\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("vesktarvelo-cli:"), std::string::npos) << err;
  std::tie(out, err, status) = Report("-H h --csv --stats", {Record(), timeout});
  EXPECT_EQ(out.rfind(CsvHeader(), 0), 0u);
  EXPECT_EQ(out.find(CsvHeader(), 1), std::string::npos) << "one header";
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
  EXPECT_NE(err.find("--- statistics ---"), std::string::npos);
  EXPECT_NE(err.find("vesktarvelo-cli: slave 17, function 3: Request Timeout\n"), std::string::npos);
  EXPECT_EQ(std::get<0>(Report("-H h --csv", {}, true)), CsvHeader());
}

TEST(CliExitStatus, TheMostSevereOutcomeDecides) {
  using O = Outcome;
  const std::pair<std::vector<Outcome>, int> cases[] = {
      {{}, 0},
      {{O::Ok, O::Exception, O::Ok}, 5},
      {{O::Exception, O::ProtocolError}, 6},
      {{O::ProtocolError, O::Timeout, O::Exception}, 4},
      {{O::Timeout, O::ConnectionFailure, O::Ok}, 3},
  };
  for (const auto& [outcomes, status] : cases) {
    RunOutcome run;
    for (Outcome o : outcomes) run.Add(o);
    EXPECT_EQ(run.ExitStatus(), status) << outcomes.size();
  }
  EXPECT_EQ(kExitUsage, 2);
}

TEST(CliDevice, RefusesMissingAndNonSerialPaths) {
  EXPECT_EQ(CheckSerialDevice("/dev/vesk-no-such-port").value_or(""),
            "vesktarvelo-cli: invalid --device '/dev/vesk-no-such-port': No such file or directory");
  // A bare name is looked for in /dev, and the message says so.
  EXPECT_EQ(CheckSerialDevice("vesk-no-such-port").value_or(""),
            "vesktarvelo-cli: invalid --device 'vesk-no-such-port': /dev/vesk-no-such-port: No such file or directory");
  EXPECT_NE(CheckSerialDevice(VESK_CLI_MAN_PAGE).value_or("").find("not a serial port"), std::string::npos);
  // A character device this process may use, by its path and by its bare name in /dev.
  for (const char* device : {"/dev/null", "null"}) EXPECT_EQ(CheckSerialDevice(device), std::nullopt) << device;
}

}  // namespace
