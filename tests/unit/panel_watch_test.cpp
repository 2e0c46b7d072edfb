// The watch list on the panel, on the fakes: "Add to watch" from the request fields, its transactions in the log
// (good ones hidden on request, faults always shown) and statistics, the panel's Send going next, reads on the serial
// port kept apart by the line's silence, the values ticked for plotting, and workspace files opened and saved by the
// panel and named on the command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "panel/command_line.h"
#include "panel_rig.h"

namespace {

using rig::Panel;
using rig::ScratchDir;
using rig::TcpAnswer;

void Form(Panel& p, const std::string& slave, int cmdIndex, const std::string& address, const std::string& quantity) {
  p.f.txtUnitID.SetText(slave);
  p.f.cmbCmd.SetListIndex(cmdIndex);
  p.f.txtAddr.SetText(address);
  p.f.txtQuantity.SetText(quantity);
}

TEST(PanelWatch, AddToWatchTakesTheRequestFieldsAndRefusesWhatCannotBeWatched) {
  const struct {
    std::string slave;
    int cmdIndex;  // the command list: 0..3 are the reads 01..04
    std::string address, quantity;
    bool added;
  } cases[] = {
      {"1", 2, "0x10", "4", true}, {"247", 3, "100", "125", true}, {"1", 0, "0", "2000", true},
      {"0", 2, "0", "1", false},   {"1", 4, "0", "1", false},      {"1", 2, "zz", "1", false},
      {"1", 2, "0", "126", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slave + " " + std::to_string(c.cmdIndex) + " " + c.address + " " + c.quantity);
    Panel p;
    Form(p, c.slave, c.cmdIndex, c.address, c.quantity);
    const engine::WatchBlock* b = p.f.Watch().Model().Find(p.f.AddRequestToWatch());
    EXPECT_EQ(std::make_tuple(b != nullptr, p.f.Watch().Model().Blocks().size(), p.Count("Not added to watch")),
              std::make_tuple(c.added, static_cast<size_t>(c.added), c.added ? 0 : 1));
    if (b) {
      EXPECT_EQ(std::make_pair(b->config.function - 1, int32_t{b->config.address}),
                std::make_pair(c.cmdIndex, std::stoi(c.address, nullptr, 0)));
    }
  }
}

TEST(PanelWatch, ReadsAreLoggedAndCountedAndGoodOnesCanBeHidden) {
  for (const bool hide : {false, true}) {
    SCOPED_TRACE(hide);
    Panel p;
    p.f.HideWatchGoodInLog = hide;
    p.f.txtPollInterval.SetText("100");
    Form(p, "1", 2, "10", "2");
    const auto good = p.f.AddRequestToWatch();
    Form(p, "7", 2, "0", "1");
    const auto refused = p.f.AddRequestToWatch();
    ASSERT_TRUE(good && refused);
    p.fp.clock->Advance(2);
    p.fp.socket->AcceptConnect();
    // Each read answered 5 ms after it went out, slave 7 with exception 2; bounded to 1 s.
    for (size_t t = 0, answered = 0; t < 1000; ++t) {
      p.fp.clock->Advance(1);
      if (p.fp.socket->sent.size() > answered && t % 5 == 0) {
        const Frame& req = p.fp.socket->sent[answered++];
        p.fp.socket->Deliver(TcpAnswer(req, req.at(6) == 7 ? 2 : 0));
      }
    }
    const auto& stats = p.f.LinkSession().Stats();
    EXPECT_GE(std::min({stats.exceptions, stats.answers, uint64_t(p.Count("Modbus Exception"))}), 8u);
    // Hidden: only the failed block's transactions are in the log.
    const int requests = p.Count("Request  -->");
    EXPECT_TRUE(hide ? requests == p.Count("Modbus Exception") : requests >= 16) << requests;
  }
}

TEST(PanelWatch, TheSendButtonGoesNextWhileABlockIsRead) {
  // The block's read is answered, or times out (which closes the link): either way the Send goes out next.
  for (const bool answered : {true, false}) {
    SCOPED_TRACE(answered);
    Panel p;
    Form(p, "1", 2, "0", "1");
    p.f.txtPollInterval.SetText("100");
    p.f.AddRequestToWatch();
    p.fp.clock->Advance(2);
    p.fp.socket->AcceptConnect();
    const auto& sent = p.fp.socket->sent;
    ASSERT_EQ(sent.size(), 1u);  // the block's read is out, unanswered
    Form(p, "1", 2, "500", "1");
    p.f.cmdSend_Click();
    EXPECT_EQ(sent.size(), 1u);  // never two in flight
    if (answered) {
      p.fp.socket->Deliver(TcpAnswer(sent[0]));
    } else {
      p.fp.clock->Advance(1000);
      ASSERT_EQ(p.fp.socket->state, platform::TcpSocket::kConnecting);
      p.fp.socket->AcceptConnect();
    }
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].at(8) * 256 + sent[1].at(9), 500);
    p.fp.socket->Deliver(TcpAnswer(sent[1]));
    // The panel's answer reaches its response view, the block's does not.
    EXPECT_NE(p.f.txtResponse.Text().find("500"), std::string::npos);
  }
}

