// The further commands on the panel (07, 08, 15, 17, 22, 23, 43/14): the frames composed from
// their fields (hand-checked, CRCs included), the refusals, the fields each shows, the quantity's
// range per command, the stored fields, the response view's lines and following "more follows".
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "common/module1.h"
#include "fakes/fake_platform.h"
#include "panel/frmMain.h"
#include "panel_rig.h"

namespace {

using testbytes::Hex;
using testbytes::WithCrc;

// cmbCmd's index of each further command.
const std::map<int, int> kItem = {{15, 7}, {22, 8}, {23, 9}, {43, 10}, {17, 11}, {7, 12}, {8, 13}};

// The form as the operator fills it for one of the further commands.
struct Form {
  int fc;
  const char *addr = "0", *quantity = "1", *values = "", *writeAddr = "0", *andMask = "0", *orMask = "0";
  int valuesAs = 0, readCode = 0;
  const char* objectId = "0";
};

void Fill(frmMain& f, const Form& x) {
  f.cmbCmd.SetListIndex(x.fc < 7 || x.fc == 16 ? (x.fc == 16 ? 6 : x.fc - 1) : kItem.at(x.fc));
  f.txtUnitID.SetText("1");
  f.txtAddr.SetText(x.addr);
  f.txtQuantity.SetText(x.quantity);
  f.txtValues.SetText(x.values);
  f.cmbValuesAs.SetListIndex(x.valuesAs);
  f.txtWriteAddr.SetText(x.writeAddr);
  f.txtAndMask.SetText(x.andMask);
  f.txtOrMask.SetText(x.orMask);
  f.cmbReadCode.SetListIndex(x.readCode);
  f.txtObjectId.SetText(x.objectId);
}

TEST(Commands, ComposedFramesAndRefusals) {
  const struct {
    Form form;
    int16_t mode;
    std::string shown;  // the preview: the frame, or the refusal
  } cases[] = {
      // The protocol's own examples, in RTU with their CRCs.
      {{.fc = 15, .addr = "19", .quantity = "10", .values = "1 0 1 1 0 0 1 1 1 0"},
       rig::kRtu,
       "01 0F 00 13 00 0A 02 CD 01 72 CB"},
      {{.fc = 15, .addr = "19", .quantity = "10", .values = "cd 0x01", .valuesAs = 1},
       rig::kRtu,
       "01 0F 00 13 00 0A 02 CD 01 72 CB"},
      {{.fc = 22, .addr = "4", .andMask = "0x00F2", .orMask = "37"}, rig::kRtu, "01 16 00 04 00 F2 00 25 67 EE"},
      {{.fc = 23, .addr = "3", .quantity = "6", .values = "255,0xFF;255", .writeAddr = "14"},
       rig::kRtu,
       "01 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF 46 91"},
      {{.fc = 43}, rig::kRtu, "01 2B 0E 01 00 70 77"},
      {{.fc = 43, .readCode = 3, .objectId = "0x80"}, rig::kRtu, "01 2B 0E 04 80 72 87"},
      {{.fc = 17}, rig::kRtu, "01 11 C0 2C"},
      {{.fc = 7}, rig::kRtu, "01 07 41 E2"},
      {{.fc = 8, .values = "A537"}, rig::kRtu, "01 08 00 00 A5 37 DA 8D"},
      // TCP: the next transaction identifier, the MBAP length of unit byte and PDU; negative registers.
      {{.fc = 23, .addr = "0", .quantity = "1", .values = "-1 0", .writeAddr = "65535"},
       rig::kTcp,
       "00 01 00 00 00 0F 01 17 00 00 00 01 FF FF 00 02 04 FF FF 00 00"},
      {{.fc = 8, .values = "0x1 ffff"}, rig::kTcp, "00 01 00 00 00 08 01 08 00 00 00 01 FF FF"},
      // A command that carries no address ignores whatever the field holds.
      {{.fc = 17, .addr = "not a number"}, rig::kTcp, "00 01 00 00 00 02 01 11"},
      // Refusals, named for the field.
      {{.fc = 15, .addr = "0", .quantity = "4", .values = "1 0 1"},
       rig::kRtu,
       "Invalid coil list \"1 0 1\": 3 coils typed for a quantity of 4"},
      {{.fc = 15, .addr = "0", .quantity = "1969", .values = "FF", .valuesAs = 1},
       rig::kRtu,
       "Quantity: \"1969\" is outside 1 to 1968"},
      {{.fc = 22, .addr = "4", .andMask = "0x10000"},
       rig::kRtu,
       "Invalid AND mask \"0x10000\": a mask is a number from 0 to 65535 or 0x and 1 to 4 hexadecimal digits"},
      {{.fc = 22, .addr = "4", .orMask = "-1"},
       rig::kRtu,
       "Invalid OR mask \"-1\": a mask is a number from 0 to 65535 or 0x and 1 to 4 hexadecimal digits"},
      {{.fc = 23, .addr = "0", .quantity = "1", .values = "1 70000"},
       rig::kRtu,
       "Invalid write value \"70000\" at position 2: a register value is a number from -32768 to 65535 or 0x and 1 to "
       "4 hexadecimal digits"},
      {{.fc = 23, .addr = "0", .quantity = "1", .values = ""},
       rig::kRtu,
       "Invalid write values: no register value typed"},
      {{.fc = 23, .addr = "0", .quantity = "1", .values = "1", .writeAddr = "x1"},
       rig::kRtu,
       "Invalid write address \"x1\": an address is a decimal number or 0x followed by hexadecimal digits"},
      {{.fc = 23, .addr = "0", .quantity = "126", .values = "1"}, rig::kRtu, "Quantity: \"126\" is outside 1 to 125"},
      {{.fc = 43, .objectId = "256"},
       rig::kRtu,
       "Invalid object ID \"256\": an object ID is a number from 0 to 255 or 0x and 2 hexadecimal digits"},
      {{.fc = 8, .values = "12345"},
       rig::kRtu,
       "Invalid query data \"12345\" at position 1: a data word is 1 to 4 hexadecimal digits"},
      {{.fc = 8, .values = " "}, rig::kRtu, "Invalid query data: no data word typed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.form.fc) + " " + c.form.values);
    fakes::FakePlatform fp;
    frmMain f{fp.Bundle()};
    f.Form_Load();
    f.cmbMode.SetListIndex(c.mode);
    Fill(f, c.form);
    EXPECT_EQ(f.PreviewRequest(), c.shown);
    // Send pushes the same frame, or refuses with a beep and a red row.
    f.GetBytesOfForm();
    const bool refused = c.shown.rfind("Invalid", 0) == 0 || c.shown.rfind("Quantity", 0) == 0;
    EXPECT_EQ(fp.beeper->count, refused ? 1 : 0);
    if (!refused) {
      ASSERT_EQ(f.Requests.size(), 1u);
      EXPECT_EQ(Hex(f.Requests[0]), c.shown);
    } else {
      EXPECT_TRUE(f.Requests.empty());
    }
  }
}

// The largest request behind an MBAP header: 1968 coils make a PDU of 252 bytes, a frame of 259.
TEST(Commands, TheLargestRequestInTcpIsWhole) {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  f.Form_Load();
  f.cmbMode.SetListIndex(rig::kTcp);
  Fill(f, {.fc = 15, .quantity = "1968", .values = "", .valuesAs = 1});
  std::string bytes;
  for (int i = 0; i < 246; ++i) bytes += i == 245 ? "A5" : "FF ";
  f.txtValues.SetText(bytes);
  f.GetBytesOfForm();
  ASSERT_EQ(f.Requests.size(), 1u);
  const Frame& frame = f.Requests[0];
  ASSERT_EQ(frame.size(), 259u);
  EXPECT_EQ(Hex(Frame(frame.begin() + 4, frame.begin() + 14)), "00 FD 01 0F 00 00 07 B0 F6 FF");
  EXPECT_EQ(frame[258], 0xA5);
}

// Each command shows the fields it reads, captioned for what they take, and only those.
TEST(Commands, FieldsShownAndCaptionsPerCommand) {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  f.Form_Load();
  const std::vector<const Field*> toggled = {
      &f.Label7,      &f.txtAddr,     &f.lblLen,       &f.txtQuantity, &f.txtValue,     &f.lblValues,
      &f.txtValues,   &f.cmbValuesAs, &f.txtWriteAddr, &f.txtAndMask,  &f.txtOrMask,    &f.cmbReadCode,
      &f.txtObjectId, &f.lblObjectId, &f.lblAndMask,   &f.lblOrMask,   &f.lblWriteAddr, &f.lblReadCode};
  const struct {
    int fc;
    std::set<std::string> shown;
    std::string address, quantity, values;
  } cases[] = {
      {3, {"Label7", "txtAddr", "lblLen", "txtQuantity"}, "Address", "Quantity", ""},
      {6, {"Label7", "txtAddr", "lblLen", "txtValue"}, "Address", "Value", ""},
      {15,
       {"Label7", "txtAddr", "lblLen", "txtQuantity", "lblValues", "txtValues", "cmbValuesAs"},
       "Address",
       "Quantity",
       "Coil values"},
      {22, {"Label7", "txtAddr", "txtAndMask", "lblAndMask", "txtOrMask", "lblOrMask"}, "Address", "", ""},
      {23,
       {"Label7", "txtAddr", "lblLen", "txtQuantity", "lblValues", "txtValues", "txtWriteAddr", "lblWriteAddr"},
       "Read address",
       "Read quantity",
       "Write values"},
      {43, {"cmbReadCode", "lblReadCode", "txtObjectId", "lblObjectId"}, "", "", ""},
      {17, {}, "", "", ""},
      {7, {}, "", "", ""},
      {8, {"lblValues", "txtValues"}, "", "", "Query data (hex words)"},
      {1, {"Label7", "txtAddr", "lblLen", "txtQuantity"}, "Address", "Quantity", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fc);
    Fill(f, {.fc = c.fc});
    std::set<std::string> shown;
    for (const Field* x : toggled)
      if (x->Shown()) shown.insert(x->Name());
    EXPECT_EQ(shown, c.shown);
    if (!c.address.empty()) {
      EXPECT_EQ(f.Label7.Caption(), c.address);
    }
    if (!c.quantity.empty()) {
      EXPECT_EQ(f.lblLen.Caption(), c.quantity);
    }
    if (!c.values.empty()) {
      EXPECT_EQ(f.lblValues.Caption(), c.values);
    }
    // The further commands take no format: the list shows UINT16 and the operator's format is kept.
    EXPECT_EQ(f.cmbFormat.Enabled(), c.fc >= 3 && c.fc <= 6);
  }
}

// The quantity's range follows the command (and a register read's format); the new fields check theirs.
TEST(Commands, ValueChecksPerCommand) {
  enum { INT16 = 0, FLOAT = 2, INT64 = 14 };
  const struct {
    int fc, format;
    TextField frmMain::*field;
    std::string accepted, refused;  // '|' between texts
  } cases[] = {
      {2, INT16, &frmMain::txtQuantity, "2000", "2001"},
      {4, FLOAT, &frmMain::txtQuantity, "62", "63"},
      {3, INT64, &frmMain::txtQuantity, "31", "32"},
      {15, INT16, &frmMain::txtQuantity, "1968", "1969"},
      {23, INT16, &frmMain::txtQuantity, "125", "126"},
      {22, INT16, &frmMain::txtAndMask, "0|65535|0xffff|0x0", "65536|0x10000|-1|0x|abc|"},
      {22, INT16, &frmMain::txtOrMask, "0x00F2", "0xFFFFF"},
      {23, INT16, &frmMain::txtWriteAddr, "0|65535|0x1F", "|65536|1F"},
      {43, INT16, &frmMain::txtObjectId, "0|255|0x80", "256|0x100|-1|"},
      {23, INT16, &frmMain::txtValues, "1 -32768 0xFFFF|65535", "|65536|-32769|1.5"},
      {8, INT16, &frmMain::txtValues, "A537 0001|0xFFFF", "|12345|G"},
      {15, INT16, &frmMain::txtValues, "1 0 1|1011", "|2|1 x"},
  };
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  f.Form_Load();
  void (frmMain::*checks[])(bool&) = {&frmMain::txtQuantity_Validate, &frmMain::txtAndMask_Validate,
                                      &frmMain::txtOrMask_Validate,   &frmMain::txtWriteAddr_Validate,
                                      &frmMain::txtObjectId_Validate, &frmMain::txtValues_Validate};
  TextField frmMain::*const fields[] = {&frmMain::txtQuantity,  &frmMain::txtAndMask,  &frmMain::txtOrMask,
                                        &frmMain::txtWriteAddr, &frmMain::txtObjectId, &frmMain::txtValues};
  auto checkOf = [&](TextField frmMain::*field) {
    size_t i = 0;
    while (i + 1 < std::size(fields) && fields[i] != field) ++i;
    return i;
  };
  for (const auto& c : cases) {
    Fill(f, {.fc = c.fc});
    f.cmbFormat.SetListIndex(c.format);
    TextField& field = f.*c.field;
    for (bool accept : {true, false}) {
      const std::string list = accept ? c.accepted : c.refused;
      for (size_t from = 0, to;; from = to + 1) {
        to = std::min(list.find('|', from), list.size());
        field.SetText(list.substr(from, to - from));
        SCOPED_TRACE(std::to_string(c.fc) + " " + field.Name() + " \"" + field.Text() + "\"");
        bool cancel = false;
        const int beeps = fp.beeper->count;
        (f.*checks[checkOf(c.field)])(cancel);
        EXPECT_EQ(cancel, !accept);
        EXPECT_EQ(fp.beeper->count - beeps, accept ? 0 : 1);
        EXPECT_EQ(f.Refusal(field).empty(), accept) << f.Refusal(field);
        if (to >= list.size()) break;
      }
    }
  }
}

// The further fields are stored under keys of their own; a missing or bad value gives the default.
TEST(Commands, StoredFieldsAndTheirDefaults) {
  const struct {
    std::map<std::string, std::string> stored;
    std::vector<std::string> expected;  // values, valuesas, writeaddr, andmask, ormask, readcode, objectid
  } cases[] = {
      {{}, {"0", "0", "1", "0xFFFF", "0x0000", "0", "0"}},
      {{{"values", "1 0 1"},
        {"valuesas", "1"},
        {"writeaddr", "0x10"},
        {"andmask", "242"},
        {"ormask", "0x25"},
        {"readcode", "3"},
        {"objectid", "128"}},
       {"1 0 1", "1", "0x10", "242", "0x25", "3", "128"}},
      {{{"values", "1 . 2"},
        {"valuesas", "2"},
        {"writeaddr", "70000"},
        {"andmask", "0x10000"},
        {"ormask", "abc"},
        {"readcode", "-1"},
        {"objectid", "256"}},
       {"0", "0", "1", "0xFFFF", "0x0000", "0", "0"}},
  };
  for (const auto& c : cases) {
    fakes::FakePlatform fp;
    for (const auto& [key, value] : c.stored) fp.settings->values["main/" + key] = value;
    frmMain f{fp.Bundle()};
    f.Form_Load();
    const std::vector<std::string> got = {
        f.txtValues.Text(), std::to_string(f.cmbValuesAs.ListIndex()), f.txtWriteAddr.Text(), f.txtAndMask.Text(),
        f.txtOrMask.Text(), std::to_string(f.cmbReadCode.ListIndex()), f.txtObjectId.Text()};
    EXPECT_EQ(got, c.expected);
    // Stored back as shown, and read back the same.
    int16_t cancel = 0;
    f.Form_QueryUnload(cancel, 0);
    frmMain again{fp.Bundle()};
    again.Form_Load();
    EXPECT_EQ(again.txtAndMask.Text(), f.txtAndMask.Text());
    EXPECT_EQ(again.cmbReadCode.ListIndex(), f.cmbReadCode.ListIndex());
    EXPECT_EQ(again.txtValues.Text(), f.txtValues.Text());
  }
}

// An answer in the response view over TCP on the fakes (every code's view lines are checked on the pure layer); a
// device identification stream is followed while the device says more follows, and no further than
// kMaxDeviceIdRounds requests.
TEST(Commands, ResponseViewAndDeviceIdFollowUp) {
  const struct {
    Form form;
    Frame answerPdu;  // slave byte first
    std::string view;
  } cases[] = {
      {{.fc = 23, .addr = "3", .quantity = "2", .values = "7", .writeAddr = "14"},
       {1, 23, 4, 0, 9, 0xFF, 0xFE},
       "HR 00014 <- 7\r\nHR 00003: 9    \r\nHR 00004: 65534"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form.fc);
    rig::Panel r(rig::kTcp);
    r.Connect();
    Fill(r.f, c.form);
    r.f.cmdSend_Click();
    ASSERT_EQ(r.fp.socket->sent.size(), 1u);
    Frame answer = {0, 1, 0, 0, 0, static_cast<uint8_t>(c.answerPdu.size())};
    answer.insert(answer.end(), c.answerPdu.begin(), c.answerPdu.end());
    r.fp.socket->Deliver(answer);
    EXPECT_FALSE(r.f.AwaitingResponse);
    EXPECT_EQ(r.f.txtResponse.Text(), c.view);
  }
  // A stream: each answer names the next object; the panel asks again from it, in RTU framing.
  rig::Panel r(rig::kRtu);
  r.UsePorts({"ttyS0"});
  Fill(r.f, {.fc = 43, .readCode = 1});
  r.f.cmdSend_Click();
  for (int round = 0; round < frmMain::kMaxDeviceIdRounds + 2; ++round) {
    ASSERT_EQ(r.fp.serial->written.size(), static_cast<size_t>(std::min(round + 1, frmMain::kMaxDeviceIdRounds)));
    const Frame sent = r.fp.serial->written.back();
    EXPECT_EQ(Hex(sent),
              Hex(WithCrc({1, 43, 14, 2, static_cast<uint8_t>(round < frmMain::kMaxDeviceIdRounds ? round : 15)})));
    if (round >= frmMain::kMaxDeviceIdRounds) break;
    // Object `round`, and more follows from the next.
    r.fp.serial->Deliver(
        WithCrc({1, 43, 14, 2, 0x82, 0xFF, static_cast<uint8_t>(round + 1), 1, static_cast<uint8_t>(round), 1, 'x'}));
  }
  EXPECT_EQ(r.Count("Device identification stopped after 16 requests: the device still says more follows (next "
                    "object ID 0x10)"),
            1);
  EXPECT_FALSE(r.f.AwaitingResponse);
  // Every answer's objects stay in the view, one after the other.
  const std::string& view = r.f.txtResponse.Text();
  int objects = 0;
  for (size_t p = view.find(": x"); p != std::string::npos; p = view.find(": x", p + 1)) ++objects;
  EXPECT_EQ(objects, frmMain::kMaxDeviceIdRounds);
  // The last answer says no more: nothing follows.
  r.f.cmdSend_Click();
  const size_t before = r.fp.serial->written.size();
  r.fp.serial->Deliver(WithCrc({1, 43, 14, 2, 0x82, 0, 0, 1, 0, 1, 'x'}));
  EXPECT_EQ(r.fp.serial->written.size(), before);
}

}  // namespace
