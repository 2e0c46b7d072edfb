// On the fakes: the values ticked for plotting (the bound of 8, values that are not watched, a
// removed or edited block), the workspace keeping them with the serial line and the raw request,
// and the session keeping one request in flight when a requester submits from inside an answer.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/session.h"
#include "modbus/requests.h"
#include "panel_rig.h"

namespace {

using Rig = rig::Panel;

engine::WatchBlockId AddBlock(Rig& rig, uint16_t address, uint16_t quantity, int format = 0) {
  return rig.f.Watch().Add({1, 3, address, quantity, format, 1000, false});
}

TEST(WatchPlotted, TickingFollowsTheWatchedValuesAndTheBoundOfEight) {
  Rig rig;
  const auto a = AddBlock(rig, 0, 10), b = AddBlock(rig, 100, 4, 2);  // b: two FLOAT values at 100 and 102
  struct Step {
    engine::WatchBlockId block;
    uint32_t address;
    bool on, accepted;
    size_t plotted;  // after the step
  };
  const Step steps[] = {
      {a, 0, true, true, 1},    {a, 0, true, true, 1},     // ticked twice: once
      {a, 10, true, false, 1},                             // past the block
      {b, 101, true, false, 1},                            // inside a FLOAT, not a value of its own
      {b, 102, true, true, 2},  {999, 0, true, false, 2},  // no such block
      {a, 1, true, true, 3},    {a, 2, true, true, 4},    {a, 3, true, true, 5},  {a, 4, true, true, 6},
      {a, 5, true, true, 7},    {a, 6, true, true, 8},    {a, 7, true, false, 8},  // a ninth
      {a, 0, false, true, 7},   {a, 7, true, true, 8},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.block) + ":" + std::to_string(s.address));
    EXPECT_EQ(rig.f.SetPlotted(s.block, s.address, s.on), s.accepted);
    EXPECT_EQ(rig.f.Plotted.size(), s.plotted);
  }
  // An edit that reads other registers drops the values no longer read; removing a block drops its values.
  ASSERT_TRUE(rig.f.Watch().Edit(a, {1, 3, 0, 4, 0, 1000, false}));
  rig.f.PrunePlotted();
  EXPECT_EQ(rig.f.Plotted.size(), 4u);  // a:1..3 and b:102
  EXPECT_TRUE(rig.f.RemoveFromWatch(b));
  EXPECT_EQ(rig.f.Plotted.size(), 3u);
  EXPECT_FALSE(rig.f.IsPlotted(b, 102));
}