// A 32-bit value in the list is written in the operator's notation, as in the response view.
TEST(PanelWatch, ValuesTakeTheLocalesDecimalSeparator) {
  fakes::FakePlatform fp;
  fp.locale->separator = ",";
  frmMain f(fp.Bundle());
  f.Form_Load();
  f.Mode = rig::kTcp;
  const auto id = f.Watch().Add({1, 3, 0x4120, 2, 2, 1000, false});  // answered 41 20 41 21, FLOAT_ABCD
  fp.clock->Advance(2);
  fp.socket->AcceptConnect();
  ASSERT_EQ(fp.socket->sent.size(), 1u);
  fp.socket->Deliver(TcpAnswer(fp.socket->sent[0]));
  EXPECT_EQ(f.Watch().Model().Find(id)->values.at(0).text, "10,0159006118774");
}

// On the serial port the next block's read waits out the line's silence after an answer (4 ms at 9600 baud, one
// more as it is taken a ms later); the operator's Send made meanwhile goes out after that read's answer.
TEST(PanelWatch, OnTheSerialPortReadsKeepTheLinesSilence) {
  Panel p(rig::kRtu);
  p.UsePorts({"ttyS0"});
  p.f.txtPollInterval.SetText("100");
  for (const char* address : {"0", "5"}) Form(p, "1", 2, address, "1"), p.f.AddRequestToWatch();
  const auto& written = p.fp.serial->written;
  const auto waitForWrite = [&] {
    int ms = 0;
    for (const size_t before = written.size(); ms < 50 && written.size() == before; ++ms) p.fp.clock->Advance(1);
    return ms;
  };
  waitForWrite();
  p.fp.serial->Deliver(testbytes::WithCrc({1, 3, 2, 0, 0}));
  p.fp.clock->Advance(2);
  Form(p, "1", 2, "500", "1");
  p.f.cmdSend_Click();
  EXPECT_EQ(waitForWrite(), 3);
  EXPECT_EQ(written.at(1).at(3), 5);
  p.fp.serial->Deliver(testbytes::WithCrc({1, 3, 2, 0, 5}));
  EXPECT_EQ(waitForWrite(), 4);
  EXPECT_EQ(written.at(2).at(2) * 256 + written.at(2).at(3), 500);
}

