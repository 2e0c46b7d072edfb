// The independent check of the request frames: our frames compared byte for byte with what a libmodbus client puts
// on the wire for the same request (TCP: to a socket on 127.0.0.1 that never answers; RTU: to a pseudo-terminal):
// the panel's composition for the first seven codes, the pure builders framed for 15, 22, 23 and 17. RTU-OVER-TCP
// frames are RTU frames, only the transport differs. Where the frames differ by design, the row says so.
#include <bit>

#include "libmodbus_capture.h"
#include "modbus/pdu_ext.h"
#include "modbus/requests.h"
#include "unit/panel_rig.h"

namespace {

using namespace rig;
enum Mode { RTU, TCP, RTU_OVER_TCP };

// What the operator fills in: the form, or (when `hex` is given) the raw hexadecimal view.
struct Request {
  int fc = 3, slave = 1;
  const char *addr = "0", *quantity = "1", *value = "";
  int format = UINT16;
  const char* hex = "";
};

// A libmodbus call: function 1-4 reads v[0] items at addr, 5 and 6 write v[0], 16 writes v, 0 sends v raw.
struct Lm {
  int fc, addr;
  std::vector<uint16_t> v;
};

struct Case {
  Request request;
  std::vector<Lm> libmodbus;
  const char* byDesign = "";  // where the two differ by design, and why the comparison still holds
  int onlyMode = -1;
};

std::vector<Case> Table() {
  // Every function code at least once, with boundary addresses and quantities (beyond 255 too) and slaves 0 and
  // 247; coils, both states; 16-bit writes.
  std::vector<Case> t = {
      {{1, 17, "0x10", "1016"}, {{1, 16, {1016}}}},
      {{1, 247, "65535", "1"}, {{1, 65535, {1}}}},
      {{2, 1, "0xFFFF", "8"}, {{2, 65535, {8}}}},
      {{3, 1, "100", "125"}, {{3, 100, {125}}}},
      {{3, 1, "0", "10", "", F_CDAB}, {{3, 0, {20}}}},  // 10 floats: 20 registers
      {{3, 0, "0", "1"}, {{3, 0, {1}}}},
      {{4, 1, "0x1000", "2", "", U_DCBA}, {{4, 4096, {4}}}},
      {{5, 1, "172", "1", "1"}, {{5, 172, {1}}}},
      {{5, 1, "172", "1", "0"}, {{5, 172, {0}}}},
      {{6, 1, "1", "1", "-1", INT16}, {{6, 1, {0xFFFF}}}},
      {{16, 1, "100", "1", "-2", INT16}, {{16, 100, {0xFFFE}}}},
      {{.hex = "00 00 00 00 00 06 01 03 00 00 00 0A"},
       {{0, 0, {1, 3, 0, 0, 0, 10}}},
       "by design: sent as typed, header and all; libmodbus adds the header itself (identifier 0)",
       TCP},
      {{.hex = "01 10 00 01 00 02 04 00 0A 01 02 92 30"},
       {{0, 0, {1, 16, 0, 1, 0, 2, 4, 0, 10, 1, 2}}},
       "by design: sent as typed, CRC and all; libmodbus adds the CRC itself",
       RTU},
  };
  // 32-bit writes, every byte order, with function 16 and with function 06. The registers are the
  // ones libmodbus's byte-order getters read back as the value (its 3.1.6 setters are no inverse).
  using Getter = float (*)(const uint16_t*);
  const Getter getters[] = {modbus_get_float_abcd, modbus_get_float_cdab, modbus_get_float_badc, modbus_get_float_dcba};
  for (int fmt = F_ABCD; fmt <= U_DCBA; ++fmt) {
    const bool isFloat = fmt <= F_DCBA, isInt = fmt >= I_ABCD && fmt < U_ABCD;
    const char* text = isFloat ? "1.5" : isInt ? "-123456789" : "305419896";
    const uint32_t bits = isFloat ? std::bit_cast<uint32_t>(1.5f) : isInt ? uint32_t(-123456789) : 305419896u;
    const int order = (fmt - F_ABCD) % 4;  // words swapped in CDAB and DCBA, bytes in BADC and DCBA
    std::vector<uint16_t> r = {uint16_t(bits >> (order % 2 ? 0 : 16)), uint16_t(bits >> (order % 2 ? 16 : 0))};
    if (order >= 2)
      for (uint16_t& w : r) w = static_cast<uint16_t>(w << 8 | w >> 8);
    EXPECT_EQ(std::bit_cast<uint32_t>(getters[order](r.data())), bits) << "byte order " << order;
    t.push_back({{16, 1, "100", "1", text, fmt}, {{16, 100, r}}});
    t.push_back({{6, 1, "65534", "1", text, fmt},
                 {{6, 65534, {r[0]}}, {6, 65535, {r[1]}}},
                 "by design: two 06 writes at Addr, Addr + 1 (libmodbus users would send one 16 request)"});
  }
  return t;
}

// Our frames for the request, composed by the panel as the operator would.
std::vector<Frame> Ours(Mode mode, const Request& r) {
  rig::Panel p(mode);  // the mode as the list leaves it
  p.f.cmbMode.SetListIndex(mode);
  p.f.txtHEX.SetText(r.hex);
  p.Fill(r.fc, r.format, std::to_string(r.slave), r.addr, r.quantity, r.value);
  *r.hex ? p.f.GetBytesOfHexInput() : p.f.GetBytesOfForm();
  EXPECT_EQ(p.fp.beeper->count, 0) << "the panel refused the request";
  return p.f.Requests;
}

// The libmodbus call of each row.
std::vector<capture::Call> Calls(const std::vector<Lm>& calls) {
  std::vector<capture::Call> out;
  for (const Lm& c : calls)
    out.push_back([c](modbus_t* ctx) {
      static uint8_t bits[MODBUS_MAX_READ_BITS];
      static uint16_t regs[MODBUS_MAX_READ_REGISTERS];
      const std::vector<uint8_t> pdu(c.v.begin(), c.v.end());
      if (c.fc == 1) modbus_read_bits(ctx, c.addr, c.v[0], bits);
      if (c.fc == 2) modbus_read_input_bits(ctx, c.addr, c.v[0], bits);
      if (c.fc == 3) modbus_read_registers(ctx, c.addr, c.v[0], regs);
      if (c.fc == 4) modbus_read_input_registers(ctx, c.addr, c.v[0], regs);
      if (c.fc == 5) modbus_write_bit(ctx, c.addr, c.v[0]);
      if (c.fc == 6) modbus_write_register(ctx, c.addr, c.v[0]);
      if (c.fc == 16) modbus_write_registers(ctx, c.addr, static_cast<int>(c.v.size()), c.v.data());
      if (c.fc == 0) modbus_send_raw_request(ctx, pdu.data(), static_cast<int>(pdu.size()));
    });
  return out;
}

TEST(LibmodbusFrames, OurFramesAreWhatLibmodbusSends) {
  const std::vector<Case> table = Table();
  for (Mode mode : {TCP, RTU, RTU_OVER_TCP})
    for (const Case& c : table) {
      if (c.onlyMode >= 0 && c.onlyMode != mode) continue;
      EXPECT_EQ(capture::Hex(Ours(mode, c.request)),
                capture::Hex(capture::Theirs(mode == TCP, c.request.slave, Calls(c.libmodbus))))
          << "mode " << mode << ", function " << c.request.fc << ", address " << c.request.addr << ", format "
          << c.request.format << ", value " << c.request.value << (*c.byDesign ? "\n  " : "") << c.byDesign;
    }
}

// Requests of functions 15, 22, 23 and 17 from the pure builders, framed with the identifier 1 of a fresh
// libmodbus TCP client's first request.
TEST(BreadthFrames, OurFramesAreWhatLibmodbusSends) {
  static uint16_t readBack[MODBUS_MAX_READ_REGISTERS];
  static uint8_t id[256], coils10[] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0}, coils1968[1968];
  static uint16_t ff3[] = {0x00FF, 0x00FF, 0x00FF}, ramp121[121];
  for (size_t i = 0; i < 1968; ++i) coils1968[i] = static_cast<uint8_t>(i % 3 == 0);
  for (size_t i = 0; i < 121; ++i) ramp121[i] = static_cast<uint16_t>(0x0101 * i + 0x8000);
  const std::vector<std::tuple<std::string, int, modbus::PduResult, capture::Call>> table = {
      {"15 ten coils", 17, modbus::BuildWriteMultipleCoils(19, {coils10, coils10 + 10}),
       [](modbus_t* c) { modbus_write_bits(c, 19, 10, coils10); }},
      {"15 one coil at the top", 1, modbus::BuildWriteMultipleCoils(65535, {1}),
       [](modbus_t* c) { modbus_write_bits(c, 65535, 1, coils10); }},
      {"15 1968 coils", 247, modbus::BuildWriteMultipleCoils(0, {coils1968, coils1968 + 1968}),
       [](modbus_t* c) { modbus_write_bits(c, 0, 1968, coils1968); }},
      {"22 example", 1, modbus::BuildMaskWriteRegister(4, 0x00F2, 0x0025),
       [](modbus_t* c) { modbus_mask_write_register(c, 4, 0x00F2, 0x0025); }},
      {"22 extremes", 247, modbus::BuildMaskWriteRegister(65535, 0, 0xFFFF),
       [](modbus_t* c) { modbus_mask_write_register(c, 65535, 0, 0xFFFF); }},
      {"23 example", 1, modbus::BuildReadWriteMultipleRegisters(3, 6, 14, {ff3, ff3 + 3}),
       [](modbus_t* c) { modbus_write_and_read_registers(c, 14, 3, ff3, 3, 6, readBack); }},
      {"23 largest blocks, written up to the top", 1,
       modbus::BuildReadWriteMultipleRegisters(0, 125, 65415, {ramp121, ramp121 + 121}),
       [](modbus_t* c) { modbus_write_and_read_registers(c, 65415, 121, ramp121, 0, 125, readBack); }},
      {"17", 1, modbus::BuildReportServerId(), [](modbus_t* c) { modbus_report_slave_id(c, sizeof id, id); }},
      {"17 slave 247", 247, modbus::BuildReportServerId(),
       [](modbus_t* c) { modbus_report_slave_id(c, sizeof id, id); }}};
  for (const auto& [what, slave, ours, theirs] : table) {
    ASSERT_TRUE(ours.Ok()) << what << ": " << ours.refusal;
    for (const modbus::Mode mode : {modbus::Mode::Tcp, modbus::Mode::Rtu})
      EXPECT_EQ(capture::Hex({modbus::PduRequest(mode, slave, ours.pdu, 1)}),
                capture::Hex(capture::Theirs(mode == modbus::Mode::Tcp, slave, {theirs})))
          << what << (mode == modbus::Mode::Tcp ? " (TCP)" : " (RTU)");
  }
}

