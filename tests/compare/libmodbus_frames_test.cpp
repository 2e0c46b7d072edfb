// The independent check of the request frames: for a table of requests, the
// frames our panel composes are compared byte for byte with
// what a libmodbus client puts on the wire for the same request.
//
// - TCP: a plain socket listens on 127.0.0.1 (ephemeral port); a libmodbus TCP
//   client connects and sends; nobody answers, so each call ends in its short
//   response time-out; the bytes are read from the accepted connection.
// - RTU: a pseudo-terminal pair (posix_openpt); a libmodbus RTU client opens
//   the slave side's path and writes; the bytes are read from the master side.
//   RTU-OVER-TCP frames are compared with the RTU client too: by design the two
//   modes differ only in the transport, not in a byte of the frame.
//
// Where the two must differ by design, the table says so:
// - a 32-bit value written with function 06 is our own encoding (two
//   single-register writes, at Addr and Addr + 1); a libmodbus user would
//   write it with one function-16 request. It is compared with two
//   modbus_write_register calls, which is what the encoding means on the wire;
// - raw hexadecimal input goes out exactly as typed, with no header or CRC
//   added; libmodbus's modbus_send_raw_request adds them itself. So the
//   operator's complete typed frame is compared with libmodbus's framing of its
//   PDU part: equal when the operator typed the framing libmodbus would build.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "codec/convert.h"
#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

constexpr uint32_t kResponseTimeoutUs = 20000;

std::string Hex(const Frame& f) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : f) {
    if (!s.empty()) s += ' ';
    s += d[b >> 4];
    s += d[b & 15];
  }
  return s;
}

std::vector<std::string> HexAll(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& f : frames) out.push_back(Hex(f));
  return out;
}

// Everything readable on fd: waits up to firstMs for the first byte, then
// reads until the line stays quiet for 20 ms.
Frame ReadAvailable(int fd, int firstMs = 200) {
  Frame out;
  int wait = firstMs;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN)) return out;
    uint8_t buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return out;
    out.insert(out.end(), buf, buf + n);
    wait = 20;
  }
}

// One libmodbus client call; its result is ignored (it times out).
using Call = std::function<void(modbus_t*)>;

// Runs the calls on a libmodbus TCP client and returns the bytes each put on the wire.
std::vector<Frame> LibmodbusTcp(int slave, const std::vector<Call>& calls) {
  std::vector<Frame> frames;
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ADD_FAILURE() << "cannot listen on 127.0.0.1: " << errno;
    close(listener);
    return frames;
  }
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", ntohs(addr.sin_port));
  EXPECT_NE(ctx, nullptr);
  EXPECT_EQ(modbus_set_slave(ctx, slave), 0) << "slave " << slave;
  modbus_set_response_timeout(ctx, 0, kResponseTimeoutUs);
  if (modbus_connect(ctx) == 0) {
    const int conn = accept(listener, nullptr, nullptr);
    EXPECT_GE(conn, 0);
    for (const Call& call : calls) {
      call(ctx);
      frames.push_back(ReadAvailable(conn));
    }
    close(conn);
  } else {
    ADD_FAILURE() << "libmodbus could not connect: " << modbus_strerror(errno);
  }
  modbus_close(ctx);
  modbus_free(ctx);
  close(listener);
  return frames;
}

// Runs the calls on a libmodbus RTU client on the slave side of a pty pair.
std::vector<Frame> LibmodbusRtu(int slave, const std::vector<Call>& calls) {
  std::vector<Frame> frames;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    ADD_FAILURE() << "no pseudo-terminal: " << errno;
    if (master >= 0) close(master);
    return frames;
  }
  char path[256];
  EXPECT_EQ(ptsname_r(master, path, sizeof path), 0);
  modbus_t* ctx = modbus_new_rtu(path, 9600, 'N', 8, 1);
  EXPECT_NE(ctx, nullptr);
  EXPECT_EQ(modbus_set_slave(ctx, slave), 0) << "slave " << slave;
  modbus_set_response_timeout(ctx, 0, kResponseTimeoutUs);
  if (modbus_connect(ctx) == 0) {
    for (const Call& call : calls) {
      call(ctx);
      frames.push_back(ReadAvailable(master));
    }
  } else {
    ADD_FAILURE() << "libmodbus could not open " << path << ": " << modbus_strerror(errno);
  }
  modbus_close(ctx);
  modbus_free(ctx);
  close(master);
  return frames;
}

