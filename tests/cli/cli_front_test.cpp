// The command-line client's front: what the parser accepts and refuses, the
// register words it makes of typed values, and the writers' output read back
// as a script would read it.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/device_check.h"
#include "cli/exit_status.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/reporter.h"
#include "cli/value_types.h"
#include "gtest/gtest.h"

using namespace cli;

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> args;
  std::istringstream in(line);
  for (std::string a; in >> a;) args.push_back(a);
  return args;
}

CliParse Parse(const std::string& line) { return ParseCliOptions(Split(line)); }

// ---- refused command lines -------------------------------------------------

struct Refusal {
  std::string line;
  std::string error;  // the whole line after "vesktarvelo-cli: "
};

TEST(CliOptions, RefusesBadOptionsWithOneLine) {
  const std::string h = "-H 127.0.0.1 ";
  std::string coils1969 = "1";
  for (int i = 1; i < 1969; ++i) coils1969 += ",1";
  const std::vector<Refusal> cases = {
      {h + "--address 70000", "invalid --address '70000': an address is 0 to 65535"},
      {h + "--slave 300", "invalid --slave '300': a slave address is 0 to 255"},
      {h + "--quantity 0", "invalid --quantity '0': read 1 to 125 registers"},
      {h + "-f 1 --quantity 2001", "invalid --quantity '2001': read 1 to 2000 bits"},
      {h + "-f 23 -q 126 --write-address 0 -w 1", "invalid --quantity '126': read 1 to 125 registers"},
      {h + "--type FLOAT_XYZW",
       "invalid --type 'FLOAT_XYZW': not a known type (INT16, UINT16, FLOAT_ABCD, ... see --help)"},
      {h + "--address 12abc", "invalid --address '12abc': an address is 0 to 65535"},
      {h + "--timeout 1.5", "invalid --timeout '1.5': a time-out is 1 to 3600000 ms"},
      {h + "--timeout 0", "invalid --timeout '0': a time-out is 1 to 3600000 ms"},
      {h + "--port 0", "invalid --port '0': a port is 1 to 65535"},
      {h + "--polls many", "invalid --polls 'many': polls are 0 (until interrupted) to 4294967295"},
      {h + "--csv --json", "--csv and --json cannot be used together"},
      {h + "--frobnicate", "unknown option '--frobnicate' (see --help)"},
      {h + "-X", "unknown option '-X' (see --help)"},
      {h + "stray", "unexpected argument 'stray'"},
      {h + "--address", "option --address needs a value"},
      {h + "--verbose=yes", "option --verbose takes no value"},
      {"--address 5", "--host is needed for --mode tcp"},
      {"--mode rtu", "--device is needed for --mode rtu (the serial port, e.g. /dev/ttyUSB0)"},
      {"--mode ascii", "--device or --host is needed for --mode ascii"},
      {"--mode modbus -H x", "invalid --mode 'modbus': the modes are tcp, rtu, rtu-over-tcp, ascii and ascii-over-tcp"},
      {h + "--baud 9600", "--baud applies to a serial port, not to --mode tcp"},
      {"-m rtu -d /dev/ttyS0 --parity mark", "invalid --parity 'mark': the parities are none, even and odd"},
      {"-m rtu -d /dev/ttyS0 --data-bits 9", "invalid --data-bits '9': the data bits are 7 or 8"},
      {"-m rtu -d /dev/ttyS0 --stop-bits 3", "invalid --stop-bits '3': the stop bits are 1 or 2"},
      {"-m rtu -d /dev/ttyS0 -H 10.0.0.1", "--host does not apply to a serial port"},
      {h + "--slave 0", "invalid --slave '0': slave 0 (broadcast) is for writes (5, 6, 15, 16, 22) only"},
      {h + "-f 9",
       "invalid --function '9': the function codes are 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 22, 23 "
       "and 43 (in decimal)"},
      {h + "-f 0x03",
       "invalid --function '0x03': the function codes are 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 22, "
       "23 and 43 (in decimal)"},
      {h + "-f 3 --values 1", "--values does not apply to function 3"},
      {h + "-f 16", "--values is needed for function 16"},
      {h + "-f 16 -w 1,x", "invalid --values '1,x': 'x' is not a valid INT16 value (-32768 to 32767)"},
      {h + "-f 16 -w 1,,2", "invalid --values '1,,2': an empty value in the list"},
      {h + "-f 15 -w 1,2", "invalid --values '1,2': '2' is not a coil state (0 or 1)"},
      {h + "-f 15 -w " + coils1969,  // a long value is cut in the message
       "invalid --values '1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1...': write 1 to 1968 coils (1969 "
       "given)"},
      {h + "-f 16 -w " + coils1969.substr(0, 247),
       "invalid --values '1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1...': write 1 to 123 registers (124 "
       "given)"},
      {h + "-f 5 -w 1,0", "invalid --values '1,0': function 5 writes one coil (0 or 1)"},
      {h + "-f 6 -w 1,2", "invalid --values '1,2': function 6 writes one 16- or 32-bit value (use 16 for more)"},
      {h + "-f 6 -t INT64_ABCDEFGH -w 1",
       "invalid --values '1': function 6 writes one 16- or 32-bit value (use 16 for more)"},
      {h + "-f 16 -w 1,2 -q 3", "invalid --quantity '3': --values gives 2 registers"},
      {h + "-f 3 -a 65530 -q 7", "--address 65530 and 7 items go past address 65535"},
      {h + "-f 6 -a 65535 -t FLOAT_ABCD -w 1.5", "--address 65535 and 2 items go past address 65535"},
      {h + "-t FLOAT_ABCD -q 1", "invalid --quantity '1': FLOAT_ABCD takes 2 registers a value"},
      {h + "-f 1 -t FLOAT_ABCD", "--type applies to register functions (3, 4, 6, 16, 23)"},
      {h + "-f 22 -a 1 --and-mask 0xF2", "--and-mask and --or-mask are needed for function 22"},
      {h + "-f 22 --and-mask 0x10000 --or-mask 0",
       "invalid --and-mask '0x10000': a mask is 0 to 65535 or 0x0000 to 0xFFFF"},
      {h + "-f 3 --or-mask 1", "--or-mask applies to function 22"},
      {h + "-f 23 -w 1", "--write-address is needed for function 23"},
      {h + "-f 43 --read-code 5",
       "invalid --read-code '5': the read codes are 1 basic, 2 regular, 3 extended and 4 one object"},
      {h + "-f 43 -a 3", "--address does not apply to function 43"},
      {h + "--raw 01,03,zz",
       "invalid --raw '01,03,zz': bytes are hexadecimal pairs separated by blanks, e.g. \"01 03 00 00 "
       "00 0A\""},
      {h + "--raw 010 -f 3", "--function does not apply to --raw (the bytes are sent as typed)"},
      {h + "--raw 010",
       "invalid --raw '010': bytes are hexadecimal pairs separated by blanks, e.g. \"01 03 00 00 00 "
       "0A\""},
      {h + "--color=sometimes", "invalid --color 'sometimes': the choices are auto, always and never"},
      {h + "--addresses=plc", "invalid --addresses 'plc': the notations are protocol, one and reference"},
      {h + "--addresses one -a 0", "invalid --address '0': a register number is 1 to 65536"},
  };
  for (const Refusal& c : cases) {
    const CliParse p = Parse(c.line);
    EXPECT_EQ(p.action, CliAction::UsageError) << c.line;
    EXPECT_EQ(p.error, "vesktarvelo-cli: " + c.error) << c.line;
    EXPECT_EQ(p.error.find('\n'), std::string::npos) << c.line;
  }
}

