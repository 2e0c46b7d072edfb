// The wide formats and the address notation on the panel: the format list,
// writes and reads composed for them, the response view's lines, the
// inspector's rows, addresses typed and shown in each notation.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "fakes/fake_platform.h"
#include "modbus/address_notation.h"
#include "modbus/convert.h"
#include "modbus/crc16.h"
#include "modbus/formats.h"
#include "panel/frmMain.h"
#include "presentation/register_decoding.h"

namespace {

using namespace modbus;

enum Fmt {
  INT16 = 0,
  UINT16 = 1,
  F_ABCD = 2,
  I_ABCD = 6,
  I64_ABCDEFGH = 14,
  I64_GHEFCDAB = 15,
  I64_BADCFEHG = 16,
  I64_HGFEDCBA = 17,
  U64_ABCDEFGH = 18,
  D_ABCDEFGH = 22,
  D_HGFEDCBA = 25,
  HEX = 26,
  BINARY = 27,
  ASCII = 28
};

std::string Hex(const Frame& f) {
  std::string s;
  for (uint8_t b : f) s += (s.empty() ? "" : " ") + std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return s;
}

Frame Framed(int16_t mode, const std::string& pdu, uint8_t id = 1) {
  Frame f = HexToBytes(pdu);
  const auto n = static_cast<uint8_t>(f.size());
  if (mode == 1) f.insert(f.begin(), {0, id, 0, 0, 0, n});
  if (mode != 1) f.resize(n + 2u), AppendCRC(f, n);
  return f;
}

std::string View(std::string lines) {
  for (size_t at; (at = lines.find('|')) != std::string::npos;) lines.replace(at, 1, "\r\n");
  return lines;
}

struct Panel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  explicit Panel(int16_t mode = 1) {
    f.Form_Load();
    f.Mode = mode;
  }
  void Fill(int fc, int format, const std::string& addr, const std::string& quantity, const std::string& value,
            AddressNotation notation = AddressNotation::Protocol) {
    f.cmbCmd.SetListIndex(fc == 16 ? 6 : fc - 1);
    f.cmbFormat.SetListIndex(format);
    f.cmbAddresses.SetListIndex(static_cast<int>(notation));
    f.txtUnitID.SetText("1");
    f.txtAddr.SetText(addr);
    f.txtQuantity.SetText(quantity);
    f.txtValue.SetText(value);
  }
  std::string Compose() {
    f.Requests.clear();
    f.GetBytesOfForm();
    std::string s;
    for (const Frame& r : f.Requests) s += (s.empty() ? "" : " | ") + Hex(r);
    return s;
  }
  std::string Answer(int format, const std::string& addrText, const std::string& request, const std::string& response,
                     AddressNotation notation = AddressNotation::Protocol) {
    f.cmbFormat.SetListIndex(format);
    f.cmbAddresses.SetListIndex(static_cast<int>(notation));
    f.txtAddr.SetText(addrText);
    f.LastRequest = Framed(f.Mode, request);
    f.txtResponse.SetEnabled(false);
    f.ShowResponse(Framed(f.Mode, response), f.Mode == 1 ? 6 : 0);
    return f.txtResponse.Text();
  }
};

TEST(WideFormats, TheListKeepsTheFourteenAndNamesEveryFormatInOrder) {
  Panel p;
  ASSERT_EQ(p.f.cmbFormat.ListCount(), kAllFormatCount);
  for (int i = 0; i < kAllFormatCount; ++i) EXPECT_EQ(p.f.cmbFormat.List(i), FormatName(i)) << i;
  // Registers per value and the view's tag, by name: the one rule every caller follows.
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"INT16", 1, "I16"},           {"UINT32_DCBA", 2, "U32"},     {"INT64_ABCDEFGH", 4, "I64"},
      {"UINT64_BADCFEHG", 4, "U64"}, {"DOUBLE_HGFEDCBA", 4, "DBL"}, {"HEX", 1, "HEX"},
      {"BINARY", 1, "BIN"},          {"ASCII", 1, "ASC"},
  };
  for (const auto& [name, registers, tag] : cases) {
    int index = -1;
    for (int i = 0; i < kAllFormatCount; ++i)
      if (FormatName(i) == name) index = i;
    ASSERT_GE(index, 0) << name;
    EXPECT_EQ(RegistersPerValue(static_cast<Format>(index)), registers) << name;
    EXPECT_EQ(FormatTag(index), tag) << name;
  }
  EXPECT_EQ(FormatName(kAllFormatCount), "");
  EXPECT_EQ(FormatName(-1), "");
}

