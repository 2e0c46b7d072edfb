#include "cli/engine_link.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <span>
#include <utility>

#include "modbus/ascii_framing.h"
#include "modbus/crc16.h"
#include "modbus/formats.h"
#include "modbus/formats64.h"
#include "modbus/pdu_ext.h"
#include "modbus/response.h"
#include "modbus/types.h"

namespace cli {
namespace {

modbus::Mode ModeOf(const CliOptions& options) {
  switch (options.mode) {
    case LinkMode::Rtu:
      return modbus::Mode::Rtu;
    case LinkMode::RtuOverTcp:
      return modbus::Mode::RtuOverTcp;
    case LinkMode::Ascii:
      // On the serial port when one is given, else on the socket.
      return UsesSerialPort(options) ? modbus::Mode::Ascii : modbus::Mode::AsciiOverTcp;
    case LinkMode::AsciiOverTcp:
      return modbus::Mode::AsciiOverTcp;
    default:
      return modbus::Mode::Tcp;
  }
}

void PutWord(Frame& f, uint32_t word) {
  f.push_back(static_cast<uint8_t>((word >> 8) & 0xFF));
  f.push_back(static_cast<uint8_t>(word & 0xFF));
}

// Slave, function and data framed for the mode: the MBAP header in front for
// TCP, the CRC-16 (low byte first) behind for RTU, as characters with their
// LRC for ASCII.
Frame Framed(modbus::Mode mode, const Frame& pdu, int transactionId) {
  if (modbus::IsAscii(mode)) {
    const std::string chars = modbus::EncodeAscii(pdu);
    return Frame(chars.begin(), chars.end());
  }
  Frame out;
  if (modbus::UsesMbap(mode)) {
    PutWord(out, static_cast<uint32_t>(transactionId) & 0xFFFF);
    PutWord(out, 0);
    PutWord(out, static_cast<uint32_t>(pdu.size()));
    out.insert(out.end(), pdu.begin(), pdu.end());
    return out;
  }
  out = pdu;
  const uint16_t crc = modbus::Crc16Modbus(out.data(), out.size());
  out.push_back(static_cast<uint8_t>(crc & 0xFF));
  out.push_back(static_cast<uint8_t>(crc >> 8));
  return out;
}

template <typename T>
std::string Shortest(T v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// A floating value's text and number: the shortest text that reads back as
// the value; no number for NaN and the infinities.
void PutFloating(RecordValue& value, double v, bool single) {
  if (std::isnan(v)) {
    value.text = "NaN";
  } else if (std::isinf(v)) {
    value.text = v > 0 ? "Inf" : "-Inf";
  } else {
    value.text = single ? Shortest(static_cast<float>(v)) : Shortest(v);
    value.number = value.text;
  }
}

RecordValue RegisterValue(ValueType type, const uint8_t* wire) {
  RecordValue value;
  const auto index = static_cast<int>(type);
  if (type == ValueType::Int16) {
    value.text = std::to_string(static_cast<int16_t>(wire[0] << 8 | wire[1]));
    value.number = value.text;
  } else if (type == ValueType::Uint16) {
    value.text = std::to_string(wire[0] << 8 | wire[1]);
    value.number = value.text;
  } else if (index <= static_cast<int>(ValueType::Uint32Dcba)) {
    const double v = modbus::DecodeFormat32(index, wire[0], wire[1], wire[2], wire[3]);
    if (index <= static_cast<int>(ValueType::FloatDcba)) {
      PutFloating(value, v, true);
    } else {
      value.text = std::to_string(static_cast<int64_t>(v));
      value.number = value.text;
    }
  } else if (auto wide = modbus::Format64Named(ValueTypeName(type))) {
    value.text = modbus::Decode64(*wide, std::span<const uint8_t, 8>(wire, 8));
    if (wide->kind != modbus::Kind64::Double || (value.text != "NaN" && value.text != "Inf" && value.text != "-Inf"))
      value.number = value.text;
  } else if (auto view = modbus::RegisterViewNamed(ValueTypeName(type))) {
    value.text = modbus::RegisterViewText(*view, wire[0], wire[1]);
    if (*view == modbus::RegisterView::Hex) value.text = "0x" + value.text;
    value.number = std::to_string(wire[0] << 8 | wire[1]);
  }
  return value;
}

// The PDU (function code and data) of the functions beyond reads and single
// writes and 16; nothing for those, which RequestFrame lays out itself.
std::optional<modbus::PduResult> FurtherPdu(const CliOptions& o) {
  switch (o.function) {
    case modbus::kReadExceptionStatus:
      return modbus::BuildReadExceptionStatus();
    case modbus::kDiagnostics:
      return modbus::BuildDiagnostics(modbus::kDiagReturnQueryData, o.registers);
    case modbus::kWriteMultipleCoils:
      return modbus::BuildWriteMultipleCoils(o.address, o.coils);
    case modbus::kReportServerId:
      return modbus::BuildReportServerId();
    case modbus::kMaskWriteRegister:
      return modbus::BuildMaskWriteRegister(o.address, o.andMask, o.orMask);
    case modbus::kReadWriteMultipleRegisters:
      return modbus::BuildReadWriteMultipleRegisters(o.address, o.quantity, o.writeAddress, o.registers);
    case modbus::kEncapsulatedInterface:
      return modbus::BuildReadDeviceIdentification(o.readCode, o.objectId);
    default:
      return std::nullopt;
  }
}

// The answer's PDU: from the function code to the end, the CRC (or, of the
// binary frame an ASCII answer carries, the LRC) left out.
std::span<const uint8_t> AnswerPdu(const CliOptions& options, const Frame& answer) {
  const modbus::Mode m = ModeOf(options);
  const auto at = static_cast<size_t>(modbus::SlaveOffset(m)) + 1;
  const auto trailer = static_cast<size_t>(modbus::TrailerSize(m));
  if (answer.size() < at + trailer) return {};
  return std::span<const uint8_t>(answer).subspan(at, answer.size() - at - trailer);
}

std::string Hex2(uint8_t b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[b >> 4], kDigits[b & 15]};
}

RecordValue Labelled(std::string label, std::string text, std::optional<std::string> number) {
  RecordValue v;
  v.label = std::move(label);
  v.text = std::move(text);
  v.number = std::move(number);
  return v;
}

// The values of the answers that carry no registers or bits at addresses:
// 07, 08, 17 and 43/14, each labelled as the window's response view names it.
std::vector<RecordValue> LabelledValues(int function, std::span<const uint8_t> pdu) {
  std::vector<RecordValue> values;
  auto at = [&pdu](size_t i) { return i < pdu.size() ? pdu[i] : uint8_t{0}; };
  switch (function) {
    case modbus::kReadExceptionStatus:
      if (pdu.size() >= 2) values.push_back(Labelled("Exception status", "0x" + Hex2(pdu[1]), std::to_string(pdu[1])));
      break;
    case modbus::kDiagnostics:
      // Sub-function, then the echoed data words.
      for (size_t i = 3, n = 1; i + 1 < pdu.size(); i += 2, ++n) {
        const unsigned word = static_cast<unsigned>(pdu[i] << 8 | pdu[i + 1]);
        values.push_back(
            Labelled("Data " + std::to_string(n), "0x" + Hex2(pdu[i]) + Hex2(pdu[i + 1]), std::to_string(word)));
      }
      break;
    case modbus::kReportServerId: {
      const size_t end = std::min<size_t>(pdu.size(), 2 + static_cast<size_t>(at(1)));
      if (end > 2) values.push_back(Labelled("Server ID", "0x" + Hex2(pdu[2]), std::to_string(pdu[2])));
      if (end > 3) {
        const uint8_t run = pdu[3];
        const std::string state = run == 0xFF ? "ON" : run == 0 ? "OFF" : "invalid (0x" + Hex2(run) + ")";
        values.push_back(Labelled("Run indicator", state, std::to_string(run)));
      }
      if (end > 4) {
        std::string hex;
        for (size_t i = 4; i < end; ++i) hex += (i > 4 ? " " : "") + Hex2(pdu[i]);
        values.push_back(
            Labelled("Additional data", hex + " \"" + modbus::Printable(pdu.subspan(4, end - 4)) + "\"", std::nullopt));
      }
      break;
    }
    case modbus::kEncapsulatedInterface:
      if (const auto answer = modbus::ParseDeviceId(pdu)) {
        for (const modbus::DeviceObject& o : answer->objects) {
          const std::string_view name = modbus::DeviceObjectName(o.id);
          const auto bytes = std::span(reinterpret_cast<const uint8_t*>(o.value.data()), o.value.size());
          values.push_back(Labelled(Hex2(o.id) + (name.empty() ? "" : " " + std::string(name)),
                                    modbus::Printable(bytes), std::nullopt));
        }
      }
      break;
    default:
      break;
  }
  return values;
}

}  // namespace

std::optional<std::string> UnsupportedReason(const CliOptions& options) {
  if (options.rawGiven) return std::nullopt;
  if (!modbus::IsComposable(options.function))
    return "vesktarvelo-cli: --function " + std::to_string(options.function) + " is not supported yet";
  // The parser has checked every range; a refusal here names what it missed.
  if (const auto built = FurtherPdu(options); built && !built->Ok()) return "vesktarvelo-cli: " + built->refusal;
  return std::nullopt;
}

std::optional<uint8_t> NextDeviceObject(const CliOptions& options, const Frame& answer) {
  if (options.rawGiven || options.function != modbus::kEncapsulatedInterface || options.readCode == 4)
    return std::nullopt;
  // The record keeps the frame as received: in ASCII framing its characters.
  const Frame binary = modbus::IsAscii(ModeOf(options)) ? modbus::AsciiFrameBytes(answer) : answer;
  const auto parsed = modbus::ParseDeviceId(AnswerPdu(options, binary));
  // Each answer must move on, so a chain ends within 255 requests.
  if (!parsed || !parsed->moreFollows || parsed->nextObjectId <= options.objectId) return std::nullopt;
  return parsed->nextObjectId;
}

std::optional<CliOptions> SecondWriteRequest(const CliOptions& options) {
  if (options.rawGiven || options.function != 6 || options.registers.size() != 2) return std::nullopt;
  CliOptions second = options;
  // The parser keeps address + 1 within 65535.
  second.address = static_cast<uint16_t>(options.address + 1);
  second.registers.erase(second.registers.begin());
  return second;
}

engine::LinkSettings LinkSettingsOf(const CliOptions& options) {
  engine::LinkSettings s;
  s.mode = ModeOf(options);
  s.host = options.host.empty() ? "127.0.0.1" : options.host;
  s.port = options.port;
  s.socketTimeoutMs = static_cast<int32_t>(options.timeoutMs);
  s.serialTimeoutMs = static_cast<int32_t>(options.timeoutMs);
  s.portChosen = !options.device.empty();
  s.portsListed = s.portChosen;
  s.portName = options.device;
  platform::SerialSettings line;
  line.baud = static_cast<int32_t>(options.baud);
  line.parity = options.parity == Parity::Even ? 'e' : options.parity == Parity::Odd ? 'o' : 'n';
  line.dataBits = options.dataBits;
  line.stopBits = options.stopBits;
  s.serial = line;
  return s;
}

Frame RequestFrame(const CliOptions& options, int transactionId) {
  if (options.rawGiven) {
    // In ASCII framing the bytes typed (slave to LRC) go out as characters.
    if (!modbus::IsAscii(ModeOf(options))) return options.raw;
    const std::string chars = modbus::AsciiCharacters(options.raw);
    return Frame(chars.begin(), chars.end());
  }
  if (auto further = FurtherPdu(options)) {
    Frame pdu{options.slave};
    pdu.insert(pdu.end(), further->pdu.begin(), further->pdu.end());
    return Framed(ModeOf(options), pdu, transactionId);
  }
  Frame pdu{options.slave, static_cast<uint8_t>(options.function)};
  switch (options.function) {
    case 5:
      PutWord(pdu, options.address);
      PutWord(pdu, !options.coils.empty() && options.coils[0] ? 0xFF00 : 0x0000);
      break;
    case 6:
      PutWord(pdu, options.address);
      PutWord(pdu, options.registers.empty() ? 0 : options.registers[0]);
      break;
    case 16:
      PutWord(pdu, options.address);
      PutWord(pdu, static_cast<uint32_t>(options.registers.size()));
      pdu.push_back(static_cast<uint8_t>(options.registers.size() * 2));
      for (uint16_t r : options.registers) PutWord(pdu, r);
      break;
    default:  // 1..4
      PutWord(pdu, options.address);
      PutWord(pdu, options.quantity);
      break;
  }
  return Framed(ModeOf(options), pdu, transactionId);
}

std::vector<RecordValue> AnswerValues(const CliOptions& options, const Frame& answer) {
  std::vector<RecordValue> values;
  const size_t at = static_cast<size_t>(modbus::SlaveOffset(ModeOf(options)));
  if (answer.size() < at + 2) return values;
  const uint8_t* data = answer.data() + at + 2;  // after slave and function
  const size_t left = answer.size() - at - 2;
  switch (options.function) {
    case 1:
    case 2: {
      if (left < 1) break;
      const size_t count = data[0];
      for (uint32_t i = 0; i < options.quantity && i / 8 < count && 1 + i / 8 < left; ++i) {
        RecordValue v;
        v.address = options.address + i;
        v.text = ((data[1 + i / 8] >> (i % 8)) & 1) ? "1" : "0";
        v.number = v.text;
        values.push_back(v);
      }
      break;
    }
    case 3:
    case 4:
    case 23: {
      if (left < 1) break;
      const size_t bytes = std::min<size_t>(data[0], left - 1);
      const size_t per = static_cast<size_t>(RegistersPerValue(options.type));
      values.reserve(bytes / 2 / per);
      for (size_t reg = 0; (reg + per) * 2 <= bytes; reg += per) {
        RecordValue v = RegisterValue(options.type, data + 1 + reg * 2);
        v.address = options.address + static_cast<uint32_t>(reg);
        values.push_back(std::move(v));
      }
      break;
    }
    case 5:
    case 6: {
      if (left < 4) break;
      RecordValue v;
      v.address = static_cast<uint32_t>(data[0] << 8 | data[1]);
      if (options.function == 5) {
        v.text = data[2] == 0xFF ? "1" : "0";
        v.number = v.text;
      } else {
        // One register shown in the chosen type when it takes one.
        const uint8_t word[8] = {data[2], data[3], 0, 0, 0, 0, 0, 0};
        v = RegisterValue(RegistersPerValue(options.type) == 1 ? options.type : ValueType::Int16, word);
        v.address = static_cast<uint32_t>(data[0] << 8 | data[1]);
      }
      values.push_back(v);
      break;
    }
    default:
      values = LabelledValues(options.function, AnswerPdu(options, answer));
      break;
  }
  return values;
}

TransactionRecord RecordOfAnswer(const CliOptions& options, const engine::Event& event) {
  TransactionRecord r;
  r.slave = options.slave;
  r.function = options.function;
  r.address = options.address;
  r.bits = options.function == 1 || options.function == 2 || options.function == 5;
  r.request = event.request;
  r.response = event.frame;
  r.responseMs = event.responseMs;
  for (const modbus::Fault& f : event.faults) r.faults.push_back({f.message, f.offset, f.length});
  // An exception answer with faults is a protocol error; its exception is
  // still shown in the traffic rows, as the window's log shows it.
  if (event.exception) {
    const std::string name = modbus::ExceptionName(*event.exception);
    // A code without a name reads "Unknown exception", as the window's log
    // writes it, and is marked where it was received.
    r.exception = RecordException{*event.exception, name.empty() ? std::string("Unknown exception") : name};
    if (name.empty()) {
      r.exception->offset = event.codeMark.offset;
      r.exception->length = event.codeMark.length;
    }
  }
  if (!r.faults.empty()) {
    r.outcome = Outcome::ProtocolError;
  } else if (event.exception) {
    r.outcome = Outcome::Exception;
  } else {
    r.outcome = Outcome::Ok;
    r.values = AnswerValues(options, event.answer);
  }
  return r;
}

}  // namespace cli