TEST(PanelWatch, TickingFollowsTheWatchedValuesAndTheBoundOfEight) {
  Panel p;
  const auto a = p.f.Watch().Add({1, 3, 0, 10, 0, 1000, false});
  const auto b = p.f.Watch().Add({1, 3, 100, 4, 2, 1000, false});  // two FLOAT values at 100 and 102
  const struct {
    engine::WatchBlockId block;
    uint32_t address;
    bool on, accepted;
    size_t plotted;  // after the step
  } steps[] = {
      {a, 0, true, true, 1},    {a, 0, true, true, 1},     // ticked twice: once
      {a, 10, true, false, 1},                             // past the block
      {b, 101, true, false, 1},                            // inside a FLOAT, not a value of its own
      {b, 102, true, true, 2},  {999, 0, true, false, 2},  // no such block
      {a, 1, true, true, 3},    {a, 2, true, true, 4},    {a, 3, true, true, 5},  {a, 4, true, true, 6},
      {a, 5, true, true, 7},    {a, 6, true, true, 8},    {a, 7, true, false, 8},  // a ninth
      {a, 0, false, true, 7},   {a, 7, true, true, 8},
  };
  for (const auto& s : steps) {
    const bool accepted = p.f.SetPlotted(s.block, s.address, s.on);
    EXPECT_EQ(std::make_pair(accepted, p.f.Plotted.size()), std::make_pair(s.accepted, s.plotted))
        << s.block << ":" << s.address;
  }
  // An edit that reads other registers drops the values no longer read; removing a block drops its values.
  ASSERT_TRUE(p.f.Watch().Edit(a, {1, 3, 0, 4, 0, 1000, false}));
  p.f.PrunePlotted();
  EXPECT_EQ(p.f.Plotted.size(), 4u);  // a:1..3 and b:102
  EXPECT_TRUE(p.f.RemoveFromWatch(b));
  EXPECT_EQ(p.f.Plotted.size(), 3u);
  EXPECT_FALSE(p.f.IsPlotted(b, 102));
}

// A saved workspace opens in another panel as it was: the watch list in its order, the plotted values, the
// connection, the serial line, the further command's fields and the raw request (every field's JSON is checked on
// the pure reader and writer).
TEST(PanelWorkspace, ASavedWorkspaceOpensInAnotherPanelAsItWas) {
  const ScratchDir dir("workspace");
  const std::string path = (dir.path / "roundtrip.json").string();
  Panel p;
  const auto a = p.f.Watch().Add({1, 3, 0, 4, 0, 1000, false}), b = p.f.Watch().Add({1, 3, 50, 2, 0, 1000, false});
  ASSERT_TRUE(p.f.SetPlotted(b, 51, true) && p.f.SetPlotted(a, 2, true));
  p.f.Watch().Move(b, 0);  // indexes in the file follow the list's order
  p.f.PlotWindowMinutes = 42;
  // 22 Mask Write with the further fields filled, the serial line, the raw request.
  const std::vector<std::pair<ListField frmMain::*, int>> lists = {
      {&frmMain::cmbCmd, 8}, {&frmMain::cmbRtuParity, 2}, {&frmMain::cmbRtuStopBit, 1}, {&frmMain::cmbReadCode, 2}};
  const std::vector<std::pair<TextField frmMain::*, std::string>> texts = {
      {&frmMain::txtTcpPort, "1502"},   {&frmMain::txtUnitID, "4"},      {&frmMain::txtHEX, "01 03"},
      {&frmMain::txtAndMask, "0xFF00"}, {&frmMain::txtOrMask, "0x0012"}, {&frmMain::txtObjectId, "0x80"}};
  for (const auto& [list, index] : lists) (p.f.*list).SetListIndex(index);
  for (const auto& [field, text] : texts) (p.f.*field).SetText(text);
  p.f.cmbRtuSpeed.SetText("19200");
  p.f.optHEX.SetValue(true);
  ASSERT_TRUE(p.f.SaveWorkspace(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));

  Panel other;
  int opened = 0;
  other.f.onWorkspaceOpened = [&] { ++opened; };
  ASSERT_TRUE(other.f.OpenWorkspace(path));
  frmMain& o = other.f;
  const auto& blocks = o.Watch().Model().Blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(std::make_tuple(opened, blocks[0].config.address, blocks[1].config.quantity, o.PlotWindowMinutes),
            std::make_tuple(1, uint16_t(50), uint16_t(4), 42));
  EXPECT_EQ(o.Plotted, (std::vector<frmMain::PlottedValue>{{blocks[0].id, 51}, {blocks[1].id, 2}}));
  for (const auto& [list, index] : lists) EXPECT_EQ((o.*list).ListIndex(), index) << (o.*list).Name();
  for (const auto& [field, text] : texts) EXPECT_EQ((o.*field).Text(), text) << (o.*field).Name();
  EXPECT_EQ(std::make_tuple(o.cmbRtuSpeed.Text(), o.HexView, o.optHEX.Value()), std::make_tuple("19200", true, true));
}

