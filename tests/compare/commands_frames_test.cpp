// The further commands as the panel composes them from its fields (15, 22, 23, 17), compared byte
// for byte with what a libmodbus client puts on the wire for the same request, in TCP, RTU and
// RTU-OVER-TCP (whose frames are RTU frames on a socket).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "libmodbus_capture.h"
#include "panel/frmMain.h"

namespace {

struct Case {
  int item;  // cmbCmd's index
  int slave;
  std::string addr, quantity, values, writeAddr, andMask, orMask;
  int valuesAs;
  std::function<void(modbus_t*)> theirs;
};

std::vector<uint8_t> Alternating(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i % 3 == 0);
  return b;
}
// The coils as hexadecimal bytes, the first coil in bit 0 of the first byte.
std::string HexBytes(const std::vector<uint8_t>& bits) {
  std::string t;
  for (size_t i = 0; i < bits.size(); i += 8) {
    unsigned byte = 0;
    for (size_t j = 0; j < 8 && i + j < bits.size(); ++j) byte |= bits[i + j] << j;
    t += std::string(t.empty() ? "" : " ") + "0123456789ABCDEF"[byte >> 4] + "0123456789ABCDEF"[byte & 15];
  }
  return t;
}
std::vector<uint16_t> Ramp(size_t n) {
  std::vector<uint16_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint16_t>(0x0101 * i + 0x8000);
  return v;
}
std::string Decimal(const std::vector<uint16_t>& v) {
  std::string t;
  for (uint16_t w : v) t += (t.empty() ? "" : " ") + std::to_string(w);
  return t;
}

std::vector<Case> Table() {
  static uint16_t readBack[MODBUS_MAX_READ_REGISTERS];
  static uint8_t id[256];
  enum { k15 = 7, k22 = 8, k23 = 9, k17 = 11 };
  return {
      {k15, 17, "19", "10", "1 0 1 1 0 0 1 1 1 0", "", "", "", 0,
       [](modbus_t* c) {
         const uint8_t v[] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
         modbus_write_bits(c, 19, 10, v);
       }},
      {k15, 17, "0x13", "10", "CD 01", "", "", "", 1,
       [](modbus_t* c) {
         const uint8_t v[] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
         modbus_write_bits(c, 19, 10, v);
       }},
      {k15, 1, "65535", "1", "1", "", "", "", 0,
       [](modbus_t* c) {
         const uint8_t v[] = {1};
         modbus_write_bits(c, 65535, 1, v);
       }},
      {k15, 247, "0", "1968", HexBytes(Alternating(1968)), "", "", "", 1,
       [](modbus_t* c) { modbus_write_bits(c, 0, 1968, Alternating(1968).data()); }},
      {k22, 1, "4", "", "", "", "0x00F2", "0x0025", 0,
       [](modbus_t* c) { modbus_mask_write_register(c, 4, 0x00F2, 0x0025); }},
      {k22, 247, "65535", "", "", "", "0", "65535", 0,
       [](modbus_t* c) { modbus_mask_write_register(c, 65535, 0, 0xFFFF); }},
      {k23, 1, "3", "6", "255 255 0xFF", "14", "", "", 0,
       [](modbus_t* c) {
         const uint16_t v[] = {0x00FF, 0x00FF, 0x00FF};
         modbus_write_and_read_registers(c, 14, 3, v, 3, 6, readBack);
       }},
      {k23, 1, "0", "125", Decimal(Ramp(121)), "65535", "", "", 0,
       [](modbus_t* c) { modbus_write_and_read_registers(c, 65535, 121, Ramp(121).data(), 0, 125, readBack); }},
      {k17, 1, "", "", "", "", "", "", 0, [](modbus_t* c) { modbus_report_slave_id(c, sizeof id, id); }},
      {k17, 247, "", "", "", "", "", "", 0, [](modbus_t* c) { modbus_report_slave_id(c, sizeof id, id); }},
  };
}

// The panel's frame for the case in `mode`, composed as the operator would.
Frame Ours(int16_t mode, const Case& c) {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  f.Form_Load();
  f.cmbMode.SetListIndex(mode);
  f.cmbCmd.SetListIndex(c.item);
  f.txtUnitID.SetText(std::to_string(c.slave));
  f.txtAddr.SetText(c.addr);
  f.txtQuantity.SetText(c.quantity);
  f.cmbValuesAs.SetListIndex(c.valuesAs);
  f.txtValues.SetText(c.values);
  f.txtWriteAddr.SetText(c.writeAddr);
  f.txtAndMask.SetText(c.andMask);
  f.txtOrMask.SetText(c.orMask);
  f.GetBytesOfForm();
  EXPECT_EQ(fp.beeper->count, 0) << "the panel refused the request";
  return f.Requests.size() == 1 ? f.Requests[0] : Frame{};
}

std::string Hex(const Frame& f) {
  std::string s;
  for (uint8_t b : f) s += std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15], ' '};
  return s;
}

TEST(CommandFrames, ThePanelsFramesAreWhatLibmodbusSends) {
  for (const Case& c : Table()) {
    const std::string tcp = Hex(capture::Theirs(true, c.slave, {c.theirs}).at(0));
    const std::string rtu = Hex(capture::Theirs(false, c.slave, {c.theirs}).at(0));
    ASSERT_FALSE(tcp.empty() || rtu.empty());
    const std::string what = "item " + std::to_string(c.item) + ", slave " + std::to_string(c.slave);
    EXPECT_EQ(Hex(Ours(1, c)), tcp) << what << " (TCP)";
    EXPECT_EQ(Hex(Ours(0, c)), rtu) << what << " (RTU)";
    EXPECT_EQ(Hex(Ours(2, c)), rtu) << what << " (RTU-OVER-TCP)";
  }
}

}  // namespace
