// On the panel: requests composed from the form (sent and previewed), the response view and its mends, the
// inspector, the log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <sstream>

#include "panel_rig.h"
#include "presentation/log_record.h"
#include "presentation/register_decoding.h"

namespace {

using namespace modbus;
using namespace rig;
namespace fs = std::filesystem;

const std::string kStamp = "05.12.26  06:04:09.045  ", kIndent(37, ' ');

Frame Bytes(int n, int first = 0) {
  Frame f(static_cast<size_t>(n));
  std::iota(f.begin(), f.end(), static_cast<uint8_t>(first));
  return f;
}

std::string Rows(const std::vector<InspectorRow>& rows, std::initializer_list<int> which) {
  std::string s;
  for (int i : which) s += rows.at(static_cast<size_t>(i)).format + " " + rows[i].value + " [" + rows[i].bytes + "]|";
  return s;
}

TEST(Inspector, FourteenFormatsOfAPairAndAMissingNextRegister) {
  const std::vector<InspectorRow> rows = InspectRegisters({0x3F, 0x80}, RegisterBytes{0, 0}, ".");
  std::string texts;
  for (size_t i = 0; i < rows.size(); ++i) {
    texts += rows[i].format + " " + rows[i].value + "|";
    EXPECT_EQ(rows[i].bytes, i < 2 ? "3F 80" : "3F 80 00 00") << i;
  }
  EXPECT_EQ(texts,
            "INT16 16256|UINT16 16256|FLOAT_ABCD 1|FLOAT_CDAB 2.27795078360642E-41|FLOAT_BADC -5.78563625795345E-39|"
            "FLOAT_DCBA 4.60060298822481E-41|INT32_ABCD 1065353216|INT32_CDAB 16256|INT32_BADC -2143354880|"
            "INT32_DCBA 32831|UINT32_ABCD 1065353216|UINT32_CDAB 16256|UINT32_BADC 2151612416|UINT32_DCBA 32831|");
  EXPECT_EQ(InspectRegisters({0x3F, 0xC0}, RegisterBytes{0, 0}, ",")[F_ABCD].value, "1,5");
  const std::vector<InspectorRow> alone = InspectRegisters({0xFF, 0xFE}, std::nullopt, ".");
  ASSERT_EQ(alone.size(), 14u);
  EXPECT_EQ(Rows(alone, {0, 1}), "INT16 -2 [FF FE]|UINT16 65534 [FF FE]|");
  for (size_t i = 2; i < 14; ++i) EXPECT_EQ(alone[i].value + " [" + alone[i].bytes + "]", "\u2014 [FF FE -- --]") << i;
}

TEST(Inspector, FourRegistersFromTheClickedOneForTheWideFormats) {
  Panel p;
  p.Sent(kTcp, I64_ABCDEFGH, "0", "01 03 00 00 00 08");
  p.Answer("01 03 10 00 00 00 00 00 00 00 01 00 02 00 03 00 04 00 05");
  const std::vector<InspectorRow> first = p.f.InspectResponseLine(0);
  ASSERT_EQ(first.size(), static_cast<size_t>(kAllFormatCount));
  EXPECT_EQ(Rows(first, {I64_ABCDEFGH, I64_HGFEDCBA, HEX, BINARY, ASCII}),
            "INT64_ABCDEFGH 1 [00 00 00 00 00 00 00 01]|INT64_HGFEDCBA 72057594037927936 [00 00 00 00 00 00 00 01]|"
            "HEX 0000 [00 00]|BINARY 00000000 00000000 [00 00]|ASCII .. [00 00]|");
  // The second line starts at register 4: four registers follow it (0002 0003 0004 0005).
  EXPECT_EQ(p.f.InspectResponseLine(1)[U64_ABCDEFGH].value, "562962838585349");
  // Fewer than three registers after the clicked one: the 64-bit rows say so.
  const std::vector<InspectorRow> few = InspectRegisters({0x12, 0x34}, std::vector<RegisterBytes>{{0x56, 0x78}}, ".");
  EXPECT_EQ(Rows(few, {D_ABCDEFGH, HEX}) + few[F_ABCD].bytes,
            "DOUBLE_ABCDEFGH \u2014 [12 34 56 78 -- -- -- --]|HEX 1234 [12 34]|12 34 56 78");
}

TEST(Inspector, LinesOfTheView) {
  Panel p;
  p.Sent(1, INT16, "100", "01 03 00 64 00 03");
  ASSERT_EQ(p.Answer("01 03 06 3F 80 00 00 FF FF"), View("HR 00100: 16256|HR 00101: 0    |HR 00102: -1   "));
  EXPECT_EQ(p.f.InspectResponseLine(0).at(F_ABCD).value + " " + p.f.InspectResponseLine(1).at(I_ABCD).value + " " +
                p.f.InspectResponseLine(2).at(F_ABCD).value,  // no register after the last
            "1 65535 \u2014");
  EXPECT_EQ(p.f.ResponseLineAddress(2), 102);
  EXPECT_TRUE(p.f.InspectResponseLine(3).empty() && p.f.InspectResponseLine(-1).empty());
  p.Sent(1, F_ABCD, "100", "01 04 00 64 00 04");  // a 32-bit line starts at its first register
  ASSERT_EQ(p.Answer("01 04 08 3F 80 00 00 40 49 0F DB"),
            View("FLT IR 00100: 1               |FLT IR 00102: 3.14159274101257"));
  EXPECT_EQ(p.f.ResponseLineAddress(1), 102);
  EXPECT_EQ(p.f.InspectResponseLine(1).at(INT16).value + " " + p.f.InspectResponseLine(1).at(I_ABCD).value,
            "16457 1078530011");
  p.Sent(1, UINT16, "0", "01 01 00 00 00 08");  // a coil answer replaces the registers
  p.Answer("01 01 01 05");
  EXPECT_TRUE(p.f.InspectResponseLine(0).empty());
}

TEST(Compose, FramesOfTheFormPreviewedThenPushedOrRefusedWithABeepAndOneRedRow) {
  // fc, format, slave, address, quantity and value as typed; the PDUs the frames carry (slave byte on, '|' between
  // frames) or the refusal. The form's own rules, one row each: every format's bytes are checked on the pure
  // encoders and against libmodbus.
  const std::string slave = "\": a slave address is a number from 0 to 255";
  const std::vector<std::tuple<int, int, std::string, std::string, std::string, std::string, std::string>> cases = {
      {16, U_ABCD, "1", "100", "1", "2.9", "01 10 00 64 00 02 04 00 00 00 02"},  // whole part
      {16, F_ABCD, "1", "65534", "1", "1", "01 10 FF FE 00 02 04 3F 80 00 00"},
      {16, F_ABCD, "1", "65535", "1", "1",
       "Address out of range: a 32-bit value at 65535 needs registers 65535 and 65536"},
      {16, I64_ABCDEFGH, "1", "65533", "1", "1",
       "Address out of range: a 64-bit value at 65533 needs registers 65533 to 65536"},
      {6, INT16, "1", "100", "1", "2.5", "01 06 00 64 00 02"},  // rounded half to even
      {6, UINT16, "1", "100", "1", "3,5", "01 06 00 64 00 04"},
      {5, UINT16, "1", "100", "1", "0.5", "01 05 00 64 00 00"},  // the whole value decides
      {5, UINT16, "1", "100", "1", "0.6", "01 05 00 64 FF 00"},
      {3, UINT16, " 0 ", "0", "1", "", "00 03 00 00 00 01"},  // slave 0 is sent
      {3, UINT16, "255", "0xFFFF", "1", "", "FF 03 FF FF 00 01"},
      {6, HEX, "1", "5", "1", "0xBEEF", "01 06 00 05 BE EF"},
      // 06 writes a 64-bit value as four single-register writes, the last at 65535.
      {6, I64_ABCDEFGH, "1", "65532", "1", "0x1122334455667788",
       "01 06 FF FC 11 22|01 06 FF FD 33 44|01 06 FF FE 55 66|01 06 FF FF 77 88"},
      {3, D_ABCDEFGH, "1", "0", "3", "", "01 03 00 00 00 0C"},  // a value is RegistersPerValue registers
      {6, F_ABCD, "1", "65535", "1", "1",
       "Address out of range: a 32-bit value at 65535 needs registers 65535 and 65536"},
      {3, UINT16, "1", "1F", "1", "1",
       "Invalid address \"1F\": an address is a decimal number or 0x followed by hexadecimal digits"},
      {1, UINT16, "1", "", "1", "1", "Invalid address: the start address is empty"},
      {3, UINT16, "300", "0", "1", "1", "Invalid slave address \"300" + slave},
      {16, F_ABCD, "-1", "0", "1", "1", "Invalid slave address \"-1" + slave},
      {6, I64_ABCDEFGH, "1", "65533", "1", "1",
       "Address out of range: a 64-bit value at 65533 needs registers 65533 to 65536"},
      {16, I64_ABCDEFGH, "1", "0", "1", "9223372036854775808",
       "Invalid value \"9223372036854775808\": an INT64 value is a whole number from -9223372036854775808 to "
       "9223372036854775807"},
  };
  for (const auto& [fc, format, unit, addr, quantity, value, shown] : cases) {
    for (int16_t mode : {0, 1, 2}) {
      SCOPED_TRACE(shown + " mode " + std::to_string(mode));
      Panel p(mode);
      p.Fill(fc, format, unit, addr, quantity, value);
      p.Mark();
      const bool refused = shown[2] != ' ';
      std::string expected = refused ? shown : "";
      std::istringstream pdus(refused ? "" : shown);
      uint16_t frames = 0;
      for (std::string pdu; std::getline(pdus, pdu, '|'); ++frames)
        expected += (frames ? " | " : "") + Hex(Framed(mode, pdu, uint16_t(frames + 1)));
      EXPECT_EQ(p.f.PreviewRequest(), expected);
      // The preview uses up nothing: no frame, no identifier, no beep, no row.
      EXPECT_EQ(p.f.Requests.size() + p.f.TransactionID + p.fp.beeper->count + p.NewLog().size(), 0u);
      EXPECT_EQ(p.Compose(), refused ? "" : expected);
      EXPECT_EQ(p.f.TransactionID, mode == 1 ? frames : 0);
      EXPECT_EQ(std::make_pair(p.NewLog(), p.fp.beeper->count),
                std::make_pair(refused ? p.Rows({"Communication Error: " + shown}) : "", refused ? 1 : 0));
      EXPECT_TRUE(!refused || p.f.txtLog.ColorAt(p.mark) == LogColorError);
    }
  }
}

// The preview, without any check having run: a wrapped address or an oversized read is named with its range
// instead of composing the wrapped value.
TEST(Compose, ThePreviewNamesARefusedAddressOrQuantity) {
  const std::vector<std::tuple<int, std::string, std::string, std::string>> previews = {
      {3, "99999", "1", "Address: \"99999\" is outside 0 to 65535"},
      {6, "70000", "1", "Address: \"70000\" is outside 0 to 65535"},
      {3, "0", "200", "Quantity: \"200\" is outside 1 to 125"},
      {6, "0", "500", "01 06 00 00 00 01"},  // a write reads no quantity
  };
  for (const auto& [fc, address, quantity, shown] : previews) {
    Panel p(0);
    p.Fill(fc, UINT16, "1", address, quantity, "1");
    EXPECT_EQ(p.f.PreviewRequest().substr(0, shown.size()) + std::to_string(p.fp.beeper->count), shown + "0");
  }
}

TEST(Compose, HexInputGoesOutAsTypedAndNoCommandSendsNothing) {
  for (int16_t mode : {0, 1, 2}) {
    Panel p(mode);
    p.TypeHex("01 03 00 00 00 0a c5 cd");
    EXPECT_EQ(p.f.PreviewRequest(), "01 03 00 00 00 0A C5 CD");
    p.f.GetBytesOfHexInput();
    EXPECT_EQ(p.f.Requests, std::vector<Frame>{HexToBytes("01 03 00 00 00 0A C5 CD")}) << mode;
    EXPECT_EQ(p.f.TransactionID, 0) << mode;
  }
  Panel p;
  p.Fill(3, UINT16, "1", "0", "1", "");
  p.f.cmbCmd.SetListIndex(-1);
  const std::string shown = p.f.PreviewRequest(), pushed = p.Compose();
  EXPECT_EQ(shown + pushed + p.NewLog(), "");
}

TEST(RawRequest, ATextTooLongIsRefusedWithOneRedRow) {
  std::string accents;  // each a code point of two bytes
  for (int i = 0; i < 32766; ++i) accents += "\u00e9";
  // The text and the characters it is counted as when refused (0: accepted).
  for (const auto& [text, counted] : std::vector<std::pair<std::string, int>>{{std::string(32767, 'A'), 0},
                                                                              {std::string(32768, 'A'), 32768},
                                                                              {accents + "1", 0},
                                                                              {accents + "12", 32768}}) {
    const bool refused = counted != 0;
    SCOPED_TRACE(text.size());
    Panel p;
    p.TypeHex(text);
    EXPECT_EQ(p.f.PreviewRequest().starts_with("Raw request too long: " + std::to_string(counted) + " "), refused);
    p.f.Requests.clear();
    p.f.GetBytesOfHexInput();
    EXPECT_EQ(std::make_tuple(p.f.Requests.size(), p.fp.beeper->count, p.NewLog()),
              std::make_tuple(refused ? 0u : 1u, refused ? 1 : 0,
                              refused ? p.Rows({"Communication Error: Raw request too long: " +
                                                std::to_string(counted) + " characters, at most 32767"})
                                      : ""));
    EXPECT_TRUE(refused ? p.f.txtLog.ColorAt(p.mark) == LogColorError : !p.f.Requests.at(0).empty());
  }
}

TEST(ResponseView, Rows) {
  struct Case {
    int format;
    std::string request, response, view, addrText = "0";  // request and response after the slave byte
  };
  const std::vector<Case> cases = {
      {INT16, "03 00 00 00 03", "03 06 00 01 FF FF 80 00", "HR 00000: 1     |HR 00001: -1    |HR 00002: -32768"},
      {I_ABCD, "03 00 00 00 03", "03 06 00 00 00 05 00 09", "I32 HR 00000: 5"},  // the incomplete value dropped
      {U_BADC, "03 FF FF 00 04", "03 08 00 00 00 01 00 00 00 02", "U32 HR 0xFFFF: 256|U32 HR 0x0001: 512", " 0xFFFF"},
      {I_ABCD, "03 FF FF 00 04", "03 08 00 00 00 01 00 00 00 02", "I32 HR 65535: 1|I32 HR 65537: 2", "65535"},
      // Coils stop at the quantity and at the last byte.
      {UINT16, "01 00 14 00 0A", "01 02 A5 FE", "CL 00020..29: 1 0 1 0 0 1 0 1 0 1", "20"},
      {UINT16, "01 00 00 00 10", "01 02 81", "CL 00000..7: 1 0 0 0 0 0 0 1"},
      {UINT16, "05 00 AC FF 00", "05 00 AC FF 00", "CL 00172 <- 1", "172"},
      {INT16, "06 00 01 FF FF", "06 00 01 FF FF", "HR 0x0001 <- 65535", "0x1"},
      {F_ABCD, "10 00 64 00 02 04 3F 80 00 00", "10 00 64 00 02", "HR 00100 <- 16256|HR 00101 <- 0", "100"},
      {I64_ABCDEFGH, "10 00 64 00 04 08 FF FF FF FF FF FF FF FE", "10 00 64 00 04",
       "HR 00100 <- 65535|HR 00101 <- 65535|HR 00102 <- 65535|HR 00103 <- 65534", "100"},
      {UINT16, "10 00 64 00 04 08 00 01 00 02 00 03 00 04", "10 00 64 00 04", "HR 00100 <- 1|HR 00101 <- 2", "100"},
      // Lines whose bytes are missing are left out; the CRC is never a value.
      {UINT16, "03 00 00 00 02", "03 04 00 05", "HR 00000: 5"},
      {UINT16, "06 00 01 00 09", "06 00 01", ""},
      {INT16, "10 00 05 00 01 02 00 07", "10 00 05 00 02", "HR 00005 <- 7", "5"},  // the request carried one value
      {UINT16, "03", "03 02 00 01", ""},
      {I64_ABCDEFGH, "03 00 0A 00 08", "03 10 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 2A",
       "I64 HR 00010: -9223372036854775808|I64 HR 00014: 42                  "},
      // 3.5 wide values: the incomplete one is left out.
      {D_ABCDEFGH, "03 00 00 00 08", "03 0E 3F F0 00 00 00 00 00 00 40 00 00 00 00 00", "DBL HR 00000: 1"},
      {HEX, "03 00 00 00 02", "03 04 3F 80 00 0A", "HEX HR 00000: 3F80|HEX HR 00001: 000A"},
  };
  for (int16_t mode : {0, 1, 2}) {
    for (const Case& c : cases) {
      // "CL 00020..29: 1 0 ..." stands for one line per coil from 00020 on.
      std::string view = c.view;
      if (const size_t dots = view.find(".."); dots != std::string::npos) {
        std::istringstream bits(view.substr(view.find(':') + 2));
        view.clear();
        int n = std::stoi(c.view.substr(3, dots - 3));
        for (std::string bit; bits >> bit; ++n)
          view += (view.empty() ? "" : "|") +
                  ("CL " + std::string(5 - std::to_string(n).size(), '0') + std::to_string(n) + ": " + bit);
      }
      Panel p;
      p.Sent(mode, c.format, c.addrText, "01 " + c.request);
      EXPECT_EQ(p.Answer("01 " + c.response), View(view)) << c.response << " mode " << mode;
      EXPECT_TRUE(p.f.txtResponse.Enabled());
    }
  }
}

TEST(ResponseView, AnotherFunctionShowsNothingNewTheTimeIsMonotonicAndTheFramingIsTheRequests) {
  Panel p;
  p.f.txtResponse.SetText("HR 00000: 1");
  p.f.lblDT.SetCaption("12 ms");
  p.Sent(0, UINT16, "0", "01 03 00 00 00 01");
  EXPECT_EQ(p.Answer("01 04 02 00 09"), "HR 00000: 1");
  EXPECT_EQ(std::make_pair(p.f.txtResponse.Enabled(), p.f.lblDT.Caption()),
            std::make_pair(false, std::string("12 ms")));
  EXPECT_EQ(p.Answer("01 83 02"), "");  // bit 7 alone: an exception to the same function, no rows
  EXPECT_TRUE(p.f.txtResponse.Enabled());

  p.Sent(0, UINT16, "0", "01 03 00 00 00 01");
  p.fp.clock->Advance(37);
  p.fp.clock->JumpWallClock(-86400000);  // midnight or a clock set back: no effect
  p.Answer("01 03 02 00 01");
  EXPECT_EQ(std::make_pair(p.f.lblDT.Caption(), p.f.lblDT.ForeColor()),
            std::make_pair(std::string("37 ms"), kColorButtonText));
  p.Sent(1, F_ABCD, "32", "01 03 00 20 00 02");
  p.f.RequestStartMono += 1000;  // a start stamp ahead of the clock: never negative
  p.fp.locale->separator = ",";
  p.f.HexView = true;
  EXPECT_EQ(p.Answer("01 03 04 C0 20 00 00"), "FLT HR 0x0020: -2,5");
  EXPECT_EQ(p.f.lblDT.Caption(), "0 ms");

  // The mode switched from TCP to RTU-OVER-TCP while the answer was awaited: it is read in its request's framing.
  Panel q;
  q.Connect();
  q.Send(modbus::HexToBytes("00 03 00 00 00 06 01 03 00 0A 00 02"));
  q.f.cmbMode.SetListIndex(2);
  q.fp.socket->Deliver(modbus::HexToBytes("00 03 00 00 00 07 01 03 04 00 05 00 06"));
  EXPECT_EQ(q.f.txtResponse.Text(), View("HR 00010: 5|HR 00011: 6"));
}

TEST(AddressNotation, TheFormTheViewAndTheCommandChosenByAReference) {
  using N = AddressNotation;
  // notation, command, address typed; the PDU sent and the command afterwards, or "" for a refusal (the notations'
  // ranges are checked on the pure parser)
  const std::vector<std::tuple<N, int, std::string, std::string, int>> cases = {
      {N::Protocol, 3, "40001", "01 03 9C 41 00 01", 3},  // stays the number 40001
      {N::RegisterNumber, 3, "40001", "01 03 9C 40 00 01", 3},
      {N::Reference, 3, "30005", "01 04 00 04 00 01", 4},  // the input registers' read chosen
      {N::Reference, 1, "400100", "01 03 00 63 00 01", 3},
      {N::Reference, 3, "10001", "01 02 00 00 00 01", 2},
      {N::Reference, 4, "00017", "01 01 00 10 00 01", 1},
      {N::Reference, 6, "40010", "01 06 00 09 00 07", 6},  // a write to the same table stays a write
      {N::RegisterNumber, 3, "0", "", 3},
  };
  for (const auto& [n, fc, addr, pdu, after] : cases) {
    SCOPED_TRACE(addr);
    Panel p;
    p.Fill(fc, UINT16, "1", addr, "1", "7", n);
    const std::string expected = pdu.empty() ? "" : Hex(Framed(1, pdu));
    EXPECT_EQ(pdu.empty() ? "" : p.f.PreviewRequest(), expected);  // the wire's address, before Send chooses anything
    const std::string pushed = p.Compose();
    EXPECT_EQ(std::make_tuple(pushed, p.f.GetCmd(), p.fp.beeper->count),
              std::make_tuple(expected, after, pdu.empty() ? 1 : 0));
    EXPECT_EQ(p.NewLog().find("chosen") != std::string::npos, after != fc) << p.NewLog();
  }
  Panel p;
  p.Sent(kTcp, UINT16, "40001", "01 03 00 00 00 02", N::Reference);
  EXPECT_EQ(p.Answer("01 03 04 00 01 00 02"), View("HR 40001: 1|HR 40002: 2"));
  EXPECT_EQ(p.f.ResponseLineAddressText(1), "40002");
  p.Sent(kTcp, I_ABCD, "1", "01 04 00 00 00 02", N::RegisterNumber);
  EXPECT_EQ(p.Answer("01 04 04 00 00 00 05"), "I32 IR 00001: 5");
  EXPECT_EQ(p.f.ResponseLineAddressText(0), "00001");
  p.Sent(kTcp, UINT16, "0", "01 02 00 00 00 02", N::Reference);
  EXPECT_EQ(p.Answer("01 02 01 01"), View("DI 10001: 1|DI 10002: 0"));
}

TEST(Log, HexTextRowsAndCsv) {
  const std::string row = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
  EXPECT_EQ(ToLogHexString({}) + "|" + ToLogHexString(Bytes(16)), "|" + row);
  EXPECT_EQ(ToLogHexString(Bytes(33)),
            row + " \r\n" + kIndent + "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \r\n" + kIndent + "20");
  Panel p(1, false);
  p.f.Log("", LogColorInfo);
  p.f.LogRequest(HexToBytes("01 03 00 00 00 0A C5 CD"));
  p.f.LogResponse(HexToBytes("00 02 00 00 00 06 01"));
  p.f.LogError("Protocol Error", "Wrong Transaction ID (expected 00 01)", false, 2, 0);
  p.f.LogError("Protocol Error", "Invalid MBAP Length", false, 2, 4);
  p.f.Log("a \"quoted\", text", LogColorInfo);
  const std::string at = "2026-12-05T06:04:09.045,";
  EXPECT_EQ(p.f.LogAsCsv(), "time,kind,class,bytes,message,painted\r\n" + at + "information,,,,\r\n" + at +
                                "request,,01 03 00 00 00 0A C5 CD,,\r\n" + at +
                                "response,,00 02 00 00 00 06 01,,0+2 4+2\r\n" + at +
                                "error,Protocol Error,,Wrong Transaction ID (expected 00 01),\r\n" + at +
                                "error,Protocol Error,,Invalid MBAP Length,\r\n" + at +
                                "information,,,\"a \"\"quoted\"\", text\",\r\n");
  p.f.RxBuffer = {0x01, 0x03};  // a time-out shows the bytes of the request in flight, once
  p.f.RxCount = 2;
  p.f.AwaitingResponse = true;
  p.f.LogError("Communication Error", "Request Timeout", true, 0, 0);
  p.f.AwaitingResponse = false;
  p.f.LogError("Communication Error", "Connect timeout", true, 0, 0);
  const std::string& t = p.f.txtLog.Text();
  EXPECT_EQ(t, "\r\n" + p.Rows({"Request  --> 01 03 00 00 00 0A C5 CD", "Response <-- 00 02 00 00 00 06 01",
                                "Protocol Error: Wrong Transaction ID (expected 00 01)",
                                "Protocol Error: Invalid MBAP Length", "a \"quoted\", text", "Response <-- 01 03",
                                "Communication Error: Request Timeout", "Communication Error: Connect timeout"}));
  EXPECT_EQ(std::make_pair(p.f.txtLog.ColorAt(t.rfind(kStamp)), p.f.txtLog.ColorAt(t.find("a \"quoted"))),
            std::make_pair(LogColorError, LogColorInfo));
}

// Faults paint the digits of their bytes, across row breaks; a long response row shows its first 512 bytes and how
// many more there are: faults beyond it paint nothing (not even the digits of the note), and the record keeps what
// the row shows.
TEST(Log, HighlightsCountDigitsAcrossRowBreaksAndALongRowIsCutAt512Bytes) {
  const std::vector<std::tuple<int, std::vector<std::pair<int, int>>, std::vector<int>>> cases = {
      {20, {{15, 2}}, {15, 16}},                       // across the row break and the indent
      {9, {{0, 2}, {4, 2}, {6, 1}}, {0, 1, 4, 5, 6}},  // several in one row
      {9, {{7, 5}}, {7, 8}},                           // beyond the frame: what exists
      {9, {{3, 0}}, {}},
      {512, {{510, 4}}, {510, 511}},
      {600, {{510, 4}}, {510, 511}},
      {600, {{512, 80}}, {}},
      {100000, {{99990, 5}}, {}},
  };
  for (const auto& [length, faults, painted] : cases) {
    SCOPED_TRACE(length);
    Panel p(1, false);
    p.f.LogResponse(Bytes(length, 0x10));
    for (auto [offset, count] : faults) p.f.LogError("Protocol Error", "x", false, count, offset);
    EXPECT_EQ(p.Painted(), painted);
    const std::string row = p.f.txtLog.Text().substr(size_t(p.f.RxLogStart), size_t(p.f.RxLogEnd - p.f.RxLogStart));
    const int shown = std::min(length, 512);
    const std::string tail = length > 512 ? "\u2026 (" + std::to_string(length - 512) + " bytes more)"
                                          : Hex(Bytes(1, (0x10 + shown - 1) % 256));
    EXPECT_EQ(row.substr(row.size() - 2 - tail.size(), tail.size()), tail);
    EXPECT_EQ(std::count(row.begin(), row.end(), '\n'), (shown + 15) / 16);
    EXPECT_NE(p.f.LogAsCsv().find(PlainHex(Bytes(shown, 0x10))), std::string::npos);
  }
}

TEST(Log, KeepsAtMostAThousandWholeEntriesAndTwoMebibytes) {
  Panel p;                                                     // the empty row and "Run Tarvelo"
  for (int i = 0; i < 997; ++i) p.f.LogRequest(Bytes(20, i));  // two rows each
  p.f.LogResponse(Bytes(20, 0x40));
  EXPECT_EQ(p.f.LogLineCount, 1000);
  p.f.LogError("Protocol Error", "a", false, 2, 15);  // entry 1001 removes the empty start row only
  EXPECT_EQ(p.f.txtLog.Text().substr(0, kStamp.size() + 11), kStamp + "Run Tarvelo");
  EXPECT_EQ(p.Painted(), (std::vector<int>{15, 16}));
  p.f.Log("x", LogColorInfo);  // entry 1002 removes "Run Tarvelo", entry 1003 the whole first request
  p.f.LogError("Protocol Error", "b", false, 1, 19);
  const std::string& t = p.f.txtLog.Text();
  const std::string first = kStamp + "Request  --> " + ToLogHexString(Bytes(20, 1)) + "\r\n" + kStamp + "Request";
  EXPECT_EQ(t.substr(0, first.size()), first);
  EXPECT_EQ(p.f.LogLineCount, 1000);
  EXPECT_EQ(p.Painted(), (std::vector<int>{15, 16, 19}));
  EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 996 * 2 + 2 + 3);

