// The communication log: row layout, hex text, painting and trimming.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

const std::string kStamp = "05.12.26  06:04:09.045  ";
const std::string kIndent(37, ' ');

Frame Bytes(int n, int first = 0) {
  Frame f;
  for (int i = 0; i < n; ++i) f.push_back(static_cast<uint8_t>(first + i));
  return f;
}

struct LogPanel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  // Colour of the two digits of byte `index` of the last response row.
  uint32_t ByteColor(int index) {
    const std::string& t = f.txtLog.Text();
    int n = 0;
    for (size_t p = static_cast<size_t>(f.RxLogStart) + 37; p < static_cast<size_t>(f.RxLogEnd); ++p) {
      const char c = t[p];
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) continue;
      if (n == 2 * index) {
        EXPECT_EQ(f.txtLog.ColorAt(p), f.txtLog.ColorAt(p + 1));
        return f.txtLog.ColorAt(p);
      }
      ++n;
    }
    ADD_FAILURE() << "byte " << index << " not in the response row";
    return 0;
  }
  std::vector<int> PaintedBytes(int count) {
    std::vector<int> out;
    for (int i = 0; i < count; ++i)
      if (ByteColor(i) == LogColorHighlight) out.push_back(i);
    return out;
  }
};

TEST(LogHexText, Layout) {
  struct Case {
    Frame data;
    std::string text;
  } cases[] = {
      {{}, ""},
      {{0x0A}, "0A"},
      {{0x01, 0x03, 0xFF}, "01 03 FF"},
      {Bytes(16), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"},
      {Bytes(17), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n" + kIndent + "10"},
      {Bytes(33), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n" + kIndent +
                      "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \r\n" + kIndent + "20"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToLogHexString(c.data), c.text);
}

TEST(Log, RowsCarryTimeStampAndColour) {
  LogPanel p;
  p.f.Log("", LogColorInfo);
  p.f.LogRequest({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD});
  p.f.LogResponse({});
  p.f.LogError("Protocol Error", "Bad", false, 0, 0);
  EXPECT_EQ(p.f.txtLog.Text(), "\r\n" + kStamp + "Request  --> 01 03 00 00 00 0A C5 CD\r\n" + kStamp +
                                   "Response <-- \r\n" + kStamp + "Protocol Error: Bad\r\n");
  const size_t errorRow = p.f.txtLog.Text().rfind(kStamp);
  EXPECT_EQ(p.f.txtLog.ColorAt(errorRow), LogColorError);
  EXPECT_EQ(p.f.txtLog.ColorAt(errorRow - 3), LogColorInfo);
  EXPECT_EQ(p.f.LogLineCount, 4);
}

TEST(Log, HighlightsCountDigitsAcrossRowBreaks) {
  struct Case {
    int frameLength;
    std::vector<std::pair<int, int>> errors;  // offset, length
    std::vector<int> painted;
  } cases[] = {
      {20, {{15, 2}}, {15, 16}},                       // across the row break and the indent
      {9, {{0, 2}, {4, 2}, {6, 1}}, {0, 1, 4, 5, 6}},  // several ranges in one row
      {9, {{7, 5}}, {7, 8}},                           // a range beyond the frame paints what exists
      {9, {{3, 0}}, {}},                               // length 0 paints nothing
  };
  for (const auto& c : cases) {
    LogPanel p;
    p.f.LogResponse(Bytes(c.frameLength, 0x10));
    for (auto [offset, length] : c.errors) p.f.LogError("Protocol Error", "x", false, length, offset);
    EXPECT_EQ(p.PaintedBytes(c.frameLength), c.painted) << "frame of " << c.frameLength;
  }
}

TEST(Log, HighlightBeforeAnyResponsePaintsNothing) {
  LogPanel p;
  p.f.Log("row", LogColorInfo);
  p.f.LogError("Protocol Error", "x", false, 2, 0);
  for (size_t i = 0; i < p.f.txtLog.Length(); ++i) EXPECT_NE(p.f.txtLog.ColorAt(i), LogColorHighlight);
}

TEST(Log, ShowRxShowsOnlyBytesOfTheRequestInFlight) {
  LogPanel p;
  p.f.RxBuffer = {0x01, 0x03};
  p.f.RxCount = 2;
  p.f.AwaitingResponse = true;
  p.f.LogError("Communication Error", "Request Timeout", true, 0, 0);
  EXPECT_EQ(p.f.txtLog.Text(), kStamp + "Response <-- 01 03\r\n" + kStamp + "Communication Error: Request Timeout\r\n");
  // The answer is complete: its bytes are not shown again with a later error.
  p.f.AwaitingResponse = false;
  p.f.LogError("Communication Error", "Connect timeout", true, 0, 0);
  EXPECT_EQ(p.f.txtLog.Text().substr(p.f.txtLog.Text().rfind(kStamp)),
            kStamp + "Communication Error: Connect timeout\r\n");
  EXPECT_EQ(p.f.LogLineCount, 3);
}

TEST(Log, KeepsAtMostAThousandWholeEntries) {
  LogPanel p;
  p.f.Form_Load();                                             // the empty row and "Run Tarvelo"
  for (int i = 0; i < 997; ++i) p.f.LogRequest(Bytes(20, i));  // two rows each
  p.f.LogResponse(Bytes(20, 0x40));
  EXPECT_EQ(p.f.LogLineCount, 1000);
  EXPECT_EQ(p.f.txtLog.Text().substr(0, 2), "\r\n");

  // Entry 1001 removes the empty start row only.
  p.f.LogError("Protocol Error", "a", false, 2, 15);
  EXPECT_EQ(p.f.LogLineCount, 1000);
  EXPECT_EQ(p.f.txtLog.Text().substr(0, kStamp.size() + 11), kStamp + "Run Tarvelo");
  EXPECT_EQ(p.PaintedBytes(20), (std::vector<int>{15, 16}));

  // Entry 1002 removes "Run Tarvelo"; entry 1003 a whole two-row request.
  p.f.Log("x", LogColorInfo);
  const std::string before = p.f.txtLog.Text();
  p.f.LogError("Protocol Error", "b", false, 1, 19);
  const std::string after = p.f.txtLog.Text();
  EXPECT_EQ(p.f.LogLineCount, 1000);
  EXPECT_EQ(before.size() - after.size(), (kStamp + "Request  --> ").size() + ToLogHexString(Bytes(20)).size() + 2 -
                                              (kStamp + "Protocol Error: b\r\n").size());
  EXPECT_EQ(after.substr(0, kStamp.size() + 13), kStamp + "Request  --> ");
  EXPECT_EQ(p.PaintedBytes(20), (std::vector<int>{15, 16, 19}));

  // Count rows: 1000 entries, of which 996 requests of two rows.
  size_t rows = 0;
  for (size_t pos = after.find("\r\n"); pos != std::string::npos; pos = after.find("\r\n", pos + 2)) ++rows;
  EXPECT_EQ(rows, 996u * 2 + 2 + 3);
}

}  // namespace

namespace {

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(LogSave, CsvHasOneRecordPerEntryWithPaintedRanges) {
  LogPanel p;
  p.f.Log("Connect to 127.0.0.1:502...", LogColorInfo);
  p.f.LogRequest({0x00, 0x01});
  p.f.LogResponse({0x00, 0x02, 0x00, 0x00, 0x00, 0x06, 0x01});
  p.f.LogError("Protocol Error", "Wrong Transaction ID (expected 00 01)", false, 2, 0);
  p.f.LogError("Protocol Error", "Invalid MBAP Length", false, 2, 4);
  p.f.Log("a \"quoted\", text", LogColorInfo);
  EXPECT_EQ(p.f.LogAsCsv(),
            "time,kind,class,bytes,message,painted\r\n"
            "2026-12-05T06:04:09.045,information,,,Connect to 127.0.0.1:502...,\r\n"
            "2026-12-05T06:04:09.045,request,,00 01,,\r\n"
            "2026-12-05T06:04:09.045,response,,00 02 00 00 00 06 01,,0+2 4+2\r\n"
            "2026-12-05T06:04:09.045,error,Protocol Error,,Wrong Transaction ID (expected 00 01),\r\n"
            "2026-12-05T06:04:09.045,error,Protocol Error,,Invalid MBAP Length,\r\n"
            "2026-12-05T06:04:09.045,information,,,\"a \"\"quoted\"\", text\",\r\n");
}

TEST(LogSave, WritesTheWholeFileOrReportsWhyNot) {
  LogPanel p;
  p.f.Form_Load();
  p.f.LogRequest({0x01, 0x03});
  const auto dir = std::filesystem::temp_directory_path() / ("vesk-log-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string shown = p.f.txtLog.Text();
  ASSERT_TRUE(p.f.SaveLog((dir / "log.txt").string(), false));
  EXPECT_EQ(ReadFile(dir / "log.txt"), shown);
  ASSERT_TRUE(p.f.SaveLog((dir / "log.csv").string(), true));
  EXPECT_EQ(ReadFile(dir / "log.csv"), p.f.LogAsCsv());
  EXPECT_FALSE(std::filesystem::exists(dir / "log.csv.part"));

  const auto missing = dir / "no-such-folder" / "log.txt";
  EXPECT_FALSE(p.f.SaveLog(missing.string(), false));
  EXPECT_FALSE(std::filesystem::exists(missing));
  const std::string& text = p.f.txtLog.Text();
  const size_t row = text.rfind(kStamp);
  EXPECT_EQ(text.substr(row, kStamp.size() + 32),
            kStamp + "Failed to save the log to " + missing.string().substr(0, 6));
  EXPECT_EQ(p.f.txtLog.ColorAt(row), LogColorError);
  std::filesystem::remove_all(dir);
}

}  // namespace
