// The further commands from the panel's form against the bundled slave, on the socket and through
// the TCP-to-pty bridge (RTU framing): coils written and read back, a read/write of registers and a
// device identification chain; then faults against the fault peer, painted as for the basic
// commands. Each code's frames, views and fault texts are the unit tests' and the libmodbus
// comparisons'.
#include <cstring>

#include "fault_steps.h"
#include "panel_rig.h"
#include "slave_contents.h"

namespace {

using namespace rig;

// The form of one further command: cmbCmd's item and the fields it reads.
struct Form {
  int item;
  std::string addr = {}, quantity = {}, values = {}, writeAddr = {}, andMask = {}, orMask = {};
  int valuesAs = 0, readCode = 0;
  std::string objectId = "0";
};
enum { k01 = 0, k15 = 7, k23 = 9, k43 = 10, k07 = 12 };

void Fill(frmMain& f, const Form& x) {
  f.txtUnitID.SetText("1");
  f.cmbCmd.SetListIndex(x.item);
  f.txtAddr.SetText(x.addr);
  f.txtQuantity.SetText(x.quantity);
  f.cmbValuesAs.SetListIndex(x.valuesAs);
  f.txtValues.SetText(x.values);
  f.txtWriteAddr.SetText(x.writeAddr);
  f.txtAndMask.SetText(x.andMask);
  f.txtOrMask.SetText(x.orMask);
  f.cmbReadCode.SetListIndex(x.readCode);
  f.txtObjectId.SetText(x.objectId);
}

// "01 2B 0E ..." of the slave's device identification answer from object `from` of category
// `code` (1 basic, 2 regular, 3 extended), as slave_contents.h says it must be.
std::string DeviceIdAnswer(int code, int from, int next) {
  Frame f = {1,
             43,
             14,
             static_cast<uint8_t>(code),
             VESK_SLAVE_CONFORMITY,
             static_cast<uint8_t>(next ? 0xFF : 0),
             static_cast<uint8_t>(next),
             0};
  const int last = code == 1 ? 2 : code == 2 ? 6 : 0x80;
  for (int id = from; id <= last && (next == 0 || id < next); ++id) {
    const char* v = vesk_slave_device_object(id);
    if (v == nullptr) continue;
    f.push_back(static_cast<uint8_t>(id));
    f.push_back(static_cast<uint8_t>(std::strlen(v)));
    f.insert(f.end(), v, v + std::strlen(v));
    ++f[7];
  }
  return Hex(f);
}
std::string ObjectLines(int from, int to) {
  static const char* kNames[] = {"VendorName",  "ProductCode", "MajorMinorRevision", "VendorUrl",
                                 "ProductName", "ModelName",   "UserApplicationName"};
  std::string lines;
  for (int id = from; id <= to; ++id)
    if (const char* v = vesk_slave_device_object(id))
      lines += std::string("\r\n") + (id < 0x10 ? "0" : "") + (id < 0x80 ? std::to_string(id) : "80") +
               (id < 7 ? std::string(" ") + kNames[id] : "") + ": " + v;
  return lines;
}

// One exchange: the form, the request and answer frames (slave byte first, "|" between
// transactions the panel follows on by itself), and the view afterwards.
struct Exchange {
  Form form;
  std::string requests, answers, view;
};

std::vector<Exchange> Exchanges() {
  const std::string coils =
      "CL 00019 <- 1\r\nCL 00020 <- 0\r\nCL 00021 <- 1\r\nCL 00022 <- 1\r\nCL 00023 <- 0\r\n"
      "CL 00024 <- 0\r\nCL 00025 <- 1\r\nCL 00026 <- 1\r\nCL 00027 <- 1\r\nCL 00028 <- 0";
  std::string readBack = coils;
  for (size_t at; (at = readBack.find(" <- ")) != std::string::npos;) readBack.replace(at, 4, ": ");
  return {
      {{.item = k15, .addr = "19", .quantity = "10", .values = "1 0 1 1 0 0 1 1 1 0"},
       "01 0F 00 13 00 0A 02 CD 01",
       "01 0F 00 13 00 0A",
       coils},
      {{.item = k01, .addr = "19", .quantity = "10"}, "01 01 00 13 00 0A", "01 01 02 CD 01", readBack},
      {{.item = k23, .addr = "14", .quantity = "2", .values = "7 -2", .writeAddr = "14"},
       "01 17 00 0E 00 02 00 0E 00 02 04 00 07 FF FE",
       "01 17 04 00 07 FF FE",
       "HR 00014 <- 7\r\nHR 00015 <- 65534\r\nHR 00014: 7    \r\nHR 00015: 65534"},
      {{.item = k43, .readCode = 2},
       "01 2B 0E 03 00|01 2B 0E 03 06|01 2B 0E 03 80",
       DeviceIdAnswer(3, 0, 6) + "|" + DeviceIdAnswer(3, 6, 0x80) + "|" + DeviceIdAnswer(3, 0x80, 0),
       "Read device ID code 03, conformity level 83" + ObjectLines(0, 5) +
           "\r\nMore follows: next object ID 06\r\nRead device ID code 03, conformity level 83" + ObjectLines(6, 6) +
           "\r\nMore follows: next object ID 80\r\nRead device ID code 03, conformity level 83" +
           ObjectLines(0x80, 0x80)},
  };
}

Frame Bytes(const std::string& hex) { return Sent(hex, 0); }

// Every exchange on a panel in `mode` (its transport made ready by the first Send: `ready`).
void RunExchanges(Panel& p, int16_t mode, const Peer& slave, Rows want) {
  Rows sent;
  for (const Exchange& x : Exchanges()) {
    SCOPED_TRACE(x.requests);
    Fill(p.f(), x.form);
    std::istringstream requests(x.requests), answers(x.answers);
    int tid = p.f().TransactionID;
    for (std::string rq, rs; std::getline(requests, rq, '|') && std::getline(answers, rs, '|');) {
      sent.push_back("REQ " + Hex(Adu(mode, ++tid, Bytes(rq))));
      want = Cat(want, {Req(Adu(mode, tid, Bytes(rq))), Rsp(Adu(mode, tid, Bytes(rs)))});
    }
    EXPECT_EQ(p.Send(), want);
    EXPECT_EQ(p.f().txtResponse.Text(), x.view);
    want.clear();
  }
  EXPECT_EQ(slave.Requests(), sent);
}

TEST(CommandsTest, EachFurtherCommandAgainstTheSlaveOnTheSocketAndThroughTheBridge) {
  Peer slave, rtuSlave;
  vesk::test::TcpToPtyBridge bridge;
  const int port = slave.TcpSlave();
  ASSERT_TRUE(port > 0 && bridge.Open() && rtuSlave.Slave({"--rtu", bridge.PtyPath()}));
  Panel p, q;
  p.UseSocket(kTcp, port);
  RunExchanges(p, kTcp, slave, Connect(port));
  q.UseSocket(kRtuOverTcp, bridge.Port());
  RunExchanges(q, kRtuOverTcp, rtuSlave, Connect(bridge.Port()));
  // The slave's own refusals come back as exceptions: an object it lacks, another sub-function.
  Fill(p.f(), {.item = k43, .readCode = 3, .objectId = "0x7F"});
  EXPECT_EQ(p.Send().back(), "Modbus Exception: Illegal Data Address (Code 2)");
  p.f().optHEX.SetValue(true);
  p.f().txtHEX.SetText("00 00 00 00 00 06 01 08 00 01 00 00");
  EXPECT_EQ(p.Send().back(), "Modbus Exception: Illegal Function (Code 1)");
}

// Each fault of a further command's answer: the step, the form, the error row and the answer's
// bytes painted in its row (frame offsets), over TCP.
TEST(CommandsTest, FaultsOfTheFurtherCommandsArePaintedAsForTheBasicOnes) {
  const struct {
    const char* step;
    Form form;
    const char* request;  // slave byte first
    std::string error;
    std::vector<size_t> painted;
  } cases[] = {
      {"reply TID 00 00 LEN UID 17 04 00 01 00 02",
       {.item = k23, .addr = "14", .quantity = "1", .values = "5", .writeAddr = "14"},
       "01 17 00 0E 00 01 00 0E 00 01 02 00 05",
       "Protocol Error: Wrong byte count (expected 02)",
       {8}},
      {"reply TID 00 00 LEN UID 2B 0E 01 05 00 00 00",
       {k43},
       "01 2B 0E 01 00",
       "Protocol Error: Invalid conformity level (expected 01, 02, 03, 81, 82 or 83)",
       {10}},
      {"reply TID 00 00 LEN UID AB 02", {k43}, "01 2B 0E 01 00", "Modbus Exception: Illegal Data Address (Code 2)", {}},
  };
  std::string script;
  for (const auto& c : cases) script += std::string(c.step) + "\n";
  script += "reply TID 00 00 00 02 UID 07\n";  // a short frame: its MBAP length cuts the status byte off
  Peer peer;
  const int port = peer.FaultPeer(script);
  ASSERT_GT(port, 0);
  Panel p;
  p.UseSocket(kTcp, port, "300");
  ASSERT_TRUE(p.ConnectNow());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    Fill(p.f(), c.form);
    const int tid = p.f().TransactionID + 1;
    EXPECT_EQ(p.Send(), Rows({Req(Adu(kTcp, tid, Bytes(c.request))), Rsp(Sent(c.step, tid)), c.error}));
    std::vector<uint32_t> bytes(Sent(c.step, tid).size(), LogColorInfo);
    for (size_t i : c.painted) bytes[i] = LogColorHighlight;
    EXPECT_EQ(p.ByteColors(), bytes);
    EXPECT_EQ(p.RowColors(), (std::vector<uint32_t>{LogColorInfo, LogColorInfo, LogColorError}));
    // No device identification request follows a faulty or refused answer.
    EXPECT_EQ(p.CountPrefix("Request"), 1);
  }
  // A short frame: its MBAP length cuts the status byte off. The answer waits for its last byte
  // until the time-out, which shows the bytes received.
  Fill(p.f(), {k07});
  const int tid = p.f().TransactionID + 1;
  EXPECT_EQ(p.Send(), Rows({Req(Adu(kTcp, tid, Bytes("01 07"))), Rsp(Sent("TID 00 00 00 02 01 07", tid)), kTimedOut,
                            "Disconnected"}));
}

}  // namespace
