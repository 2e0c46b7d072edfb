// Reception: frame lengths, the header checks with their messages and
// highlights, the order of reporting, and the limits of the receive buffer.
#include "transaction_rig.h"

namespace {

using namespace txrig;

std::string Hex(const Frame& f) { return ToLogHexString(f); }

// A connected rig with `request` in flight and the log marked.
void StartWith(Rig& r, const Frame& request) {
  r.Connect();
  r.Send(request);
  r.Mark();
}

TEST(Reception, ByteWithoutARequestInFlightChangesNothing) {
  Rig r(kTcp);
  EXPECT_FALSE(r.f.Receive(0x01, 1));
  EXPECT_EQ(r.f.RxCount, 0);
  EXPECT_TRUE(r.f.ProtocolErrors.empty());
}

TEST(Reception, ChecksMessagesHighlightsAndReportingOrder) {
  const Frame tcpRead = {0, 5, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
  const Frame tcpWrite = {0, 1, 0, 0, 0, 6, 1, 6, 0, 1, 0, 3};
  const Frame rtuRead = WithCrc({1, 3, 0, 0, 0, 2});
  const Frame badBody = {2, 3, 4, 0, 10, 0, 11};
  const Frame goodCrc = WithCrc(badBody);
  const std::string crcText = Hex(Frame(goodCrc.end() - 2, goodCrc.end()));
  Frame badCrc = badBody;
  badCrc.insert(badCrc.end(), {static_cast<uint8_t>(goodCrc[7] ^ 0xFF), goodCrc[8]});

  struct Case {
    const char* name;
    int16_t mode;
    Frame request;
    Frame response;
    std::vector<std::string> rows;  // after the response row
    std::vector<int> painted;
  };
  const Case cases[] = {
      {"wrong transaction id",
       kTcp,
       tcpRead,
       {0, 7, 0, 0, 0, 5, 1, 3, 2, 0, 42},
       {"Protocol Error: Wrong Transaction ID (expected 00 05)"},
       {0, 1}},
      {"expected id 0 is quoted as one byte",
       kTcp,
       {0, 0, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1},
       {0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 42},
       {"Protocol Error: Wrong Transaction ID (expected 00)"},
       {0, 1}},
      {"protocol id",
       kTcp,
       tcpRead,
       {0, 5, 0, 1, 0, 5, 1, 3, 2, 0, 42},
       {"Protocol Error: Invalid protocol ID (expected 00 00)"},
       {2, 3}},
      {"short MBAP length reported once",
       kTcp,
       tcpWrite,
       {0, 1, 0, 0, 0, 2, 1, 6, 0, 1, 0, 3},
       {"Protocol Error: Invalid MBAP Length"},
       {4, 5}},
      {"MBAP length differing from the frame",
       kTcp,
       tcpWrite,
       {0, 1, 0, 0, 0, 7, 1, 6, 0, 1, 0, 3},
       {"Protocol Error: Invalid MBAP Length"},
       {4, 5}},
      {"TCP exception 2",
       kTcp,
       tcpRead,
       {0, 5, 0, 0, 0, 3, 1, 0x83, 2},
       {"Modbus Exception: Illegal Data Address (Code 2)"},
       {}},
      {"TCP exception 12",
       kTcp,
       tcpRead,
       {0, 5, 0, 0, 0, 3, 1, 0x83, 12},
       {"Modbus Exception: Unknown exception (Code 12)"},
       {8}},
      {"RTU exception 2",
       kRtuOverTcp,
       rtuRead,
       WithCrc({1, 0x83, 2}),
       {"Modbus Exception: Illegal Data Address (Code 2)"},
       {}},
      {"RTU exception 9 is a table text",
       kRtuOverTcp,
       rtuRead,
       WithCrc({1, 0x83, 9}),
       {"Modbus Exception: Unknown exception (Code 9)"},
       {}},
      {"RTU exception 0",
       kRtuOverTcp,
       rtuRead,
       WithCrc({1, 0x83, 0}),
       {"Modbus Exception: Unknown exception (Code 0)"},
       {2}},
      {"wrong slave and bad checksum",
       kRtuOverTcp,
       rtuRead,
       badCrc,
       {"Protocol Error: Wrong response slave (expected 01)",
        "Protocol Error: Bad Checksum (expected " + crcText + ")"},
       {0, 7, 8}},
      {"wrong command",
       kRtuOverTcp,
       rtuRead,
       WithCrc({1, 4, 2, 0, 42}),
       {"Protocol Error: Wrong response command (expected 03)"},
       {1}},
      {"exception row comes before the protocol errors",
       kRtuOverTcp,
       rtuRead,
       WithCrc({1, 0x84, 2}),
       {"Modbus Exception: Illegal Data Address (Code 2)", "Protocol Error: Wrong response command (expected 03)"},
       {1}},
      {"order of the header faults",
       kTcp,
       tcpRead,
       {0, 9, 0, 1, 0, 2, 7, 4, 2, 0, 42},
       {"Protocol Error: Wrong Transaction ID (expected 00 05)", "Protocol Error: Invalid protocol ID (expected 00 00)",
        "Protocol Error: Invalid MBAP Length", "Protocol Error: Wrong response slave (expected 01)",
        "Protocol Error: Wrong response command (expected 03)"},
       {0, 1, 2, 3, 4, 5, 6, 7}},
  };
  for (const Case& c : cases) {
    Rig r(c.mode);
    StartWith(r, c.request);
    r.fp.socket->Deliver(c.response);
    EXPECT_FALSE(r.f.AwaitingResponse) << c.name;
    std::string expected = r.Row("Response <-- " + Hex(c.response));
    for (const std::string& row : c.rows) expected += r.Row(row);
    EXPECT_EQ(r.NewLog(), expected) << c.name;
    EXPECT_EQ(r.Painted(static_cast<int>(c.response.size())), c.painted) << c.name;
    // Error rows are red from their first character.
    if (!c.rows.empty()) {
      EXPECT_EQ(r.f.txtLog.ColorAt(r.mark + expected.find(c.rows[0])), LogColorError) << c.name;
    }
  }
}

TEST(Reception, ProtocolErrorEntriesAreKeptOncePerMessageOffsetAndLength) {
  Rig r(kTcp);
  r.f.LogProtocolError("Invalid MBAP Length", 4, 2);
  r.f.LogProtocolError("Invalid MBAP Length", 4, 2);
  r.f.LogProtocolError("Invalid MBAP Length", 4, 1);
  r.f.LogProtocolError("Wrong response slave (expected 01)");
  EXPECT_EQ(r.f.ProtocolErrors, (std::vector<std::string>{"Invalid MBAP Length\t4\t2", "Invalid MBAP Length\t4\t1",
                                                          "Wrong response slave (expected 01)\t0\t0"}));
  r.f.ResetProtocolErrors();
  EXPECT_EQ(SafeUBound(r.f.ProtocolErrors), -1);
}

TEST(Reception, SplitFramesCompleteOnTheByteThatReachesTheLength) {
  struct Case {
    int16_t mode;
    Frame request;
    Frame response;
  };
  const Frame rtuRead = WithCrc({1, 3, 0, 0, 0, 2});
  const Case cases[] = {
      {kRtuOverTcp, rtuRead, WithCrc({1, 3, 4, 0, 10, 0, 11})},
      {kRtuOverTcp, WithCrc({1, 6, 0, 1, 0, 3}), WithCrc({1, 6, 0, 1, 0, 3})},
      {kRtuOverTcp, WithCrc({1, 16, 0, 1, 0, 2, 4, 0, 1, 0, 2}), WithCrc({1, 16, 0, 1, 0, 2})},
      {kRtuOverTcp, rtuRead, WithCrc({1, 0x83, 2})},
      {kTcp, {0, 1, 0, 0, 0, 6, 1, 1, 0, 0, 0, 9}, {0, 1, 0, 0, 0, 5, 1, 1, 2, 0xFF, 1}},
      {kTcp, {0, 1, 0, 0, 0, 6, 1, 5, 0, 0, 0xFF, 0}, {0, 1, 0, 0, 0, 6, 1, 5, 0, 0, 0xFF, 0}},
      {kTcp, {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 3, 1, 0x83, 2}},
  };
  for (const Case& c : cases) {
    for (size_t split = 1; split < c.response.size(); ++split) {
      Rig r(c.mode);
      StartWith(r, c.request);
      r.fp.socket->Deliver(Frame(c.response.begin(), c.response.begin() + static_cast<long>(split)));
      EXPECT_TRUE(r.f.AwaitingResponse) << Hex(c.response) << " split " << split;
      r.fp.socket->Deliver(Frame(c.response.begin() + static_cast<long>(split), c.response.end()));
      EXPECT_FALSE(r.f.AwaitingResponse) << Hex(c.response) << " split " << split;
      EXPECT_EQ(r.f.RxBuffer, c.response);
      EXPECT_EQ(r.Count("Response <-- " + Hex(c.response)), 1);
      EXPECT_EQ(r.Count("Error"), 0);
    }
  }
}

TEST(Reception, UnknownFunctionCodeTakesItsLengthFromTheMbapHeaderOrTheChunk) {
  {  // TCP: the MBAP length, whatever follows in the chunk.
    Rig r(kTcp);
    StartWith(r, {0, 1, 0, 0, 0, 2, 1, 0x2B});
    EXPECT_EQ(r.Feed({0, 1, 0, 0, 0, 4, 1, 0x2B, 14, 1, 0xEE, 0xEE}), 9);
    EXPECT_EQ(r.f.RxCount, 10);
  }
  {  // RTU: the chunk being fed is the frame.
    Rig r(kRtuOverTcp);
    StartWith(r, WithCrc({1, 0x11}));
    EXPECT_EQ(r.Feed(WithCrc({1, 0x11, 3, 0xAA, 0xBB, 0xCC})), 7);
    EXPECT_EQ(r.Count("Error"), 0);
  }
  {  // RTU: but at least slave, function, one byte and the CRC.
    Rig r(kRtuOverTcp);
    StartWith(r, WithCrc({1, 0x11}));
    EXPECT_EQ(r.Feed({1, 0x11, 0}), -1);
    EXPECT_EQ(r.Feed({0, 0}), 1);
    EXPECT_EQ(r.f.RxCount, 5);
  }
}

TEST(Reception, StreamingPeerCannotGrowTheBufferBeyondOneLimit) {
  Rig r(kTcp);
  r.f.txtTcpTimeout.SetText("");  // no time-out ends this transaction
  // An unknown function with a length beyond 16 bits never completes.
  StartWith(r, {0, 1, 0, 0, 0, 2, 1, 0x41});
  Frame chunk(1024, 0x55);
  const Frame head = {0, 1, 0, 0, 0x9C, 0x40, 1, 0x41};
  std::copy(head.begin(), head.end(), chunk.begin());
  r.fp.socket->Deliver(chunk);
  chunk.assign(1024, 0x55);
  for (int i = 0; i < 99; ++i) r.fp.socket->Deliver(chunk);
  EXPECT_TRUE(r.f.AwaitingResponse);
  EXPECT_EQ(r.f.RxCount, 65536);
  EXPECT_EQ(r.f.RxBuffer.size(), 65536u);
  // The next Send starts afresh.
  r.Send({0, 2, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
  EXPECT_EQ(r.f.RxCount, 0);
}

}  // namespace
