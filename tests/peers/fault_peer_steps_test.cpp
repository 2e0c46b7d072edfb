// The fault peer's steps for hostile answers, driven over raw sockets: a frame sent before the next
// request, a flood of garbage, and the script errors around them (a late answer on a pty: the
// hostile peers' integration test). Every wait is bounded.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "peer_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Read holding register 0, one word, with transaction id `tid` (MBAP).
Bytes ReadRequest(uint8_t tid) { return {0, tid, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}; }
// The peer's echo of it: one zero word.
Bytes EchoAnswer(uint8_t tid) { return {0, tid, 0, 0, 0, 5, 1, 3, 2, 0, 0}; }

// A socket to 127.0.0.1, closed when it goes out of scope.
struct Line {
  explicit Line(int port) : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a = {AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) close(fd), fd = -1;
  }
  ~Line() {
    if (fd >= 0) close(fd);
  }
  bool Write(const Bytes& b) const { return write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }
  // Reads until `want` bytes came, the other end closed, or `ms` passed.
  Bytes Read(size_t want, int ms) const {
    Bytes got(want);
    size_t n = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (pollfd p = {fd, POLLIN, 0}; n < want;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      const ssize_t r = left > 0 && poll(&p, 1, static_cast<int>(left)) > 0 ? read(fd, &got[n], want - n) : 0;
      if (r <= 0) break;
      n += static_cast<size_t>(r);
    }
    got.resize(n);
    return got;
  }
  int fd;
};

TEST(FaultPeerSteps, EarlyFramesAreSentBeforeTheNextRequest) {
  // The stale frame carries the previous request's transaction id; sent at connect it has zeros.
  Bytes stale = EchoAnswer(1);
  stale.insert(stale.end(), {0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 7});
  const struct {
    const char* script;
    Bytes beforeFirst;  // what arrives at connect, unasked
    Bytes afterFirst;   // what arrives after the first request, answer and early frames together
  } cases[] = {
      {"echo\nearly TID 00 00 LEN UID FC 02 00 07\necho\n", {}, stale},
      {"early TID AA BB\nearly 01\necho\n", {0, 0, 0xAA, 0xBB, 0x01}, EchoAnswer(1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    vesk::test::Peer peer;
    const Line line(peer.FaultPeer(c.script));
    ASSERT_GE(line.fd, 0);
    EXPECT_EQ(line.Read(c.beforeFirst.size() + 1, 200), c.beforeFirst);
    ASSERT_TRUE(line.Write(ReadRequest(1)));
    EXPECT_EQ(line.Read(c.afterFirst.size() + 1, 300), c.afterFirst);
    // The early steps are used up: the next request gets its answer alone.
    ASSERT_TRUE(line.Write(ReadRequest(2)));
    EXPECT_EQ(line.Read(EchoAnswer(2).size() + 1, 300), EchoAnswer(2));
  }
}

// 2 MB of garbage, then the step's answer; a flood of 4 GB (far longer than the test may take) is
// given up when the client goes, and the next connection is answered.
TEST(FaultPeerSteps, FloodSendsItsMegabytesThenTheStepAndStopsWhenTheClientLeaves) {
  vesk::test::Peer peer;
  const int port = peer.FaultPeer("flood 2 echo\nflood 4096\necho\n");
  {
    const Line line(port);
    ASSERT_TRUE(line.Write(ReadRequest(7)));
    const size_t flood = 2u * 1024 * 1024;
    const Bytes got = line.Read(flood + EchoAnswer(7).size(), 10000);
    ASSERT_EQ(got.size(), flood + EchoAnswer(7).size());
    EXPECT_TRUE(line.Read(1, 200).empty());
    EXPECT_EQ(Bytes(got.end() - static_cast<long>(EchoAnswer(7).size()), got.end()), EchoAnswer(7));
    EXPECT_NE(std::count(got.begin(), got.begin() + 4096, got[0]), 4096) << "a constant fill, not garbage";
    ASSERT_TRUE(line.Write(ReadRequest(1)));
    EXPECT_EQ(line.Read(100000, 2000).size(), 100000u);
  }
  const Line again(port);
  ASSERT_TRUE(again.Write(ReadRequest(2)));
  EXPECT_EQ(again.Read(EchoAnswer(2).size(), 5000), EchoAnswer(2));
}

TEST(FaultPeerSteps, ScriptsMisusingTheNewStepsAreRefused) {
  const struct {
    const char* script;
    std::vector<std::string> extra;
    bool accepted;
  } cases[] = {
      {"echo\nearly 01\n", {}, false},  // nothing would answer after it
      {"echo\nearly 01\n", {"--loop"}, true},
      {"delay 10 early 01\n", {}, false},
      {"flood 0\n", {}, false},
      {"flood 4097\n", {}, false},
      {"flood x\n", {}, false},
      {"flood 1 early 01\n", {}, false},
      {"flood 1 bogus\n", {}, false},
      {"flood 1\n", {}, true},
      {"flood 1 delay 5 echo\n", {}, true},
      {"early\necho\n", {}, true},  // an empty early frame sends nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    vesk::test::Peer peer;
    EXPECT_EQ(peer.FaultPeer(c.script, c.extra) > 0, c.accepted);
    EXPECT_EQ(peer.Stop(), c.accepted ? 0 : 2);
  }
}

}  // namespace
