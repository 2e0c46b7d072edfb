// Process harness for the integration tests: starts the test peers (modbus_slave, fault_peer) and
// socat pseudo-terminal pairs and bridges, and stops every one of them when it goes out of scope.
// No Qt. Every wait is bounded; nothing here throws.
//
// The CMake target `vesk_test_peers` provides this header and defines
//   VESK_MODBUS_SLAVE_PATH, VESK_FAULT_PEER_PATH  the peer executables,
//   VESK_SOCAT_PATH                              the socat executable.
#ifndef VESK_TESTS_PEERS_PEER_HARNESS_H
#define VESK_TESTS_PEERS_PEER_HARNESS_H

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vesk::test {

using std::chrono::milliseconds;

// A free TCP port on 127.0.0.1 (bound to port 0 and released again), 0 if none could be had.
// Another process may take it before it is used: prefer a peer's own "READY <port>" where possible.
int FreeTcpPort();

// A new empty directory under $TMPDIR (or /tmp); empty string on failure.
std::string MakeTempDir(const std::string& prefix);

// Removes a directory and the files and links directly inside it.
void RemoveTempDir(const std::string& dir);

// A child process whose stdout is captured through a pipe. It runs in its own process group, and
// Stop() signals that group, so helpers it forks (socat's per-connection children) end with it.
class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  PeerProcess(PeerProcess&& other) noexcept;
  PeerProcess& operator=(PeerProcess&& other) noexcept;

  // Starts program with args (argv[0] is the program). stderr goes to stderr_path when given
  // (appended), otherwise to this process's stderr. Stops a previous child first.
  bool Start(const std::string& program, const std::vector<std::string>& args, const std::string& stderr_path = "");

  // Waits for the next line "READY <text>" on the child's stdout and returns <text>; nullopt on
  // time-out or when the child closed its stdout (exited) first. Each call consumes one READY line.
  std::optional<std::string> WaitReady(milliseconds timeout = milliseconds(5000));

  // Sends SIGTERM, waits up to grace, then SIGKILL; reaps the child. Returns its exit code, or
  // 128 + signal when a signal ended it, or -1 when nothing was running.
  int Stop(milliseconds grace = milliseconds(2000));

  bool Running();
  pid_t Pid() const { return pid_; }
  // Everything the child wrote to stdout so far (as read by WaitReady).
  const std::string& Output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string output_;
  size_t scanned_ = 0;  // output_ up to here has been searched for READY lines
  int status_ = 0;
  bool reaped_ = false;
};

// Two pseudo-terminals joined by socat; data written to A() comes out of B() and back:
//   socat -lu -d -d pty,raw,echo=0,link=<dir>/<name>-a pty,raw,echo=0,link=<dir>/<name>-b
// <dir> is a new temp dir and <name> its own unique base name, so that no two pairs share a link
// name (QSerialPort locks a port by its base name, LCK..<name>, which would clash across tests).
// (socat's notices, with microsecond time stamps, go to <dir>/socat.log.)
// Either end may be opened and closed repeatedly. Close() ends socat, which removes both links
// (a serial port that goes away); Open() again makes a new pair under the same names.
class PtyPair {
 public:
  PtyPair();  // creates the temp dir; call Open()
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Open(milliseconds timeout = milliseconds(5000));
  void Close();
  bool IsOpen() const { return open_; }
  const std::string& A() const { return a_; }
  const std::string& B() const { return b_; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
  std::string a_;
  std::string b_;
  PeerProcess socat_;
  bool open_ = false;
};

// RTU over TCP: a TCP port on 127.0.0.1 whose byte stream goes to a pseudo-terminal pair; serve
// PtyPath() with an RTU slave (`modbus_slave --rtu <PtyPath()>`) and connect to Port(). It runs
//   socat -lu -d -d -t 0 TCP-LISTEN:<port>,bind=127.0.0.1,reuseaddr,fork,max-children=1
//         FILE:<pair A>,raw,echo=0
// Every accepted connection gets a socat child that opens the pty anew, so a client may disconnect
// and reconnect while the pair (and the slave on it) stays. "max-children=1" accepts the next
// client only once the previous child is gone, and "-t 0" ends that child as soon as its client
// leaves (socat's default lingers half a second): two children reading the pty at once could hand
// the answer meant for a client that reconnected at once to the one that left. A client that
// connects meanwhile waits in the listen queue (a few milliseconds). Bytes the slave sends while no
// client is connected stay in the pty and reach the next client.
class TcpToPtyBridge {
 public:
  TcpToPtyBridge() = default;
  ~TcpToPtyBridge() { Close(); }
  TcpToPtyBridge(const TcpToPtyBridge&) = delete;
  TcpToPtyBridge& operator=(const TcpToPtyBridge&) = delete;

  // Opens the pty pair and starts listening on port (0 = a free port); true once socat listens.
  bool Open(int port = 0, milliseconds timeout = milliseconds(5000));
  void Close();
  int Port() const { return port_; }
  const std::string& PtyPath() const { return pair_.B(); }

 private:
  PtyPair pair_;
  PeerProcess socat_;
  int port_ = 0;
};

}  // namespace vesk::test

#endif  // VESK_TESTS_PEERS_PEER_HARNESS_H