TEST(CliOptions, RefusesReferenceNumbersOutsideTheirForms) {
  for (const char* address : {"40000", "4000", "400000", "465537", "50001", "20001", "0x100", "4000001", "49999x"}) {
    const CliParse p = Parse(std::string("-H h --addresses reference -a ") + address);
    EXPECT_EQ(p.action, CliAction::UsageError) << address;
    EXPECT_EQ(p.error.rfind(std::string("vesktarvelo-cli: invalid --address '") + address + "'", 0), 0u) << p.error;
  }
  // A reference names its table: a holding register does not go with a coil read.
  const CliParse p = Parse("-H h --addresses reference -a 40001 -f 1");
  EXPECT_EQ(p.error, "vesktarvelo-cli: invalid --address '40001': reference 4xxxx does not go with function 1");
}

// ---- accepted command lines ------------------------------------------------

struct Accepted {
  std::string line;
  int function;
  uint16_t address;
  uint16_t quantity;
  std::vector<uint16_t> registers;
  std::vector<uint8_t> coils;
};

// The further functions' lines are parsed and framed in the link's test.
TEST(CliOptions, AcceptsEachFunctionWithItsRanges) {
  const std::vector<Accepted> cases = {
      {"-H h -f 1 -a 20 -q 2000", 1, 20, 2000, {}, {}},
      {"-H h --function=02 --address=0x10 --quantity=1", 2, 16, 1, {}, {}},
      {"-H h -f 4 -a 65535", 4, 65535, 1, {}, {}},
      {"-H h -f 3 -a 65411 -q 125", 3, 65411, 125, {}, {}},
      {"-H h -f 3 -t FLOAT_CDAB", 3, 0, 2, {}, {}},  // one value by default
      {"-H h -f 3 -t DOUBLE_HGFEDCBA", 3, 0, 4, {}, {}},
      {"-H h -f 6 -a 9 -w -2", 6, 9, 1, {0xFFFE}, {}},
      {"-H h -f 6 -a 65534 -t UINT32_CDAB -w 0x12345678", 6, 65534, 1, {0x5678, 0x1234}, {}},
      {"-H h -f 16 -a 1 -w 1,2,3 -q 3", 16, 1, 3, {1, 2, 3}, {}},
      {"-H h -f 16 -t FLOAT_ABCD -w 1,-2.5", 16, 0, 4, {0x3F80, 0x0000, 0xC020, 0x0000}, {}},
      {"-H h -s 0 -f 16 -w 5", 16, 0, 1, {5}, {}},
      {"-H h --addresses one -a 1", 3, 0, 1, {}, {}},
      {"-H h --addresses one -a 65536", 3, 65535, 1, {}, {}},
      {"-H h --addresses reference -a 40001", 3, 0, 1, {}, {}},
      {"-H h --addresses reference -a 30010", 4, 9, 1, {}, {}},
      {"-H h --addresses reference -a 10001", 2, 0, 1, {}, {}},
      {"-H h --addresses reference -a 00017", 1, 16, 1, {}, {}},
      {"-H h --addresses reference -a 465536", 3, 65535, 1, {}, {}},
      {"-H h --addresses reference -a 400001 -f 16 -w 7", 16, 0, 1, {7}, {}},
      {"-H h --addresses reference -a 09999 -f 5 -w 0", 5, 9998, 1, {}, {0}},
  };
  for (const Accepted& c : cases) {
    const CliParse p = Parse(c.line);
    ASSERT_EQ(p.action, CliAction::Run) << c.line << ": " << p.error;
    EXPECT_EQ(p.options.function, c.function) << c.line;
    EXPECT_EQ(p.options.address, c.address) << c.line;
    if (c.function <= 4 || c.function == 15 || c.function == 16 || c.function == 23) {
      EXPECT_EQ(p.options.quantity, c.quantity) << c.line;
    }
    EXPECT_EQ(p.options.registers, c.registers) << c.line;
    EXPECT_EQ(p.options.coils, c.coils) << c.line;
  }
}