TEST(WideFormats, WritesAndReadsComposed) {
  // fc, format, address, quantity, value; the PDUs (slave byte on)
  const std::vector<std::tuple<int, int, std::string, std::string, std::string, std::vector<std::string>>> cases = {
      {16, I64_ABCDEFGH, "100", "1", "-2", {"01 10 00 64 00 04 08 FF FF FF FF FF FF FF FE"}},
      {16, I64_GHEFCDAB, "100", "1", "0x0102030405060708", {"01 10 00 64 00 04 08 07 08 05 06 03 04 01 02"}},
      {16, I64_BADCFEHG, "100", "1", "0x0102030405060708", {"01 10 00 64 00 04 08 02 01 04 03 06 05 08 07"}},
      {16, I64_HGFEDCBA, "100", "1", "0x0102030405060708", {"01 10 00 64 00 04 08 08 07 06 05 04 03 02 01"}},
      // Beyond 2^53: every digit kept (a double would round it to ...808).
      {16, U64_ABCDEFGH, "0", "1", "18446744073709551615", {"01 10 00 00 00 04 08 FF FF FF FF FF FF FF FF"}},
      {16, I64_ABCDEFGH, "0", "1", "9007199254740993", {"01 10 00 00 00 04 08 00 20 00 00 00 00 00 01"}},
      {16, D_ABCDEFGH, "0", "1", "1.5", {"01 10 00 00 00 04 08 3F F8 00 00 00 00 00 00"}},
      {16, D_HGFEDCBA, "0", "1", "-Inf", {"01 10 00 00 00 04 08 00 00 00 00 00 00 F0 FF"}},
      {16, HEX, "5", "1", "3f80", {"01 10 00 05 00 01 02 3F 80"}},
      {16, BINARY, "5", "1", "1000 0000 0000 0001", {"01 10 00 05 00 01 02 80 01"}},
      {16, ASCII, "5", "1", "Hi", {"01 10 00 05 00 01 02 48 69"}},
      {6, HEX, "5", "1", "0xBEEF", {"01 06 00 05 BE EF"}},
      // 06 writes a 64-bit value as four single-register writes, the last at 65535.
      {6,
       I64_ABCDEFGH,
       "65532",
       "1",
       "0x1122334455667788",
       {"01 06 FF FC 11 22", "01 06 FF FD 33 44", "01 06 FF FE 55 66", "01 06 FF FF 77 88"}},
      // Reads: a value is RegistersPerValue registers.
      {3, D_ABCDEFGH, "0", "3", "", {"01 03 00 00 00 0C"}},
      {4, ASCII, "0", "3", "", {"01 04 00 00 00 03"}},
  };
  for (const auto& [fc, format, addr, quantity, value, pdus] : cases) {
    for (int16_t mode : {0, 1}) {
      Panel p(mode);
      p.Fill(fc, format, addr, quantity, value);
      std::string expected;
      for (size_t i = 0; i < pdus.size(); ++i)
        expected += (i ? " | " : "") + Hex(Framed(mode, pdus[i], static_cast<uint8_t>(i + 1)));
      EXPECT_EQ(p.f.PreviewRequest(), expected) << pdus[0] << " mode " << mode;
      EXPECT_EQ(p.Compose(), expected) << pdus[0] << " mode " << mode;
      EXPECT_EQ(p.fp.beeper->count, 0) << pdus[0];
    }
  }
}