enum Fmt { INT16, UINT16, F_ABCD, F_CDAB, F_BADC, F_DCBA, I_ABCD, I_CDAB, I_BADC, I_DCBA, U_ABCD, U_CDAB, U_BADC, U_DCBA };
enum Mode { RTU = 0, TCP = 1, RTU_OVER_TCP = 2 };

// What the operator fills in. An empty `hex` means the form; otherwise the raw
// hexadecimal view with this text.
struct Request {
  int fc = 3;
  int slave = 1;
  std::string addr = "0";
  std::string quantity = "1";
  std::string value;
  int format = UINT16;
  std::string hex;
};

Request Form(int fc, int slave, std::string addr, std::string quantity, std::string value = "", int format = UINT16) {
  Request r;
  r.fc = fc;
  r.slave = slave;
  r.addr = std::move(addr);
  r.quantity = std::move(quantity);
  r.value = std::move(value);
  r.format = format;
  return r;
}

Request Raw(std::string hex) {
  Request r;
  r.hex = std::move(hex);
  return r;
}

// Our frames for the request, composed by the panel as the operator would.
std::vector<Frame> Ours(Mode mode, const Request& r) {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  f.Form_Load();
  f.cmbMode.SetListIndex(mode);
  f.Mode = static_cast<int16_t>(mode);
  f.Requests.clear();
  if (!r.hex.empty()) {
    f.txtHEX.SetText(r.hex);
    f.GetBytesOfHexInput();
    return f.Requests;
  }
  f.cmbCmd.SetListIndex(r.fc == 16 ? 6 : r.fc - 1);
  f.cmbFormat.SetListIndex(r.format);
  f.txtUnitID.SetText(std::to_string(r.slave));
  f.txtAddr.SetText(r.addr);
  f.txtQuantity.SetText(r.quantity);
  f.txtValue.SetText(r.value);
  f.GetBytesOfForm();
  EXPECT_EQ(fp.beeper->count, 0) << "the panel refused the request";
  return f.Requests;
}

// The register value at `offset` of our frame's PDU (slave byte = 0).
uint16_t RegisterOf(Mode mode, const Frame& frame, int offset) {
  const int s = mode == TCP ? 6 : 0;
  return static_cast<uint16_t>(Uint16(ByteAt(frame, s + offset), ByteAt(frame, s + offset + 1)));
}

struct Case {
  const char* what;
  Mode mode;
  Request request;
  // The libmodbus calls for the same request; given our frames for the
  // 32-bit rows, whose register values libmodbus's getters check separately.
  std::function<std::vector<Call>(const std::vector<Frame>& ours)> libmodbus;
  const char* byDesign = "";  // where the two differ by design, and why the comparison still holds
};

Call ReadBits(int addr, int nb) {
  return [=](modbus_t* c) {
    static uint8_t dest[MODBUS_MAX_READ_BITS];
    modbus_read_bits(c, addr, nb, dest);
  };
}
Call ReadInputBits(int addr, int nb) {
  return [=](modbus_t* c) {
    static uint8_t dest[MODBUS_MAX_READ_BITS];
    modbus_read_input_bits(c, addr, nb, dest);
  };
}
Call ReadRegisters(int addr, int nb) {
  return [=](modbus_t* c) {
    static uint16_t dest[MODBUS_MAX_READ_REGISTERS];
    modbus_read_registers(c, addr, nb, dest);
  };
}
Call ReadInputRegisters(int addr, int nb) {
  return [=](modbus_t* c) {
    static uint16_t dest[MODBUS_MAX_READ_REGISTERS];
    modbus_read_input_registers(c, addr, nb, dest);
  };
}
Call WriteBit(int addr, int on) {
  return [=](modbus_t* c) { modbus_write_bit(c, addr, on); };
}
Call WriteRegister(int addr, uint16_t v) {
  return [=](modbus_t* c) { modbus_write_register(c, addr, v); };
}
Call WriteRegisters(int addr, std::vector<uint16_t> v) {
  return [=](modbus_t* c) { modbus_write_registers(c, addr, static_cast<int>(v.size()), v.data()); };
}
Call SendRaw(Frame pdu) {
  return [=](modbus_t* c) { modbus_send_raw_request(c, pdu.data(), static_cast<int>(pdu.size())); };
}

template <class... C>
std::function<std::vector<Call>(const std::vector<Frame>&)> Fixed(C... calls) {
  std::vector<Call> v{calls...};
  return [v](const std::vector<Frame>&) { return v; };
}

