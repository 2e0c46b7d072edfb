// Answer checks and view lines of the function codes 07, 08, 15, 17, 22, 23
// and 43/14: what an answer's fields must echo, and the lines that show it.
#include <algorithm>
#include <array>

#include "common/module1.h"
#include "modbus/pdu_ext.h"

namespace modbus {

namespace {

// Bounds-checked reads of a PDU: a byte outside it reads as 0.
uint8_t At(std::span<const uint8_t> p, size_t i) { return i < p.size() ? p[i] : 0; }
int32_t Word(std::span<const uint8_t> p, size_t i) { return At(p, i) << 8 | At(p, i + 1); }
bool Has(std::span<const uint8_t> p, size_t first, size_t count) { return first + count <= p.size(); }

std::string HexByte(uint8_t b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[b >> 4], kDigits[b & 15]};
}

// Two upper-case hex digits a byte, one blank between bytes: "00 2A".
std::string HexText(std::span<const uint8_t> bytes) {
  std::string t;
  for (uint8_t b : bytes) {
    if (!t.empty()) t += ' ';
    t += HexByte(b);
  }
  return t;
}
std::string HexWord(int32_t v) {
  return HexByte(static_cast<uint8_t>(v >> 8)) + " " + HexByte(static_cast<uint8_t>(v));
}

bool ValidConformity(uint8_t c) { return (c & 0x7F) >= 1 && (c & 0x7F) <= 3; }

}  // namespace

std::string Printable(std::span<const uint8_t> bytes) {
  std::string t;
  for (uint8_t b : bytes) {
    if (b >= 0x20 && b <= 0x7E && b != '\\') {
      t += static_cast<char>(b);
    } else {
      t += "\\x" + HexByte(b);
    }
  }
  return t;
}

// ---- checks ----------------------------------------------------------------------------

std::vector<PduFault> CheckResponsePdu(std::span<const uint8_t> req, std::span<const uint8_t> rsp) {
  std::vector<PduFault> faults;
  if (req.empty() || rsp.empty() || rsp[0] != req[0]) return faults;
  // An echoed field: reported when present and different from the request's.
  auto echo = [&](size_t at, size_t n, const std::string& what) {
    if (!Has(rsp, at, n)) return;
    if (Has(req, at, n) && std::equal(rsp.begin() + at, rsp.begin() + at + n, req.begin() + at)) return;
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < n; ++i) expected.push_back(At(req, at + i));
    faults.push_back({"Wrong echo of the " + what + " (expected " + HexText(expected) + ")", static_cast<int32_t>(at),
                      static_cast<int32_t>(n)});
  };
  switch (rsp[0]) {
    case kWriteMultipleCoils:
      echo(1, 2, "address");
      echo(3, 2, "quantity");
      break;
    case kMaskWriteRegister:
      echo(1, 2, "address");
      echo(3, 2, "AND mask");
      echo(5, 2, "OR mask");
      break;
    case kDiagnostics: {
      echo(1, 2, "sub-function");
      // The data: one fault over the span from the first to the last byte that differs.
      size_t first = SIZE_MAX, last = 0;
      const size_t common = std::min(rsp.size(), req.size());
      for (size_t i = 3; i < common; ++i) {
        if (rsp[i] != req[i]) {
          first = std::min(first, i);
          last = i;
        }
      }
      if (first != SIZE_MAX) {
        std::vector<uint8_t> expected;
        for (size_t i = first; i <= last; ++i) expected.push_back(At(req, i));
        faults.push_back({"Wrong echo of the query data (expected " + HexText(expected) + ")",
                          static_cast<int32_t>(first), static_cast<int32_t>(last - first + 1)});
      }
      // An echo longer or shorter than the request (a TCP length can say so).
      if (rsp.size() != req.size()) {
        faults.push_back({"Wrong echo length (expected " + std::to_string(req.size()) + " bytes)",
                          static_cast<int32_t>(common), static_cast<int32_t>(rsp.size() - common)});
      }
      break;
    }
    case kReadWriteMultipleRegisters: {
      if (!Has(rsp, 1, 1) || !Has(req, 3, 2)) break;
      const int32_t expected = 2 * Word(req, 3);
      if (rsp[1] != expected) {
        faults.push_back(
            {"Wrong byte count (expected " + (expected > 255 ? HexWord(expected) : HexByte(expected)) + ")", 1, 1});
      }
      break;
    }
    case kReportServerId:
      // At least the server id and the run indicator.
      if (Has(rsp, 1, 1) && rsp[1] < 2) faults.push_back({"Byte count too small (expected at least 02)", 1, 1});
      break;
    case kEncapsulatedInterface: {
      if (!Has(rsp, 1, 1)) break;
      if (rsp[1] != kMeiReadDeviceId) {
        faults.push_back({"Wrong MEI type (expected 0E)", 1, 1});
        break;
      }
      const bool individual = At(req, 2) == 4;
      echo(2, 1, "read device ID code");
      if (Has(rsp, 3, 1) && !ValidConformity(rsp[3])) {
        faults.push_back({"Invalid conformity level (expected 01, 02, 03, 81, 82 or 83)", 3, 1});
      }
      if (Has(rsp, 4, 1)) {
        if (individual && rsp[4] != 0) {
          faults.push_back({"Invalid more follows (expected 00 for one object)", 4, 1});
        } else if (rsp[4] != 0 && rsp[4] != 0xFF) {
          faults.push_back({"Invalid more follows (expected 00 or FF)", 4, 1});
        }
      }
      if (Has(rsp, 5, 1) && At(rsp, 4) == 0 && rsp[5] != 0) {
        faults.push_back({"Invalid next object ID (expected 00 when no more follows)", 5, 1});
      }
      if (Has(rsp, 6, 1) && individual && rsp[6] != 1)
        faults.push_back({"Wrong number of objects (expected 01)", 6, 1});
      // The objects: one asked for individually must be the one asked for;
      // a stream lists its objects in ascending order.
      size_t pos = 7;
      int previous = -1;
      for (int i = 0; i < At(rsp, 6) && Has(rsp, pos, 2); ++i) {
        const uint8_t id = rsp[pos];
        if (individual && id != At(req, 3)) {
          faults.push_back({"Wrong object ID (expected " + HexByte(At(req, 3)) + ")", static_cast<int32_t>(pos), 1});
        } else if (!individual && id <= previous) {
          faults.push_back({"Object ID out of order (expected above " + HexByte(static_cast<uint8_t>(previous)) + ")",
                            static_cast<int32_t>(pos), 1});
        }
        previous = id;
        pos += 2 + static_cast<size_t>(rsp[pos + 1]);
      }
      break;
    }
    default:
      break;
  }
  return faults;
}

