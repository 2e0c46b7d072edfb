// Fuzz target for reception as the program runs it. The input chooses the
// mode (0 RTU and 3 ASCII on the fake serial port, 1 TCP, 2 RTU-OVER-TCP and
// 4 ASCII-OVER-TCP on the fake socket) and the request time-out, then a script
// of steps: a request built through the panel (form fields or raw hex) and
// sent with cmdSend_Click; arbitrary bytes in arbitrary chunks, well-formed
// answers to the request in flight (mangled or not; in ASCII framing as their
// characters with the LRC), long floods, delivered through the fake transports
// so that reception runs with the chunk rules of the transports; clock advances
// below and past the time-out; the peer closing or failing.
//
// After every step the panel's invariants are checked; a violation traps and
// libFuzzer reports it as a crash. The log pane is mirrored from its change
// stream, as the window mirrors it, and compared at the end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/module1.h"
#include "fakes/fake_platform.h"
#include "modbus/ascii_framing.h"
#include "modbus/crc16.h"
#include "modbus/types.h"
#include "panel/frmMain.h"

using namespace modbus;

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr size_t kMaxInput = 4096;
constexpr int kMaxSteps = 160;
// The longest silence a serial line keeps between frames at the line speeds
// used here (9600 baud: 4 ms), with room to spare.
constexpr int64_t kMaxSilenceMs = 40;
// Bytes delivered per input: enough to run the receive buffer into its limit
// (65536) once, not so many that one input takes long.
constexpr size_t kMaxDelivered = 80000;
constexpr int32_t kRxLimit = 65536;
constexpr size_t kStampLength = 22;
constexpr size_t kHeadLength = 37;  // time stamp, two blanks, "Response <-- "
constexpr std::string_view kRequestHead = "Request  --> ";
constexpr std::string_view kResponseHead = "Response <-- ";