// The link, run and output choices of a line as "name value" pairs, in a
// fixed order, so a table can name the run of pairs it expects.
std::string Summary(const CliOptions& o) {
  std::ostringstream s;
  s << "mode " << static_cast<int>(o.mode) << " host " << o.host << " port " << o.port << " serial "
    << UsesSerialPort(o) << " device " << o.device << " baud " << o.baud << " parity " << static_cast<int>(o.parity)
    << " bits " << o.dataBits << o.stopBits << " slave " << static_cast<int>(o.slave) << " timeout " << o.timeoutMs
    << " polls " << o.polls << " interval " << o.intervalMs << " output " << static_cast<int>(o.output) << " color "
    << static_cast<int>(o.color) << " verbose " << o.verbose << " stats " << o.stats << " notation "
    << static_cast<int>(o.addresses) << " type " << ValueTypeName(o.type) << " raw " << HexText(o.raw);
  return s.str();
}

TEST(CliOptions, AcceptsLinkRunAndOutputChoices) {
  const struct {
    const char* line;
    const char* has;
  } cases[] = {
      // The defaults of a short read line.
      {"-H 192.0.2.7",
       "mode 0 host 192.0.2.7 port 502 serial 0 device  baud 9600 parity 0 bits 81 slave 1 timeout 1000 polls 1 "
       "interval 1000 output 0 color 0 verbose 0 stats 0 notation 0 type INT16 raw "},
      {"-m rtu -d /dev/ttyUSB0 -b 19200 --parity even --data-bits 7 --stop-bits 2",
       "mode 1 host  port 502 serial 1 device /dev/ttyUSB0 baud 19200 parity 1 bits 72"},
      {"-m rtu -d /dev/ttyUSB0 --parity O", "parity 2"},
      {"--mode=RTU-over-TCP -H 127.0.0.1 -p 1502", "mode 2 host 127.0.0.1 port 1502 serial 0"},
      {"-m ascii -d /dev/ttyS1", "mode 3 host  port 502 serial 1 device /dev/ttyS1"},
      {"-m ascii -H 127.0.0.1", "mode 3 host 127.0.0.1 port 502 serial 0"},
      // The last of a repeated option wins.
      {"-H h --json -v --stats --color -n 0 -i 250 -o 300 -s 5 -s 6",
       "slave 6 timeout 300 polls 0 interval 250 output 2 color 1 verbose 1 stats 1"},
      {"-H h --color=never", "color 2"},
      {"-H h --no-color", "color 2"},
      {"-H h --colour=auto", "color 0"},
      {"-H h -c", "output 1"},
      {"-H h --json-lines -u 7 --count 3", "slave 7 timeout 1000 polls 3 interval 1000 output 2"},
      {"-H h --addresses reference -a 40001", "notation 2"},
      {"-H h -t uint32_cdab", "type UINT32_CDAB"},
      {"-H h --raw 01:03:0000,0x000A -t FLOAT_ABCD", "type FLOAT_ABCD raw 01 03 00 00 00 0A"},
  };
  for (const auto& c : cases) {
    const CliParse p = Parse(c.line);
    ASSERT_EQ(p.action, CliAction::Run) << c.line << ": " << p.error;
    EXPECT_NE(Summary(p.options).find(c.has), std::string::npos) << c.line << "\n" << Summary(p.options);
  }
  // A negative value is a value, not an option.
  EXPECT_EQ(Parse("-H h -f 6 -w -32768").options.registers, (std::vector<uint16_t>{0x8000}));
  const CliParse raw = ParseCliOptions({"-H", "h", "--raw", "01:03:0000 0x000A"});
  EXPECT_TRUE(raw.options.rawGiven);
  EXPECT_EQ(raw.options.raw, (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}));
}

TEST(CliOptions, HelpAndVersionWinOverLaterProblems) {
  EXPECT_EQ(Parse("--help --address 70000").action, CliAction::Help);
  EXPECT_EQ(Parse("-h").action, CliAction::Help);
  EXPECT_EQ(Parse("-V --csv --json").action, CliAction::Version);
  // A problem the walk meets first still wins.
  EXPECT_EQ(Parse("--bogus --help").action, CliAction::UsageError);
  const std::string v = CliVersion();
  ASSERT_EQ(v.rfind("vesktarvelo-cli ", 0), 0u);
  ASSERT_EQ(v.back(), '\n');
  int dots = 0;
  for (char c : v.substr(16, v.size() - 17)) {
    EXPECT_TRUE((c >= '0' && c <= '9') || c == '.') << v;
    dots += c == '.';
  }
  EXPECT_EQ(dots, 2) << v;
}