// ---- view ----------------------------------------------------------------------------

std::string_view DeviceObjectName(uint8_t id) {
  static constexpr std::array<std::string_view, 7> kNames = {"VendorName",         "ProductCode", "MajorMinorRevision",
                                                             "VendorUrl",          "ProductName", "ModelName",
                                                             "UserApplicationName"};
  return id < kNames.size() ? kNames[id] : std::string_view{};
}

std::optional<DeviceIdAnswer> ParseDeviceId(std::span<const uint8_t> rsp) {
  if (rsp.size() < 7 || rsp[0] != kEncapsulatedInterface || rsp[1] != kMeiReadDeviceId) return std::nullopt;
  DeviceIdAnswer a;
  a.readCode = rsp[2];
  a.conformity = rsp[3];
  a.moreFollows = rsp[4] == 0xFF;
  a.nextObjectId = rsp[5];
  a.objectCount = rsp[6];
  size_t pos = 7;
  for (int i = 0; i < a.objectCount && Has(rsp, pos, 2); ++i) {
    const size_t len = rsp[pos + 1];
    if (!Has(rsp, pos + 2, len)) break;
    a.objects.push_back({rsp[pos], std::string(rsp.begin() + pos + 2, rsp.begin() + pos + 2 + len)});
    pos += 2 + len;
  }
  return a;
}

std::vector<std::string> ResponseLines(std::span<const uint8_t> req, std::span<const uint8_t> rsp, bool hexAddresses) {
  return ResponseLines(
      req, rsp, [hexAddresses](int32_t a) { return hexAddresses ? PadNumber(a, 4, true) : PadNumber(a, 5, false); });
}