TEST(WideFormats, RefusedWritesSendNothing) {
  const std::vector<std::tuple<int, int, std::string, std::string, std::string>> cases = {
      {6, I64_ABCDEFGH, "65533", "1", "Address out of range: a 64-bit value at 65533 needs registers 65533 to 65536"},
      {6, D_ABCDEFGH, "65535", "1", "Address out of range: a 64-bit value at 65535 needs registers 65535 to 65538"},
      {16, U64_ABCDEFGH, "0", "-1",
       "Invalid value \"-1\": a UINT64 value is a whole number from 0 to 18446744073709551615"},
      {16, I64_ABCDEFGH, "0", "9223372036854775808",
       "Invalid value \"9223372036854775808\": an INT64 value is a whole number from -9223372036854775808 to "
       "9223372036854775807"},
      {16, HEX, "0", "12345", "Invalid value \"12345\": a HEX register is 1 to 4 hexadecimal digits"},
      {6, BINARY, "0", "102", "Invalid value \"102\": a BINARY register is 1 to 16 binary digits"},
  };
  for (const auto& [fc, format, addr, value, message] : cases) {
    Panel p;
    p.Fill(fc, format, addr, "1", value);
    EXPECT_EQ(p.f.PreviewRequest(), message);
    EXPECT_EQ(p.Compose(), "") << message;
    EXPECT_EQ(p.fp.beeper->count, 1) << message;
    EXPECT_NE(p.f.txtLog.Text().find("Communication Error: " + message), std::string::npos) << message;
    EXPECT_EQ(p.f.TransactionID, 0) << message;
  }
}

TEST(WideFormats, ResponseViewLines) {
  struct Case {
    int format;
    std::string request, response, view;
  };
  const std::vector<Case> cases = {
      {I64_ABCDEFGH, "01 03 00 0A 00 08", "01 03 10 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 2A",
       "I64 HR 00010: -9223372036854775808|I64 HR 00014: 42                  "},
      {U64_ABCDEFGH, "01 03 00 00 00 04", "01 03 08 FF FF FF FF FF FF FF FF", "U64 HR 00000: 18446744073709551615"},
      {D_ABCDEFGH, "01 04 00 00 00 04", "01 04 08 7F F0 00 00 00 00 00 01", "DBL IR 00000: NaN"},
      {D_HGFEDCBA, "01 04 00 00 00 04", "01 04 08 01 00 00 00 00 00 00 00", "DBL IR 00000: 5E-324"},
      // A value whose fourth register is missing is left out.
      {D_ABCDEFGH, "01 03 00 00 00 08", "01 03 0E 3F F0 00 00 00 00 00 00 40 00 00 00 00 00", "DBL HR 00000: 1"},
      {HEX, "01 03 00 00 00 02", "01 03 04 3F 80 00 0A", "HEX HR 00000: 3F80|HEX HR 00001: 000A"},
      {BINARY, "01 03 00 00 00 01", "01 03 02 A5 0F", "BIN HR 00000: 10100101 00001111"},
      {ASCII, "01 03 00 00 00 02", "01 03 04 48 69 00 7E", "ASC HR 00000: Hi|ASC HR 00001: .~"},
  };
  for (int16_t mode : {0, 1}) {
    for (const Case& c : cases) {
      Panel p(mode);
      EXPECT_EQ(p.Answer(c.format, "0", c.request, c.response), View(c.view)) << c.response << " mode " << mode;
    }
  }
}

TEST(WideFormats, InspectorReadsFourRegistersFromTheClickedOne) {
  Panel p;
  p.Answer(I64_ABCDEFGH, "0", "01 03 00 00 00 08", "01 03 10 00 00 00 00 00 00 00 01 00 02 00 03 00 04 00 05");
  const std::vector<InspectorRow> first = p.f.InspectResponseLine(0);
  ASSERT_EQ(first.size(), static_cast<size_t>(kAllFormatCount));
  EXPECT_EQ(first[I64_ABCDEFGH].format + " " + first[I64_ABCDEFGH].value + " [" + first[I64_ABCDEFGH].bytes + "]",
            "INT64_ABCDEFGH 1 [00 00 00 00 00 00 00 01]");
  EXPECT_EQ(first[I64_HGFEDCBA].value, "72057594037927936");
  EXPECT_EQ(first[HEX].value + "|" + first[BINARY].value + "|" + first[ASCII].value + "|" + first[HEX].bytes,
            "0000|00000000 00000000|..|00 00");
  // The second line starts at register 4: four registers follow it.
  EXPECT_EQ(p.f.InspectResponseLine(1)[U64_ABCDEFGH].value, "562962838585349");  // 0002 0003 0004 0005
  // Fewer than three registers after the clicked one: the 64-bit rows say so.
  const std::vector<InspectorRow> shortRows =
      InspectRegisters({0x12, 0x34}, std::vector<RegisterBytes>{{0x56, 0x78}}, ".");
  EXPECT_EQ(shortRows[D_ABCDEFGH].value + " [" + shortRows[D_ABCDEFGH].bytes + "]", "\u2014 [12 34 56 78 -- -- -- --]");
  EXPECT_EQ(shortRows[F_ABCD].bytes, "12 34 56 78");
  EXPECT_EQ(shortRows[HEX].value, "1234");
}