// Every option the parser takes is documented in --help and in the man page,
// and so is every exit status.
TEST(CliOptions, HelpAndManPageDocumentEveryOption) {
  std::ifstream file(VESK_CLI_MAN_PAGE);
  ASSERT_TRUE(file.good()) << VESK_CLI_MAN_PAGE;
  std::stringstream man;
  man << file.rdbuf();
  // roff writes a minus as "\-".
  std::string manText;
  for (const char c : man.str())
    if (c != '\\') manText += c;
  const std::string help = CliUsage();
  for (std::string_view name : CliLongOptionNames()) {
    const std::string option = "--" + std::string(name);
    EXPECT_NE(help.find(option), std::string::npos) << option << " missing in --help";
    EXPECT_NE(manText.find(option), std::string::npos) << option << " missing in the man page";
  }
  for (const char* status : {"0 ", "2 ", "3 ", "4 ", "5 ", "6 "}) {
    EXPECT_NE(help.find(std::string("  ") + status), std::string::npos) << status;
  }
  for (const char* status : {".B 0\n", ".B 2\n", ".B 3\n", ".B 4\n", ".B 5\n", ".B 6\n"})
    EXPECT_NE(manText.find(status), std::string::npos) << status;
}

// ---- typed values into register words ---------------------------------------

// The least denormal float and double, 2^53 + 1 (exact here, not in a
// double), ASCII taking the whole text, commas included; then the refusals
// (no registers), and two floats where one was perhaps meant.
struct Encoding {
  const char* type;
  const char* text;
  std::vector<uint16_t> registers;  // empty: refused
};

TEST(CliValues, EncodesEachTypeInItsByteOrder) {
  const std::vector<Encoding> cases = {{"INT16", "-1", {0xFFFF}},
                                       {"INT16", "-32768,32767", {0x8000, 0x7FFF}},
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
                                       {"INT64_ABCDEFGH", "-1", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}},
                                       {"UINT64_ABCDEFGH", "18446744073709551615", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}},
                                       {"UINT64_ABCDEFGH", "9007199254740993", {0x0020, 0x0000, 0x0000, 0x0001}},
                                       {"DOUBLE_ABCDEFGH", "1", {0x3FF0, 0x0000, 0x0000, 0x0000}},
                                       {"DOUBLE_HGFEDCBA", "1", {0x0000, 0x0000, 0x0000, 0xF03F}},
                                       {"DOUBLE_GHEFCDAB", "-2", {0x0000, 0x0000, 0x0000, 0xC000}},
                                       {"DOUBLE_ABCDEFGH", "4.9e-324", {0x0000, 0x0000, 0x0000, 0x0001}},
                                       {"double_abcdefgh", "0.1", {0x3FB9, 0x9999, 0x9999, 0x999A}},
                                       {"HEX", "1a2B,0xFF", {0x1A2B, 0x00FF}},
                                       {"BINARY", "0b101,1111000011110000", {0x0005, 0xF0F0}},
                                       {"ASCII", "ABC", {0x4142, 0x4300}},
                                       {"ASCII", "a,b", {0x612C, 0x6200}},
                                       {"INT16", "32768", {}},
                                       {"INT16", "-32769", {}},
                                       {"INT16", "1.5", {}},
                                       {"INT16", "0x10000", {}},
                                       {"INT16", "1 2", {}},
                                       {"UINT16", "-1", {}},
                                       {"UINT16", "65536", {}},
                                       {"INT32_ABCD", "2147483648", {}},
                                       {"UINT32_ABCD", "4294967296", {}},
                                       {"INT64_ABCDEFGH", "9223372036854775808", {}},
                                       {"UINT64_ABCDEFGH", "18446744073709551616", {}},
                                       {"FLOAT_ABCD", "1e39", {}},
                                       {"FLOAT_ABCD", "1,5", {0x3F80, 0x0000, 0x40A0, 0x0000}},
                                       {"FLOAT_ABCD", "1.5.2", {}},
                                       {"FLOAT_ABCD", "", {}},
                                       {"DOUBLE_ABCDEFGH", "1e400", {}},
                                       {"HEX", "10000", {}},
                                       {"HEX", "0xG1", {}},
                                       {"BINARY", "10000000000000000", {}},
                                       {"BINARY", "102", {}},
                                       {"ASCII", "caf\xc3\xa9", {}}};
  for (const Encoding& c : cases) {
    const auto type = ValueTypeOfName(c.type);
    ASSERT_TRUE(type) << c.type;
    const EncodedValues v = EncodeValues(*type, c.text);
    EXPECT_EQ(v.registers, c.registers) << c.type << " " << c.text;
    EXPECT_EQ(v.error.empty(), !c.registers.empty()) << c.type << " " << c.text << ": " << v.error;
  }
}

TEST(CliValues, KnowsTheWindowsFormatNamesAndTheWiderOnes) {
  for (const char* name :
       {"INT16", "UINT16", "FLOAT_ABCD", "FLOAT_CDAB", "FLOAT_BADC", "FLOAT_DCBA", "INT32_ABCD", "INT32_CDAB",
        "INT32_BADC", "INT32_DCBA", "UINT32_ABCD", "UINT32_CDAB", "UINT32_BADC", "UINT32_DCBA"})
    EXPECT_EQ(ValueTypeName(*ValueTypeOfName(name)), name);
  const struct {
    const char* name;
    int registers;
  } widths[] = {{"INT16", 1},  {"UINT32_DCBA", 2}, {"UINT64_BADCFEHG", 4}, {"DOUBLE_GHEFCDAB", 4}, {"HEX", 1},
                {"BINARY", 1}, {"ASCII", 1}};
  for (const auto& w : widths) EXPECT_EQ(RegistersPerValue(*ValueTypeOfName(w.name)), w.registers) << w.name;
  for (const char* name : {"INT8", "FLOAT", "FLOAT_ABDC", "", "INT64_ABCD", "UINT64_DCBA"})
    EXPECT_FALSE(ValueTypeOfName(name)) << name;
}

// ---- the writers -------------------------------------------------------------