// The quantity ranges agree with libmodbus's limits for the same functions (the write block of 23 last).
TEST(BreadthFrames, QuantityRangesAgreeWithLibmodbus) {
  const std::vector<std::pair<uint8_t, int>> rows = {
      {modbus::kReadCoils, MODBUS_MAX_READ_BITS},
      {modbus::kReadDiscreteInputs, MODBUS_MAX_READ_BITS},
      {modbus::kReadHoldingRegisters, MODBUS_MAX_READ_REGISTERS},
      {modbus::kReadInputRegisters, MODBUS_MAX_READ_REGISTERS},
      {modbus::kWriteMultipleCoils, MODBUS_MAX_WRITE_BITS},
      {modbus::kWriteMultipleRegisters, MODBUS_MAX_WRITE_REGISTERS},
      {modbus::kReadWriteMultipleRegisters, MODBUS_MAX_WR_READ_REGISTERS},
      {modbus::kReadWriteMultipleRegisters, MODBUS_MAX_WR_WRITE_REGISTERS}};
  for (size_t i = 0; i < rows.size(); ++i) {
    const modbus::FunctionLimits* f = modbus::FindFunction(rows[i].first);
    ASSERT_NE(f, nullptr) << int(rows[i].first);
    const auto& range = i + 1 == rows.size() ? f->writeQuantity : f->quantity;
    EXPECT_EQ(range ? std::make_pair(range->min, range->max) : std::make_pair(-1, -1),
              std::make_pair(1, rows[i].second))
        << int(rows[i].first);
  }
}

}  // namespace
