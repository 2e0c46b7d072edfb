// modbus_slave: a Modbus slave on libmodbus with known contents (slave_contents.h), for the
// integration tests and for trying the tool by hand.
//
//   modbus_slave --tcp PORT [--id N] [--delay-ms N] [--log FILE] [--close-after N]
//   modbus_slave --rtu DEVICE [--baud 9600] [--parity N|E|O] [--stop 1|2] [--id N] [--delay-ms N] [--log FILE]
//
// TCP: listens on 127.0.0.1 only (PORT 0 picks a free port) and serves any number of clients, each
// connection on its own; a connection that closes, resets, sends garbage or stalls mid-frame is
// closed and the others go on. Requests for another unit id than --id are logged but not answered.
// RTU: serves DEVICE (8 data bits); requests for other slave ids (broadcast 0 included) and
// requests with a bad checksum are logged and ignored. When the device goes
// away (the other end of a pseudo-terminal closes) the slave reopens the same path until it
// appears again, and prints READY once more.
//
// libmodbus answers the functions it serves (01-06, 15, 16, 17, 22, 23); the slave itself answers
// 07 (status byte 6D), 08 sub-function 0000 (the request echoed; other sub-functions: exception 01)
// and 43/14 (the objects of slave_contents.h, in as many answers as they need).
//
// Prints "READY <port>" or "READY <device>" on stdout when it serves. SIGTERM or SIGINT end it with
// exit code 0.
#include <errno.h>
#include <modbus.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "slave_contents.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

struct Options {
  bool tcp = false;
  int port = 0;
  std::string device;
  int baud = 9600;
  char parity = 'N';
  int stop_bits = 1;
  int id = 1;
  int delay_ms = 0;
  std::string log_path;
  int close_after = 0;  // 0 = never
};

void Usage() {
  std::fprintf(stderr,
               "usage: modbus_slave --tcp PORT | --rtu DEVICE [--baud B] [--parity N|E|O] [--stop 1|2]\n"
               "                    [--id N] [--delay-ms N] [--log FILE] [--close-after N]\n");
}

// Parses a whole decimal number in [lo, hi]; false for anything else.
bool ParseInt(const char* text, long lo, long hi, int* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  bool have_mode = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = true;
    if (a == "--tcp") {
      ok = ParseInt(v, 0, 65535, &o->port);
      o->tcp = true;
      have_mode = true;
    } else if (a == "--rtu") {
      ok = v != nullptr;
      if (ok) o->device = v;
      o->tcp = false;
      have_mode = true;
    } else if (a == "--baud") {
      ok = ParseInt(v, 50, 4000000, &o->baud);
    } else if (a == "--parity") {
      ok = v != nullptr && (std::strcmp(v, "N") == 0 || std::strcmp(v, "E") == 0 || std::strcmp(v, "O") == 0);
      if (ok) o->parity = v[0];
    } else if (a == "--stop") {
      ok = ParseInt(v, 1, 2, &o->stop_bits);
    } else if (a == "--id") {
      ok = ParseInt(v, 0, 255, &o->id);
    } else if (a == "--delay-ms") {
      ok = ParseInt(v, 0, 600000, &o->delay_ms);
    } else if (a == "--log") {
      ok = v != nullptr;
      if (ok) o->log_path = v;
    } else if (a == "--close-after") {
      ok = ParseInt(v, 0, 1000000, &o->close_after);
    } else {
      std::fprintf(stderr, "modbus_slave: unknown option %s\n", a.c_str());
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "modbus_slave: bad or missing value for %s\n", a.c_str());
      return false;
    }
    ++i;
  }
  return have_mode;
}

