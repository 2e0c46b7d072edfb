// Request frames from values.
#include "modbus/requests.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

#include "common/number_text.h"
#include "modbus/ascii_framing.h"
#include "modbus/convert.h"
#include "modbus/crc16.h"
#include "modbus/formats.h"
#include "modbus/pdu_ext.h"

namespace modbus {

namespace {

constexpr size_t kWorkBufferSize = 256;
constexpr int32_t kMbapSize = 6;

// The byte of v when v is 0..255, 0 otherwise.
uint8_t ByteOrZero(int32_t v) { return (v >= 0 && v <= 255) ? static_cast<uint8_t>(v) : 0; }

void Put16(Frame& buf, int32_t p, int32_t v) {
  buf[static_cast<size_t>(p)] = gethi(v);
  buf[static_cast<size_t>(p) + 1] = getlo(v);
}

// The steps shared by every builder: header, PDU by `writePdu` at the slave
// byte's offset, CRC, cut; in ASCII framing the bytes are then written as
// characters. `pduSize` counts the bytes from the slave byte on.
template <class WritePdu>
Frame BuildFrame(Mode mode, int32_t transactionId, int32_t mbapLength, int32_t pduSize, WritePdu writePdu,
                 size_t bufferSize = kWorkBufferSize) {
  Frame buf(bufferSize, 0);
  int32_t p = 0;
  if (UsesMbap(mode)) {
    Put16(buf, 0, transactionId);
    Put16(buf, 4, mbapLength);
    p = kMbapSize;
  }
  writePdu(buf, p);
  p += pduSize;
  if (UsesCrc(mode)) p += AppendCRC(buf, p);
  buf.resize(static_cast<size_t>(p));
  if (IsAscii(mode)) {
    // The same bytes as characters: ':', two hex digits a byte, LRC, CR LF.
    const std::string chars = EncodeAscii(buf);
    return Frame(chars.begin(), chars.end());
  }
  return buf;
}

void PutHead(Frame& b, int32_t p, int32_t slave, int32_t function, int32_t address) {
  b[static_cast<size_t>(p)] = ByteOrZero(slave);
  b[static_cast<size_t>(p) + 1] = ByteOrZero(function);
  Put16(b, p + 2, address);
}

}  // namespace

int32_t NextTransactionId(int32_t id) { return id < INT32_MAX ? id + 1 : id; }

Frame ReadRequest(Mode mode, int32_t slave, int32_t function, int32_t address, int32_t count, int32_t transactionId) {
  return BuildFrame(mode, transactionId, 6, 6, [&](Frame& b, int32_t p) {
    PutHead(b, p, slave, function, address);
    Put16(b, p + 4, count);
  });
}

Frame WriteSingleCoilRequest(Mode mode, int32_t slave, int32_t function, int32_t address, bool on,
                             int32_t transactionId) {
  return BuildFrame(mode, transactionId, 6, 6, [&](Frame& b, int32_t p) {
    PutHead(b, p, slave, function, address);
    Put16(b, p + 4, on ? 0xFF00 : 0x0000);
  });
}

Frame WriteSingleRegisterRequest(Mode mode, int32_t slave, int32_t function, int32_t address, int32_t value,
                                 int32_t transactionId) {
  return BuildFrame(mode, transactionId, 6, 6, [&](Frame& b, int32_t p) {
    PutHead(b, p, slave, function, address);
    Put16(b, p + 4, value);
  });
}

Frame WriteMultipleRegistersRequest(Mode mode, int32_t slave, int32_t function, int32_t address, int32_t count,
                                    int32_t value1, int32_t value2, int32_t transactionId) {
  const int32_t overhead = (UsesMbap(mode) ? kMbapSize : 2) + 7;
  const int32_t maxCount = (static_cast<int32_t>(kWorkBufferSize) - overhead) / 2;
  const int32_t layoutCount = std::clamp(count, 0, maxCount);
  const int64_t mbapLength = 7 + 2 * static_cast<int64_t>(count);
  return BuildFrame(
      mode, transactionId, static_cast<int32_t>(mbapLength & 0xFFFF), 7 + 2 * layoutCount, [&](Frame& b, int32_t p) {
        PutHead(b, p, slave, function, address);
        Put16(b, p + 4, count);
        const int64_t byteCount = 2 * static_cast<int64_t>(count);
        b[static_cast<size_t>(p) + 6] = (byteCount >= 0 && byteCount <= 255) ? static_cast<uint8_t>(byteCount) : 0;
        if (layoutCount >= 1) Put16(b, p + 7, value1);
        if (layoutCount >= 2) Put16(b, p + 9, value2);
      });
}

Frame WriteRegistersRequest(Mode mode, int32_t slave, int32_t address, const std::vector<int32_t>& values,
                            int32_t transactionId) {
  const int32_t count = static_cast<int32_t>(std::min<size_t>(values.size(), 123));
  return BuildFrame(mode, transactionId, 7 + 2 * count, 7 + 2 * count, [&](Frame& b, int32_t p) {
    PutHead(b, p, slave, 16, address);
    Put16(b, p + 4, count);
    b[static_cast<size_t>(p) + 6] = static_cast<uint8_t>(2 * count);
    for (int32_t i = 0; i < count; ++i) Put16(b, p + 7 + 2 * i, values[static_cast<size_t>(i)]);
  });
}

int32_t WholeValue(double value) {
  const double r = RoundHalfEven(value);
  if (!std::isfinite(r)) return 0;
  if (r >= -2147483648.0 && r <= 2147483647.0) return static_cast<int32_t>(r);
  double m = std::fmod(r, 4294967296.0);
  if (m < 0) m += 4294967296.0;
  return static_cast<int32_t>(static_cast<uint32_t>(m));
}

namespace {

// The registers of a value of a 64-bit format or a register view, from the
// typed text; nothing (and the reason in `refusal`) when it is no such value.
std::optional<std::vector<int32_t>> WideRegisters(const RequestValues& rq, std::string* refusal) {
  std::vector<int32_t> regs;
  if (const std::optional<RegisterView> view = RegisterViewOf(rq.format)) {
    const EncodedRegister e = EncodeRegisterView(*view, rq.valueText);
    if (!e.Ok()) {
      if (refusal) *refusal = e.refusal;
      return std::nullopt;
    }
    regs.push_back(Uint16(e.bytes[0], e.bytes[1]));
    return regs;
  }
  const Encoded64 e = Encode64(*Format64Of(rq.format), rq.valueText);
  if (!e.Ok()) {
    if (refusal) *refusal = e.refusal;
    return std::nullopt;
  }
  for (size_t i = 0; i < 8; i += 2) regs.push_back(Uint16(e.wire[i], e.wire[i + 1]));
  return regs;
}

}  // namespace

Frame PduRequest(Mode mode, int32_t slave, const std::vector<uint8_t>& pdu, int32_t transactionId) {
  const auto size = static_cast<int32_t>(std::min<size_t>(pdu.size(), static_cast<size_t>(kMaxPduSize)));
  // The largest PDU behind an MBAP header takes more than the 256 bytes of
  // the basic builders' work buffer: 6 + 1 + 253.
  return BuildFrame(
      mode, transactionId, size + 1, size + 1,
      [&](Frame& b, int32_t p) {
        b[static_cast<size_t>(p)] = ByteOrZero(slave);
        std::copy_n(pdu.begin(), size, b.begin() + p + 1);
      },
      static_cast<size_t>(kMbapSize + 1 + kMaxPduSize + 2));
}

namespace {

// The PDU of a function beyond the seven basic ones.
PduResult ExtendedPdu(const RequestValues& rq) {
  switch (rq.function) {
    case kReadExceptionStatus:
      return BuildReadExceptionStatus();
    case kDiagnostics:
      return BuildDiagnostics(kDiagReturnQueryData, rq.words);
    case kWriteMultipleCoils:
      return BuildWriteMultipleCoils(rq.address, rq.coils);
    case kReportServerId:
      return BuildReportServerId();
    case kMaskWriteRegister:
      return BuildMaskWriteRegister(rq.address, rq.andMask, rq.orMask);
    case kReadWriteMultipleRegisters:
      return BuildReadWriteMultipleRegisters(rq.address, rq.quantity, rq.writeAddress, rq.words);
    case kEncapsulatedInterface:
      return BuildReadDeviceIdentification(rq.readCode, rq.objectId);
    default:
      return {};
  }
}

}  // namespace

BuildResult BuildRequestFrames(const RequestValues& rq, int32_t& transactionId, std::vector<Frame>& out,
                               std::string* refusal) {
  if (!IsComposable(rq.function)) return BuildResult::Built;
  if (AnswerShapeOf(rq.function) == AnswerShape::Pdu || rq.function == kWriteMultipleCoils) {
    PduResult built = ExtendedPdu(rq);
    if (!built.Ok()) {
      if (refusal) *refusal = built.refusal;
      return BuildResult::Refused;
    }
    const int32_t id = UsesMbap(rq.mode) ? NextTransactionId(transactionId) : transactionId;
    out.push_back(PduRequest(rq.mode, rq.slave, built.pdu, id));
    transactionId = id;
    return BuildResult::Built;
  }
  const Mode mode = rq.mode;
  int32_t id = transactionId;
  // The identifier of the next frame built: moved on only where it is written.
  auto next = [&id, mode] {
    if (UsesMbap(mode)) id = NextTransactionId(id);
    return id;
  };
  const bool oneRegister = IsOneRegister(rq.format);
  // The quantity counts values; a value takes RegistersPerValue registers.
  // Wraps like the Long it is (only its low 16 bits reach the wire).
  const int32_t registerCount =
      static_cast<int32_t>(static_cast<uint32_t>(rq.quantity) * static_cast<uint32_t>(RegistersPerValue(rq.format)));
  const bool wide = Is64Bit(rq.format) || IsRegisterView(rq.format);
  std::vector<Frame> frames;
  switch (rq.function) {
    case 1:
    case 2:
      frames.push_back(ReadRequest(mode, rq.slave, rq.function, rq.address, rq.quantity, next()));
      break;
    case 3:
    case 4:
      frames.push_back(ReadRequest(mode, rq.slave, rq.function, rq.address, registerCount, next()));
      break;
    case 5:
      // On for any value whose whole number is not 0 (even beyond the Long range).
      frames.push_back(WriteSingleCoilRequest(mode, rq.slave, 5, rq.address, RoundHalfEven(rq.value) != 0.0, next()));
      break;
    default:
      if (wide) {
        const std::optional<std::vector<int32_t>> regs = WideRegisters(rq, refusal);
        if (!regs) return BuildResult::ValueRefused;
        const auto n = static_cast<int32_t>(regs->size());
        // Every register written must be a register: past 65535 the address
        // would wrap to 0.
        if ((rq.address & 0xFFFF) + n - 1 > 0xFFFF) return BuildResult::SecondRegisterOutOfRange;
        if (rq.function == 6) {
          // One single-register write per register.
          for (int32_t i = 0; i < n; ++i) {
            frames.push_back(
                WriteSingleRegisterRequest(mode, rq.slave, 6, rq.address + i, (*regs)[static_cast<size_t>(i)], next()));
          }
        } else {
          frames.push_back(WriteRegistersRequest(mode, rq.slave, rq.address, *regs, next()));
        }
        break;
      }
      if (oneRegister) {
        if (rq.function == 6) {
          frames.push_back(WriteSingleRegisterRequest(mode, rq.slave, 6, rq.address, WholeValue(rq.value), next()));
        } else {
          frames.push_back(
              WriteMultipleRegistersRequest(mode, rq.slave, 16, rq.address, 1, WholeValue(rq.value), 0, next()));
        }
        break;
      }
      const std::optional<std::array<uint8_t, 4>> bytes = EncodeValue32(rq.format, rq.value);
      if (!bytes) break;
      const auto [first, second] = RegistersOf(rq.format, *bytes);
      // Address and address + 1 (two single-register writes, or one write of
      // two registers): both must be registers.
      if ((rq.address & 0xFFFF) == 0xFFFF) return BuildResult::SecondRegisterOutOfRange;
      if (rq.function == 6) {
        frames.push_back(WriteSingleRegisterRequest(mode, rq.slave, 6, rq.address, first, next()));
        frames.push_back(WriteSingleRegisterRequest(mode, rq.slave, 6, rq.address + 1, second, next()));
      } else {
        frames.push_back(WriteMultipleRegistersRequest(mode, rq.slave, 16, rq.address, 2, first, second, next()));
      }
      break;
  }
  transactionId = id;
  out.insert(out.end(), frames.begin(), frames.end());
  return BuildResult::Built;
}

}  // namespace modbus