TEST(AddressNotation, TypedAddressesToTheWire) {
  using N = AddressNotation;
  // notation, text, protocol address (-1: refused), table digit (-1: none)
  const std::vector<std::tuple<N, std::string, int, int>> cases = {
      {N::Protocol, "0", 0, -1},
      {N::Protocol, "65535", 65535, -1},
      {N::Protocol, "65536", -1, -1},
      {N::Protocol, "0x1234", 0x1234, -1},
      {N::Protocol, "40001", 40001, -1},  // just a number here
      {N::RegisterNumber, "1", 0, -1},
      {N::RegisterNumber, "65536", 65535, -1},
      {N::RegisterNumber, "0", -1, -1},
      {N::RegisterNumber, "65537", -1, -1},
      {N::RegisterNumber, " 40001 ", 40000, -1},
      {N::RegisterNumber, "0x10", 15, -1},
      {N::RegisterNumber, "99999999999", -1, -1},
      {N::Reference, "00001", 0, 0},
      {N::Reference, "10001", 0, 1},
      {N::Reference, "30010", 9, 3},
      {N::Reference, "40001", 0, 4},
      {N::Reference, "49999", 9998, 4},
      {N::Reference, "400001", 0, 4},
      {N::Reference, "465536", 65535, 4},
      {N::Reference, "465537", -1, -1},
      {N::Reference, "40000", -1, -1},
      {N::Reference, "400000", -1, -1},
      {N::Reference, "20001", -1, -1},  // no table 2
      {N::Reference, "4001", -1, -1},   // too short
      {N::Reference, "4000001", -1, -1},
      {N::Reference, "0x9C41", -1, -1},
      {N::Reference, "", -1, -1},
  };
  for (const auto& [n, text, protocol, digit] : cases) {
    const TypedAddress a = ParseAddress(n, text);
    const std::string what = text + " in notation " + std::to_string(static_cast<int>(n));
    EXPECT_EQ(a.Ok(), protocol >= 0) << what << ": " << a.refusal;
    if (!a.Ok() || protocol < 0) continue;
    EXPECT_EQ(a.protocol, protocol) << what;
    EXPECT_EQ(a.table ? TableDigit(*a.table) : -1, digit) << what;
  }
}

TEST(AddressNotation, AddressesWrittenBackAndStoredChoice) {
  using N = AddressNotation;
  const std::vector<std::tuple<N, int32_t, int32_t, bool, std::string>> cases = {
      {N::Protocol, 3, 0, false, "00000"},       {N::Protocol, 3, 0x1F, true, "0x001F"},
      {N::RegisterNumber, 3, 0, false, "00001"}, {N::RegisterNumber, 3, 65535, false, "65536"},
      {N::Reference, 3, 0, false, "40001"},      {N::Reference, 4, 9998, false, "39999"},
      {N::Reference, 4, 9999, false, "310000"},  // beyond 9999: the 6-digit form
      {N::Reference, 1, 65535, false, "065536"}, {N::Reference, 2, 7, false, "10008"},
      {N::Reference, 16, 0, true, "40001"},
  };
  for (const auto& [n, fc, protocol, hex, text] : cases) {
    EXPECT_EQ(AddressText(n, TableOf(fc), protocol, hex), text) << text;
    // What the view writes reads back as the same address.
    if (!hex) {
      EXPECT_EQ(ParseAddress(n, text).protocol, protocol) << text;
    }
  }
  for (const auto& [stored, expected] : std::vector<std::pair<int, N>>{
           {0, N::Protocol}, {1, N::RegisterNumber}, {2, N::Reference}, {3, N::Protocol}, {-1, N::Protocol}})
    EXPECT_EQ(AddressNotationOf(stored), expected) << stored;

  // The setting: restored, and a missing or bad stored value gives protocol addresses.
  for (const auto& [stored, index] :
       std::vector<std::pair<std::string, int>>{{"2", 2}, {"1", 1}, {"7", 0}, {"abc", 0}, {"", 0}}) {
    fakes::FakePlatform fp;
    if (!stored.empty()) fp.settings->values["main/addresses"] = stored;
    frmMain f{fp.Bundle()};
    f.Form_Load();
    EXPECT_EQ(f.cmbAddresses.ListIndex(), index) << stored;
    f.cmbAddresses.SetListIndex(1);
    f.SaveSett();
    EXPECT_EQ(fp.settings->values["main/addresses"], "1");
  }
}