// Reads the input front to back; past the end everything is 0 or empty.
class Input {
 public:
  Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  bool Empty() const { return i_ >= n_; }
  uint8_t Byte() { return i_ < n_ ? d_[i_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  Frame Bytes(size_t len) {
    Frame f;
    for (size_t k = 0; k < len && i_ < n_; ++k) f.push_back(d_[i_++]);
    return f;
  }
  std::string Text(size_t maxLen) {
    const size_t len = Byte() % (maxLen + 1);
    std::string s;
    for (size_t k = 0; k < len && i_ < n_; ++k) s.push_back(static_cast<char>(d_[i_++]));
    return s;
  }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t i_ = 0;
};

bool IsLogHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "dd.mm.yy  hh:mm:ss.mmm"
bool IsStamp(std::string_view s) {
  static constexpr std::string_view kShape = "99.99.99  99:99:99.999";
  if (s.size() < kShape.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i)
    if (kShape[i] == '9' ? !IsDigit(s[i]) : s[i] != kShape[i]) return false;
  return true;
}

// The log pane as the window keeps it: applied change by change.
struct LogMirror {
  std::string text;
  std::vector<uint32_t> colors;
  int requestRows = 0;   // "Request  --> " rows appended
  int responseRows = 0;  // "Response <-- " rows appended
  int errorRows = 0;     // rows appended in the error colour

  void Apply(const RichTextField::Change& c, const RichTextField& pane) {
    switch (c.kind) {
      case RichTextField::Change::Reset:
        text = c.text;
        colors.assign(text.size(), 0);
        for (size_t i = 0; i < text.size(); ++i) colors[i] = pane.ColorAt(i);
        break;
      case RichTextField::Change::Append: {
        text += c.text;
        colors.insert(colors.end(), c.text.size(), c.color);
        const std::string_view row(c.text);
        if (row.size() >= kHeadLength && row.substr(kStampLength + 2, kRequestHead.size()) == kRequestHead)
          ++requestRows;
        if (row.size() >= kHeadLength && row.substr(kStampLength + 2, kResponseHead.size()) == kResponseHead)
          ++responseRows;
        if (c.color == LogColorError) ++errorRows;
        break;
      }
      case RichTextField::Change::RemoveFront:
        Require(c.pos <= text.size());
        text.erase(0, c.pos);
        colors.erase(colors.begin(), colors.begin() + static_cast<long>(c.pos));
        break;
      case RichTextField::Change::Recolor:
        // A recolour names characters that exist.
        Require(c.pos + c.len <= text.size());
        std::fill_n(colors.begin() + static_cast<long>(c.pos), c.len, c.color);
        break;
    }
  }
};

struct Session {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  LogMirror mirror;
  int16_t mode = 0;
  int timeoutMs = 0;
  // Bytes delivered while the request in flight awaited its answer.
  Frame since;
  // On the serial port the next frame is held for the line's silence after
  // an answer: taken (an answer is awaited) but not yet written.
  bool held = false;
  size_t delivered = 0;
  int requestRowsSeen = 0;

  bool Ascii() const { return IsAscii(ModeOf(mode)); }
  bool OnSerial() const { return !IsSocketMode(ModeOf(mode)); }
  bool LinkUp() const { return OnSerial() ? fp.serial->IsOpen() : fp.socket->state == platform::TcpSocket::kConnected; }
};

// ---- checks -------------------------------------------------------------------

// The response row LogResponse wrote last, if the pane still holds it, holds
// exactly the head and the hex text of `frame`.
void CheckResponseRow(const Session& s, const Frame& frame) {
  const frmMain& f = s.f;
  if (f.RxLogStart < 0) return;
  const std::string& text = f.txtLog.Text();
  const std::string row = std::string(kResponseHead) + ToLogHexStringBounded(frame) + "\r\n";
  Require(static_cast<size_t>(f.RxLogEnd) == static_cast<size_t>(f.RxLogStart) + kStampLength + 2 + row.size());
  Require(text.compare(static_cast<size_t>(f.RxLogStart) + kStampLength + 2, row.size(), row) == 0);
}

// The view: at most two answers (two frames for one Send) of at most one
// line per coil of a full frame, or the device identification answers of one
// Send (kMaxDeviceIdRounds), each line printable and no longer than a line
// of a full frame's bytes (four characters a byte at most).
void CheckView(const frmMain& f) {
  const std::string& view = f.txtResponse.Text();
  Require(view.size() <= 2 * 2040 * 64);
  size_t lineLength = 0;
  for (size_t i = 0; i < view.size(); ++i) {
    const char c = view[i];
    if (c == '\r') {
      Require(i + 1 < view.size() && view[i + 1] == '\n' && lineLength > 0);
      lineLength = 0;
      ++i;
      continue;
    }
    Require(c >= 32 && c <= 126);
    Require(++lineLength <= 64 + 7 * 253);
  }
}

// Cheap invariants, after every step.
void CheckState(Session& s) {
  frmMain& f = s.f;
  Require(f.RxCount >= 0 && f.RxCount <= kRxLimit);
  Require(f.RxBuffer.size() <= static_cast<size_t>(kRxLimit));
  Require(f.LogLineCount >= 0 && f.LogLineCount <= 1000);
  Require(f.LogRecords().size() <= 1000);
  Require(f.Requests.size() <= 2);

  const std::string& text = f.txtLog.Text();
  Require(s.mirror.text.size() == text.size());
  // The last response row, while it is still in the pane.
  if (f.RxLogStart >= 0) {
    Require(f.RxLogStart <= f.RxLogEnd);
    Require(static_cast<size_t>(f.RxLogEnd) <= text.size());
    if (f.RxLogEnd > f.RxLogStart) {
      const size_t start = static_cast<size_t>(f.RxLogStart), end = static_cast<size_t>(f.RxLogEnd);
      Require(end - start >= kHeadLength + 2);
      Require(IsStamp(std::string_view(text).substr(start)));
      Require(text.compare(start + kStampLength + 2, kResponseHead.size(), kResponseHead) == 0);
      Require(text[end - 2] == '\r' && text[end - 1] == '\n');
    }
  }

  // The response time: empty, or a whole number of milliseconds.
  const std::string& dt = f.lblDT.Caption();
  if (!dt.empty()) {
    Require(dt.size() > 3 && dt.compare(dt.size() - 3, 3, " ms") == 0);
    for (size_t i = 0; i + 3 < dt.size(); ++i) Require(IsDigit(dt[i]));
  }

  // A request that went out starts a fresh answer.
  if (s.mirror.requestRows != s.requestRowsSeen) {
    s.requestRowsSeen = s.mirror.requestRows;
    s.since.clear();
    s.held = false;
  }
  if (!f.AwaitingResponse) s.held = false;
}

// The whole pane, at the end: the mirror equals it, every row has its shape,
// only the three log colours occur, and every painted character is a hex digit
// of a response row, painted together with the other digit of its byte.
void CheckLog(const Session& s) {
  const RichTextField& pane = s.f.txtLog;
  const std::string& text = pane.Text();
  const std::vector<uint32_t>& colors = s.mirror.colors;
  Require(s.mirror.text == text && colors.size() == text.size());
  Require(text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0));

  // The pane's colours are those of the mirror: on both sides of every colour
  // change of the mirror, and at every character (a pane holding frames of
  // many kilobytes, where a lookup per character would dominate the run time:
  // at 4096 evenly spaced characters).
  const size_t stride = text.size() <= 32768 ? 1 : text.size() / 4096;
  for (size_t pos = 0; pos < text.size(); pos += stride) Require(pane.ColorAt(pos) == colors[pos]);
  for (size_t pos = 1; pos < text.size(); ++pos)
    if (colors[pos] != colors[pos - 1])
      Require(pane.ColorAt(pos - 1) == colors[pos - 1] && pane.ColorAt(pos) == colors[pos]);
  if (!text.empty()) Require(pane.ColorAt(text.size() - 1) == colors.back());
  Require(pane.ColorAt(text.size()) == 0);

  bool responseRow = false;  // the entry the current row belongs to is a response
  size_t rowStart = 0;
  while (rowStart < text.size()) {
    const size_t rowEnd = text.find("\r\n", rowStart);
    Require(rowEnd != std::string::npos);
    const std::string_view row = std::string_view(text).substr(rowStart, rowEnd - rowStart);
    if (IsStamp(row)) {
      Require(row.size() >= kStampLength + 2 && row.substr(kStampLength, 2) == "  ");
      responseRow = row.substr(kStampLength + 2, kResponseHead.size()) == kResponseHead;
    } else if (!row.empty()) {
      // A continuation row of a long frame: 37 blanks, then bytes.
      Require(row.size() > kHeadLength && row.find_first_not_of(' ') == kHeadLength);
    } else {
      responseRow = false;
    }
    for (size_t pos = rowStart; pos < rowEnd + 2; ++pos) {
      const uint32_t color = colors[pos];
      Require(color == LogColorInfo || color == LogColorError || color == LogColorHighlight);
      if (color != LogColorHighlight) continue;
      Require(responseRow && pos < rowEnd && IsLogHexDigit(text[pos]));
      const size_t column = pos - rowStart;
      Require(column >= kHeadLength && (column - kHeadLength) % 3 != 2);
      const size_t partner = (column - kHeadLength) % 3 == 0 ? pos + 1 : pos - 1;
      Require(IsLogHexDigit(text[partner]) && colors[partner] == LogColorHighlight);
    }
    rowStart = rowEnd + 2;
  }
}

// ---- steps ------------------------------------------------------------------------

void Transport(Session& s, const Frame& chunk) {
  if (s.OnSerial()) {
    s.fp.serial->Deliver(chunk);  // nothing arrives on a closed port
  } else if (s.fp.socket->state == platform::TcpSocket::kConnected) {
    s.fp.socket->Deliver(chunk);  // nor on a socket that is not connected
  }
}

// One chunk through the transport of the mode, with the rules of reception
// checked around it.
void Deliver(Session& s, const Frame& chunk) {
  frmMain& f = s.f;
  const bool awaiting = f.AwaitingResponse;
  const int requests = s.mirror.requestRows;
  const int responses = s.mirror.responseRows;
  const int errors = s.mirror.errorRows;
  const size_t queued = f.Requests.size();
  const int32_t deviceIdRounds = f.DeviceIdRounds;
  const bool up = s.LinkUp();
  if (awaiting && up && !s.held) s.since.insert(s.since.end(), chunk.begin(), chunk.end());
  s.delivered += chunk.size();

  Transport(s, chunk);

  const int sent = s.mirror.requestRows - requests;
  const int logged = s.mirror.responseRows - responses;
  if (!awaiting || !up) {
    // Bytes without a request in flight change nothing.
    Require(sent == 0 && logged == 0 && f.AwaitingResponse == awaiting);
    return;
  }
  if (logged == 0) {
    // Not complete yet: still waiting, nothing sent.
    Require(sent == 0 && f.AwaitingResponse && f.Requests.size() == queued);
    return;
  }
  CheckView(f);
  // The frame completed: one response row; the next queued frame went out at
  // once (on the serial port it is taken and held for the line's silence)
  // and the rest of the chunk was dropped. A device identification answer
  // that says more follows queues the request for the next object.
  Require(logged == 1);
  const size_t followUp = f.DeviceIdRounds > deviceIdRounds ? 1 : 0;
  Require(f.DeviceIdRounds - deviceIdRounds == static_cast<int32_t>(followUp));
  const bool next = queued + followUp > 0;
  Require(sent == (next && !s.OnSerial() ? 1 : 0));
  Require(f.Requests.size() == queued + followUp - (next ? 1 : 0));
  if (next) {
    Require(f.AwaitingResponse && (s.OnSerial() || f.RxCount == 0));
    s.held = s.OnSerial();
    return;
  }
  Require(!f.AwaitingResponse);
  // The answer is the first bytes received for the request, at least a
  // header, a function code and a trailer long; in ASCII framing the
  // characters received up to the line end, at least a digit and the end
  // (LF, or any character after a lone CR), or a stream that never ended a
  // frame, cut at the bound.
  Require(f.RxCount >= (s.Ascii() ? 2 : s.mode == 1 ? 9 : 5));
  Require(static_cast<size_t>(f.RxCount) == f.RxBuffer.size());
  Require(f.RxBuffer.size() <= s.since.size() && std::equal(f.RxBuffer.begin(), f.RxBuffer.end(), s.since.begin()));
  const bool lineEnded = f.RxBuffer.back() == '\n' || f.RxBuffer[f.RxBuffer.size() - 2] == '\r';
  if (s.Ascii()) Require(lineEnded || f.RxBuffer.size() == static_cast<size_t>(kRxLimit));
  CheckResponseRow(s, f.RxBuffer);
  // Every recorded fault is reported, each once, after the exception row if
  // any: the function code has bit 7 and the code byte arrived. In ASCII
  // framing both are in the binary frame that the characters carry, and a
  // stream cut at the bound before its line end carries no frame.
  const size_t slave = s.mode == 1 ? 6 : 0;
  const Frame answer = s.Ascii() ? AsciiFrameBytes(f.RxBuffer) : f.RxBuffer;
  const bool exception = (ByteAt(answer, static_cast<long long>(slave) + 1) & 0x80) != 0 && answer.size() > slave + 2 &&
                         (!s.Ascii() || lineEnded);
  Require(static_cast<size_t>(s.mirror.errorRows - errors) == f.ProtocolErrors.size() + (exception ? 1 : 0));
  for (const std::string& entry : f.ProtocolErrors) Require(std::count(entry.begin(), entry.end(), '\t') == 2);
}

void DeliverChunks(Session& s, const Frame& bytes, size_t chunkSize) {
  chunkSize = std::max<size_t>(chunkSize, 1);
  for (size_t at = 0; at < bytes.size(); at += chunkSize) {
    const size_t end = std::min(bytes.size(), at + chunkSize);
    Deliver(s, Frame(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(end)));
    CheckState(s);
  }
}

// The panel's request fields (or the raw hex field) from the input.
void FillRequest(Session& s, Input& in) {
  frmMain& f = s.f;
  const uint8_t kind = in.Byte();
  if (kind & 1) {
    std::string text;
    if (kind & 2) {
      text = in.Text(48);  // as typed, any characters
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      const Frame bytes = in.Bytes(in.Byte() % 24);
      for (uint8_t b : bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
        text += ' ';
      }
    }
    f.txtHEX.SetText(text);
    f.optHEX.SetValue(true);
    return;
  }
  f.txtUnitID.SetText(std::to_string(in.Byte()));
  f.cmbCmd.SetListIndex(in.Byte() % 14);
  const uint16_t addr = in.Word();
  static const char kHex[] = "0123456789ABCDEF";
  std::string hexAddr = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) hexAddr += kHex[(addr >> shift) & 15];
  f.txtAddr.SetText((kind & 4) ? hexAddr : std::to_string(addr));
  f.txtQuantity.SetText(std::to_string((kind & 8) ? in.Word() % 2048 : in.Byte() % 130));
  f.txtValue.SetText(std::to_string(static_cast<int16_t>(in.Word())) + ((kind & 16) ? ".5" : ""));
  f.cmbFormat.SetListIndex(in.Byte() % 14);
  // The further commands' fields: coils, registers or data words, masks, the
  // write block's address, the device identification's read code and object.
  {
    const uint8_t n = in.Byte();
    std::string values;
    for (int i = 0; i < n % 24; ++i) values += std::to_string((kind & 32) ? in.Byte() % 2 : in.Word()) + " ";
    f.txtValues.SetText(values);
    f.cmbValuesAs.SetListIndex(n >> 7);
    f.txtWriteAddr.SetText(std::to_string(in.Word()));
    f.txtAndMask.SetText(std::to_string(in.Word()));
    f.txtOrMask.SetText(std::to_string(in.Word()));
    f.cmbReadCode.SetListIndex(in.Byte() % 4);
    f.txtObjectId.SetText(std::to_string(in.Byte()));
  }
  f.optFORM.SetValue(true);
}