  Panel big(1, false);
  for (int i = 0; i < 1000; ++i) big.f.LogResponse(Bytes(600, i));
  const std::string& b = big.f.txtLog.Text();
  EXPECT_LE(b.size(), size_t{2} << 20);
  EXPECT_GT(b.size(), (size_t{2} << 20) - 4000);  // trimmed one entry at a time, not emptied
  EXPECT_LT(big.f.LogLineCount, 1000);
  EXPECT_EQ(b.substr(0, kStamp.size() + 8), kStamp + "Response");
  EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), big.f.LogLineCount * 32);
  big.f.LogError("Protocol Error", "x", false, 2, 3);
  EXPECT_EQ(big.Painted(), (std::vector<int>{3, 4}));
}

// The continuous log file keeps every entry of a long session in order across rotations, in both formats, while the
// pane keeps its last 1000 and says where the others went.
TEST(LogFile, EveryEntryOfALongSessionInOrderAcrossRotations) {
  for (const bool csv : {false, true}) {
    const ScratchDir dir(csv ? "logfile_csv" : "logfile_text");
    const std::string path = (dir.path / "bus.log").string();
    Panel p;
    p.f.SetLogFile(path, csv);
    p.f.SetLogFileRotation(64 * 1024, 100);
    constexpr int kEntries = 5000;
    for (int i = 0; i < kEntries; ++i) p.f.Log("entry " + std::to_string(i));
    EXPECT_EQ(p.f.LogHoldingText(), "1000 entries shown; older ones are in " + path);
    std::vector<std::string> files;
    for (int n = 100; n >= 0; --n)
      if (const std::string file = n ? path + "." + std::to_string(n) : path; fs::exists(file)) files.push_back(file);
    ASSERT_GE(files.size(), 3u) << "rotated";
    std::string expected, got;
    for (int i = 0; i < kEntries; ++i) expected += "entry " + std::to_string(i) + (csv ? ",\r\n" : "\r\n");
    for (const std::string& file : files) {
      EXPECT_LE(fs::file_size(file), 64u * 1024u) << file;
      std::istringstream in(ReadFile(file));
      for (std::string line; std::getline(in, line);) {
        if (line == "time,kind,class,bytes,message,painted\r") continue;  // the CSV's header, once a file
        got += line.substr(std::min(line.size(), line.find("entry"))) + "\n";
      }
      EXPECT_TRUE(!csv || ReadFile(file).rfind("time,kind,class,bytes,message,painted\r\n", 0) == 0) << file;
    }
    EXPECT_TRUE(got == expected) << (csv ? "csv" : "text");
  }
  // Without a file, what the pane no longer holds is dropped, and says so.
  Panel p;
  for (int i = 0; i < 1001; ++i) p.f.Log("x");
  EXPECT_EQ(p.f.LogHoldingText(), "1000 entries shown; older ones were dropped");
}

