// Requests of functions 15, 22, 23 and 17 built by the pure builders, framed
// for RTU (slave byte + CRC) and TCP (MBAP header), compared byte for byte with
// what a libmodbus client puts on the wire for the same request (TCP: to a
// socket on 127.0.0.1 that never answers; RTU: to a pseudo-terminal).
#include <functional>
#include <string>
#include <vector>

#include "libmodbus_capture.h"
#include "modbus/crc16.h"
#include "modbus/pdu_ext.h"

namespace {

using modbus::Pdu;

struct Case {
  const char* what;
  int slave;
  std::function<modbus::PduResult()> ours;
  std::function<void(modbus_t*)> theirs;
};

std::vector<uint8_t> Alternating(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i % 3) == 0);
  return b;
}

std::vector<uint16_t> Ramp(size_t n) {
  std::vector<uint16_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint16_t>(0x0101 * i + 0x8000);
  return v;
}

std::vector<Case> Table() {
  static uint16_t readBack[MODBUS_MAX_READ_REGISTERS];
  static uint8_t id[256];
  return {
      {"15 ten coils", 17,
       [] {
         return modbus::BuildWriteMultipleCoils(19, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0});
       },
       [](modbus_t* c) {
         const uint8_t v[] = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
         modbus_write_bits(c, 19, 10, v);
       }},
      {"15 one coil at the top", 1, [] { return modbus::BuildWriteMultipleCoils(65535, {1}); },
       [](modbus_t* c) {
         const uint8_t v[] = {1};
         modbus_write_bits(c, 65535, 1, v);
       }},
      {"15 1968 coils", 247, [] { return modbus::BuildWriteMultipleCoils(0, Alternating(1968)); },
       [](modbus_t* c) { modbus_write_bits(c, 0, 1968, Alternating(1968).data()); }},
      {"22 example", 1, [] { return modbus::BuildMaskWriteRegister(4, 0x00F2, 0x0025); },
       [](modbus_t* c) { modbus_mask_write_register(c, 4, 0x00F2, 0x0025); }},
      {"22 extremes", 247, [] { return modbus::BuildMaskWriteRegister(65535, 0, 0xFFFF); },
       [](modbus_t* c) { modbus_mask_write_register(c, 65535, 0, 0xFFFF); }},
      {"23 example", 1,
       [] {
         return modbus::BuildReadWriteMultipleRegisters(3, 6, 14, {0x00FF, 0x00FF, 0x00FF});
       },
       [](modbus_t* c) {
         const uint16_t v[] = {0x00FF, 0x00FF, 0x00FF};
         modbus_write_and_read_registers(c, 14, 3, v, 3, 6, readBack);
       }},
      {"23 largest blocks", 1, [] { return modbus::BuildReadWriteMultipleRegisters(0, 125, 65535, Ramp(121)); },
       [](modbus_t* c) { modbus_write_and_read_registers(c, 65535, 121, Ramp(121).data(), 0, 125, readBack); }},
      {"17", 1, [] { return modbus::BuildReportServerId(); },
       [](modbus_t* c) { modbus_report_slave_id(c, sizeof id, id); }},
      {"17 slave 247", 247, [] { return modbus::BuildReportServerId(); },
       [](modbus_t* c) { modbus_report_slave_id(c, sizeof id, id); }},
  };
}

// Our frame: slave byte, PDU and CRC (low byte first), or the MBAP header
// (transaction id, protocol 0, length of unit byte and PDU) before them.
Frame Framed(bool tcp, int slave, uint16_t transactionId, const Pdu& pdu) {
  Frame f;
  if (tcp) {
    const size_t length = pdu.size() + 1;
    f = {static_cast<uint8_t>(transactionId >> 8), static_cast<uint8_t>(transactionId), 0, 0,
         static_cast<uint8_t>(length >> 8),        static_cast<uint8_t>(length)};
  }
  f.push_back(static_cast<uint8_t>(slave));
  f.insert(f.end(), pdu.begin(), pdu.end());
  if (!tcp) {
    const uint16_t crc = modbus::Crc16Modbus(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
  }
  return f;
}

TEST(BreadthFrames, OurFramesAreWhatLibmodbusSends) {
  for (const Case& c : Table()) {
    const modbus::PduResult ours = c.ours();
    ASSERT_TRUE(ours.Ok()) << c.what << ": " << ours.refusal;
    for (bool tcp : {true, false}) {
      // A fresh libmodbus TCP client numbers its first request 1.
      EXPECT_EQ(capture::Hex({Framed(tcp, c.slave, 1, ours.pdu)}),
                capture::Hex(capture::Theirs(tcp, c.slave, {c.theirs})))
          << c.what << (tcp ? " (TCP)" : " (RTU)");
    }
  }
}

// The quantity ranges agree with libmodbus's limits for the same functions.
TEST(BreadthFrames, QuantityRangesAgreeWithLibmodbus) {
  struct Row {
    uint8_t function;
    bool writeBlock;
    int max;
  };
  const Row rows[] = {
      {modbus::kReadCoils, false, MODBUS_MAX_READ_BITS},
      {modbus::kReadDiscreteInputs, false, MODBUS_MAX_READ_BITS},
      {modbus::kReadHoldingRegisters, false, MODBUS_MAX_READ_REGISTERS},
      {modbus::kReadInputRegisters, false, MODBUS_MAX_READ_REGISTERS},
      {modbus::kWriteMultipleCoils, false, MODBUS_MAX_WRITE_BITS},
      {modbus::kWriteMultipleRegisters, false, MODBUS_MAX_WRITE_REGISTERS},
      {modbus::kReadWriteMultipleRegisters, false, MODBUS_MAX_WR_READ_REGISTERS},
      {modbus::kReadWriteMultipleRegisters, true, MODBUS_MAX_WR_WRITE_REGISTERS},
  };
  for (const Row& r : rows) {
    const modbus::FunctionLimits* f = modbus::FindFunction(r.function);
    ASSERT_NE(f, nullptr) << int(r.function);
    const auto& range = r.writeBlock ? f->writeQuantity : f->quantity;
    ASSERT_TRUE(range.has_value()) << int(r.function);
    EXPECT_EQ(range->min, 1) << int(r.function);
    EXPECT_EQ(range->max, r.max) << int(r.function);
  }
}

}  // namespace