// A saved workspace opens in another panel as it was: the watch list in its order, the plotted values, the
// connection, the serial line, the further command's fields and the raw request (every field's JSON is checked on
// the pure reader and writer).
TEST(WatchPlotted, AWorkspaceKeepsThePlottedValuesTheSerialLineAndTheRawRequest) {
  const rig::ScratchDir dir("workspace");
  const std::string path = (dir.path / "roundtrip.json").string();
  Rig rig;
  const auto a = AddBlock(rig, 0, 4), b = AddBlock(rig, 50, 2);
  ASSERT_TRUE(rig.f.SetPlotted(b, 51, true) && rig.f.SetPlotted(a, 2, true));
  rig.f.Watch().Move(b, 0);  // indexes in the file follow the list's order
  rig.f.PlotWindowMinutes = 42;
  rig.f.txtTcpPort.SetText("1502");
  rig.f.cmbRtuSpeed.SetText("19200");
  rig.f.cmbRtuParity.SetListIndex(2);
  rig.f.cmbRtuStopBit.SetListIndex(1);
  rig.f.txtUnitID.SetText("4");
  rig.f.cmbCmd.SetListIndex(8);  // 22 Mask Write, with the further fields filled
  rig.f.txtAndMask.SetText("0xFF00");
  rig.f.txtOrMask.SetText("0x0012");
  rig.f.cmbReadCode.SetListIndex(2);
  rig.f.txtObjectId.SetText("0x80");
  rig.f.txtHEX.SetText("01 03 00 00 00 01");
  rig.f.optHEX.SetValue(true);
  ASSERT_TRUE(rig.f.SaveWorkspace(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));

  Rig other;
  int opened = 0;
  other.f.onWorkspaceOpened = [&] { ++opened; };
  ASSERT_TRUE(other.f.OpenWorkspace(path));
  EXPECT_EQ(opened, 1);
  const auto& blocks = other.f.Watch().Model().Blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(std::make_pair(blocks[0].config.address, blocks[1].config.quantity),
            std::make_pair(uint16_t(50), uint16_t(4)));
  ASSERT_EQ(other.f.Plotted.size(), 2u);
  EXPECT_EQ(other.f.Plotted[0], (frmMain::PlottedValue{blocks[0].id, 51}));
  EXPECT_EQ(other.f.Plotted[1], (frmMain::PlottedValue{blocks[1].id, 2}));
  EXPECT_EQ(other.f.PlotWindowMinutes, 42);
  EXPECT_EQ(other.f.txtTcpPort.Text() + " " + other.f.cmbRtuSpeed.Text() + " " + other.f.txtUnitID.Text(),
            "1502 19200 4");
  EXPECT_EQ(std::make_tuple(other.f.cmbRtuParity.ListIndex(), other.f.cmbRtuStopBit.ListIndex(),
                            other.f.cmbCmd.ListIndex(), other.f.cmbReadCode.ListIndex()),
            std::make_tuple(2, 1, 8, 2));
  EXPECT_EQ(other.f.txtAndMask.Text() + " " + other.f.txtOrMask.Text() + " " + other.f.txtObjectId.Text(),
            "0xFF00 0x0012 0x80");
  EXPECT_TRUE(other.f.HexView && other.f.optHEX.Value());
  EXPECT_EQ(other.f.txtHEX.Text(), "01 03 00 00 00 01");
}

// Requester A submits its next read from inside the report of its answer; B has one waiting. The
// session must put exactly one of them on the wire, then the other after its answer.
TEST(WatchPlotted, ASubmitFromInsideAnAnswerLeavesOneRequestInFlight) {
  auto clock = std::make_shared<fakes::FakeClock>();
  auto serial = std::make_shared<fakes::FakeSerialPort>();
  auto socket = std::make_shared<fakes::FakeTcpSocket>();
  engine::LinkSettings settings;
  settings.mode = modbus::Mode::Tcp;
  settings.host = "127.0.0.1";
  settings.port = 1502;
  settings.socketTimeoutMs = settings.serialTimeoutMs = 500;
  engine::Session session(engine::LinkParts{clock, clock, serial, socket}, [&] { return settings; });
  const Frame first = modbus::ReadRequest(modbus::Mode::Tcp, 1, 3, 0, 1, 1);
  const Frame again = modbus::ReadRequest(modbus::Mode::Tcp, 1, 3, 0, 1, 2);
  const Frame other = modbus::ReadRequest(modbus::Mode::Tcp, 1, 3, 9, 1, 3);
  engine::RequesterId a = 0;
  bool resubmitted = false;
  a = session.AddRequester([&](const engine::Event& e) {
    if (e.kind == engine::EventKind::AnswerComplete && !std::exchange(resubmitted, true)) session.Submit(a, {again});
  });
  const engine::RequesterId b = session.AddRequester([](const engine::Event&) {});
  session.Submit(a, {first});
  socket->AcceptConnect();
  session.Submit(b, {other});
  ASSERT_EQ(socket->sent.size(), 1u);
  socket->Deliver({0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 7});
  ASSERT_EQ(socket->sent.size(), 2u) << "one request after the answer, not two";
  const uint8_t id = socket->sent[1].at(1);
  socket->Deliver({0, id, 0, 0, 0, 5, 1, 3, 2, 0, 7});
  EXPECT_EQ(socket->sent.size(), 3u);
  EXPECT_EQ(session.Stats().answers, 2u);
}

}  // namespace