// A file that cannot be written (here a directory in its place; a full disk below, when the test may mount one)
// gives one error row, and the pane goes on.
TEST(LogFile, AFailingFileIsReportedOnceAndNeverStopsThePane) {
  const ScratchDir scratch("logfail");
  const fs::path& dir = scratch.path;
  fs::create_directories(dir / "taken");
  fs::create_directories(dir / "tiny");
  std::vector<std::string> paths = {(dir / "taken").string()};
  if (::geteuid() == 0 && std::system(("mount -t tmpfs -o size=16k tmpfs " + (dir / "tiny").string()).c_str()) == 0)
    paths.push_back((dir / "tiny" / "bus.log").string());
  const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
      paths.size() > 1 ? &dir : nullptr,
      [](const fs::path* d) { std::system(("umount " + (*d / "tiny").string()).c_str()); });
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    Panel p;
    p.f.SetLogFile(path, false);
    p.f.SetLogFileRotation(1024 * 1024, 2);
    // 900 entries of about 80 bytes: the tiny disk fills after some 200, and the pane still holds the error row.
    for (int i = 0; i < 900; ++i) p.f.Log("entry " + std::to_string(i) + " " + std::string(40, 'x'));
    EXPECT_EQ(p.Count("Log file stopped: "), 1);
    EXPECT_EQ(p.Count("entry 899 "), 1);
    for (int i = 900; i < 1100; ++i) p.f.Log("entry " + std::to_string(i));
    EXPECT_EQ(p.f.LogHoldingText(), "1000 entries shown; older ones were dropped: the log file failed");
    EXPECT_TRUE(path == paths[0] || fs::file_size(path) > 0);
  }
  if (paths.size() < 2)
    GTEST_SKIP() << "the full disk needs a tmpfs mounted (as root); only the refused path was checked";
}

