// The further commands on the panel (07, 08, 15, 17, 22, 23, 43/14): the frames composed from their fields
// (hand-checked, CRCs included), the refusals, the fields each shows, the quantity's range per command, the stored
// fields, the response view's lines and following "more follows".
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "panel_rig.h"

namespace {

using rig::kRtu;
using rig::kTcp;
using testbytes::Hex;
using testbytes::WithCrc;

// The form as the operator fills it: "FC&field=text&..." with the fields addr, quantity, values, as (the values typed
// as a list 0 or in hex 1), write, and, or, code (the read code's index) and object; unnamed ones as below.
void Fill(frmMain& f, const std::string& form) {
  static const std::map<int, int> kItem = {{16, 6}, {15, 7}, {22, 8}, {23, 9}, {43, 10}, {17, 11}, {7, 12}, {8, 13}};
  std::map<std::string, std::string> v = {{"addr", "0"},   {"quantity", "1"}, {"values", ""}, {"as", "0"},
                                          {"write", "0"},  {"and", "0"},      {"or", "0"},    {"code", "0"},
                                          {"object", "0"}, {"notation", "0"}};
  std::istringstream in(form);
  std::string item;
  std::getline(in, item, '&');
  const int fc = std::stoi(item);
  while (std::getline(in, item, '&')) v.at(item.substr(0, item.find('='))) = item.substr(item.find('=') + 1);
  f.cmbCmd.SetListIndex(fc < 7 ? fc - 1 : kItem.at(fc));
  f.cmbAddresses.SetListIndex(std::stoi(v["notation"]));
  f.txtUnitID.SetText("1");
  f.txtAddr.SetText(v["addr"]);
  f.txtQuantity.SetText(v["quantity"]);
  f.txtValues.SetText(v["values"]);
  f.cmbValuesAs.SetListIndex(std::stoi(v["as"]));
  f.txtWriteAddr.SetText(v["write"]);
  f.txtAndMask.SetText(v["and"]);
  f.txtOrMask.SetText(v["or"]);
  f.cmbReadCode.SetListIndex(std::stoi(v["code"]));
  f.txtObjectId.SetText(v["object"]);
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out(1);
  for (char c : list)
    if (c == '|')
      out.emplace_back();
    else
      out.back() += c;
  return out;
}

TEST(Commands, ComposedFramesAndRefusals) {
  const std::string mask = "\": a mask is a number from 0 to 65535 or 0x and 1 to 4 hexadecimal digits";
  const std::vector<std::tuple<std::string, int16_t, std::string>> cases = {
      // the form, the mode, the preview
      // The protocol's own examples, in RTU with their CRCs.
      {"15&addr=19&quantity=10&values=1 0 1 1 0 0 1 1 1 0", kRtu, "01 0F 00 13 00 0A 02 CD 01 72 CB"},
      {"15&addr=19&quantity=10&values=cd 0x01&as=1", kRtu, "01 0F 00 13 00 0A 02 CD 01 72 CB"},
      {"22&addr=4&and=0x00F2&or=37", kRtu, "01 16 00 04 00 F2 00 25 67 EE"},
      {"23&addr=3&quantity=6&values=255,0xFF;255&write=14", kRtu,
       "01 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF 46 91"},
      {"43&code=3&object=0x80", kRtu, "01 2B 0E 04 80 72 87"},
      {"7", kRtu, "01 07 41 E2"},
      // TCP: the next transaction identifier, the MBAP length of unit byte and PDU; negative registers.
      {"23&values=-1 0&write=65534", kTcp, "00 01 00 00 00 0F 01 17 00 00 00 01 FF FE 00 02 04 FF FF 00 00"},
      {"8&values=0x1 ffff", kTcp, "00 01 00 00 00 08 01 08 00 00 00 01 FF FF"},
      {"17&addr=not a number", kTcp, "00 01 00 00 00 02 01 11"},  // a command without an address ignores the field
      // Refusals, named for the field.
      {"15&quantity=4&values=1 0 1", kRtu, "Invalid coil list \"1 0 1\": 3 coils typed for a quantity of 4"},
      {"15&quantity=1969&values=FF&as=1", kRtu, "Quantity: \"1969\" is outside 1 to 1968"},
      {"22&addr=4&and=0x10000", kRtu, "Invalid AND mask \"0x10000" + mask},
      {"22&addr=4&or=-1", kRtu, "Invalid OR mask \"-1" + mask},
      {"23&values=1 70000", kRtu,
       "Invalid write value \"70000\" at position 2: a register value is a number from -32768 to 65535 or 0x and 1 to "
       "4 hexadecimal digits"},
      {"23", kRtu, "Invalid write values: no register value typed"},
      {"23&values=1&write=x1", kRtu,
       "Invalid write address \"x1\": an address is a decimal number or 0x followed by hexadecimal digits"},
      {"23&quantity=126&values=1", kRtu, "Quantity: \"126\" is outside 1 to 125"},
      // Nothing runs past address 65535 (the device would wrap to 0).
      {"23&values=-1 0&write=65535", kTcp,
       "Address out of range: 2 registers written at 65535 need registers 65535 and 65536"},
      {"23&addr=65534&quantity=3&values=1", kRtu,
       "Address out of range: 3 registers read at 65534 need registers 65534 to 65536"},
      {"15&addr=65530&quantity=10&values=1 0 1 1 0 0 1 1 1 0", kRtu,
       "Address out of range: 10 coils written at 65530 need coils 65530 to 65539"},
      {"23&notation=2&addr=40004&values=1&write=30015", kRtu,
       "Invalid write address \"30015\": a reference of the input registers; the registers written are holding "
       "registers, 4xxxx"},
      {"43&object=256", kRtu,
       "Invalid object ID \"256\": an object ID is a number from 0 to 255 or 0x and 2 hexadecimal digits"},
      {"8&values=12345", kRtu, "Invalid query data \"12345\" at position 1: a data word is 1 to 4 hexadecimal digits"},
      {"8&values= ", kRtu, "Invalid query data: no data word typed"},
  };
  for (const auto& [form, mode, shown] : cases) {
    SCOPED_TRACE(form);
    rig::Panel p(mode);
    p.f.cmbMode.SetListIndex(mode);
    Fill(p.f, form);
    EXPECT_EQ(p.f.PreviewRequest(), shown);
    // Send pushes the same frame, or refuses with a beep and a red row.
    const bool refused = shown[2] != ' ';
    const std::string pushed = p.Compose();
    EXPECT_EQ(std::make_pair(pushed, p.fp.beeper->count), std::make_pair(refused ? "" : shown, int(refused)));
  }
}

// The largest request behind an MBAP header: 1968 coils make a PDU of 252 bytes, a frame of 259.
TEST(Commands, TheLargestRequestInTcpIsWhole) {
  rig::Panel p;
  p.f.cmbMode.SetListIndex(kTcp);
  std::string bytes;
  for (int i = 0; i < 245; ++i) bytes += "FF ";
  Fill(p.f, "15&quantity=1968&as=1&values=" + bytes + "A5");
  p.f.Requests.clear();
  p.f.GetBytesOfForm();
  ASSERT_EQ(p.f.Requests.size(), 1u);
  const Frame& frame = p.f.Requests[0];
  ASSERT_EQ(frame.size(), 259u);
  EXPECT_EQ(Hex(Frame(frame.begin() + 4, frame.begin() + 14)) + " .. " + Hex({frame[257], frame[258]}),
            "00 FD 01 0F 00 00 07 B0 F6 FF .. FF A5");
}

// Each command shows the fields it reads, captioned for what they take, and only those; the further commands take
// no format: the list shows UINT16 and the operator's format is kept.
TEST(Commands, FieldsShownAndCaptionsPerCommand) {
  rig::Panel p(kRtu);
  frmMain& f = p.f;
  const std::vector<const Field*> toggled = {
      &f.Label7,      &f.txtAddr,     &f.lblLen,       &f.txtQuantity, &f.txtValue,     &f.lblValues,
      &f.txtValues,   &f.cmbValuesAs, &f.txtWriteAddr, &f.txtAndMask,  &f.txtOrMask,    &f.cmbReadCode,
      &f.txtObjectId, &f.lblObjectId, &f.lblAndMask,   &f.lblOrMask,   &f.lblWriteAddr, &f.lblReadCode};
  const std::vector<std::tuple<int, std::string, std::string>> cases = {
      // shown fields; captions of those shown
      {3, "Label7 txtAddr lblLen txtQuantity", "Address|Quantity"},
      {6, "Label7 txtAddr lblLen txtValue", "Address|Value"},
      {15, "Label7 txtAddr lblLen txtQuantity lblValues txtValues cmbValuesAs", "Address|Quantity|Coil values"},
      {22, "Label7 txtAddr txtAndMask txtOrMask lblAndMask lblOrMask", "Address"},
      {23, "Label7 txtAddr lblLen txtQuantity lblValues txtValues txtWriteAddr lblWriteAddr",
       "Read address|Read quantity|Write values"},
      {43, "cmbReadCode txtObjectId lblObjectId lblReadCode", ""},
      {17, "", ""},
      {7, "", ""},
      {8, "lblValues txtValues", "Query data (hex words)"},
      {1, "Label7 txtAddr lblLen txtQuantity", "Address|Quantity"},
  };
  for (const auto& [fc, shown, captions] : cases) {
    Fill(f, std::to_string(fc));
    std::string names, texts;
    for (const Field* x : toggled)
      if (x->Shown()) names += (names.empty() ? "" : " ") + x->Name();
    for (const Label* l : {&f.Label7, &f.lblLen, &f.lblValues})
      if (l->Shown()) texts += (texts.empty() ? "" : "|") + l->Caption();
    EXPECT_EQ(std::make_tuple(names, texts, f.cmbFormat.Enabled()),
              std::make_tuple(shown, captions, fc >= 3 && fc <= 6))
        << fc;
  }
}

#define CHECKED(name) &frmMain::name, &frmMain::name##_Validate

// The quantity's range follows the command (and a register read's format); the new fields check theirs.
TEST(Commands, ValueChecksPerCommand) {
  enum { INT16 = 0, FLOAT = 2, INT64 = 14 };
  const struct {
    int fc, format;
    TextField frmMain::*field;
    void (frmMain::*check)(bool&);
    std::string accepted, refused;  // '|' between texts
  } cases[] = {
      {2, INT16, CHECKED(txtQuantity), "2000", "2001"},
      {4, FLOAT, CHECKED(txtQuantity), "62", "63"},
      {3, INT64, CHECKED(txtQuantity), "31", "32"},
      {15, INT16, CHECKED(txtQuantity), "1968", "1969"},
      {23, INT16, CHECKED(txtQuantity), "125", "126"},
      {22, INT16, CHECKED(txtAndMask), "0|65535|0xffff|0x0", "65536|0x10000|-1|0x|abc|"},
      {22, INT16, CHECKED(txtOrMask), "0x00F2", "0xFFFFF"},
      {23, INT16, CHECKED(txtWriteAddr), "0|65535|0x1F", "|65536|1F"},
      {43, INT16, CHECKED(txtObjectId), "0|255|0x80", "256|0x100|-1|"},
      {23, INT16, CHECKED(txtValues), "1 -32768 0xFFFF|65535", "|65536|-32769|1.5"},
      {8, INT16, CHECKED(txtValues), "A537 0001|0xFFFF", "|12345|G"},
      {15, INT16, CHECKED(txtValues), "1 0 1|1011", "|2|1 x"},
  };
  rig::Panel p(kRtu);
  for (const auto& c : cases) {
    Fill(p.f, std::to_string(c.fc));
    p.f.cmbFormat.SetListIndex(c.format);
    TextField& field = p.f.*c.field;
    for (bool accept : {true, false}) {
      for (const std::string& text : Split(accept ? c.accepted : c.refused)) {
        field.SetText(text);
        SCOPED_TRACE(std::to_string(c.fc) + " " + field.Name() + " \"" + text + "\"");
        bool cancel = false;
        const int beeps = p.fp.beeper->count;
        (p.f.*c.check)(cancel);
        EXPECT_EQ(std::make_tuple(cancel, p.fp.beeper->count - beeps, p.f.Refusal(field).empty()),
                  std::make_tuple(!accept, accept ? 0 : 1, accept))
            << p.f.Refusal(field);
      }
    }
  }
}

// The further fields are stored under keys of their own; a missing or bad value gives the default.
TEST(Commands, StoredFieldsAndTheirDefaults) {
  const std::vector<std::string> keys = {"values", "valuesas", "writeaddr", "andmask",
                                         "ormask", "readcode", "objectid"},
                                 defaults = {"0", "0", "1", "0xFFFF", "0x0000", "0", "0"},
                                 good = {"1 0 1", "1", "0x10", "242", "0x25", "3", "128"},
                                 bad = {"1 . 2", "2", "70000", "0x10000", "abc", "-1", "256"};
  const auto shown = [](const frmMain& f) {
    return std::vector<std::string>{
        f.txtValues.Text(), std::to_string(f.cmbValuesAs.ListIndex()), f.txtWriteAddr.Text(), f.txtAndMask.Text(),
        f.txtOrMask.Text(), std::to_string(f.cmbReadCode.ListIndex()), f.txtObjectId.Text()};
  };
  for (const auto& [stored, expected] :
       std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>>{{good, good}, {bad, defaults}}) {
    fakes::FakePlatform fp;
    for (size_t i = 0; i < stored.size(); ++i) fp.settings->values["main/" + keys[i]] = stored[i];
    frmMain f{fp.Bundle()};
    f.Form_Load();
    EXPECT_EQ(shown(f), expected);
    int16_t cancel = 0;
    f.Form_QueryUnload(cancel, 0);
    frmMain again{fp.Bundle()};
    again.Form_Load();
    EXPECT_EQ(shown(again), expected);
  }
}

// An answer in the response view over TCP on the fakes (every code's view lines are checked on the pure layer); a
// device identification stream is followed while the device says more follows, and no further than
// kMaxDeviceIdRounds requests.
TEST(Commands, ResponseViewAndDeviceIdFollowUp) {
  rig::Panel r(kTcp);
  r.Connect();
  Fill(r.f, "23&addr=3&quantity=2&values=7&write=14");
  r.f.cmdSend_Click();
  ASSERT_EQ(r.fp.socket->sent.size(), 1u);
  r.fp.socket->Deliver({0, 1, 0, 0, 0, 7, 1, 23, 4, 0, 9, 0xFF, 0xFE});
  EXPECT_FALSE(r.f.AwaitingResponse);
  EXPECT_EQ(r.f.txtResponse.Text(), testbytes::View("HR 00014 <- 7|HR 00003: 9    |HR 00004: 65534"));

  // A stream: each answer names the next object; the panel asks again from it, in RTU framing.
  rig::Panel s(kRtu);
  s.UsePorts({"ttyS0"});
  Fill(s.f, "43&code=1");
  s.f.cmdSend_Click();
  constexpr int kRounds = frmMain::kMaxDeviceIdRounds;
  for (int round = 0; round <= kRounds; ++round) {
    ASSERT_EQ(s.fp.serial->written.size(), static_cast<size_t>(std::min(round + 1, kRounds)));
    EXPECT_EQ(Hex(s.fp.serial->written.back()), Hex(WithCrc({1, 43, 14, 2, uint8_t(std::min(round, kRounds - 1))})));
    if (round == kRounds) break;
    s.fp.serial->Deliver(WithCrc({1, 43, 14, 2, 0x82, 0xFF, uint8_t(round + 1), 1, uint8_t(round), 1, 'x'}));
    // The next request waits out the line's silence after the answer (4 ms at 9600 baud).
    s.fp.clock->Advance(3);
    ASSERT_EQ(s.fp.serial->written.size(), static_cast<size_t>(round + 1));
    s.fp.clock->Advance(2);
  }
  EXPECT_EQ(s.Count("Device identification stopped after 16 requests: the device still says more follows (next "
                    "object ID 0x10)"),
            1);
  EXPECT_FALSE(s.f.AwaitingResponse);
  const std::string& view = s.f.txtResponse.Text();
  int objects = 0;
  for (size_t at = view.find(": x"); at != std::string::npos; at = view.find(": x", at + 1)) ++objects;
  EXPECT_EQ(objects, kRounds);
  // The last answer says no more: nothing follows.
  s.f.cmdSend_Click();
  const size_t before = s.fp.serial->written.size();
  s.fp.serial->Deliver(WithCrc({1, 43, 14, 2, 0x82, 0, 0, 1, 0, 1, 'x'}));
  s.fp.clock->Advance(4);
  EXPECT_EQ(s.fp.serial->written.size(), before);
}

}  // namespace
