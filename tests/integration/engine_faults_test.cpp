// Faulty answers from the scripted fault peer over the real Qt socket, in TCP
// and in RTU-OVER-TCP framing: each fault is logged after the response row as
// its own red row, with exactly its bytes painted in the response row; a frame
// split over several writes completes; bytes behind a complete frame are
// dropped and never taken for the start of the next answer.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "panel_rig.h"

namespace {

using rig::Adu;
using rig::kRtuOverTcp;
using rig::kTcp;
using rig::Req;
using rig::Rsp;

std::string ConnectRow(int port) { return "Connect to 127.0.0.1:" + std::to_string(port) + "..."; }

bool IsErrorRow(const std::string& row) {
  for (const char* cls : {"Communication Error: ", "Protocol Error: ", "Modbus Exception: "})
    if (row.rfind(cls, 0) == 0) return true;
  return false;
}

// The colour each non-empty row should have.
std::vector<uint32_t> ColorsOf(const std::vector<std::string>& rows) {
  std::vector<uint32_t> out;
  for (const std::string& r : rows)
    if (!r.empty()) out.push_back(IsErrorRow(r) ? LogColorError : LogColorInfo);
  return out;
}

struct FaultCase {
  const char* name;
  int16_t mode;
  const char* script;
  Frame response;                   // as logged
  std::vector<std::string> errors;  // the rows after the response row
  std::vector<int> painted;         // bytes of the response row in the highlight colour
  std::optional<std::string> view;  // nullopt: the view is not updated
};

std::vector<FaultCase> Cases() {
  const Frame good = {0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 7};
  const Frame rtuGood = rig::WithCrc({1, 3, 2, 0, 7});
  const Frame crcOfGood = {rtuGood[5], rtuGood[6]};
  return {
      {"wrong transaction id",
       kTcp,
       "reply 99 99 00 00 LEN UID FC 02 00 07",
       {0x99, 0x99, 0, 0, 0, 5, 1, 3, 2, 0, 7},
       {"Protocol Error: Wrong Transaction ID (expected 00 01)"},
       {0, 1},
       "HR 00000: 7"},
      {"wrong protocol id",
       kTcp,
       "reply TID 00 01 LEN UID FC 02 00 07",
       {0, 1, 0, 1, 0, 5, 1, 3, 2, 0, 7},
       {"Protocol Error: Invalid protocol ID (expected 00 00)"},
       {2, 3},
       "HR 00000: 7"},
      {"MBAP length below 3",
       kTcp,
       "reply TID 00 00 00 02 UID FC 02 00 07",
       {0, 1, 0, 0, 0, 2, 1, 3, 2, 0, 7},
       {"Protocol Error: Invalid MBAP Length"},
       {4, 5},
       "HR 00000: 7"},
      {"MBAP length not the frame's",
       kTcp,
       "reply TID 00 00 00 09 UID FC 02 00 07",
       {0, 1, 0, 0, 0, 9, 1, 3, 2, 0, 7},
       {"Protocol Error: Invalid MBAP Length"},
       {4, 5},
       "HR 00000: 7"},
      {"wrong unit id",
       kTcp,
       "reply TID 00 00 LEN 09 FC 02 00 07",
       {0, 1, 0, 0, 0, 5, 9, 3, 2, 0, 7},
       {"Protocol Error: Wrong response slave (expected 01)"},
       {6},
       "HR 00000: 7"},
      {"wrong function code",
       kTcp,
       "reply TID 00 00 LEN UID 04 02 00 07",
       {0, 1, 0, 0, 0, 5, 1, 4, 2, 0, 7},
       {"Protocol Error: Wrong response command (expected 03)"},
       {7},
       std::nullopt},
      {"wrong unit id and function code, in the order found",
       kTcp,
       "reply TID 00 00 LEN 09 04 02 00 07",
       {0, 1, 0, 0, 0, 5, 9, 4, 2, 0, 7},
       {"Protocol Error: Wrong response slave (expected 01)", "Protocol Error: Wrong response command (expected 03)"},
       {6, 7},
       std::nullopt},
      {"exception code 12",
       kTcp,
       "reply TID 00 00 LEN UID EFC 0C",
       {0, 1, 0, 0, 0, 3, 1, 0x83, 12},
       {"Modbus Exception: Unknown exception (Code 12)"},
       {8},
       std::nullopt},
      {"exception code 0",
       kTcp,
       "reply TID 00 00 LEN UID EFC 00",
       {0, 1, 0, 0, 0, 3, 1, 0x83, 0},
       {"Modbus Exception: Unknown exception (Code 0)"},
       {8},
       std::nullopt},
      {"exception code 9 has its name",
       kTcp,
       "reply TID 00 00 LEN UID EFC 09",
       {0, 1, 0, 0, 0, 3, 1, 0x83, 9},
       {"Modbus Exception: Unknown exception (Code 9)"},
       {},
       std::nullopt},
      {"answer in three writes", kTcp, "chunks 60 TID 00 | 00 LEN UID FC | 02 00 07", good, {}, {}, "HR 00000: 7"},
      {"bytes after the frame", kTcp, "reply TID 00 00 00 05 UID FC 02 00 07 AA BB", good, {}, {}, "HR 00000: 7"},
      {"rtu: bad checksum",
       kRtuOverTcp,
       "reply 01 03 02 00 07 00 00",
       {1, 3, 2, 0, 7, 0, 0},
       {"Protocol Error: Bad Checksum (expected " + rig::Hex(crcOfGood) + ")"},
       {5, 6},
       "HR 00000: 7"},
      {"rtu: wrong slave",
       kRtuOverTcp,
       "reply 09 03 02 00 07 CRC",
       rig::WithCrc({9, 3, 2, 0, 7}),
       {"Protocol Error: Wrong response slave (expected 01)"},
       {0},
       "HR 00000: 7"},
      {"rtu: wrong slave and bad checksum",
       kRtuOverTcp,
       "reply 09 03 02 00 07 00 00",
       {9, 3, 2, 0, 7, 0, 0},
       {"Protocol Error: Wrong response slave (expected 01)",
        "Protocol Error: Bad Checksum (expected " + rig::Hex(rig::WithCrc({9, 3, 2, 0, 7})).substr(15) + ")"},
       {0, 5, 6},
       "HR 00000: 7"},
      {"rtu: exception code 12",
       kRtuOverTcp,
       "reply UID EFC 0C CRC",
       rig::WithCrc({1, 0x83, 12}),
       {"Modbus Exception: Unknown exception (Code 12)"},
       {2},
       std::nullopt},
      {"rtu: answer in three writes", kRtuOverTcp, "chunks 60 01 03 | 02 00 | 07 CRC", rtuGood, {}, {}, "HR 00000: 7"},
      {"rtu: bytes after the frame", kRtuOverTcp, "reply 01 03 02 00 07 CRC AA BB", rtuGood, {}, {}, "HR 00000: 7"},
  };
}

TEST(EngineFaultsTest, EachFaultIsLoggedWithItsBytesPainted) {
  for (const FaultCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    rig::Peer peer;
    const int port =
        peer.StartFaultPeer(c.script, c.mode == kTcp ? std::vector<std::string>{} : std::vector<std::string>{"--rtu"});
    ASSERT_GT(port, 0);
    rig::Panel p;
    p.UseSocket(c.mode, port, "300");
    p.SetRequest(3, "0", "1");
    ASSERT_TRUE(p.Send());

    std::vector<std::string> expected = {"", ConnectRow(port), "Connected", Req(Adu(c.mode, 1, {1, 3, 0, 0, 0, 1})),
                                         Rsp(c.response)};
    expected.insert(expected.end(), c.errors.begin(), c.errors.end());
    const std::vector<std::string> rows = p.Rows();
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(p.RowColors(), ColorsOf(expected));

    std::vector<uint32_t> colors(c.response.size(), LogColorInfo);
    for (int i : c.painted) colors[static_cast<size_t>(i)] = LogColorHighlight;
    EXPECT_EQ(p.ResponseByteColors(), colors);

    if (c.view) {
      EXPECT_EQ(p.f().txtResponse.Text(), *c.view);
      EXPECT_TRUE(p.f().txtResponse.Enabled());
    } else {
      EXPECT_EQ(p.f().txtResponse.Text(), "");
      EXPECT_FALSE(p.f().txtResponse.Enabled());
    }
    // The transaction is over: nothing more is logged, nothing times out.
    p.Mark();
    testutil::RunFor(350);
    EXPECT_TRUE(p.Rows().empty());
  }
}

// A 32-bit value written with 06: the first answer carries a stray byte
// behind it. The second frame goes out on the first answer, and the stray byte
// must not be taken as the first byte of the second answer.
TEST(EngineFaultsTest, StrayByteAfterTheFirstAnswerOfTwoFramesIsDropped) {
  struct Case {
    const char* name;
    int16_t mode;
    const char* script;
  };
  const Case cases[] = {
      {"tcp", kTcp, "reply TID 00 00 00 06 UID FC 00 1E 12 34 EE\necho\n"},
      {"rtu over tcp", kRtuOverTcp, "reply 01 06 00 1E 12 34 CRC EE\necho\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig::Peer peer;
    const int port =
        peer.StartFaultPeer(c.script, c.mode == kTcp ? std::vector<std::string>{} : std::vector<std::string>{"--rtu"});
    ASSERT_GT(port, 0);
    rig::Panel p;
    p.UseSocket(c.mode, port);
    p.SetRequest(6, "30", "305419896", 6);  // INT32_ABCD
    ASSERT_TRUE(p.Send());
    const Frame first = Adu(c.mode, 1, {1, 6, 0, 30, 0x12, 0x34});
    const Frame second = Adu(c.mode, 2, {1, 6, 0, 31, 0x56, 0x78});
    EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", ConnectRow(port), "Connected", Req(first), Rsp(first),
                                                  Req(second), Rsp(second)}));
    EXPECT_EQ(p.f().txtResponse.Text(), "HR 00030 <- 4660\r\nHR 00031 <- 22136");
    EXPECT_EQ(peer.Requests(), (std::vector<std::string>{"REQ " + rig::Hex(first), "REQ " + rig::Hex(second)}));
  }
}

}  // namespace