void Send(Session& s, Input& in) {
  const uint8_t accept = in.Byte();
  FillRequest(s, in);
  const size_t sentBefore = s.fp.socket->sent.size() + s.fp.serial->written.size();
  s.f.cmdSend_Click();
  // Most connects succeed at once; some are left pending (the connect
  // time-out or a later step ends them).
  if (!s.OnSerial() && s.fp.socket->state == platform::TcpSocket::kConnecting && (accept & 3) != 0)
    s.fp.socket->AcceptConnect();
  // At most one frame goes out per Send; the rest waits for the answer.
  Require(s.fp.socket->sent.size() + s.fp.serial->written.size() <= sentBefore + 1);
}

// A well-formed answer to the request in flight, with optional damage,
// trailing bytes and chunk borders from the input. In ASCII framing the
// request is the binary frame its characters carry, and the answer goes out
// as characters with its LRC.
void Answer(Session& s, Input& in) {
  const frmMain& f = s.f;
  const Frame req = s.Ascii() ? AsciiFrameBytes(f.LastRequest) : f.LastRequest;
  const bool tcp = s.mode == 1;
  const long long trailer = TrailerSize(ModeOf(s.mode));
  const long long r = tcp ? 6 : 0;
  const uint8_t options = in.Byte();
  const uint8_t fc = ByteAt(req, r + 1);
  const int32_t count = ByteAt(req, r + 4) * 256 + ByteAt(req, r + 5);
  bool moreFollows = false;  // a device identification answer that says more follows

  Frame pdu{ByteAt(req, r), fc};
  if (options & 1) {
    pdu[1] = static_cast<uint8_t>(fc | 0x80);
    pdu.push_back(in.Byte() % 13);
  } else {
    switch (fc) {
      case 1:
      case 2:
      case 3:
      case 4: {
        const int32_t bytes = fc <= 2 ? (count + 7) / 8 : 2 * count;
        const uint8_t n = static_cast<uint8_t>(std::min(bytes, 250));
        pdu.push_back(n);
        for (int i = 0; i < n; ++i) pdu.push_back(in.Byte());
        break;
      }
      case 5:
      case 6:
      case 15:
      case 16:
        for (long long i = 2; i < 6; ++i) pdu.push_back(ByteAt(req, r + i));
        break;
      case 22:
        for (long long i = 2; i < 8; ++i) pdu.push_back(ByteAt(req, r + i));
        break;
      case 7:
        pdu.push_back(in.Byte());
        break;
      case 8:
        // The request's PDU echoed (its CRC or LRC left out).
        for (long long i = r + 2; i < static_cast<long long>(req.size()) - trailer; ++i) pdu.push_back(ByteAt(req, i));
        break;
      case 17:
      case 23: {
        const uint8_t n = fc == 23 ? static_cast<uint8_t>(std::min(2 * count, 250)) : 2 + in.Byte() % 32;
        pdu.push_back(n);
        for (int i = 0; i < n; ++i) pdu.push_back(in.Byte());
        break;
      }
      case 43: {
        // Read device identification: the request's read code, "more follows"
        // (with the next object) or not, and a few objects of the input's bytes.
        const bool more = (in.Byte() & 1) != 0;
        moreFollows = more;
        const uint8_t objects = in.Byte() % 4;
        pdu.insert(pdu.end(), {14, ByteAt(req, r + 3), 0x83, static_cast<uint8_t>(more ? 0xFF : 0),
                               static_cast<uint8_t>(more ? ByteAt(req, r + 4) + 1 : 0), objects});
        for (uint8_t k = 0; k < objects; ++k) {
          const Frame value = in.Bytes(in.Byte() % 40);
          pdu.push_back(static_cast<uint8_t>(ByteAt(req, r + 4) + k));
          pdu.push_back(static_cast<uint8_t>(value.size()));
          pdu.insert(pdu.end(), value.begin(), value.end());
        }
        break;
      }
      default: {
        const Frame body = in.Bytes(in.Byte() % 12);
        pdu.insert(pdu.end(), body.begin(), body.end());
        break;
      }
    }
  }
  Frame frame;
  if (tcp) {
    const size_t len = pdu.size();
    frame = {ByteAt(req, 0), ByteAt(req, 1), 0, 0, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
  } else if (s.Ascii()) {
    const std::string chars = EncodeAscii(pdu);
    frame.assign(chars.begin(), chars.end());
  } else {
    frame = pdu;
    const uint16_t crc = Crc16Modbus(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
  }
  if (options & 2) {
    const size_t at = in.Byte() % frame.size();
    frame[at] = static_cast<uint8_t>(frame[at] ^ (in.Byte() | 1));
  }
  if (options & 4) {
    const Frame tail = in.Bytes(in.Byte() % 16);
    frame.insert(frame.end(), tail.begin(), tail.end());
  }
  const bool took = f.AwaitingResponse && s.LinkUp();
  const int responses = s.mirror.responseRows;
  const int errors = s.mirror.errorRows;
  const int32_t rounds = f.DeviceIdRounds;
  DeliverChunks(s, frame, (options & 8) ? 1 + in.Byte() % 16 : frame.size());
  // A sound answer to a stream read (read codes 1 to 3) that says more
  // follows asks for the next object at once, up to the limit of requests.
  const uint8_t readCode = ByteAt(req, r + 3);
  if (took && moreFollows && (options & 7) == 0 && ByteAt(req, r + 2) == 14 && readCode >= 1 && readCode <= 3 &&
      req.size() >= static_cast<size_t>(r + 5 + trailer) && s.mirror.responseRows == responses + 1 &&
      s.mirror.errorRows == errors && rounds + 1 < frmMain::kMaxDeviceIdRounds)
    Require(f.DeviceIdRounds == rounds + 1);
}

// A long stream of one repeated pattern, in large chunks.
void Flood(Session& s, Input& in) {
  const Frame pattern = in.Bytes(1 + in.Byte() % 8);
  const size_t want = 1024 * (1 + static_cast<size_t>(in.Byte() % 80));
  const size_t chunk = 256 * (1 + static_cast<size_t>(in.Byte() % 64));
  if (pattern.empty() || s.delivered >= kMaxDelivered) return;
  Frame bytes;
  const size_t total = std::min(want, kMaxDelivered - s.delivered);
  bytes.reserve(total);
  for (size_t i = 0; i < total; ++i) bytes.push_back(pattern[i % pattern.size()]);
  DeliverChunks(s, bytes, chunk);
}

// Time passes; once the request time-out is passed, no answer is awaited.
void Advance(Session& s, int64_t ms) {
  frmMain& f = s.f;
  const bool awaiting = f.AwaitingResponse;
  // On the serial port a frame may be held for the line's silence (after an
  // answer, or sent within it): it is written once the silence has passed,
  // and its time-out runs from then.
  const int64_t now = s.fp.clock->MonotonicMs();
  const int64_t deadline =
      (s.OnSerial() ? std::max(f.RequestStartMono, now + kMaxSilenceMs) : f.RequestStartMono) + s.timeoutMs;
  const int64_t target = s.fp.clock->MonotonicMs() + ms;
  s.fp.clock->Advance(ms);
  if (awaiting && deadline <= target) Require(!f.AwaitingResponse);
}

// The line goes away: the serial adapter is unplugged, the peer fails or
// closes the connection (which the socket reports as another state, no event).
void Trouble(Session& s, Input& in) {
  const uint8_t what = in.Byte();
  if (s.OnSerial()) {
    const bool open = s.fp.serial->IsOpen();
    s.fp.serial->Vanish("device removed");
    if (open) Require(!s.f.AwaitingResponse);
  } else if (what & 1) {
    s.fp.socket->state = platform::TcpSocket::kOther;
  } else {
    s.fp.socket->RaiseError(10054, "Connection reset by peer");
    Require(!s.f.AwaitingResponse);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  Input in(data, size);
  Session s;
  frmMain& f = s.f;
  f.txtLog.SetChangeObserver([&s](const RichTextField::Change& c) { s.mirror.Apply(c, s.f.txtLog); });
  s.fp.ports->SetNames({"COM1", "COM7"});
  f.Form_Load();

  s.mode = static_cast<int16_t>(in.Byte() % 5);
  s.timeoutMs = 1 + 4 * in.Byte();
  f.txtRtuTimeout.SetText(std::to_string(s.timeoutMs));
  f.txtTcpTimeout.SetText(std::to_string(s.timeoutMs));
  f.txtTcpHost.SetText("127.0.0.1");
  f.txtTcpPort.SetText("502");
  f.cmbMode.SetListIndex(s.mode);
  Require(f.Mode == s.mode);
  CheckState(s);

  Send(s, in);
  CheckState(s);
  for (int step = 0; step < kMaxSteps && !in.Empty(); ++step) {
    const uint8_t op = in.Byte();
    switch (op % 16) {
      case 0:
      case 1:
      case 2:
      case 3: {
        const Frame chunk = in.Bytes(in.Byte() % 65);
        Deliver(s, chunk);
        break;
      }
      case 4: {
        // Bytes split at arbitrary borders.
        const Frame bytes = in.Bytes(in.Byte() % 65);
        DeliverChunks(s, bytes, 1 + in.Byte() % 8);
        break;
      }
      case 5:
      case 6:
      case 7:
        Answer(s, in);
        break;
      case 8:
        Flood(s, in);
        break;
      case 9:
      case 10:
        Advance(s, 4 * in.Byte());
        break;
      case 11:
        Advance(s, s.timeoutMs + in.Byte());
        break;
      case 12:
      case 13:
        Send(s, in);
        break;
      case 14:
        if (!s.OnSerial() && s.fp.socket->state == platform::TcpSocket::kConnecting) s.fp.socket->AcceptConnect();
        break;
      default:
        Trouble(s, in);
        break;
    }
    CheckState(s);
  }

  // Past every time-out that can still run (and the line's silence before
  // it), nothing is awaited any more.
  Advance(s, kMaxSilenceMs + s.timeoutMs + 1);
  Require(!f.AwaitingResponse);
  CheckState(s);
  CheckView(f);
  CheckLog(s);
  return 0;
}