// A 32-bit value written with function 16: the two registers of our frame.
std::function<std::vector<Call>(const std::vector<Frame>&)> Write32With16(Mode mode, int addr) {
  return [=](const std::vector<Frame>& ours) {
    const Frame f = ours.empty() ? Frame{} : ours[0];
    return std::vector<Call>{WriteRegisters(addr, {RegisterOf(mode, f, 7), RegisterOf(mode, f, 9)})};
  };
}
// A 32-bit value written with function 06 twice: one register per frame.
std::function<std::vector<Call>(const std::vector<Frame>&)> Write32With06(Mode mode, int addr) {
  return [=](const std::vector<Frame>& ours) {
    const Frame a = ours.size() > 0 ? ours[0] : Frame{};
    const Frame b = ours.size() > 1 ? ours[1] : Frame{};
    return std::vector<Call>{WriteRegister(addr, RegisterOf(mode, a, 4)), WriteRegister(addr + 1, RegisterOf(mode, b, 4))};
  };
}

std::vector<Case> Table() {
  std::vector<Case> t;
  for (Mode m : {TCP, RTU, RTU_OVER_TCP}) {
    const char* rtuNote = m == RTU_OVER_TCP ? "RTU-OVER-TCP frames are RTU frames; only the transport differs" : "";
    auto add = [&](const char* what, Request r, std::function<std::vector<Call>(const std::vector<Frame>&)> lm,
                   const char* note = "") {
      t.push_back({what, m, std::move(r), std::move(lm), *note ? note : rtuNote});
    };
    // Reads, every function code, boundary addresses and quantities.
    add("01 coils, 1 at 0", Form(1, 1, "0", "1"), Fixed(ReadBits(0, 1)));
    add("01 coils, 1016 at 0x10", Form(1, 17, "0x10", "1016"), Fixed(ReadBits(16, 1016)));
    add("01 coils at 65535", Form(1, 247, "65535", "1"), Fixed(ReadBits(65535, 1)));
    add("02 inputs, 22 at 196", Form(2, 1, "196", "22"), Fixed(ReadInputBits(196, 22)));
    add("02 inputs at 0xFFFF", Form(2, 1, "0xFFFF", "8"), Fixed(ReadInputBits(65535, 8)));
    add("03 registers, 10 at 0", Form(3, 1, "0", "10"), Fixed(ReadRegisters(0, 10)));
    add("03 registers, 125 at 100", Form(3, 1, "100", "125"), Fixed(ReadRegisters(100, 125)));
    add("03 FLOAT, 10 values = 20 registers", Form(3, 1, "0", "10", "", F_CDAB), Fixed(ReadRegisters(0, 20)));
    add("03 registers at 65535", Form(3, 1, "65535", "1"), Fixed(ReadRegisters(65535, 1)));
    add("04 input registers, 3 at 8", Form(4, 1, "8", "3"), Fixed(ReadInputRegisters(8, 3)));
    add("04 UINT32, 2 values at 0x1000", Form(4, 1, "0x1000", "2", "", U_DCBA), Fixed(ReadInputRegisters(4096, 4)));
    add("03 slave 0", Form(3, 0, "0", "1"), Fixed(ReadRegisters(0, 1)));
    // Coils, both states.
    add("05 coil on", Form(5, 1, "172", "1", "1"), Fixed(WriteBit(172, 1)));
    add("05 coil off", Form(5, 1, "172", "1", "0"), Fixed(WriteBit(172, 0)));
    add("05 coil on at 65535", Form(5, 1, "65535", "1", "-1"), Fixed(WriteBit(65535, 1)));
    // 16-bit writes.
    add("06 INT16 -1", Form(6, 1, "1", "1", "-1", INT16), Fixed(WriteRegister(1, 0xFFFF)));
    add("06 UINT16 65535 at 65535", Form(6, 1, "65535", "1", "65535", UINT16), Fixed(WriteRegister(65535, 0xFFFF)));
    add("06 UINT16 3 at 0", Form(6, 1, "0", "1", "3", UINT16), Fixed(WriteRegister(0, 3)));
    add("16 INT16 -2", Form(16, 1, "100", "1", "-2", INT16), Fixed(WriteRegisters(100, {0xFFFE})));
    add("16 UINT16 at 65535", Form(16, 1, "65535", "1", "4660", UINT16), Fixed(WriteRegisters(65535, {0x1234})));
    // 32-bit writes with function 16, every byte order.
    for (int fmt = F_ABCD; fmt <= U_DCBA; ++fmt) {
      const char* value = fmt <= F_DCBA ? "1.5" : fmt <= I_DCBA ? "-123456789" : "305419896";
      t.push_back({"16 32-bit", m, Form(16, 1, "100", "1", value, fmt), Write32With16(m, 100), rtuNote});
    }
    // 32-bit writes with function 06: two frames.
    for (int fmt : {F_ABCD, F_DCBA, I_CDAB, U_BADC}) {
      t.push_back({"06 32-bit, twice", m, Form(6, 1, "65534", "1", fmt <= F_DCBA ? "-2.5" : "305419896", fmt),
                   Write32With06(m, 65534),
                   "by design: two function-06 writes at Addr and Addr + 1 (a libmodbus user would send one "
                   "function-16 request); compared with two modbus_write_register calls"});
    }
  }
  // Raw hexadecimal input: sent as typed.
  t.push_back({"raw hex, TCP", TCP, Raw("00 00 00 00 00 06 01 03 00 00 00 0A"),
               Fixed(SendRaw({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A})),
               "by design: sent exactly as typed (the operator types the MBAP header; TransactionID is not "
               "advanced); libmodbus's raw request adds the header itself, with transaction identifier 0"});
  t.push_back({"raw hex, RTU", RTU, Raw("01 10 00 01 00 02 04 00 0A 01 02 92 30"),
               Fixed(SendRaw({0x01, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02})),
               "by design: sent exactly as typed (the operator types the CRC); libmodbus's raw request adds it"});
  return t;
}