TransactionRecord ReadRecord() {
  TransactionRecord r;
  r.requestTime = {2026, 12, 5, 6, 4, 9, 45};
  r.responseTime = {2026, 12, 5, 6, 4, 9, 48};
  r.slave = 17;
  r.function = 3;
  r.address = 20;
  r.values = {{20, "1", "1", ""}, {21, "-1", "-1", ""}, {22, "NaN", std::nullopt, ""}};
  r.responseMs = 3;
  r.request = {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x11, 0x03, 0x00, 0x14, 0x00, 0x03};
  r.response = {0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x11, 0x03, 0x06, 0x00, 0x01, 0xFF, 0xFF, 0x7F, 0xC0};
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
      {{AddressNotation::Protocol, true, 4, false}, 65537, "0x0001"},  // as the window: the last four digits
      {{AddressNotation::FromOne, false, 4, false}, 0, "00001"},
      {{AddressNotation::FromOne, false, 4, false}, 65535, "65536"},
      {{AddressNotation::Reference, false, 4, false}, 0, "40001"},
      {{AddressNotation::Reference, false, 0, false}, 16, "00017"},
      {{AddressNotation::Reference, false, 3, false}, 9998, "39999"},
      {{AddressNotation::Reference, false, 3, false}, 9999, "310000"},
      {{AddressNotation::Reference, false, 4, true}, 0, "400001"},
      {{AddressNotation::Reference, false, 1, true}, 65535, "165536"},
      {{AddressNotation::Reference, false, -1, false}, 7, "00007"},  // a function without a table
  };
  for (const auto& c : cases) EXPECT_EQ(AddressText(c.address, c.style), c.text) << c.text;
}

TEST(CliOutput, ValueLinesOneAValue) {
  const CliParse p = Parse("-H h -a 20 -q 3");
  ASSERT_EQ(p.action, CliAction::Run);
  EXPECT_EQ(ValueLines(ReadRecord(), AddressStyleOf(p.options)), "00020: 1\n00021: -1\n00022: NaN\n");
  // A reference listing keeps one form: the 6-digit one once a value needs it.
  TransactionRecord r = ReadRecord();
  r.values = {{9997, "5", "5", ""}, {9998, "6", "6", ""}, {9999, "7", "7", ""}};
  const CliParse ref = Parse("-H h --addresses reference -a 49998 -q 3");
  ASSERT_EQ(ref.action, CliAction::Run) << ref.error;
  EXPECT_EQ(ValueLines(r, AddressStyleOf(ref.options)), "409998: 5\n409999: 6\n410000: 7\n");
  r.values = {{0, "Acme \"Devices\"", std::nullopt, "VendorName"}};
  EXPECT_EQ(ValueLines(r, AddressStyleOf(p.options)), "VendorName: Acme \"Devices\"\n");
  r.values.clear();
  EXPECT_EQ(ValueLines(r, AddressStyleOf(p.options)), "");
}

// Every key of `expected` has its value in `o`.
void ExpectKeys(const QJsonObject& o, const QJsonObject& expected) {
  for (const QString& key : expected.keys()) EXPECT_EQ(o[key], expected[key]) << key.toStdString();
}

TEST(CliOutput, JsonLinesParseBack) {
  TransactionRecord r = ReadRecord();
  r.outcome = Outcome::ProtocolError;
  r.faults = {{"Wrong Transaction ID (expected 00 2A)", 0, 2}, {"a \"quoted\" back\\slash\ttab\x01 \xc3\xa9", 9, 4}};
  r.values.push_back({23, "18446744073709551615", std::string("18446744073709551615"), ""});  // stays a number
  r.values.push_back({24, "Inf", std::string("Inf"), ""});  // not JSON: written as text
  const std::string line = JsonLine(r);
  ASSERT_EQ(line.back(), '\n');
  ASSERT_EQ(line.find('\n'), line.size() - 1) << "one object, one line";
  // JSON forbids raw control characters in strings; Qt's reader lets them pass.
  for (size_t i = 0; i + 1 < line.size(); ++i)
    EXPECT_GE(static_cast<unsigned char>(line[i]), 0x20) << "raw control character at " << i;
  QJsonParseError error{};
  const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << line;
  ExpectKeys(o, {{"slave", 17},
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
                 {"response", "00 01 00 00 00 09 11 03 06 00 01 FF FF 7F C0"}});
  EXPECT_EQ(o["faults"].toArray(),
            (QJsonArray{QJsonObject{{"message", "Wrong Transaction ID (expected 00 2A)"}, {"offset", 0}, {"length", 2}},
                        QJsonObject{{"message", QString::fromUtf8("a \"quoted\" back\\slash\ttab\x01 \xc3\xa9")},
                                    {"offset", 9},
                                    {"length", 4}}}));
  EXPECT_FALSE(o.contains("labels"));

  // An exception; a time-out without any answer.
  TransactionRecord e = ReadRecord();
  e.outcome = Outcome::Exception;
  e.values.clear();
  e.exception = RecordException{2, "Illegal Data Address"};
  ExpectKeys(QJsonDocument::fromJson(QByteArray::fromStdString(JsonLine(e))).object(),
             {{"exception", QJsonObject{{"code", 2}, {"text", "Illegal Data Address"}}}, {"values", QJsonArray{}}});
  TransactionRecord t = ReadRecord();
  t.outcome = Outcome::Timeout;
  t.values.clear();
  t.responseMs.reset();
  t.response.clear();
  t.error = "Request Timeout";
  ExpectKeys(
      QJsonDocument::fromJson(QByteArray::fromStdString(JsonLine(t))).object(),
      {{"response_ms", QJsonValue::Null}, {"response", ""}, {"error", "Request Timeout"}, {"outcome", "timeout"}});
}