// Sleeps ms milliseconds in short slices so that SIGTERM is honoured promptly.
// The slices run to a deadline on the monotonic clock, so that the oversleeping of each slice on a
// busy machine does not add up.
void SleepMs(int ms) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + ms;
  for (long long left = ms; left > 0 && !g_stop;) {
    const long long slice = left < 20 ? left : 20;
    struct timespec ts = {0, static_cast<long>(slice * 1000000L)};
    nanosleep(&ts, nullptr);
    clock_gettime(CLOCK_MONOTONIC, &now);
    left = deadline - (now.tv_sec * 1000LL + now.tv_nsec / 1000000);
  }
}

// Waits up to timeout_ms for fd to become readable: 1 readable, 0 not yet (or interrupted), -1 error.
int WaitReadable(int fd, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  struct timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int rc = select(fd + 1, &set, nullptr, nullptr, &tv);
  if (rc < 0) return errno == EINTR ? 0 : -1;
  return rc > 0 ? 1 : 0;
}

class RequestLog {
 public:
  explicit RequestLog(const std::string& path) {
    if (!path.empty()) {
      file_ = std::fopen(path.c_str(), "a");
      if (file_ == nullptr) std::fprintf(stderr, "modbus_slave: cannot open log %s\n", path.c_str());
    }
  }
  ~RequestLog() {
    if (file_ != nullptr) std::fclose(file_);
  }
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // Writes "REQ <hex bytes>" and flushes, so the line is on disk before the answer is sent.
  void Request(const uint8_t* bytes, int length) {
    if (file_ == nullptr) return;
    std::fputs("REQ", file_);
    for (int i = 0; i < length; ++i) std::fprintf(file_, " %02X", bytes[i]);
    std::fputc('\n', file_);
    std::fflush(file_);
  }

 private:
  FILE* file_ = nullptr;
};

modbus_mapping_t* NewContents() {
  modbus_mapping_t* m =
      modbus_mapping_new(VESK_SLAVE_TABLE_SIZE, VESK_SLAVE_TABLE_SIZE, VESK_SLAVE_TABLE_SIZE, VESK_SLAVE_TABLE_SIZE);
  if (m == nullptr) return nullptr;
  for (int i = 0; i < VESK_SLAVE_TABLE_SIZE; ++i) {
    m->tab_bits[i] = static_cast<uint8_t>(vesk_slave_coil(i));
    m->tab_input_bits[i] = static_cast<uint8_t>(vesk_slave_discrete_input(i));
    m->tab_registers[i] = vesk_slave_holding_register(i);
    m->tab_input_registers[i] = vesk_slave_input_register(i);
  }
  return m;
}

// ---- the functions libmodbus does not serve: 07, 08 (return query data) and 43/14 ----------------

// The answer PDU to a request PDU of function 07, 08 or 43 in `answer`; false for any other
// function (libmodbus answers those).
bool FurtherAnswer(const uint8_t* pdu, int n, std::vector<uint8_t>& answer) {
  if (n < 1) return false;
  const uint8_t fc = pdu[0];
  auto exception = [&](uint8_t code) { answer = {static_cast<uint8_t>(fc | 0x80), code}; };
  switch (fc) {
    case 7:
      answer = {7, VESK_SLAVE_EXCEPTION_STATUS};
      return true;
    case 8:
      // Sub-function 0000 returns the request unchanged; any other is not served.
      if (n >= 3 && pdu[1] == 0 && pdu[2] == 0) {
        answer.assign(pdu, pdu + n);
      } else {
        exception(1);
      }
      return true;
    case 43: {
      if (n != 4 || pdu[1] != 14) {
        exception(n >= 2 && pdu[1] != 14 ? 1 : 3);
        return true;
      }
      const uint8_t code = pdu[2];
      uint8_t id = pdu[3];
      if (code < 1 || code > 4) {
        exception(3);
        return true;
      }
      answer = {43, 14, code, VESK_SLAVE_CONFORMITY, 0, 0, 0};
      if (code == 4) {
        const char* v = vesk_slave_device_object(id);
        if (v == nullptr) {
          exception(2);
          return true;
        }
        answer.push_back(id);
        answer.push_back(static_cast<uint8_t>(std::strlen(v)));
        answer.insert(answer.end(), v, v + std::strlen(v));
        answer[6] = 1;
        return true;
      }
      // The objects of the category in order; a stream from an object the slave does not have
      // starts again at 00.
      const uint8_t last = code == 1 ? 0x02 : code == 2 ? 0x06 : 0x80;
      std::vector<uint8_t> ids;
      for (int i = 0; i <= last; ++i)
        if (vesk_slave_device_object(i) != nullptr) ids.push_back(static_cast<uint8_t>(i));
      if (id > last || vesk_slave_device_object(id) == nullptr) id = 0;
      for (uint8_t i : ids) {
        if (i < id) continue;
        const char* v = vesk_slave_device_object(i);
        const size_t len = std::strlen(v);
        if (answer.size() + 2 + len > 253) {
          answer[4] = 0xFF;  // more follows, from this object
          answer[5] = i;
          break;
        }
        answer.push_back(i);
        answer.push_back(static_cast<uint8_t>(len));
        answer.insert(answer.end(), v, v + len);
        ++answer[6];
      }
      return true;
    }
    default:
      return false;
  }
}

