// The watch list on the panel, on the fakes: "Add to watch" from the request
// fields, its transactions in the log (good ones hidden on request, faults
// always shown) and in the session statistics, and the panel's Send going
// next while a block is read.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "modbus/convert.h"
#include "panel/command_line.h"
#include "panel_rig.h"

namespace {

using rig::Panel;
using rig::ScratchDir;

// An answer of the TCP slave to the request last on the wire: registers
// valued as their address, or exception `exception` when not 0.
Frame TcpAnswer(const Frame& req, uint8_t exception = 0) {
  const uint8_t fc = req.at(7);
  const int address = req.at(8) * 256 + req.at(9), quantity = req.at(10) * 256 + req.at(11);
  Frame pdu{fc};
  if (exception) {
    pdu = {static_cast<uint8_t>(fc | 0x80), exception};
  } else {
    pdu.push_back(static_cast<uint8_t>(quantity * 2));
    for (int i = 0; i < quantity; ++i) pdu.insert(pdu.end(), {uint8_t((address + i) >> 8), uint8_t(address + i)});
  }
  Frame adu{req.at(0), req.at(1), 0, 0, 0, static_cast<uint8_t>(pdu.size() + 1), req.at(6)};
  adu.insert(adu.end(), pdu.begin(), pdu.end());
  return adu;
}

void Form(Panel& p, const std::string& slave, int cmdIndex, const std::string& address, const std::string& quantity) {
  p.f.txtUnitID.SetText(slave);
  p.f.cmbCmd.SetListIndex(cmdIndex);
  p.f.txtAddr.SetText(address);
  p.f.txtQuantity.SetText(quantity);
}

TEST(PanelWatch, AddToWatchTakesTheRequestFieldsAndRefusesWhatCannotBeWatched) {
  struct Case {
    std::string slave;
    int cmdIndex;  // the command list: 0..3 are the reads 01..04
    std::string address, quantity;
    bool added;
  };
  const Case cases[] = {
      {"1", 2, "0x10", "4", true}, {"247", 3, "100", "125", true}, {"1", 0, "0", "2000", true},
      {"0", 2, "0", "1", false},   {"1", 4, "0", "1", false},      {"1", 2, "zz", "1", false},
      {"1", 2, "0", "126", false}, {"1", 2, "65535", "2", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slave + " " + std::to_string(c.cmdIndex) + " " + c.address + " " + c.quantity);
    Panel p;
    Form(p, c.slave, c.cmdIndex, c.address, c.quantity);
    const auto id = p.f.AddRequestToWatch();
    EXPECT_EQ(id != 0, c.added);
    EXPECT_EQ(p.f.Watch().Model().Blocks().size(), c.added ? 1u : 0u);
    EXPECT_EQ(p.Count("Not added to watch"), c.added ? 0 : 1);
    if (c.added) {
      const auto& cfg = p.f.Watch().Model().Find(id)->config;
      EXPECT_EQ(cfg.function, c.cmdIndex + 1);
      EXPECT_EQ(cfg.address, modbus::StringToLong(c.address));
    }
  }
}

TEST(PanelWatch, ReadsAreLoggedAndCountedAndGoodOnesCanBeHidden) {
  for (const bool hide : {false, true}) {
    SCOPED_TRACE(hide);
    Panel p;
    p.f.HideWatchGoodInLog = hide;
    Form(p, "1", 2, "10", "2");
    p.f.txtPollInterval.SetText("100");
    const auto good = p.f.AddRequestToWatch();
    Form(p, "7", 2, "0", "1");
    const auto refused = p.f.AddRequestToWatch();
    ASSERT_TRUE(good && refused);
    p.fp.clock->Advance(2);
    p.fp.socket->AcceptConnect();
    // Each read answered 5 ms after it went out, slave 7 with exception 2; bounded to 1 s.
    size_t answered = 0;
    for (int t = 0; t < 1000; ++t) {
      p.fp.clock->Advance(1);
      if (p.fp.socket->sent.size() > answered && t % 5 == 0) {
        const Frame& req = p.fp.socket->sent[answered++];
        p.fp.socket->Deliver(TcpAnswer(req, req.at(6) == 7 ? 2 : 0));
      }
    }
    const auto& stats = p.f.LinkSession().Stats();
    EXPECT_GE(stats.exceptions, 8u);
    EXPECT_GE(stats.answers, 8u);
    EXPECT_GE(p.Count("Modbus Exception"), 8);
    // Hidden: only the failed block's transactions are in the log.
    const int requests = p.Count("Request  -->");
    if (hide)
      EXPECT_EQ(requests, p.Count("Modbus Exception"));
    else
      EXPECT_GE(requests, 16);
    EXPECT_FALSE(p.f.Watch().Model().Find(good)->values[0].stale);
    EXPECT_TRUE(p.f.Watch().Model().Find(refused)->values[0].stale);
  }
}

TEST(PanelWatch, TheSendButtonGoesNextWhileABlockIsRead) {
  Panel p;
  Form(p, "1", 2, "0", "1");
  p.f.txtPollInterval.SetText("100");
  p.f.AddRequestToWatch();
  p.fp.clock->Advance(2);
  p.fp.socket->AcceptConnect();
  ASSERT_EQ(p.fp.socket->sent.size(), 1u);  // the block's read is out, unanswered
  Form(p, "1", 2, "500", "1");
  p.f.cmdSend_Click();
  EXPECT_EQ(p.fp.socket->sent.size(), 1u);  // never two in flight
  p.fp.socket->Deliver(TcpAnswer(p.fp.socket->sent[0]));
  ASSERT_EQ(p.fp.socket->sent.size(), 2u);
  EXPECT_EQ(p.fp.socket->sent[1].at(8) * 256 + p.fp.socket->sent[1].at(9), 500);
  p.fp.socket->Deliver(TcpAnswer(p.fp.socket->sent[1]));
  // The panel's answer reaches its response view, the block's does not.
  EXPECT_NE(p.f.txtResponse.Text().find("500"), std::string::npos);
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A file refused as a whole (each reason is checked on the pure reader) leaves the panel as it was.
TEST(PanelWorkspace, AFileThatIsNotAValidWorkspaceChangesNothing) {
  Panel p;
  Form(p, "1", 2, "5", "1");
  p.f.AddRequestToWatch();
  p.f.txtTcpPort.SetText("502");
  const ScratchDir dir("workspace");
  const std::string path = (dir.path / "newer").string();
  WriteText(path, R"({"type": "VeskTarvelo workspace", "version": 99, "connection": {"port": 1502}})");
  EXPECT_FALSE(p.f.OpenWorkspace(path));
  EXPECT_EQ(p.Count("newer"), 1);
  EXPECT_EQ(p.f.Watch().Model().Blocks().size(), 1u);
  EXPECT_EQ(p.f.txtTcpPort.Text(), "502");
  EXPECT_FALSE(p.f.OpenWorkspace((dir.path / "absent").string()));
}

TEST(PanelWorkspace, AnAbsentPortAndBadItemsAreLeftOutTheRestIsApplied) {
  const ScratchDir dir("workspace");
  const std::string path = (dir.path / "partial.json").string();
  WriteText(path, R"({"type": "VeskTarvelo workspace", "version": 1,
    "connection": {"host": "10.0.0.9", "serialPort": "/dev/ttyNOPE", "port": 70000},
    "watch": [{"slave": 1, "function": 3, "address": 0, "quantity": 500, "format": "INT16", "interval": 1000},
              {"slave": 2, "function": 4, "address": 9, "quantity": 2, "format": "INT16", "interval": 100}]})");
  Panel p;
  p.f.txtTcpPort.SetText("502");
  ASSERT_TRUE(p.f.OpenWorkspace(path));
  EXPECT_EQ(p.f.txtTcpHost.Text(), "10.0.0.9");
  EXPECT_EQ(p.f.txtTcpPort.Text(), "502");
  EXPECT_EQ(p.Count("/dev/ttyNOPE is not on this system"), 1);
  ASSERT_EQ(p.f.Watch().Model().Blocks().size(), 1u);
  EXPECT_EQ(p.f.Watch().Model().Blocks()[0].config.slave, 2);
  EXPECT_GE(p.Count("(left as it was)"), 3);
}

TEST(CommandLineWorkspace, OneFileStartsWithItAnythingMoreIsRefused) {
  struct Case {
    std::vector<std::string> args;
    bool start;
    std::string workspace;
    int exitCode;
  };
  const Case cases[] = {
      {{"bench.json"}, true, "bench.json", 0}, {{}, true, "", 0},
      {{"a.json", "b.json"}, false, "", 2},    {{"a.json", "--bogus"}, false, "", 2},
      {{"a.json", "-h"}, false, "", 0},
  };
  for (const Case& c : cases) {
    const CommandLineResult r = ParseCommandLine(c.args);
    EXPECT_EQ(r.start, c.start) << c.args.size();
    EXPECT_EQ(r.workspace, c.workspace);
    EXPECT_EQ(r.exitCode, c.exitCode);
  }
}

}  // namespace