// A file refused as a whole (each reason is checked on the pure reader) leaves the panel as it was; one with bad
// items applies the rest.
TEST(PanelWorkspace, ARefusedFileChangesNothingBadItemsAreLeftOut) {
  const ScratchDir dir("workspace");
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream((dir.path / name).string(), std::ios::binary) << text;
    return (dir.path / name).string();
  };
  Panel p;
  Form(p, "1", 2, "5", "1");
  p.f.AddRequestToWatch();
  p.f.txtTcpPort.SetText("502");
  EXPECT_FALSE(p.f.OpenWorkspace(
      write("newer", R"({"type": "VeskTarvelo workspace", "version": 99, "connection": {"port": 1502}})")));
  EXPECT_EQ(std::make_tuple(p.Count("newer"), p.f.Watch().Model().Blocks().size(), p.f.txtTcpPort.Text()),
            std::make_tuple(1, size_t{1}, std::string("502")));
  EXPECT_FALSE(p.f.OpenWorkspace((dir.path / "absent").string()));

  Panel q;
  q.f.txtTcpPort.SetText("502");
  ASSERT_TRUE(q.f.OpenWorkspace(write("partial.json", R"({"type": "VeskTarvelo workspace", "version": 1,
    "connection": {"host": "10.0.0.9", "serialPort": "/dev/ttyNOPE", "port": 70000},
    "watch": [{"slave": 1, "function": 3, "address": 0, "quantity": 500, "format": "INT16", "interval": 1000},
              {"slave": 2, "function": 4, "address": 9, "quantity": 2, "format": "INT16", "interval": 100}]})")));
  EXPECT_EQ(q.f.txtTcpHost.Text() + " " + q.f.txtTcpPort.Text(), "10.0.0.9 502");
  EXPECT_EQ(q.Count("/dev/ttyNOPE is not on this system"), 1);
  ASSERT_EQ(q.f.Watch().Model().Blocks().size(), 1u);
  EXPECT_EQ(q.f.Watch().Model().Blocks()[0].config.slave, 2);
  EXPECT_GE(q.Count("(left as it was)"), 3);
}

TEST(CommandLineWorkspace, OneFileStartsWithItAnythingMoreIsRefused) {
  const struct {
    std::vector<std::string> args;
    bool start;
    std::string workspace;
    int exitCode;
    std::vector<std::string> ports{};
  } cases[] = {
      {{"bench.json"}, true, "bench.json", 0},
      {{}, true, "", 0},
      {{"a.json", "b.json"}, false, "", 2},
      {{"a.json", "--bogus"}, false, "", 2},
      {{"a.json", "-h"}, false, "", 0},
      {{"--serial-port", "/tmp/a", "w.json", "--serial-port=b"}, true, "w.json", 0, {"/tmp/a", "b"}},
      {{"--serial-port"}, false, "", 2},
      {{"--serial-port="}, false, "", 2},
      {{"--serial-port", "/tmp/a", "-V"}, false, "", 0},
  };
  for (const auto& c : cases) {
    const CommandLineResult r = ParseCommandLine(c.args);
    EXPECT_EQ(std::tie(r.start, r.workspace, r.exitCode, r.serialPorts),
              std::tie(c.start, c.workspace, c.exitCode, c.ports))
        << c.args.size();
  }
}

}  // namespace