// Writes all of `bytes` to fd; false when it cannot.
bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// ---- TCP ---------------------------------------------------------------------------------------

struct Client {
  int fd;
  int answered;
};

int ReadExact(int fd, uint8_t* p, int n, int timeout_ms);

// Reads one MBAP request: the header, then as many bytes as its length field says (libmodbus
// would size the requests of the functions it does not serve by their function code alone and
// leave their data on the line). The request's length, or 0 when the client must be dropped.
int ReadTcpRequest(int fd, uint8_t* query) {
  const int kTimeoutMs = 500;
  if (ReadExact(fd, query, 7, kTimeoutMs) <= 0) return 0;
  const int length = query[4] << 8 | query[5];
  if (query[2] != 0 || query[3] != 0 || length < 2 || length > MODBUS_TCP_MAX_ADU_LENGTH - 6) return 0;
  if (ReadExact(fd, query + 7, length - 1, kTimeoutMs) <= 0) return 0;
  return 6 + length;
}

// Serves one readable client; false when the connection must be closed.
bool ServeTcpClient(modbus_t* ctx, modbus_mapping_t* contents, const Options& o, RequestLog& log, Client& c) {
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  modbus_set_socket(ctx, c.fd);
  int rc = ReadTcpRequest(c.fd, query);
  if (rc <= 0) return false;  // closed, reset, timed out mid-frame or unreadable: drop the client
  log.Request(query, rc);
  const int unit = query[6];
  if (unit != o.id) return true;  // not ours: leave it unanswered
  SleepMs(o.delay_ms);
  if (g_stop) return false;
  if (std::vector<uint8_t> pdu; rc > 7 && FurtherAnswer(query + 7, rc - 7, pdu)) {
    // The request's transaction id and unit, the length of the unit byte and the PDU.
    std::vector<uint8_t> adu = {
        query[0], query[1], 0, 0, static_cast<uint8_t>((pdu.size() + 1) >> 8), static_cast<uint8_t>(pdu.size() + 1),
        query[6]};
    adu.insert(adu.end(), pdu.begin(), pdu.end());
    if (!WriteAll(c.fd, adu)) return false;
  } else if (modbus_reply(ctx, query, rc, contents) < 0) {
    return false;
  }
  ++c.answered;
  return !(o.close_after > 0 && c.answered >= o.close_after);
}

