#pragma once
// What a libmodbus client puts on the wire: a fresh client (TCP to a socket on 127.0.0.1 that never answers, RTU
// to a pseudo-terminal) makes each call in turn; the bytes of each call are captured as one frame.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace capture {

using Call = std::function<void(modbus_t*)>;

// The frames of the calls (each times out: nobody answers).
inline std::vector<Frame> Theirs(bool tcp, int slave, const std::vector<Call>& calls) {
  int listener = -1, fd = -1;  // TCP: the listener and the accepted connection; RTU: the pty master
  modbus_t* ctx = nullptr;
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof a;
  if (tcp && (listener = socket(AF_INET, SOCK_STREAM, 0)) >= 0 &&
      bind(listener, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(listener, 1) == 0 &&
      getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    ctx = modbus_new_tcp("127.0.0.1", ntohs(a.sin_port));
  if (!tcp && (fd = posix_openpt(O_RDWR | O_NOCTTY)) >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0)
    ctx = modbus_new_rtu(ptsname(fd), 9600, 'N', 8, 1);
  std::vector<Frame> frames;
  const bool connected = ctx != nullptr && modbus_set_slave(ctx, slave) == 0 && modbus_connect(ctx) == 0;
  EXPECT_TRUE(connected) << "no libmodbus client: " << modbus_strerror(errno);
  if (connected) {
    modbus_set_response_timeout(ctx, 0, 20000);
    if (tcp) fd = accept(listener, nullptr, nullptr);
    pollfd p{fd, POLLIN, 0};
    for (const Call& call : calls) {
      call(ctx);
      // What reached fd: the first byte within 200 ms, then until the line is quiet for 20 ms.
      Frame& got = frames.emplace_back();
      uint8_t buf[512];
      for (ssize_t n; poll(&p, 1, got.empty() ? 200 : 20) > 0 && (n = read(fd, buf, sizeof buf)) > 0;)
        got.insert(got.end(), buf, buf + n);
    }
  }
  if (ctx != nullptr) modbus_close(ctx);
  modbus_free(ctx);
  for (int s : {fd, listener})
    if (s >= 0) close(s);
  return frames;
}

// Each frame as hex digits with a blank after every byte, "| " after every frame.
inline std::string Hex(const std::vector<Frame>& frames) {
  std::string s;
  for (const Frame& f : frames) {
    for (uint8_t b : f) s += std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15], ' '};
    s += "| ";
  }
  return s;
}

}  // namespace capture
