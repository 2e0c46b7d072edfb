// Process harness for the integration tests and benchmarks: starts the test peers (modbus_slave,
// fault_peer), socat pseudo-terminal pairs and bridges, and stops each when it goes out of scope.
// No Qt; every wait is bounded. `vesk_test_peers` defines the peers' and socat's paths.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vesk::test {

using std::chrono::milliseconds;

// A free TCP port on 127.0.0.1, 0 if none. Another process may take it before it is used: prefer a
// peer's own "READY <port>".
int FreeTcpPort();

// A new empty directory under $TMPDIR (or /tmp), "" on failure; removed with the files in it.
std::string MakeTempDir(const std::string& prefix);
void RemoveTempDir(const std::string& dir);

// A child process whose stdout is captured through a pipe. It runs in its own process group, and
// Stop() signals that group, so helpers it forks (socat's per-connection children) end with it.
class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess() { Stop(); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  // Stops a previous child and starts program with args; stderr is appended to stderr_path if given.
  bool Start(const std::string& program, const std::vector<std::string>& args, const std::string& stderr_path = "");

  // The <text> of the child's next stdout line "READY <text>"; nullopt on time-out or its exit.
  std::optional<std::string> WaitReady(milliseconds timeout = milliseconds(5000));

  // SIGTERM, SIGKILL after grace; the child's exit code, 128 + signal, or -1 if none was running.
  int Stop(milliseconds grace = milliseconds(2000));
  bool Running();

 private:
  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string output_;  // read so far; searched for READY lines up to scanned_
  size_t scanned_ = 0;
  int status_ = 0;
  bool reaped_ = false;
};

// Two pseudo-terminals joined by socat, links <dir>/<name>-a and -b in a new temp dir <dir> of base
// name <name> (QSerialPort locks a port by its base name: no two pairs may share one). Close() ends
// socat and the links vanish (a serial port that goes away); Open() again makes a new pair.
class PtyPair {
 public:
  PtyPair();  // creates the temp dir; call Open()
  ~PtyPair();
  bool Open(milliseconds timeout = milliseconds(5000));
  void Close();
  const std::string& A() const { return a_; }
  const std::string& B() const { return b_; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_, a_, b_;
  PeerProcess socat_;
  bool open_ = false;
};

// RTU over TCP: a TCP port on 127.0.0.1 whose byte stream goes to a pseudo-terminal pair; serve
// PtyPath() with an RTU slave (`modbus_slave --rtu <PtyPath()>`) and connect to Port(). Each
// connection gets a socat child that opens the pty anew, so a client may reconnect while the slave
// stays. One child at a time, ended as soon as its client leaves: two children reading the pty at
// once could hand an answer to the client that left. Bytes sent while no client is connected stay
// in the pty and reach the next client.
class TcpToPtyBridge {
 public:
  ~TcpToPtyBridge() { Close(); }
  // True once socat listens on port (0: a free one).
  bool Open(int port = 0, milliseconds timeout = milliseconds(5000));
  void Close();
  int Port() const { return port_; }
  const std::string& PtyPath() const { return pair_.B(); }

 private:
  PtyPair pair_;
  PeerProcess socat_;
  int port_ = 0;
};

// A test peer (modbus_slave or fault_peer) in a temp dir of its own, logging the requests it gets
// ("REQ <hex>" a line); stopped and removed when it goes out of scope.
class Peer {
 public:
  Peer();
  ~Peer();
  // `program` with `args` (and the log); the text of its READY line.
  std::optional<std::string> Start(const char* program, std::vector<std::string> args);
  std::optional<std::string> Slave(const std::vector<std::string>& args) { return Start(VESK_MODBUS_SLAVE_PATH, args); }
  // modbus_slave with `extra`, or fault_peer with `script` (one step per request), on 127.0.0.1: the
  // port, 0 on failure.
  int TcpSlave(std::vector<std::string> extra = {});
  int FaultPeer(const std::string& script, std::vector<std::string> extra = {});
  // fault_peer serving the serial line at `device`; true once it is ready.
  bool FaultDevice(const std::string& device, const std::string& script, std::vector<std::string> extra = {});
  // The next READY line (a slave that reopened its device prints one again).
  std::optional<std::string> WaitReady(int ms = 5000) { return proc_.WaitReady(milliseconds(ms)); }
  std::vector<std::string> Requests() const;
  const std::string& Dir() const { return dir_; }
  int Stop() { return proc_.Stop(); }

 private:
  std::string WriteScript(const std::string& script) const;
  std::string dir_;
  PeerProcess proc_;
};

}  // namespace vesk::test