int RunTcp(const Options& o, modbus_mapping_t* contents, RequestLog& log) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", o.port);
  if (ctx == nullptr) {
    std::fprintf(stderr, "modbus_slave: %s\n", modbus_strerror(errno));
    return 1;
  }
  int server = modbus_tcp_listen(ctx, 8);
  if (server < 0) {
    std::fprintf(stderr, "modbus_slave: cannot listen on 127.0.0.1:%d: %s\n", o.port, modbus_strerror(errno));
    modbus_free(ctx);
    return 1;
  }
  struct sockaddr_in bound = {};
  socklen_t len = sizeof bound;
  getsockname(server, reinterpret_cast<struct sockaddr*>(&bound), &len);
  std::printf("READY %d\n", ntohs(bound.sin_port));
  std::fflush(stdout);

  std::vector<Client> clients;
  while (!g_stop) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(server, &set);
    int max_fd = server;
    for (const Client& c : clients) {
      FD_SET(c.fd, &set);
      if (c.fd > max_fd) max_fd = c.fd;
    }
    struct timeval tv = {0, 100000};
    int rc = select(max_fd + 1, &set, nullptr, nullptr, &tv);
    if (rc < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "modbus_slave: select: %s\n", std::strerror(errno));
      break;
    }
    if (rc == 0) continue;
    if (FD_ISSET(server, &set)) {
      int fd = accept(server, nullptr, nullptr);
      if (fd >= 0) {
        if (fd >= FD_SETSIZE) {
          close(fd);  // select cannot watch it
        } else {
          clients.push_back({fd, 0});
        }
      }
    }
    for (size_t i = 0; i < clients.size();) {
      if (FD_ISSET(clients[i].fd, &set) && !ServeTcpClient(ctx, contents, o, log, clients[i])) {
        close(clients[i].fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }
  for (const Client& c : clients) close(c.fd);
  close(server);
  modbus_set_socket(ctx, -1);
  modbus_free(ctx);
  return 0;
}

// ---- RTU ---------------------------------------------------------------------------------------

// Reads exactly n bytes, each within timeout_ms of the one before: 1 done, 0 timed out (or
// stopped), -1 the device is gone (hang-up or read error).
int ReadExact(int fd, uint8_t* p, int n, int timeout_ms) {
  while (n > 0) {
    int ready = WaitReadable(fd, timeout_ms);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    ssize_t got = read(fd, p, static_cast<size_t>(n));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return -1;
    p += got;
    n -= static_cast<int>(got);
  }
  return 1;
}

uint16_t Crc16Modbus(const uint8_t* data, int n) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

enum class RtuRead { kNothing, kFrame, kBroken, kGone };

// Reads one RTU request, framed by its function code as a slave must: 8 bytes for function codes
// 1 to 6, 9 + byte count for 15 and 16, 10 for 22, 13 + byte count for 23, 7 for 43, until the line
// is quiet for 08, 4 for anything else.
// A frame that stops short for longer than the byte time-out is kBroken (length = what arrived).
//
// The slave reads frames itself rather than through modbus_receive: libmodbus, after a request for
// another slave id, takes the next frame on the line for that slave's answer and discards it, which
// on a point-to-point pty would swallow the master's next real request.
RtuRead ReadRtuRequest(int fd, uint8_t* buf, int* length) {
  const int kByteTimeoutMs = 500;
  *length = 0;
  int rc = ReadExact(fd, buf, 1, 100);
  if (rc <= 0) return rc < 0 ? RtuRead::kGone : RtuRead::kNothing;
  *length = 1;
  auto more = [&](int n) {
    int r = ReadExact(fd, buf + *length, n, kByteTimeoutMs);
    if (r > 0) *length += n;
    return r;
  };
  if ((rc = more(1)) <= 0) return rc < 0 ? RtuRead::kGone : RtuRead::kBroken;
  const uint8_t fc = buf[1];
  int rest = 2;  // the checksum
  if (fc >= 1 && fc <= 6) {
    rest = 6;
  } else if (fc == 22) {  // mask write register
    rest = 8;
  } else if (fc == 15 || fc == 16 || fc == 23) {  // a byte count, then the data
    const int head = fc == 23 ? 9 : 5;
    if ((rc = more(head)) <= 0) return rc < 0 ? RtuRead::kGone : RtuRead::kBroken;
    rest = buf[2 + head - 1] + 2;
  } else if (fc == 43) {  // MEI type, read code, object id
    rest = 5;
  } else if (fc == 8) {
    // Sub-function and data of any length: the frame ends when the line is quiet for 30 ms.
    if ((rc = more(4)) <= 0) return rc < 0 ? RtuRead::kGone : RtuRead::kBroken;
    while (*length < 2 + 2 + 2 * 125 + 2 && (rc = ReadExact(fd, buf + *length, 1, 30)) > 0) ++*length;
    return rc < 0 ? RtuRead::kGone : RtuRead::kFrame;
  }
  if ((rc = more(rest)) <= 0) return rc < 0 ? RtuRead::kGone : RtuRead::kBroken;
  return RtuRead::kFrame;
}

bool OpenRtu(modbus_t* ctx, const std::string& device, bool announce_failure) {
  if (modbus_connect(ctx) < 0) {
    if (announce_failure)
      std::fprintf(stderr, "modbus_slave: cannot open %s: %s\n", device.c_str(), modbus_strerror(errno));
    return false;
  }
  std::printf("READY %s\n", device.c_str());
  std::fflush(stdout);
  return true;
}

int RunRtu(const Options& o, modbus_mapping_t* contents, RequestLog& log) {
  modbus_t* ctx = modbus_new_rtu(o.device.c_str(), o.baud, o.parity, 8, o.stop_bits);
  if (ctx == nullptr) {
    std::fprintf(stderr, "modbus_slave: %s\n", modbus_strerror(errno));
    return 1;
  }
  modbus_set_slave(ctx, o.id);
  if (!OpenRtu(ctx, o.device, true)) {
    modbus_free(ctx);
    return 1;
  }
  uint8_t query[512];  // the longest frame ReadRtuRequest can take: 2 + 9 + 255 + 2 bytes
  while (!g_stop) {
    int length = 0;
    RtuRead got = ReadRtuRequest(modbus_get_socket(ctx), query, &length);
    if (got == RtuRead::kGone) {
      // The device went away (pseudo-terminal hung up): reopen the same path once it is back.
      modbus_close(ctx);
      while (!g_stop && !OpenRtu(ctx, o.device, false)) SleepMs(50);
      continue;
    }
    if (got == RtuRead::kNothing) continue;
    log.Request(query, length);
    if (got != RtuRead::kFrame || query[0] != o.id) continue;  // broken, or for another slave
    const uint16_t crc = Crc16Modbus(query, length - 2);
    if (query[length - 2] != (crc & 0xFF) || query[length - 1] != (crc >> 8)) continue;  // bad checksum
    SleepMs(o.delay_ms);
    if (g_stop) continue;
    if (std::vector<uint8_t> pdu; FurtherAnswer(query + 1, length - 3, pdu)) {
      std::vector<uint8_t> adu = {query[0]};
      adu.insert(adu.end(), pdu.begin(), pdu.end());
      const uint16_t answerCrc = Crc16Modbus(adu.data(), static_cast<int>(adu.size()));
      adu.push_back(static_cast<uint8_t>(answerCrc & 0xFF));
      adu.push_back(static_cast<uint8_t>(answerCrc >> 8));
      WriteAll(modbus_get_socket(ctx), adu);
    } else {
      modbus_reply(ctx, query, length, contents);
    }
  }
  modbus_close(ctx);
  modbus_free(ctx);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    Usage();
    return 2;
  }
  struct sigaction sa = {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: select returns so the loop sees the flag
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a client that vanished mid-answer must not kill the slave

  modbus_mapping_t* contents = NewContents();
  if (contents == nullptr) {
    std::fprintf(stderr, "modbus_slave: %s\n", modbus_strerror(errno));
    return 1;
  }
  int rc;
  {
    RequestLog log(o.log_path);
    rc = o.tcp ? RunTcp(o, contents, log) : RunRtu(o, contents, log);
  }
  modbus_mapping_free(contents);
  return rc;
}
