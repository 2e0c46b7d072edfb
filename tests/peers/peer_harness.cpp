#include "peer_harness.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace vesk::test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

void PauseMs(int ms) { std::this_thread::sleep_for(milliseconds(ms)); }

}  // namespace

int FreeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<struct sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

std::string MakeTempDir(const std::string& prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

void RemoveTempDir(const std::string& dir) {
  std::error_code ignored;
  if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

bool PeerProcess::Start(const std::string& program, const std::vector<std::string>& args,
                        const std::string& stderr_path) {
  Stop();
  output_.clear();
  scanned_ = 0;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  if (!stderr_path.empty())
    posix_spawn_file_actions_addopen(&actions, 2, stderr_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  // Default signal handling, nothing blocked, a process group of its own (Stop() reaches it all).
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawnp(&pid_, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    pid_ = -1;
    return false;
  }
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  out_fd_ = fds[0];
  reaped_ = false;
  status_ = 0;
  return true;
}

std::optional<std::string> PeerProcess::WaitReady(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  bool eof = out_fd_ < 0;
  for (;;) {
    for (size_t end; (end = output_.find('\n', scanned_)) != std::string::npos;) {
      const std::string line = output_.substr(scanned_, end - scanned_);
      scanned_ = end + 1;
      if (line.rfind("READY ", 0) == 0) return line.substr(6);
    }
    const int wait_ms = RemainingMs(deadline);
    if (eof || wait_ms == 0) return std::nullopt;
    struct pollfd p = {out_fd_, POLLIN, 0};
    const int rc = poll(&p, 1, wait_ms);
    if (rc < 0 && errno != EINTR) return std::nullopt;
    if (rc <= 0) continue;
    char buf[1024];
    const ssize_t n = read(out_fd_, buf, sizeof buf);
    if (n > 0)
      output_.append(buf, static_cast<size_t>(n));
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
      eof = true;
  }
}

bool PeerProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  const pid_t rc = waitpid(pid_, &status, WNOHANG);
  if (rc == pid_) {
    status_ = status;
    reaped_ = true;
  }
  return rc == 0;
}

int PeerProcess::Stop(milliseconds grace) {
  if (pid_ <= 0) return -1;
  if (Running()) {
    kill(-pid_, SIGTERM);
    const auto deadline = Clock::now() + grace;
    while (Running() && RemainingMs(deadline) > 0) PauseMs(5);
    if (Running()) {
      kill(-pid_, SIGKILL);
      int status = 0;
      if (waitpid(pid_, &status, 0) == pid_) status_ = status;
      reaped_ = true;
    }
  }
  if (out_fd_ >= 0) close(out_fd_);
  out_fd_ = -1;
  pid_ = -1;
  if (!reaped_) return -1;
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  return WIFSIGNALED(status_) ? 128 + WTERMSIG(status_) : -1;
}

PtyPair::PtyPair() : dir_(MakeTempDir("vesk-pty-")) {
  const std::string unique = dir_.substr(dir_.rfind('/') + 1);
  a_ = dir_ + "/" + unique + "-a";
  b_ = dir_ + "/" + unique + "-b";
}

PtyPair::~PtyPair() {
  Close();
  RemoveTempDir(dir_);
}

bool PtyPair::Open(milliseconds timeout) {
  if (open_) return true;
  if (dir_.empty()) return false;
  unlink(a_.c_str());
  unlink(b_.c_str());
  const std::vector<std::string> args = {"-lu", "-d", "-d", "pty,raw,echo=0,link=" + a_, "pty,raw,echo=0,link=" + b_};
  if (!socat_.Start(VESK_SOCAT_PATH, args, dir_ + "/socat.log")) return false;
  const auto deadline = Clock::now() + timeout;
  struct stat st;
  while (stat(a_.c_str(), &st) != 0 || stat(b_.c_str(), &st) != 0) {  // links to live ptys
    if (RemainingMs(deadline) == 0 || !socat_.Running()) {
      socat_.Stop();
      return false;
    }
    PauseMs(5);
  }
  return open_ = true;
}

void PtyPair::Close() {
  socat_.Stop();
  // socat removes its links when it ends; a socat that had to be killed leaves them behind.
  unlink(a_.c_str());
  unlink(b_.c_str());
  open_ = false;
}

bool TcpToPtyBridge::Open(int port, milliseconds timeout) {
  Close();
  if (!pair_.Open(timeout)) return false;
  const std::string log = pair_.Dir() + "/bridge.log";
  const auto deadline = Clock::now() + timeout;
  // A port picked by FreeTcpPort() may be taken in the meantime: try a few.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = port != 0 ? port : FreeTcpPort();
    unlink(log.c_str());
    const std::string listen = "TCP-LISTEN:" + std::to_string(port_) + ",bind=127.0.0.1,reuseaddr,fork,max-children=1";
    const std::vector<std::string> args = {"-lu", "-d", "-d", "-t", "0", listen, "FILE:" + pair_.A() + ",raw,echo=0"};
    if (port_ == 0 || !socat_.Start(VESK_SOCAT_PATH, args, log)) break;
    for (std::string text; socat_.Running() && RemainingMs(deadline) > 0; PauseMs(5)) {
      std::getline(std::ifstream(log), text, '\0');
      if (text.find("listening on") != std::string::npos) return true;
    }
    socat_.Stop();
    if (port != 0 || RemainingMs(deadline) == 0) break;
  }
  Close();
  return false;
}

void TcpToPtyBridge::Close() {
  socat_.Stop();
  pair_.Close();
  port_ = 0;
}

Peer::Peer() : dir_(MakeTempDir("vesk-peer")) {}

Peer::~Peer() {
  proc_.Stop();
  RemoveTempDir(dir_);
}

std::optional<std::string> Peer::Start(const char* program, std::vector<std::string> args) {
  args.insert(args.end(), {"--log", dir_ + "/requests.log"});
  if (!proc_.Start(program, args, dir_ + "/stderr.txt")) return std::nullopt;
  return proc_.WaitReady();
}

int Peer::TcpSlave(std::vector<std::string> extra) {
  extra.insert(extra.begin(), {"--tcp", "0"});
  const auto ready = Slave(extra);
  return ready ? std::atoi(ready->c_str()) : 0;
}

std::string Peer::WriteScript(const std::string& script) const {
  std::ofstream(dir_ + "/script.txt") << script;
  return dir_ + "/script.txt";
}

int Peer::FaultPeer(const std::string& script, std::vector<std::string> extra) {
  extra.insert(extra.begin(), {"--port", "0", "--script", WriteScript(script)});
  const auto ready = Start(VESK_FAULT_PEER_PATH, extra);
  return ready ? std::atoi(ready->c_str()) : 0;
}

bool Peer::FaultDevice(const std::string& device, const std::string& script, std::vector<std::string> extra) {
  extra.insert(extra.begin(), {"--device", device, "--script", WriteScript(script)});
  return Start(VESK_FAULT_PEER_PATH, extra).has_value();
}

std::vector<std::string> Peer::Requests() const {
  std::vector<std::string> lines;
  std::ifstream in(dir_ + "/requests.log");
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace vesk::test