std::vector<std::string> ResponseLines(std::span<const uint8_t> req, std::span<const uint8_t> rsp,
                                       const std::function<std::string(int32_t)>& addr) {
  std::vector<std::string> lines;
  if (req.empty() || rsp.empty() || rsp[0] != req[0]) return lines;
  switch (rsp[0]) {
    case kWriteMultipleCoils: {
      if (!Has(rsp, 1, 4)) break;
      const int32_t a = Word(rsp, 1);
      const int32_t n = Word(rsp, 3);
      for (int32_t i = 0; i < n && Has(req, 6 + static_cast<size_t>(i) / 8, 1); ++i) {
        const int bit = (At(req, 6 + static_cast<size_t>(i) / 8) >> (i % 8)) & 1;
        lines.push_back("CL " + addr((a + i) & 0xFFFF) + " <- " + std::to_string(bit));
      }
      break;
    }
    case kMaskWriteRegister:
      if (!Has(rsp, 1, 6)) break;
      lines.push_back("HR " + addr(Word(rsp, 1)) + " <- AND " + HexByte(At(rsp, 3)) + HexByte(At(rsp, 4)) + ", OR " +
                      HexByte(At(rsp, 5)) + HexByte(At(rsp, 6)));
      break;
    case kReadWriteMultipleRegisters: {
      const int32_t writeAddress = Word(req, 5);
      for (size_t i = 0; Has(req, 10 + 2 * i, 2) && i < static_cast<size_t>(Word(req, 7)); ++i) {
        lines.push_back("HR " + addr((writeAddress + static_cast<int32_t>(i)) & 0xFFFF) + " <- " +
                        std::to_string(Word(req, 10 + 2 * i)));
      }
      if (!Has(rsp, 1, 1) || !Has(req, 1, 2)) break;
      const int32_t readAddress = Word(req, 1);
      std::vector<std::string> values;
      for (size_t i = 0; 2 * i + 1 < rsp[1] && Has(rsp, 2 + 2 * i, 2); ++i) {
        values.push_back(std::to_string(Word(rsp, 2 + 2 * i)));
      }
      size_t width = 0;
      for (const std::string& v : values) width = std::max(width, v.size());
      for (size_t i = 0; i < values.size(); ++i) {
        lines.push_back("HR " + addr((readAddress + static_cast<int32_t>(i)) & 0xFFFF) + ": " +
                        PadRight(values[i], static_cast<int16_t>(width)));
      }
      break;
    }
    case kReportServerId: {
      if (!Has(rsp, 1, 1)) break;
      const size_t end = std::min<size_t>(rsp.size(), 2 + static_cast<size_t>(rsp[1]));
      if (end > 2) lines.push_back("Server ID: " + HexByte(rsp[2]));
      if (end > 3) {
        const uint8_t run = rsp[3];
        lines.push_back(std::string("Run indicator: ") +
                        (run == 0xFF ? "ON"
                         : run == 0  ? "OFF"
                                     : "invalid") +
                        " (" + HexByte(run) + ")");
      }
      if (end > 4) {
        const auto more = rsp.subspan(4, end - 4);
        lines.push_back("Additional data: " + HexText(more) + " \"" + Printable(more) + "\"");
      }
      break;
    }
    case kReadExceptionStatus: {
      if (!Has(rsp, 1, 1)) break;
      lines.push_back("Exception status: " + HexByte(rsp[1]));
      for (int bit = 0; bit < 8; ++bit) {
        lines.push_back("Status bit " + std::to_string(bit) + ": " + std::to_string((rsp[1] >> bit) & 1));
      }
      break;
    }
    case kDiagnostics:
      if (!Has(rsp, 1, 2)) break;
      lines.push_back("Diagnostics " + HexByte(rsp[1]) + HexByte(rsp[2]) +
                      (Word(rsp, 1) == kDiagReturnQueryData ? " (return query data)" : "") + ": " +
                      HexText(rsp.subspan(3)));
      break;
    case kEncapsulatedInterface: {
      const std::optional<DeviceIdAnswer> a = ParseDeviceId(rsp);
      if (!a) break;
      lines.push_back("Read device ID code " + HexByte(a->readCode) + ", conformity level " + HexByte(a->conformity));
      for (const DeviceObject& o : a->objects) {
        const std::string_view name = DeviceObjectName(o.id);
        const auto bytes = std::span(reinterpret_cast<const uint8_t*>(o.value.data()), o.value.size());
        lines.push_back(HexByte(o.id) + (name.empty() ? "" : " " + std::string(name)) + ": " + Printable(bytes));
      }
      if (a->moreFollows) lines.push_back("More follows: next object ID " + HexByte(a->nextObjectId));
      break;
    }
    default:
      break;
  }
  return lines;
}

}  // namespace modbus
