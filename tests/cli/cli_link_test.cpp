// What vesktarvelo-cli puts on the wire for each function and what it reads out of the answers, on
// known bytes (TCP frames number from transaction 1); the fixed-width number text of addresses and
// time stamps against a formatted print of its rule.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <sstream>

#include "cli/engine_link.h"
#include "cli/output.h"
#include "common/module1.h"

using namespace cli;

namespace {

CliOptions Options(const std::string& line) {
  std::vector<std::string> args;
  std::istringstream in(line);
  for (std::string a; in >> a;) args.push_back(a);
  const CliParse p = ParseCliOptions(args);
  EXPECT_EQ(p.action, CliAction::Run) << line << ": " << p.error;
  return p.options;
}

Frame Bytes(const std::string& hex) {
  Frame out;
  std::istringstream in(hex);
  for (std::string b; in >> b;) out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
  return out;
}

TEST(CliLink, RequestFramesOfEachFunction) {
  const struct {
    const char* line;
    const char* frame;
  } cases[] = {
      {"-H h -f 7", "00 01 00 00 00 02 01 07"},
      {"-m rtu -d /dev/x -f 7", "01 07 41 E2"},
      {"-H h -f 8 -w 0xA537", "00 01 00 00 00 06 01 08 00 00 A5 37"},
      {"-H h -f 8", "00 01 00 00 00 06 01 08 00 00 00 00"},
      {"-H h -f 15 -a 19 -w 1,0,1,1,0,0,1,1,1,0", "00 01 00 00 00 09 01 0F 00 13 00 0A 02 CD 01"},
      {"-H h -f 17 -s 9", "00 01 00 00 00 02 09 11"},
      {"-H h -f 22 -a 4 --and-mask 0xF2 --or-mask 37", "00 01 00 00 00 08 01 16 00 04 00 F2 00 25"},
      {"-H h -f 43", "00 01 00 00 00 05 01 2B 0E 01 00"},
      {"-H h -f 43 --read-code 4 --object-id 0x81", "00 01 00 00 00 05 01 2B 0E 04 81"},
      {"-H h -f 5 -a 1 -w 1", "00 01 00 00 00 06 01 05 00 01 FF 00"},
      {"-H h -f 6 -a 30 -w -3", "00 01 00 00 00 06 01 06 00 1E FF FD"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(UnsupportedReason(Options(c.line))) << c.line;
    EXPECT_EQ(HexText(RequestFrame(Options(c.line), 1)), c.frame) << c.line;
  }
}

// The answer (TCP unless the line says otherwise) as the default output shows it.
TEST(CliLink, AnswerValuesOfEachFunction) {
  const struct {
    const char* line;
    const char* answer;
    const char* lines;
    const char* firstNumber;  // "" for a value that is no number, or none
  } cases[] = {
      {"-H h -f 7", "00 01 00 00 00 03 01 07 6D", "Exception status: 0x6D\n", "109"},
      {"-H h -f 8 -w 0xA537", "00 01 00 00 00 06 01 08 00 00 A5 37", "Data 1: 0xA537\n", "42295"},
      // The CRC is no data word.
      {"-m rtu -d /dev/x -f 8 -w 1", "01 08 00 00 00 01 E0 0A", "Data 1: 0x0001\n", "1"},
      {"-H h -f 17", "00 01 00 00 00 07 01 11 04 11 FF 41 07",
       "Server ID: 0x11\nRun indicator: ON\nAdditional data: 41 07 \"A\\x07\"\n", "17"},
      {"-H h -f 17", "00 01 00 00 00 05 01 11 02 05 01", "Server ID: 0x05\nRun indicator: invalid (0x01)\n", "5"},
      {"-H h -f 43", "00 01 00 00 00 12 01 2B 0E 01 01 FF 02 02 00 04 41 63 6D 65 81 02 5C 01",
       "00 VendorName: Acme\n81: \\x5C\\x01\n", ""},  // a backslash, then the byte 01
      {"-H h -f 15 -a 1 -w 1,0", "00 01 00 00 00 06 01 0F 00 01 00 02", "", nullptr},
      {"-H h -f 22 -a 4 --and-mask 1 --or-mask 2", "00 01 00 00 00 08 01 16 00 04 00 01 00 02", "", nullptr},
      // The register types as the slave's reads over every link showed them.
      {"-H h -a 110 -q 2 -t UINT16", "00 01 00 00 00 07 01 03 04 80 00 FF FF", "00110: 32768\n00111: 65535\n", "32768"},
      {"-H h -a 110 -t HEX", "00 01 00 00 00 05 01 03 02 80 00", "00110: 0x8000\n", "32768"},
      {"-H h -a 102 -q 2 -t INT32_ABCD", "00 01 00 00 00 07 01 03 04 FF FF FF FE", "00102: -2\n", "-2"},
      {"-H h -a 112 -q 6 -t FLOAT_DCBA", "00 01 00 00 00 0F 01 03 0C 00 00 C0 3F 78 56 34 12 FE FF FF FF",
       "00112: 1.5\n00114: 5.6904566e-28\n00116: NaN\n", "1.5"},  // a float's shortest text, not a double's
      {"-H h -a 106 -q 4 -t DOUBLE_ABCDEFGH", "00 01 00 00 00 0B 01 03 08 3F F0 00 00 00 00 00 00", "00106: 1\n", "1"},
      {"-H h -f 5 -a 1 -w 1", "00 01 00 00 00 06 01 05 00 01 FF 00", "00001: 1\n", "1"},
      {"-H h -f 6 -a 30 -w -3", "00 01 00 00 00 06 01 06 00 1E FF FD", "00030: -3\n", "-3"},
      // A raw read: the function, address and quantity its bytes carry.
      {"-H h --raw 000700000006010300100002", "00 07 00 00 00 07 01 03 04 00 10 FF FF", "0x0010: 16\n0x0011: -1\n",
       "16"},
      {"-m rtu -d /dev/x --raw 0101000A0003", "01 01 01 FD 00 00", "0x000A: 1\n0x000B: 0\n0x000C: 1\n", "1"},
  };
  for (const auto& c : cases) {
    const CliOptions o = Options(c.line);
    TransactionRecord r;
    r.values = AnswerValues(o, Bytes(c.answer));
    EXPECT_EQ(ValueLines(r, AddressStyleOf(o)), c.lines) << c.line;
    if (c.firstNumber != nullptr) {
      EXPECT_EQ(r.values.at(0).number.value_or(""), c.firstNumber) << c.line;
    }
  }
}

// An exception answer's traffic rows as the window logs them: the exception row (also when the
// answer has faults, which make it a protocol error), the byte of a code without a name painted.
TEST(CliLink, ExceptionRowsAndTheUnknownCodePainted) {
  const std::string indent(37, ' '), code = indent + std::string(24, ' ') + "^^";
  const struct {
    uint8_t code;
    bool wrongId;
    const char* row;
    std::string marks;  // the row of marks under the response; none when empty
    const char* json;   // the exception as scripts get it
  } cases[] = {
      {0x0C, false, "Modbus Exception: Unknown exception (Code 12)\n", code,
       "\"exception\":{\"code\":12,\"text\":\"Unknown exception\"}"},
      {0x00, false, "Modbus Exception: Unknown exception (Code 0)\n", code,
       "\"exception\":{\"code\":0,\"text\":\"Unknown exception\"}"},
      {0x02, false, "Modbus Exception: Illegal Data Address (Code 2)\n", "",
       "\"exception\":{\"code\":2,\"text\":\"Illegal Data Address\"}"},
      // A protocol error reports no exception to scripts.
      {0x02, true, "Modbus Exception: Illegal Data Address (Code 2)\n", indent + "^^ ^^", "\"exception\":null"},
  };
  for (const auto& c : cases) {
    engine::Event e;
    e.kind = engine::EventKind::AnswerComplete;
    e.frame = e.answer = Bytes(c.wrongId ? "99 99 00 00 00 03 01 83" : "00 01 00 00 00 03 01 83");
    e.frame.push_back(c.code);
    e.exception = c.code;
    e.codeMark = {"", 8, 1};
    if (c.wrongId) e.faults = {{"Wrong Transaction ID (expected 00 01)", 0, 2}};
    const TransactionRecord r = RecordOfAnswer(Options("-H h"), e);
    const std::string rows = TrafficRows(r, false);
    EXPECT_NE(rows.find(c.row), std::string::npos) << rows;
    EXPECT_EQ(
        c.marks.empty() ? rows.find("^^") == std::string::npos : rows.find("\n" + c.marks + "\n") != std::string::npos,
        true)
        << rows;
    EXPECT_NE(JsonLine(r).find(c.json), std::string::npos) << JsonLine(r);
  }
}

// A device identification chain moves on while the server says more follows, and only forward.
TEST(CliLink, DeviceIdentificationFollowsMoreFollows) {
  const std::string head = "00 01 00 00 00 0B 01 2B 0E 01 01 ";
  const struct {
    const char* line;
    std::string answer;
    int next;  // -1: the chain ends
  } cases[] = {
      {"-H h -f 43", head + "FF 03 01 02 01 41", 3},
      {"-H h -f 43", head + "00 03 01 02 01 41", -1},                // no more
      {"-H h -f 43 --object-id 3", head + "FF 03 01 02 01 41", -1},  // would ask the same object again
      {"-H h -f 43 --object-id 5", head + "FF 03 01 02 01 41", -1},  // would go back
      {"-H h -f 43 --read-code 4", head + "FF 03 01 02 01 41", -1},  // one object: no stream
      {"-H h -f 3", head + "FF 03 01 02 01 41", -1},
      {"-H h -f 43", "00 01 00 00 00 04 01 2B 0E 01", -1},  // too short to say
  };
  for (const auto& c : cases) {
    const auto next = NextDeviceObject(Options(c.line), Bytes(c.answer));
    EXPECT_EQ(next ? *next : -1, c.next) << c.line << " / " << c.answer;
  }
}

// The rule PadNumber documents, written with a formatted print.
std::string Reference(int32_t value, int16_t digits, bool hex) {
  char buf[32];
  if (hex)
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(value + 0x10000000LL) & 0xFFFFFFFFFFULL);
  else
    std::snprintf(buf, sizeof buf, "%lld", value + 1000000000LL);
  const std::string s(buf);
  const size_t keep = std::min(s.size(), static_cast<size_t>(std::max<int16_t>(digits, 0)));
  return (hex ? "0x" : "") + s.substr(s.size() - keep);
}

TEST(CliText, PadNumberFollowsItsRule) {
  const struct {
    int32_t value;
    int16_t digits;
    bool hex;
    const char* text;
  } rows[] = {
      {0, 5, false, "00000"},    {42, 2, false, "42"},        {1234, 2, false, "34"},
      {7, 3, false, "007"},      {-1, 5, false, "99999"},     {0, 12, false, "1000000000"},
      {0xAB, 4, true, "0x00AB"}, {0xFFFF, 4, true, "0xFFFF"}, {-1, 4, true, "0xFFFF"},
      {5, 0, false, ""},         {5, -3, true, "0x"},         {INT32_MIN, 11, false, "-1147483648"},
  };
  for (const auto& r : rows) EXPECT_EQ(PadNumber(r.value, r.digits, r.hex), r.text) << r.value << " " << r.digits;
  const int32_t edges[] = {INT32_MIN, -1000000001, -1000000000, -999999999, -268435457, -268435456,
                           -1,        0,           1,           9999,       10000,      65535,
                           65536,     0x0FFFFFFF,  0x10000000,  999999999,  1000000000, INT32_MAX};
  uint32_t seed = 12345;  // then a fixed pseudo-random walk over the whole range
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int32_t value = i < static_cast<int>(std::size(edges)) ? edges[i] : static_cast<int32_t>(seed);
    for (int16_t digits = -1; digits <= 12; ++digits)
      for (const bool hex : {false, true})
        ASSERT_EQ(PadNumber(value, digits, hex), Reference(value, digits, hex)) << value << " " << digits << " " << hex;
  }
}

}  // namespace