// Saving writes the whole text or CSV at once (through a link to the link's target), or gives one red row with
// the system's reason.
TEST(Log, SaveWritesTheWholeFileThroughALinkOrNamesTheSystemsReason) {
  Panel p;
  p.f.LogRequest({0x01, 0x03});
  const ScratchDir scratch("logsave");
  const fs::path& dir = scratch.path;
  fs::create_directories(dir / "real");
  fs::create_symlink("real/log.txt", dir / "link.txt");  // dangling until saved
  ASSERT_TRUE(p.f.SaveLog((dir / "plain.csv").string(), true));
  EXPECT_EQ(ReadFile(dir / "plain.csv"), p.f.LogAsCsv());
  for (const bool csv : {false, true}) {  // the second over the existing target
    ASSERT_TRUE(p.f.SaveLog((dir / "link.txt").string(), csv));
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(ReadFile(dir / "real" / "log.txt"), csv ? p.f.LogAsCsv() : p.f.txtLog.Text());
  }
  for (const char* part : {"plain.csv.part", "link.txt.part", "real/log.txt.part"})
    EXPECT_FALSE(fs::exists(dir / part));
  for (const auto& [path, error] : std::vector<std::pair<fs::path, int>>{
           {dir / "missing" / "log.txt", ENOENT}, {dir / "real", EISDIR}, {dir / "real" / "log.txt" / "x", ENOTDIR}}) {
    p.Mark();
    EXPECT_FALSE(p.f.SaveLog(path.string(), false));
    const std::string row = p.NewLog(), tail = std::string(std::strerror(error)) + "\r\n";
    EXPECT_EQ(row.rfind(kStamp + "Failed to save the log to " + path.string() + ": ", 0), 0u) << row;
    EXPECT_EQ(row.substr(row.size() - std::min(row.size(), tail.size())), tail);
    EXPECT_EQ(p.f.txtLog.ColorAt(p.mark), LogColorError);
  }
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace
