// fault_peer: a scripted TCP server on 127.0.0.1 that answers each request with the next step of a
// script, to provoke the faults a Modbus master must survive (wrong header fields, bad checksums,
// split frames, silence, closed and reset connections, garbage, floods, frames sent unasked).
//
//   fault_peer --port P [--script FILE] [--rtu | --ascii] [--loop] [--log FILE] [--gap-ms N] [--seed N]
//   fault_peer --device PATH [--script FILE] [--ascii] [--loop] [--log FILE] [--gap-ms N] [--seed N]
//
// --device serves a serial line (for instance one end of a pty pair) instead of a TCP port, with RTU
// framing; there "close" and "reset" answer nothing, and a device that goes away is reopened.
//
// --ascii: requests and answers are ASCII frames (':', two hex characters a byte, LRC, CR LF). A
// request ends at its LF; the placeholders see the binary frame it carries (slave, PDU, LRC), and
// a reply's bytes (LRC: the placeholder for a good one) are written as hex characters between ':'
// and CR LF (the ':' before the first write of a chunks step, CR LF after its last). "text" sends
// characters as typed for the faults no binary frame can carry.
//
// A request ends when its framing says so: with MBAP framing (default) at 6 + the length field;
// with --rtu framing at 8 bytes for function codes 1 to 6 and at 9 + byte count for 15 and 16.
// Anything else (or a frame that stops short) ends after --gap-ms (default 50) without new bytes.
// Steps apply to successive requests over all connections, one client connection at a time; after
// the last step the last one repeats, or with --loop the script starts over. Without a script
// every request gets "echo". The script language is described in README.md.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

void SleepMs(int ms) {
  while (ms > 0 && !g_stop) {
    int slice = ms < 20 ? ms : 20;
    struct timespec ts = {0, slice * 1000000L};
    nanosleep(&ts, nullptr);
    ms -= slice;
  }
}

uint8_t At(const Bytes& b, size_t i) { return i < b.size() ? b[i] : 0; }

uint16_t Crc16Modbus(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

std::string Hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (uint8_t v : b) {
    std::snprintf(buf, sizeof buf, " %02X", v);
    s += buf;
  }
  return s;
}

// ---- script ------------------------------------------------------------------------------------

struct Token {
  enum Kind { kByte, kTid, kUid, kFc, kEfc, kLen, kCrc, kLrc } kind = kByte;
  uint8_t value = 0;
};

struct Step {
  enum Kind { kReply, kChunks, kDrop, kDelay, kClose, kReset, kGarbage, kEcho, kEarly, kFlood, kText } kind = kEcho;
  std::vector<std::vector<Token>> parts;  // reply, early: one part; chunks: one per write
  int ms = 0;                             // chunks: pause between writes; delay: wait before the step
  int count = 0;                          // garbage: number of bytes; flood: megabytes
  std::shared_ptr<Step> inner;            // delay, flood: the step to apply after the wait or flood
  std::string text;                       // text: the characters, \r and \n taken as CR and LF
};

bool ParseNumber(const std::string& text, int lo, int hi, int* out) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses the byte tokens of one reply: hex bytes (one or more pairs of digits per word) and the
// placeholders TID, UID, FC, EFC, LEN and CRC.
bool ParseTokens(std::istringstream& in, std::vector<Token>* out, std::string* error) {
  std::string word;
  while (in >> word) {
    if (word == "TID") {
      out->push_back({Token::kTid, 0});
      out->push_back({Token::kTid, 1});
    } else if (word == "UID") {
      out->push_back({Token::kUid, 0});
    } else if (word == "FC") {
      out->push_back({Token::kFc, 0});
    } else if (word == "EFC") {
      out->push_back({Token::kEfc, 0});
    } else if (word == "LEN") {
      out->push_back({Token::kLen, 0});
      out->push_back({Token::kLen, 1});
    } else if (word == "CRC") {
      out->push_back({Token::kCrc, 0});
      out->push_back({Token::kCrc, 1});
    } else if (word == "LRC") {
      out->push_back({Token::kLrc, 0});
    } else {
      if (word.size() % 2 != 0) {
        *error = "odd number of hex digits in '" + word + "'";
        return false;
      }
      for (size_t i = 0; i < word.size(); i += 2) {
        int hi = HexDigit(word[i]);
        int lo = HexDigit(word[i + 1]);
        if (hi < 0 || lo < 0) {
          *error = "not a hex byte or placeholder: '" + word + "'";
          return false;
        }
        out->push_back({Token::kByte, static_cast<uint8_t>(hi * 16 + lo)});
      }
    }
  }
  return true;
}

bool ParseStep(const std::string& line, Step* step, std::string* error) {
  std::istringstream in(line);
  std::string name;
  in >> name;
  std::string arg;
  if (name == "reply" || name == "early") {
    step->kind = name == "reply" ? Step::kReply : Step::kEarly;
    step->parts.emplace_back();
    if (!ParseTokens(in, &step->parts.back(), error)) return false;
  } else if (name == "chunks") {
    step->kind = Step::kChunks;
    if (!(in >> arg) || !ParseNumber(arg, 0, 600000, &step->ms)) {
      *error = "chunks needs a pause in milliseconds";
      return false;
    }
    std::string rest;
    std::getline(in, rest);
    std::istringstream parts(rest);
    std::string part;
    while (std::getline(parts, part, '|')) {
      std::istringstream part_in(part);
      step->parts.emplace_back();
      if (!ParseTokens(part_in, &step->parts.back(), error)) return false;
    }
  } else if (name == "text") {
    step->kind = Step::kText;
    std::string rest;
    std::getline(in, rest);
    const size_t first = rest.find_first_not_of(" \t");
    rest = first == std::string::npos ? std::string() : rest.substr(first);
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == '\\' && i + 1 < rest.size() && (rest[i + 1] == 'r' || rest[i + 1] == 'n')) {
        step->text += rest[i + 1] == 'r' ? '\r' : '\n';
        ++i;
      } else {
        step->text += rest[i];
      }
    }
  } else if (name == "drop") {
    step->kind = Step::kDrop;
  } else if (name == "delay") {
    step->kind = Step::kDelay;
    if (!(in >> arg) || !ParseNumber(arg, 0, 600000, &step->ms)) {
      *error = "delay needs a time in milliseconds";
      return false;
    }
    std::string rest;
    std::getline(in, rest);
    step->inner = std::make_shared<Step>();
    if (!ParseStep(rest, step->inner.get(), error)) return false;
    if (step->inner->kind == Step::kEarly) {
      *error = "early is sent between requests and cannot be delayed";
      return false;
    }
  } else if (name == "flood") {
    step->kind = Step::kFlood;
    if (!(in >> arg) || !ParseNumber(arg, 1, 4096, &step->count)) {
      *error = "flood needs a size in megabytes (1 to 4096)";
      return false;
    }
    std::string rest;
    std::getline(in, rest);
    step->inner = std::make_shared<Step>();
    step->inner->kind = Step::kDrop;  // nothing after the flood unless a step is given
    if (rest.find_first_not_of(" \t\r") != std::string::npos && !ParseStep(rest, step->inner.get(), error))
      return false;
    if (step->inner->kind == Step::kEarly) {
      *error = "early is sent between requests and cannot follow a flood";
      return false;
    }
  } else if (name == "close") {
    step->kind = Step::kClose;
  } else if (name == "reset") {
    step->kind = Step::kReset;
  } else if (name == "garbage") {
    step->kind = Step::kGarbage;
    if (!(in >> arg) || !ParseNumber(arg, 0, 65536, &step->count)) {
      *error = "garbage needs a number of bytes";
      return false;
    }
  } else if (name == "echo") {
    step->kind = Step::kEcho;
  } else {
    *error = name.empty() ? "missing step" : "unknown step '" + name + "'";
    return false;
  }
  if (step->kind != Step::kReply && step->kind != Step::kChunks && step->kind != Step::kDelay &&
      step->kind != Step::kEarly && step->kind != Step::kFlood && step->kind != Step::kText && (in >> arg)) {
    *error = "unexpected '" + arg + "' after " + name;
    return false;
  }
  return true;
}

bool LoadScript(const std::string& path, bool loop, std::vector<Step>* steps) {
  std::ifstream file(path);
  if (!file) {
    std::fprintf(stderr, "fault_peer: cannot read script %s\n", path.c_str());
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    Step step;
    std::string error;
    if (!ParseStep(line, &step, &error)) {
      std::fprintf(stderr, "fault_peer: %s:%d: %s\n", path.c_str(), number, error.c_str());
      return false;
    }
    steps->push_back(std::move(step));
  }
  // Without --loop the last step answers every request after it: it must answer.
  if (!loop && !steps->empty() && steps->back().kind == Step::kEarly) {
    std::fprintf(stderr, "fault_peer: %s: the last step is early; add the step that answers after it\n", path.c_str());
    return false;
  }
  return true;
}

// ---- replies -----------------------------------------------------------------------------------

struct Framing {
  bool rtu = false;
  bool ascii = false;
  size_t UidIndex() const { return rtu || ascii ? 0 : 6; }
};

uint8_t Lrc(const uint8_t* data, size_t n) {
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return static_cast<uint8_t>(-sum);
}

// The bytes as ASCII hex characters, with ':' in front and CR LF behind when asked.
Bytes AsciiChars(const Bytes& b, bool start, bool end) {
  static const char kHex[] = "0123456789ABCDEF";
  Bytes out;
  if (start) out.push_back(':');
  for (uint8_t v : b) {
    out.push_back(static_cast<uint8_t>(kHex[v >> 4]));
    out.push_back(static_cast<uint8_t>(kHex[v & 15]));
  }
  if (end) {
    out.push_back('\r');
    out.push_back('\n');
  }
  return out;
}

// The binary frame an ASCII request carries: the hex pairs after its ':' up to CR or LF.
Bytes AsciiBytes(const Bytes& chars) {
  Bytes out;
  size_t i = 0;
  while (i < chars.size() && chars[i] != ':') ++i;
  for (++i; i + 1 < chars.size(); i += 2) {
    const int hi = HexDigit(static_cast<char>(chars[i]));
    const int lo = HexDigit(static_cast<char>(chars[i + 1]));
    if (hi < 0 || lo < 0) break;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

// Expands the placeholders of a reply split into parts (the writes of a chunks step). LEN counts
// the reply bytes after it; CRC covers every reply byte before it, over all parts.
std::vector<Bytes> Expand(const std::vector<std::vector<Token>>& parts, const Bytes& request, const Framing& f) {
  Bytes all;
  std::vector<Token::Kind> kinds;
  std::vector<size_t> ends;
  for (const auto& part : parts) {
    for (const Token& t : part) {
      uint8_t v = t.value;
      switch (t.kind) {
        case Token::kTid:
          v = At(request, t.value);
          break;
        case Token::kUid:
          v = At(request, f.UidIndex());
          break;
        case Token::kFc:
          v = At(request, f.UidIndex() + 1);
          break;
        case Token::kEfc:
          v = At(request, f.UidIndex() + 1) | 0x80;
          break;
        default:
          break;
      }
      all.push_back(v);
      kinds.push_back(t.kind);
    }
    ends.push_back(all.size());
  }
  for (size_t i = 0; i + 1 < all.size(); ++i) {
    if (kinds[i] == Token::kLen && kinds[i + 1] == Token::kLen) {
      size_t after = all.size() - (i + 2);
      all[i] = static_cast<uint8_t>(after >> 8);
      all[i + 1] = static_cast<uint8_t>(after);
      ++i;
    }
  }
  for (size_t i = 0; i < all.size(); ++i) {
    if (kinds[i] == Token::kLrc) all[i] = Lrc(all.data(), i);
  }
  for (size_t i = 0; i + 1 < all.size(); ++i) {
    if (kinds[i] == Token::kCrc && kinds[i + 1] == Token::kCrc) {
      uint16_t crc = Crc16Modbus(all.data(), i);
      all[i] = static_cast<uint8_t>(crc);
      all[i + 1] = static_cast<uint8_t>(crc >> 8);
      ++i;
    }
  }
  std::vector<Bytes> out;
  size_t begin = 0;
  for (size_t k = 0; k < ends.size(); ++k) {
    const size_t end = ends[k];
    Bytes part(all.begin() + static_cast<std::ptrdiff_t>(begin), all.begin() + static_cast<std::ptrdiff_t>(end));
    if (f.ascii) part = AsciiChars(part, k == 0, k + 1 == ends.size());
    out.push_back(std::move(part));
    begin = end;
  }
  return out;
}

// A well-formed answer to the request: zeros for reads, the address and quantity for multiple
// writes, the request itself for single writes and for anything else.
Bytes Echo(const Bytes& request, const Framing& f) {
  const size_t s = f.UidIndex();
  const uint8_t fc = At(request, s + 1);
  Bytes pdu = {At(request, s), fc};
  const unsigned quantity = At(request, s + 4) * 256u + At(request, s + 5);
  if (fc == 1 || fc == 2 || fc == 3 || fc == 4) {
    unsigned count = (fc <= 2) ? (quantity + 7) / 8 : quantity * 2;
    if (count > 250) count = 250;
    pdu.push_back(static_cast<uint8_t>(count));
    pdu.insert(pdu.end(), count, 0);
  } else if (fc == 5 || fc == 6 || fc == 15 || fc == 16) {
    for (size_t i = 2; i < 6; ++i) pdu.push_back(At(request, s + i));
  } else {
    size_t end = request.size();
    if (f.rtu && end >= 4) end -= 2;    // without the checksum
    if (f.ascii && end >= 3) end -= 1;  // without the LRC
    for (size_t i = s + 2; i < end; ++i) pdu.push_back(request[i]);
  }
  Bytes frame;
  if (f.ascii) {
    pdu.push_back(Lrc(pdu.data(), pdu.size()));
    frame = AsciiChars(pdu, true, true);
  } else if (f.rtu) {
    frame = pdu;
    uint16_t crc = Crc16Modbus(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
  } else {
    frame = {
        At(request, 0), At(request, 1), 0, 0, static_cast<uint8_t>(pdu.size() >> 8), static_cast<uint8_t>(pdu.size())};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
  }
  return frame;
}

bool SendAll(int fd, const Bytes& b) {
  size_t done = 0;
  while (done < b.size()) {
    ssize_t n = write(fd, b.data() + done, b.size() - done);  // SIGPIPE is ignored
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// ---- server ------------------------------------------------------------------------------------

struct Options {
  int port = 0;
  std::string script;
  std::string device;
  bool device_mode = false;
  std::string log_path;
  bool loop = false;
  int gap_ms = 50;
  unsigned seed = 1;
  Framing framing;
};

class Peer {
 public:
  Peer(const Options& o, std::vector<Step> steps) : o_(o), steps_(std::move(steps)), random_(o.seed) {
    if (!o.log_path.empty()) {
      log_ = std::fopen(o.log_path.c_str(), "a");
      if (log_ == nullptr) std::fprintf(stderr, "fault_peer: cannot open log %s\n", o.log_path.c_str());
    }
  }
  ~Peer() {
    if (log_ != nullptr) std::fclose(log_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Serves one connection until the client leaves, a step closes it, or the peer is stopped.
  void Serve(int fd) {
    Bytes pending;
    SendEarly(fd);  // early steps due before the first request on this connection
    while (!g_stop) {
      size_t n = FrameLength(pending);
      if (n > 0) {
        Bytes request(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        if (!Answer(fd, request)) return;  // the step closed the connection
        continue;
      }
      fd_set set;
      FD_ZERO(&set);
      FD_SET(fd, &set);
      int wait_ms = pending.empty() ? 100 : o_.gap_ms;
      struct timeval tv = {wait_ms / 1000, (wait_ms % 1000) * 1000};
      int rc = select(fd + 1, &set, nullptr, nullptr, &tv);
      if (rc < 0 && errno != EINTR) break;
      if (rc <= 0) {
        if (rc == 0 && !pending.empty()) {  // idle gap: what arrived is the request
          Bytes request;
          request.swap(pending);
          if (!Answer(fd, request)) return;
        }
        continue;
      }
      uint8_t buf[4096];
      ssize_t got = read(fd, buf, sizeof buf);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) break;  // the client closed or reset the connection
      pending.insert(pending.end(), buf, buf + got);
    }
    close(fd);
  }

 private:
  // Length of the complete request at the front of the buffer, 0 while it is not complete.
  size_t FrameLength(const Bytes& b) const {
    size_t need = 0;
    if (o_.framing.ascii) {
      // Up to and with the LF that ends the frame.
      for (size_t i = 0; i < b.size(); ++i)
        if (b[i] == '\n') return i + 1;
      return 0;
    }
    if (o_.framing.rtu) {
      if (b.size() < 2) return 0;
      const uint8_t fc = b[1];
      if (fc >= 1 && fc <= 6) {
        need = 8;
      } else if (fc == 15 || fc == 16) {
        if (b.size() < 7) return 0;
        need = 9 + static_cast<size_t>(b[6]);
      } else {
        return 0;  // unknown layout: the idle gap ends it
      }
    } else {
      if (b.size() < 6) return 0;
      need = 6 + static_cast<size_t>(b[4] * 256u + b[5]);
    }
    return b.size() >= need ? need : 0;
  }

  const Step& NextStep() {
    static const Step kEcho;
    if (steps_.empty()) return kEcho;
    size_t i = next_++;
    if (o_.loop) return steps_[i % steps_.size()];
    return steps_[i < steps_.size() ? i : steps_.size() - 1];
  }

  // Applies the next step to the request, then sends the early steps that follow it; false when the
  // connection has been closed.
  bool Answer(int fd, const Bytes& request) {
    if (log_ != nullptr) {
      std::fprintf(log_, "REQ%s\n", Hex(request).c_str());
      std::fflush(log_);
    }
    // The placeholders see the binary frame an ASCII request carries.
    last_request_ = o_.framing.ascii ? AsciiBytes(request) : request;
    if (!Apply(fd, NextStep(), last_request_)) return false;
    SendEarly(fd);
    return true;
  }

  // Sends the early steps that come next in the script, right away, with the placeholders of the
  // last request received (zeros before the first). Each early step is sent once per pass over the
  // script; the walk is bounded by the script's length.
  void SendEarly(int fd) {
    for (size_t k = 0; k < steps_.size() && !g_stop; ++k) {
      if (!o_.loop && next_ >= steps_.size()) return;  // the last step repeats, and it is not early
      const Step& step = steps_[next_ % steps_.size()];
      if (step.kind != Step::kEarly) return;
      ++next_;
      SendAll(fd, Expand(step.parts, last_request_, o_.framing).front());
    }
  }

  // Writes `megabytes` MB of garbage in 64 KB writes. Stops early when the other end closes or
  // resets, when the peer is stopped, or when no byte could be written for 5 s (a reader that
  // stopped reading); false in those cases.
  bool Flood(int fd, int megabytes) {
    Bytes chunk(64 * 1024);
    for (uint8_t& v : chunk) v = static_cast<uint8_t>(random_() & 0xFF);
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    size_t left = static_cast<size_t>(megabytes) * 1024 * 1024;
    int idle_ms = 0;
    bool ok = true;
    while (left > 0 && ok && !g_stop) {
      struct pollfd p = {fd, POLLOUT, 0};
      const int rc = poll(&p, 1, 100);
      if (rc < 0 && errno != EINTR) ok = false;
      if (rc <= 0) {
        idle_ms += rc == 0 ? 100 : 0;
        if (idle_ms >= 5000) ok = false;
        continue;
      }
      if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        ok = false;
        continue;
      }
      const size_t n = left < chunk.size() ? left : chunk.size();
      const ssize_t w = write(fd, chunk.data(), n);
      if (w < 0 && errno != EAGAIN && errno != EINTR) ok = false;
      if (w > 0) {
        left -= static_cast<size_t>(w);
        idle_ms = 0;
      }
    }
    fcntl(fd, F_SETFL, flags);
    return ok;
  }

  bool Apply(int fd, const Step& step, const Bytes& request) {
    switch (step.kind) {
      case Step::kReply:
      case Step::kChunks: {
        std::vector<Bytes> writes = Expand(step.parts, request, o_.framing);
        for (size_t i = 0; i < writes.size(); ++i) {
          if (i > 0) SleepMs(step.ms);
          if (!SendAll(fd, writes[i])) break;
        }
        return true;
      }
      case Step::kDrop:
        return true;
      case Step::kDelay:
        SleepMs(step.ms);
        return Apply(fd, *step.inner, request);
      case Step::kClose:
        if (o_.device_mode) return true;  // a serial line cannot be closed by its far end
        close(fd);
        return false;
      case Step::kReset: {
        if (o_.device_mode) return true;
        struct linger lg = {1, 0};  // close with RST instead of FIN
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close(fd);
        return false;
      }
      case Step::kGarbage: {
        Bytes junk(static_cast<size_t>(step.count));
        for (uint8_t& v : junk) v = static_cast<uint8_t>(random_() & 0xFF);
        SendAll(fd, junk);
        return true;
      }
      case Step::kEcho:
        SendAll(fd, Echo(request, o_.framing));
        return true;
      case Step::kFlood:
        Flood(fd, step.count);
        return Apply(fd, *step.inner, request);
      case Step::kEarly:  // sent between requests (SendEarly); never the answer to one
        return true;
      case Step::kText:
        SendAll(fd, Bytes(step.text.begin(), step.text.end()));
        return true;
    }
    return true;
  }

  Options o_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  std::mt19937 random_;
  FILE* log_ = nullptr;
  Bytes last_request_;
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string v = i + 1 < argc ? argv[i + 1] : "";
    bool ok = true;
    bool takes_value = true;
    if (a == "--port") {
      ok = ParseNumber(v, 0, 65535, &o->port);
    } else if (a == "--device") {
      ok = !v.empty();
      o->device = v;
      o->device_mode = true;
      o->framing.rtu = true;
    } else if (a == "--script") {
      ok = !v.empty();
      o->script = v;
    } else if (a == "--log") {
      ok = !v.empty();
      o->log_path = v;
    } else if (a == "--gap-ms") {
      ok = ParseNumber(v, 1, 60000, &o->gap_ms);
    } else if (a == "--seed") {
      int seed = 0;
      ok = ParseNumber(v, 0, 999999999, &seed);
      o->seed = static_cast<unsigned>(seed);
    } else if (a == "--rtu") {
      o->framing.rtu = true;
      takes_value = false;
    } else if (a == "--ascii") {
      o->framing.ascii = true;
      takes_value = false;
    } else if (a == "--loop") {
      o->loop = true;
      takes_value = false;
    } else {
      std::fprintf(stderr, "fault_peer: unknown option %s\n", a.c_str());
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "fault_peer: bad or missing value for %s\n", a.c_str());
      return false;
    }
    if (takes_value) ++i;
  }
  return true;
}

// Opens the serial device raw (8 data bits, no echo, no line editing); -1 when it is not there.
int OpenDevice(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct termios t;
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

// Serves the device until stopped; when it goes away (its pty pair ended) waits for it to return.
int ServeDevice(const Options& o, Peer& peer) {
  int fd = OpenDevice(o.device);
  if (fd < 0) {
    std::fprintf(stderr, "fault_peer: cannot open %s: %s\n", o.device.c_str(), std::strerror(errno));
    return 1;
  }
  while (!g_stop) {
    std::printf("READY %s\n", o.device.c_str());
    std::fflush(stdout);
    peer.Serve(fd);  // returns when the device hangs up (and closes it)
    fd = -1;
    while (!g_stop && (fd = OpenDevice(o.device)) < 0) SleepMs(50);
  }
  if (fd >= 0) close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: fault_peer --port P | --device PATH [--script FILE] [--rtu | --ascii] [--loop] [--log FILE]\n"
                 "                  [--gap-ms N]\n"
                 "                  [--seed N]\n");
    return 2;
  }
  std::vector<Step> steps;
  if (!o.script.empty() && !LoadScript(o.script, o.loop, &steps)) return 2;

  struct sigaction sa = {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Peer peer(o, std::move(steps));
  if (o.device_mode) return ServeDevice(o, peer);

  int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(o.port));
  if (server < 0 || bind(server, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) < 0 || listen(server, 8) < 0) {
    std::fprintf(stderr, "fault_peer: cannot listen on 127.0.0.1:%d: %s\n", o.port, std::strerror(errno));
    return 1;
  }
  socklen_t len = sizeof addr;
  getsockname(server, reinterpret_cast<struct sockaddr*>(&addr), &len);
  std::printf("READY %d\n", ntohs(addr.sin_port));
  std::fflush(stdout);

  while (!g_stop) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(server, &set);
    struct timeval tv = {0, 100000};
    if (select(server + 1, &set, nullptr, nullptr, &tv) <= 0) continue;
    int fd = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (fd >= FD_SETSIZE) {
      close(fd);
      continue;
    }
    peer.Serve(fd);
  }
  close(server);
  return 0;
}