TEST(LibmodbusFrames, OurFramesAreWhatLibmodbusSends) {
  for (const Case& c : Table()) {
    const std::vector<Frame> ours = Ours(c.mode, c.request);
    ASSERT_FALSE(ours.empty()) << c.what;
    const std::vector<Call> calls = c.libmodbus(ours);
    const int slave = c.request.hex.empty() ? c.request.slave : 1;
    const std::vector<Frame> theirs = c.mode == TCP ? LibmodbusTcp(slave, calls) : LibmodbusRtu(slave, calls);
    EXPECT_EQ(HexAll(ours), HexAll(theirs))
        << c.what << ", mode " << c.mode << ", format " << c.request.format << (*c.byDesign ? "\n  " : "")
        << c.byDesign;
  }
}

// libmodbus's own byte-order getters read our two registers back as the value
// typed: our A/B/C/D orders mean what libmodbus means by them.
TEST(LibmodbusFrames, ByteOrdersAgreeWithLibmodbusGetters) {
  using Getter = float (*)(const uint16_t*);
  const Getter getters[4] = {modbus_get_float_abcd, modbus_get_float_cdab, modbus_get_float_badc,
                             modbus_get_float_dcba};
  for (Mode m : {TCP, RTU}) {
    for (int fmt = F_ABCD; fmt <= U_DCBA; ++fmt) {
      const int order = (fmt - F_ABCD) % 4;
      const char* value = fmt <= F_DCBA ? "1.5" : fmt <= I_DCBA ? "-123456789" : "305419896";
      const std::vector<Frame> ours = Ours(m, Form(16, 1, "100", "1", value, fmt));
      ASSERT_EQ(ours.size(), 1u);
      const uint16_t regs[2] = {RegisterOf(m, ours[0], 7), RegisterOf(m, ours[0], 9)};
      const float got = getters[order](regs);
      if (fmt <= F_DCBA) {
        EXPECT_EQ(got, 1.5f) << "format " << fmt;
      } else {
        const uint32_t want = fmt <= I_DCBA ? static_cast<uint32_t>(-123456789) : 305419896u;
        EXPECT_EQ(std::bit_cast<uint32_t>(got), want) << "format " << fmt;
      }
    }
  }
  // The function-06 pair carries the same two registers as function 16.
  for (int fmt = F_ABCD; fmt <= U_DCBA; ++fmt) {
    const std::vector<Frame> pair = Ours(RTU, Form(6, 1, "100", "1", "305419896", fmt));
    const std::vector<Frame> one = Ours(RTU, Form(16, 1, "100", "1", "305419896", fmt));
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(RegisterOf(RTU, pair[0], 4), RegisterOf(RTU, one[0], 7)) << fmt;
    EXPECT_EQ(RegisterOf(RTU, pair[1], 4), RegisterOf(RTU, one[0], 9)) << fmt;
  }
}

// Consecutive TCP requests carry consecutive transaction identifiers, as
// libmodbus numbers its own.
TEST(LibmodbusFrames, TransactionIdsAdvanceTogether) {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  f.Mode = TCP;
  std::vector<Frame> ours;
  for (int i = 0; i < 5; ++i) ours.push_back(f.GetReadRequestData(1, 3, i, 1));
  std::vector<Call> calls;
  for (int i = 0; i < 5; ++i) calls.push_back(ReadRegisters(i, 1));
  EXPECT_EQ(HexAll(ours), HexAll(LibmodbusTcp(1, calls)));
}

}  // namespace