// RFC 4180 fields of one CSV record (the test's own reader).
std::vector<std::string> ReadCsvRecord(const std::string& text, size_t& pos) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  while (pos < text.size()) {
    const char c = text[pos++];
    if (quoted) {
      if (c == '"' && pos < text.size() && text[pos] == '"') {
        fields.back() += '"';
        ++pos;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c == '\n') {
      return fields;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

TEST(CliOutput, CsvRowsParseBackUnderTheirHeader) {
  TransactionRecord r = ReadRecord();
  r.outcome = Outcome::ProtocolError;
  r.faults = {{"Bad Checksum (expected 45 C9)", 13, 2}, {"line\nbreak, \"comma\"", 1, 1}};
  r.values[1].text = " -1";  // blanks at an end survive
  const std::string text = CsvHeader() + CsvRow(r) + CsvRow(ReadRecord());
  size_t pos = 0;
  const std::vector<std::string> header = ReadCsvRecord(text, pos);
  const std::vector<std::string> row = ReadCsvRecord(text, pos);
  const std::vector<std::string> second = ReadCsvRecord(text, pos);
  EXPECT_EQ(pos, text.size());
  ASSERT_EQ(header.size(), 15u);
  ASSERT_EQ(row.size(), header.size());
  ASSERT_EQ(second.size(), header.size());
  auto field = [&header](const std::vector<std::string>& fields, const std::string& name) {
    for (size_t i = 0; i < header.size(); ++i)
      if (header[i] == name) return fields[i];
    ADD_FAILURE() << "no column " << name;
    return std::string();
  };
  EXPECT_EQ(field(row, "slave"), "17");
  EXPECT_EQ(field(row, "function"), "3");
  EXPECT_EQ(field(row, "address"), "20");
  EXPECT_EQ(field(row, "outcome"), "protocol-error");
  EXPECT_EQ(field(row, "values"), "1;-1;NaN");
  EXPECT_EQ(field(row, "texts"), "1; -1;NaN");
  EXPECT_EQ(field(row, "response_ms"), "3");
  EXPECT_EQ(field(row, "exception_code"), "");
  EXPECT_EQ(field(row, "faults"), "13+2 Bad Checksum (expected 45 C9);1+1 line\nbreak, \"comma\"");
  EXPECT_EQ(field(row, "request"), "00 01 00 00 00 06 11 03 00 14 00 03");
  EXPECT_EQ(field(second, "outcome"), "ok");
  EXPECT_EQ(field(second, "faults"), "");
}

TEST(CliOutput, TrafficRowsPaintTheFaultyBytesOnlyWithColour) {
  TransactionRecord r = ReadRecord();
  r.outcome = Outcome::ProtocolError;
  r.response.resize(20, 0xAB);  // two rows: 16 bytes, then 4
  r.faults = {{"Wrong Transaction ID (expected 00 2A)", 0, 2}, {"Invalid Length", 17, 1}};
  const std::string plain = TrafficRows(r, false);
  const std::string coloured = TrafficRows(r, true);
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  const std::string stampReq = "05.12.26  06:04:09.045  ";
  const std::string stampRes = "05.12.26  06:04:09.048  ";
  const std::string indent(37, ' ');
  EXPECT_EQ(plain, stampReq + "Request  --> 00 01 00 00 00 06 11 03 00 14 00 03\n" + stampRes +
                       "Response <-- 00 01 00 00 00 09 11 03 06 00 01 FF FF 7F C0 AB\n" + indent + "^^ ^^\n" + indent +
                       "AB AB AB AB\n" + indent + "   ^^\n" + stampRes +
                       "Protocol Error: Wrong Transaction ID (expected 00 2A)\n" + stampRes +
                       "Protocol Error: Invalid Length\n");
  const std::string paint = "\x1b[1;37;41m";
  const std::string reset = "\x1b[0m";
  EXPECT_NE(coloured.find("Response <-- " + paint + "00" + reset + " " + paint + "01" + reset + " 00 00"),
            std::string::npos)
      << coloured;
  EXPECT_NE(coloured.find(indent + "AB " + paint + "AB" + reset + " AB AB\n"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("\x1b[31mProtocol Error: Invalid Length" + reset), std::string::npos);
  EXPECT_EQ(coloured.find("^^"), std::string::npos);
  // The request row is never painted.
  EXPECT_NE(coloured.find("Request  --> 00 01 00 00 00 06"), std::string::npos);

  // A time-out shows what arrived, then the error row; an exception its row.
  TransactionRecord t = ReadRecord();
  t.outcome = Outcome::Timeout;
  t.response = {0x00, 0x01};
  t.error = "Request Timeout";
  EXPECT_NE(TrafficRows(t, false).find("Response <-- 00 01\n" + stampRes + "Communication Error: Request Timeout\n"),
            std::string::npos);
  TransactionRecord e = ReadRecord();
  e.outcome = Outcome::Exception;
  e.exception = RecordException{2, "Illegal Data Address"};
  EXPECT_NE(TrafficRows(e, false).find("Modbus Exception: Illegal Data Address (Code 2)\n"), std::string::npos);
  // Link events: only error rows are coloured.
  const LocalTime at{2026, 12, 5, 6, 4, 9, 45};
  EXPECT_EQ(EventRow(at, "Connected", false, true), stampReq + "Connected\n");
  EXPECT_EQ(EventRow(at, "Communication Error: Connect timeout", true, true),
            stampReq + "\x1b[31mCommunication Error: Connect timeout\x1b[0m\n");
  EXPECT_EQ(EventRow(at, "Communication Error: Connect timeout", true, false),
            stampReq + "Communication Error: Connect timeout\n");
}

TEST(CliOutput, ErrorLinesNameTheTransaction) {
  TransactionRecord r = ReadRecord();
  EXPECT_EQ(ErrorLines(r), "");
  r.outcome = Outcome::Exception;
  r.exception = RecordException{131, ""};
  EXPECT_EQ(ErrorLines(r), "vesktarvelo-cli: slave 17, function 3: Modbus exception: Unknown exception (Code 131)\n");
  r.outcome = Outcome::ProtocolError;
  r.exception.reset();
  r.faults = {{"Bad Checksum (expected 45 C9)", 13, 2}, {"Invalid Length", 4, 2}};
  EXPECT_EQ(ErrorLines(r),
            "vesktarvelo-cli: slave 17, function 3: protocol error: Bad Checksum (expected 45 C9)\n"
            "vesktarvelo-cli: slave 17, function 3: protocol error: Invalid Length\n");
  r.outcome = Outcome::ConnectionFailure;
  r.error = "Connection refused";
  EXPECT_EQ(ErrorLines(r), "vesktarvelo-cli: connection failure: Connection refused\n");
}

// Colour follows the stream the traffic rows go to: standard error with CSV
// and JSON, whose standard output is usually a pipe. "auto" colours a
// terminal unless NO_COLOR is set or TERM is "dumb".
TEST(CliOutput, PlanKeepsStandardOutputOneFormat) {
  const struct {
    const char* line;
    bool stdoutTty, stderrTty, noColor, dumb;
    bool trafficToStderr, statsToStderr, statsAsJson, color;
  } cases[] = {
      {"-H h -v", true, false, false, false, false, false, false, true},
      {"-H h -v", false, true, false, false, false, false, false, false},
      {"-H h -v", true, false, true, false, false, false, false, false},
      {"-H h -v", true, false, false, true, false, false, false, false},
      {"-H h -v --color=always", false, false, true, true, false, false, false, true},
      {"-H h -v --color=never", true, true, false, false, false, false, false, false},
      {"-H h -v --json", false, true, false, false, true, false, true, true},
      {"-H h -v --csv", true, false, false, false, true, true, false, false},
      {"-H h -v --csv --color=always", false, false, false, false, true, true, false, true},
  };
  for (const auto& c : cases) {
    const CliParse p = Parse(c.line);
    ASSERT_EQ(p.action, CliAction::Run) << p.error;
    const OutputPlan plan = PlanOutput(p.options, c.stdoutTty, c.stderrTty, c.noColor, c.dumb);
    const std::string why = std::string(c.line) + " " + std::to_string(c.stdoutTty) + std::to_string(c.stderrTty) +
                            std::to_string(c.noColor) + std::to_string(c.dumb);
    EXPECT_EQ(plan.trafficToStderr, c.trafficToStderr) << why;
    EXPECT_EQ(plan.statsToStderr, c.statsToStderr) << why;
    EXPECT_EQ(plan.statsAsJson, c.statsAsJson) << why;
    EXPECT_EQ(plan.color, c.color) << why;
  }
}

TEST(CliOutput, StatisticsCountEachOutcomeOnce) {
  RunStats stats;
  EXPECT_NE(StatsText(stats).find("response ms: -\n"), std::string::npos);
  const struct {
    Outcome outcome;
    std::optional<int64_t> ms;
  } run[] = {{Outcome::Ok, 3},
             {Outcome::Ok, 2},
             {Outcome::Ok, 9},
             {Outcome::Ok, 4},
             {Outcome::Exception, 1},
             {Outcome::ProtocolError, 5},
             {Outcome::Timeout, std::nullopt},
             {Outcome::ConnectionFailure, std::nullopt}};
  for (const auto& t : run) {
    TransactionRecord r;
    r.outcome = t.outcome;
    r.responseMs = t.ms;
    stats.Count(r);
  }
  // Mean of 3, 2, 9, 4: 4.5; only good answers are timed.
  EXPECT_EQ(StatsText(stats),
            "--- statistics ---\ntransactions: 8\nok: 4\nexceptions: 1\nprotocol errors: 1\ntime-outs: 1\n"
            "connection failures: 1\nresponse ms: min 2, avg 4.5, max 9, last 4\n");
  const QJsonObject o =
      QJsonDocument::fromJson(QByteArray::fromStdString(StatsJson(stats))).object()["statistics"].toObject();
  EXPECT_EQ(o["transactions"].toInt(), 8);
  EXPECT_EQ(o["timeouts"].toInt(), 1);
  EXPECT_EQ(o["response_ms"].toObject()["avg"].toDouble(), 4.5);
  // 1, 2, 2: 1.666... shows as 1.7.
  RunStats thirds;
  for (int64_t ms : {1, 2, 2}) {
    TransactionRecord r;
    r.responseMs = ms;
    thirds.Count(r);
  }
  EXPECT_NE(StatsText(thirds).find("avg 1.7,"), std::string::npos) << StatsText(thirds);
}

// ---- the report of a run -------------------------------------------------------

struct Captured {
  std::string out, err;
};

Captured RunReport(const std::string& line, const std::vector<TransactionRecord>& records, bool interrupted,
                   int& status) {
  const CliParse p = Parse(line);
  EXPECT_EQ(p.action, CliAction::Run) << p.error;
  Captured c;
  RunReporter reporter(
      p.options, PlanOutput(p.options, false, false, false, false), [&c](std::string_view t) { c.out += t; },
      [&c](std::string_view t) { c.err += t; });
  for (const TransactionRecord& r : records) reporter.Report(r);
  status = reporter.Finish(interrupted);
  return c;
}

TransactionRecord ExceptionRecord() {
  TransactionRecord e = ReadRecord();
  e.outcome = Outcome::Exception;
  e.values.clear();
  e.exception = RecordException{2, "Illegal Data Address"};
  return e;
}

TEST(CliReport, TextValuesOnStandardOutputErrorsOnStandardError) {
  int status = -1;
  Captured c = RunReport("-H h -a 20 -q 3", {ReadRecord(), ExceptionRecord(), ReadRecord()}, false, status);
  EXPECT_EQ(c.out, "00020: 1\n00021: -1\n00022: NaN\n00020: 1\n00021: -1\n00022: NaN\n");
  EXPECT_EQ(c.err, "vesktarvelo-cli: slave 17, function 3: Modbus exception: Illegal Data Address (Code 2)\n");
  EXPECT_EQ(status, 5);

  // Interrupted: the summary comes even without --stats.
  c = RunReport("-H h -a 20 -q 3 -n 0", {ReadRecord()}, true, status);
  EXPECT_NE(c.out.find("--- statistics ---\ntransactions: 1\nok: 1\n"), std::string::npos) << c.out;
  EXPECT_EQ(status, 0);
  c = RunReport("-H h -n 0", {}, true, status);
  EXPECT_NE(c.out.find("transactions: 0\n"), std::string::npos) << c.out;
  EXPECT_EQ(status, 0);

  // Verbose text: the traffic rows on standard output before the values, the
  // error lines still on standard error.
  c = RunReport("-H h -a 20 -q 3 -v", {ExceptionRecord()}, false, status);
  EXPECT_EQ(c.out.find("05.12.26  06:04:09.045  Request  --> "), 0u) << c.out;
  EXPECT_NE(c.out.find("Modbus Exception: Illegal Data Address (Code 2)\n"), std::string::npos);
  EXPECT_NE(c.err.find("Modbus exception: Illegal Data Address (Code 2)\n"), std::string::npos);
}

TEST(CliReport, JsonAndCsvKeepStandardOutputOneFormat) {
  TransactionRecord timeout = ReadRecord();
  timeout.outcome = Outcome::Timeout;
  timeout.values.clear();
  timeout.response.clear();
  timeout.responseMs.reset();
  timeout.error = "Request Timeout";
  int status = -1;
  Captured c = RunReport("-H h --json -v --stats", {ReadRecord(), timeout, ExceptionRecord()}, false, status);
  EXPECT_EQ(status, 4);
  std::istringstream lines(c.out);
  std::vector<QJsonObject> objects;
  for (std::string line; std::getline(lines, line);) {
    QJsonParseError error{};
    objects.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object());
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
  }
  ASSERT_EQ(objects.size(), 4u) << c.out;
  EXPECT_EQ(objects[1]["outcome"].toString(), "timeout");
  EXPECT_EQ(objects[3]["statistics"].toObject()["timeouts"].toInt(), 1);
  // The traffic rows went to standard error, and they name every fault, so
  // no error line repeats them there.
  EXPECT_NE(c.err.find("Communication Error: Request Timeout\n"), std::string::npos) << c.err;
  EXPECT_EQ(c.err.find("vesktarvelo-cli:"), std::string::npos) << c.err;

  c = RunReport("-H h --csv --stats", {ReadRecord(), timeout}, false, status);
  EXPECT_EQ(c.out.rfind(CsvHeader(), 0), 0u);
  EXPECT_EQ(c.out.find(CsvHeader(), 1), std::string::npos) << "one header";
  EXPECT_EQ(std::count(c.out.begin(), c.out.end(), '\n'), 3);
  EXPECT_NE(c.err.find("--- statistics ---"), std::string::npos);
  EXPECT_NE(c.err.find("vesktarvelo-cli: slave 17, function 3: Request Timeout\n"), std::string::npos);
  c = RunReport("-H h --csv", {}, true, status);
  EXPECT_EQ(c.out, CsvHeader());
}

// ---- exit statuses -----------------------------------------------------------

TEST(CliExitStatus, TheMostSevereOutcomeDecides) {
  using O = Outcome;
  const struct {
    std::vector<Outcome> outcomes;
    int status;
  } cases[] = {
      {{}, 0},
      {{O::Ok, O::Ok}, 0},
      {{O::Ok, O::Exception, O::Ok}, 5},
      {{O::Exception, O::ProtocolError}, 6},
      {{O::ProtocolError, O::Exception}, 6},
      {{O::ProtocolError, O::Timeout, O::Exception}, 4},
      {{O::Timeout, O::ConnectionFailure, O::Ok}, 3},
      {{O::ConnectionFailure, O::Timeout}, 3},
  };
  for (const auto& c : cases) {
    RunOutcome run;
    for (Outcome o : c.outcomes) run.Add(o);
    EXPECT_EQ(run.ExitStatus(), c.status) << c.outcomes.size();
  }
  EXPECT_EQ(kExitUsage, 2);
}

TEST(CliDevice, RefusesMissingAndNonSerialPaths) {
  const std::optional<std::string> missing = CheckSerialDevice("/dev/vesk-no-such-port");
  ASSERT_TRUE(missing);
  EXPECT_EQ(*missing, "vesktarvelo-cli: invalid --device '/dev/vesk-no-such-port': No such file or directory");
  const std::optional<std::string> file = CheckSerialDevice(VESK_CLI_MAN_PAGE);
  ASSERT_TRUE(file);
  EXPECT_NE(file->find("not a serial port"), std::string::npos) << *file;
  // A character device this process may read and write.
  EXPECT_FALSE(CheckSerialDevice("/dev/null")) << CheckSerialDevice("/dev/null").value_or("");
}

}  // namespace