TEST(AddressNotation, TheFormTheViewAndTheCommandChosenByAReference) {
  using N = AddressNotation;
  // notation, command, address typed; the PDU sent and the command afterwards
  const std::vector<std::tuple<N, int, std::string, std::string, int>> cases = {
      {N::Protocol, 3, "40001", "01 03 9C 41 00 01", 3},  // stays the number 40001
      {N::RegisterNumber, 3, "40001", "01 03 9C 40 00 01", 3},
      {N::RegisterNumber, 1, "1", "01 01 00 00 00 01", 1},
      {N::Reference, 3, "40001", "01 03 00 00 00 01", 3},
      {N::Reference, 3, "30005", "01 04 00 04 00 01", 4},  // the input registers' read chosen
      {N::Reference, 1, "400100", "01 03 00 63 00 01", 3},
      {N::Reference, 3, "10001", "01 02 00 00 00 01", 2},
      {N::Reference, 4, "00017", "01 01 00 10 00 01", 1},
      {N::Reference, 6, "40010", "01 06 00 09 00 07", 6},  // a write to the same table stays a write
  };
  for (const auto& [n, fc, addr, pdu, after] : cases) {
    Panel p;
    p.Fill(fc, UINT16, addr, "1", "7", n);
    const std::string expected = Hex(Framed(1, pdu));
    EXPECT_EQ(p.f.PreviewRequest(), expected) << addr;  // the wire's address, before Send chooses anything
    const size_t logLength = p.f.txtLog.Length();
    EXPECT_EQ(p.Compose(), expected) << addr;
    EXPECT_EQ(p.f.GetCmd(), after) << addr;
    const std::string rows = p.f.txtLog.Text().substr(logLength);
    EXPECT_EQ(rows.find("chosen") != std::string::npos, after != fc) << addr << ": " << rows;
  }
  // A refused register or reference number: one red row, nothing sent.
  for (const auto& [n, addr] : std::vector<std::pair<N, std::string>>{{N::RegisterNumber, "0"}, {N::Reference, "1"}}) {
    Panel p;
    p.Fill(3, UINT16, addr, "1", "", n);
    EXPECT_EQ(p.Compose(), "") << addr;
    EXPECT_EQ(p.fp.beeper->count, 1) << addr;
  }
  // The view and the inspector write the addresses in the notation.
  Panel p;
  EXPECT_EQ(p.Answer(UINT16, "40001", "01 03 00 00 00 02", "01 03 04 00 01 00 02", N::Reference),
            View("HR 40001: 1|HR 40002: 2"));
  EXPECT_EQ(p.f.ResponseLineAddressText(1), "40002");
  EXPECT_EQ(p.Answer(I_ABCD, "1", "01 04 00 00 00 02", "01 04 04 00 00 00 05", N::RegisterNumber), "I32 IR 00001: 5");
  EXPECT_EQ(p.f.ResponseLineAddressText(0), "00001");
  EXPECT_EQ(p.Answer(UINT16, "0", "01 02 00 00 00 02", "01 02 01 01", N::Reference), View("DI 10001: 1|DI 10002: 0"));
}

}  // namespace
