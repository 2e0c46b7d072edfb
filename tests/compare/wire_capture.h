#pragma once
// What a libmodbus client puts on the wire: a fresh client makes one call to
// a peer that never answers (TCP: a socket on 127.0.0.1; RTU: a
// pseudo-terminal), and the bytes that reach the peer are read back.
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

#include "common/bytes.h"

namespace wire {

// The bytes a fresh libmodbus client for `slave` puts on the wire for `call` (it times out: nobody answers).
inline Frame Theirs(bool tcp, int slave, const std::function<void(modbus_t*)>& call) {
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
  Frame got;
  const bool connected = ctx != nullptr && modbus_set_slave(ctx, slave) == 0 && modbus_connect(ctx) == 0;
  EXPECT_TRUE(connected) << "no libmodbus client: " << modbus_strerror(errno);
  if (connected) {
    modbus_set_response_timeout(ctx, 0, 20000);
    if (tcp) fd = accept(listener, nullptr, nullptr);
    call(ctx);
    // What reached fd: the first byte within 200 ms, then until the line is quiet for 20 ms.
    pollfd p{fd, POLLIN, 0};
    uint8_t buf[512];
    for (ssize_t n; poll(&p, 1, got.empty() ? 200 : 20) > 0 && (n = read(fd, buf, sizeof buf)) > 0;)
      got.insert(got.end(), buf, buf + n);
  }
  if (ctx != nullptr) modbus_close(ctx);
  modbus_free(ctx);
  for (int s : {fd, listener})
    if (s >= 0) close(s);
  return got;
}

}  // namespace wire
