// A soak: three panels poll at once for a bounded time while faults are
// injected at random, from a printed seed, each in a way the test can
// account for exactly:
//   - "slave": TCP to the libmodbus slave, which closes each connection after
//     a few answers; now and then a poll asks a unit id the slave does not
//     serve (a dropped answer). The request changes between polls.
//   - "fault peer": TCP to the scripted fault peer. Its script is drawn from
//     the seed, one step per request, so the step each request meets is
//     known: good answers, answers with wrong header fields, exceptions,
//     dropped answers, answers delayed beyond the time-out, random garbage,
//     connections reset or closed.
//   - "serial": RTU on a pseudo-terminal served by the RTU slave; now and
//     then a poll asks a unit id nobody serves, and the pty is closed (with
//     such a request in flight, or between polls) and made again later.
// Every row each panel logs is matched, as it comes, against what the fault
// dictates; the pane is compared with the log's entries; the response view
// after each good answer; the peers' request logs with the requests the
// panels logged; the session statistics with the outcomes counted here. The
// process's resident memory after the run may be at most 10 % above what it
// was after the first minute.
//
// VESK_SOAK_SECONDS sets the length (150 s by default, at least 20 s; ctest
// stops the test at 300 s, so run longer soaks straight from the executable
// with --gtest_filter=SoakTest.*). VESK_SOAK_SEED repeats a run's draws (the
// seed is printed at the start).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "panel_rig.h"

namespace {

using rig::Adu;
using rig::kRtu;
using rig::kTcp;
using rig::Req;
using rig::Rsp;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Painted = std::vector<std::pair<int32_t, int32_t>>;

// ---- run settings --------------------------------------------------------------------------------

int EnvNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  return (*end == '\0' && v > 0 && v < 1000000000) ? static_cast<int>(v) : fallback;
}

// The resident set of this process in kB, from /proc/self/status.
long VmRssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// ---- expected rows -------------------------------------------------------------------------------

struct Want {
  enum Kind { kExact, kHead, kRequest } kind = kExact;
  std::string text;
  std::optional<Painted> painted;  // a response row: the byte ranges painted in it, in order
};

Want Exact(std::string text, std::optional<Painted> painted = std::nullopt) {
  return {Want::kExact, std::move(text), std::move(painted)};
}
// A row that begins with `head` and goes on (a reason follows).
Want Head(std::string head) { return {Want::kHead, std::move(head), std::nullopt}; }
Want RequestRow() { return {Want::kRequest, "", std::nullopt}; }

// How a transaction ended, as the session statistics count it.
enum class Outcome { kGood, kProtocolError, kException, kTimeout, kNone };

const char* const kExceptionNames[] = {"",
                                       "Illegal Function",
                                       "Illegal Data Address",
                                       "Illegal Data Value",
                                       "Slave Device Failure",
                                       "Acknowledge",
                                       "Slave Device Busy",
                                       "Negative Acknowledge",
                                       "Memory Parity Error",
                                       "Unknown exception",
                                       "Gateway Path Unavailable",
                                       "Gateway Target Device Failed to Respond"};

// The row text of a log entry, as the pane shows it without its time stamp.
std::string RowText(const LogRecord& r) {
  switch (r.kind) {
    case LogRecord::Kind::Request:
      return Req(r.bytes);
    case LogRecord::Kind::Response:
      return Rsp(r.bytes);
    case LogRecord::Kind::Error:
      return r.errorClass.empty() ? r.message : r.errorClass + ": " + r.message;
    case LogRecord::Kind::Information:
      break;
  }
  return r.message;
}

struct TcpAnswer {
  std::vector<Want> rows;  // after the request row
  Outcome outcome = Outcome::kTimeout;
  bool complete = false;  // false: the time-out ended it and closed the connection
};

// What the panel makes of `bytes`, arriving in one piece on the socket in
// answer to the MBAP request `req`: the reception rules applied byte by byte
// (the header checks on every byte, the frame length from the function code,
// each distinct fault once, in the order first found). A frame never
// completed ends with the request time-out, which shows what came.
TcpAnswer ExpectTcpAnswer(const Frame& req, const Frame& bytes) {
  struct Fault {
    std::string text;
    int32_t offset, length;
  };
  std::vector<Fault> faults;
  const auto note = [&](const std::string& text, int32_t offset, int32_t length) {
    for (const Fault& f : faults)
      if (f.text == text && f.offset == offset && f.length == length) return;
    faults.push_back({text, offset, length});
  };
  const int tid = req.at(0) * 256 + req.at(1);
  const std::string tidText = tid == 0 ? "00" : rig::Hex({req[0], req[1]});
  const int total = static_cast<int>(bytes.size());
  const auto b = [&](int i) { return static_cast<int>(bytes[static_cast<size_t>(i)]); };
  for (int n = 1; n <= total; ++n) {
    int length = 0;
    if (n >= 2 && b(0) * 256 + b(1) != tid) note("Wrong Transaction ID (expected " + tidText + ")", 0, 2);
    if (n >= 4 && (b(2) != 0 || b(3) != 0)) note("Invalid protocol ID (expected 00 00)", 2, 2);
    if (n >= 6) {
      length = b(4) * 256 + b(5);
      if (length < 3) note("Invalid MBAP Length", 4, 2);
    }
    const int avail = n - 6;
    if (avail < 2) continue;
    if (b(6) != req.at(6)) note("Wrong response slave (expected " + rig::Hex({req[6]}) + ")", 6, 1);
    int fc = b(7);
    int expected = 0;
    bool exception = false;
    if (fc & 0x80) {
      fc -= 0x80;
      expected = 3;
      exception = true;
    } else if (fc >= 1 && fc <= 4) {
      if (avail >= 3) expected = b(8) + 3;
    } else if (fc == 5 || fc == 6 || fc == 15 || fc == 16) {
      expected = 6;
    } else if (length >= 3) {
      expected = length <= 32767 ? length : 0;
    } else {
      expected = std::max(total - 6, 3);
    }
    if (fc != req.at(7)) note("Wrong response command (expected " + rig::Hex({req[7]}) + ")", 7, 1);
    if (expected <= 0 || avail < expected) continue;

    if (length != expected) note("Invalid MBAP Length", 4, 2);
    TcpAnswer a;
    a.complete = true;
    const Frame frame(bytes.begin(), bytes.begin() + 6 + expected);
    Painted painted;
    a.rows.push_back(Exact(Rsp(frame)));
    if (exception) {
      const int code = b(8);
      if (code >= 1 && code <= 11) {
        a.rows.push_back(
            Exact("Modbus Exception: " + std::string(kExceptionNames[code]) + " (Code " + std::to_string(code) + ")"));
      } else {
        a.rows.push_back(Exact("Modbus Exception: Unknown exception (Code " + std::to_string(code) + ")"));
        painted.emplace_back(8, 1);
      }
    }
    for (const Fault& f : faults) {
      a.rows.push_back(Exact("Protocol Error: " + f.text));
      painted.emplace_back(f.offset, f.length);
    }
    a.rows[0].painted = painted;
    a.outcome = !faults.empty() ? Outcome::kProtocolError : exception ? Outcome::kException : Outcome::kGood;
    return a;
  }
  TcpAnswer a;
  if (!bytes.empty()) a.rows.push_back(Exact(Rsp(bytes), Painted{}));
  a.rows.push_back(Exact("Communication Error: Request Timeout"));
  a.rows.push_back(Exact("Disconnected"));
  return a;
}

// ---- the fault peer's script ---------------------------------------------------------------------

// The fault peer's panel reads holding register 7 of unit 1.
const Frame kFaultPeerPdu = {1, 3, 0, 7, 0, 1};

struct FaultStep {
  enum Kind { kGood, kWrongHeader, kException, kGarbage, kDrop, kDelay, kReset, kClose, kKinds } kind = kGood;
  Frame answer;               // the reply kinds: the bytes sent
  bool tidOfRequest = false;  // answer bytes 0 and 1 are the request's transaction id
  int16_t value = 0;          // kGood, kWrongHeader: the register's value
  // As long as the fault peer's poll interval: the late answer comes 800 ms
  // after the time-out (kFaultTimeoutMs), and the peer, which serves one
  // request at a time, is free again as the next poll comes.
  static constexpr int kDelayMs = 1600;

  static const char* Name(int kind) {
    static const char* const kNames[] = {"good answer", "wrong header", "exception", "garbage",
                                         "dropped",     "delayed",      "reset",     "closed"};
    return kNames[kind];
  }
  bool Replies() const { return kind <= kGarbage; }
  Frame AnswerTo(const Frame& req) const {
    Frame a = answer;
    if (tidOfRequest && a.size() >= 2) {
      a[0] = req.at(0);
      a[1] = req.at(1);
    }
    return a;
  }
  std::string Script() const {
    switch (kind) {
      case kDrop:
        return "drop";
      case kDelay:
        return "delay " + std::to_string(kDelayMs) + " echo";
      case kReset:
        return "reset";
      case kClose:
        return "close";
      default:
        break;
    }
    if (!tidOfRequest) return "reply " + ScriptBytes(answer);
    return "reply TID " + ScriptBytes(Frame(answer.begin() + 2, answer.end()));
  }
  // Bytes in lower case: the script reads an upper-case FC as the request's
  // function code.
  static std::string ScriptBytes(const Frame& bytes) {
    std::string s = rig::Hex(bytes);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
};

FaultStep MakeStep(int kind, std::mt19937& rng) {
  const auto byte = [&] { return static_cast<uint8_t>(rng() & 0xFF); };
  FaultStep s;
  s.kind = static_cast<FaultStep::Kind>(kind);
  switch (s.kind) {
    case FaultStep::kGood:
    case FaultStep::kWrongHeader: {
      const uint8_t hi = byte(), lo = byte();
      s.value = static_cast<int16_t>(hi << 8 | lo);
      s.answer = {0, 0, 0, 0, 0, 5, 1, 3, 2, hi, lo};
      s.tidOfRequest = true;
      if (s.kind == FaultStep::kGood) break;
      // One to four header fields wrong.
      const unsigned which = 1 + rng() % 15;
      if (which & 1) {
        s.tidOfRequest = false;
        s.answer[0] = byte();
        s.answer[1] = byte();
      }
      if (which & 2) s.answer[3] = static_cast<uint8_t>(1 + rng() % 255);
      if (which & 4) {
        unsigned len = rng() % 40;
        if (len == 5) len = 6;
        s.answer[5] = static_cast<uint8_t>(len);
      }
      if (which & 8) s.answer[6] = static_cast<uint8_t>(2 + rng() % 254);
      break;
    }
    case FaultStep::kException:
      s.answer = {0, 0, 0, 0, 0, 3, 1, 0x83, static_cast<uint8_t>(1 + rng() % 11)};
      s.tidOfRequest = true;
      break;
    case FaultStep::kGarbage:
      s.answer.resize(1 + rng() % 32);
      for (uint8_t& v : s.answer) v = byte();
      break;
    default:
      break;
  }
  return s;
}

// `count` steps: first every fault once, in random order and each after a
// good answer, so that even a short run meets them all; then drawn by weight.
std::vector<FaultStep> DrawScript(std::mt19937& rng, size_t count) {
  std::vector<int> first;
  for (int k = FaultStep::kWrongHeader; k < FaultStep::kKinds; ++k) first.push_back(k);
  std::shuffle(first.begin(), first.end(), rng);
  std::vector<FaultStep> steps;
  for (int k : first) {
    steps.push_back(MakeStep(FaultStep::kGood, rng));
    steps.push_back(MakeStep(k, rng));
  }
  // Weights in percent, by kind.
  static const int kWeights[FaultStep::kKinds] = {50, 10, 6, 10, 6, 6, 6, 6};
  std::discrete_distribution<int> pick(std::begin(kWeights), std::end(kWeights));
  while (steps.size() < count) steps.push_back(MakeStep(pick(rng), rng));
  // The last step repeats for any request beyond the script.
  steps.push_back(MakeStep(FaultStep::kGood, rng));
  return steps;
}

// ---- helpers -------------------------------------------------------------------------------------

// Reads the lines a peer appends to its request log, as they arrive.
class LogFollower {
 public:
  explicit LogFollower(std::string path) : path_(std::move(path)) {}
  std::vector<std::string> NewLines() {
    std::vector<std::string> out;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return out;
    in.seekg(static_cast<std::streamoff>(offset_));
    const std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t pos = 0;
    for (size_t end; (end = chunk.find('\n', pos)) != std::string::npos; pos = end + 1)
      out.push_back(chunk.substr(pos, end - pos));
    offset_ += pos;  // a line still being written is read next time
    return out;
  }

 private:
  std::string path_;
  size_t offset_ = 0;
};

// Runs jobs one at a time on its own thread, so that making a pseudo-terminal
// pair again (starting socat and waiting for its links) never holds up the
// event loop the panels run on.
class Worker {
 public:
  Worker() : thread_([this] { Run(); }) {
    // Its first allocations now, not in the middle of the measured run.
    Post([] { return !std::string(64, 'x').empty(); });
  }
  ~Worker() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  bool Post(std::function<bool()> job) {
    std::lock_guard<std::mutex> lock(m_);
    if (job_ || running_) return false;
    job_ = std::move(job);
    cv_.notify_all();
    return true;
  }
  bool Busy() {
    std::lock_guard<std::mutex> lock(m_);
    return job_ != nullptr || running_;
  }
  bool Result() {
    std::lock_guard<std::mutex> lock(m_);
    return result_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || job_ != nullptr; });
      if (stop_) return;
      std::function<bool()> job = std::move(job_);
      job_ = nullptr;
      running_ = true;
      lock.unlock();
      const bool result = job();
      lock.lock();
      running_ = false;
      result_ = result;
    }
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::function<bool()> job_;
  bool running_ = false;
  bool result_ = false;
  bool stop_ = false;
  std::thread thread_;
};

// ---- following one panel -------------------------------------------------------------------------

// Follows one polling panel: reads the entries its log gets, checks each
// against the pane and against the rows expected next, and keeps the counts
// the statistics and the peer's request log are checked against.
class Tracker {
 public:
  Tracker(std::string name, rig::Panel& panel, std::string peerLog, uint32_t seed, milliseconds stallLimit)
      : name_(std::move(name)), p_(panel), peerLog_(std::move(peerLog)), rng_(seed), stallLimit_(stallLimit) {
    if (!f().LogRecords().empty()) seen_ = f().LogRecords().back().start;
    statsAtStart_ = f().Stats;
  }
  virtual ~Tracker() = default;
  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  void StartPolling() {
    polling_ = true;
    lastRequestAt_ = Clock::now();
    f().cmdAuto1_MouseDown();
  }
  void StopPolling() {
    polling_ = false;
    f().cmdAuto0_MouseDown();
  }

  // Takes in the entries logged since the last call, then looks at the panel
  // at rest. Called between the event loop's handlers, so every handler's
  // rows are complete.
  void Update(Clock::time_point now) {
    if (broken_) return;
    const auto& records = f().LogRecords();
    if (!records.empty() && records.front().start > seen_)
      return Fail("log entries were dropped before they were read");
    auto it = records.end();
    while (it != records.begin() && std::prev(it)->start > seen_) --it;
    if (it != records.end()) {
      const size_t base = records.front().start;  // where the pane's text begins
      const std::vector<std::string> pane = p_.RowsFrom(it->start - base);
      for (size_t i = 0; it != records.end() && !broken_; ++it, ++i) {
        const std::string row = RowText(*it);
        seen_ = it->start;
        if (i >= pane.size() || pane[i] != row)
          return Fail("the pane shows \"" + (i < pane.size() ? pane[i] : std::string("nothing")) + "\" for \"" + row +
                      "\"");
        const uint32_t color = it->kind == LogRecord::Kind::Error ? LogColorError : LogColorInfo;
        if (!row.empty() && f().txtLog.ColorAt(it->start - base) != color) return Fail("wrong colour: " + row);
        Take(*it, row, std::next(it) == records.end());
      }
    }
    if (broken_) return;
    if (f().AwaitingResponse != inFlight_)
      return Fail(inFlight_ ? "no answer awaited, but the request's outcome is not logged"
                            : "an answer is awaited, but no request is in flight by the rows");
    if (f().Requests.size() > 1) return Fail("more than one frame queued");
    if (polling_ && !f().AutoPolling) return Fail("polling stopped by itself");
    if (polling_ && now - lastRequestAt_ > stallLimit_) return Fail("no request for too long");
    if (Idle()) AtRest(now);
    Tick(now);
  }

  // Reads the peer's request log: it must hold the panel's requests, in
  // order, where only a request marked as possibly lost may be missing.
  void CheckPeerLog() {
    if (broken_) return;
    for (const std::string& line : peerLog_.NewLines()) {
      recentPeer_.push_back(line);
      if (recentPeer_.size() > 8) recentPeer_.pop_front();
      // Every place in sent_ the log may have reached (identical requests
      // around a lost one leave more than one).
      std::vector<size_t> next;
      for (size_t i : reached_) {
        for (size_t j = i; j < sent_.size(); ++j) {
          if (sent_[j].first == line && std::find(next.begin(), next.end(), j + 1) == next.end()) next.push_back(j + 1);
          if (!sent_[j].second) break;  // this one cannot have been skipped
        }
      }
      if (next.empty()) {
        std::string context;
        for (const std::string& l : recentPeer_) context += "\n    > " + l;
        const size_t at = *std::min_element(reached_.begin(), reached_.end());
        return Fail("the peer received " + line + " where the panel sent " +
                    (at < sent_.size() ? sent_[at].first : std::string("nothing more")) + context);
      }
      const size_t low = *std::min_element(next.begin(), next.end());
      sent_.erase(sent_.begin(), sent_.begin() + static_cast<std::ptrdiff_t>(low));
      for (size_t& n : next) n -= low;
      reached_ = std::move(next);
    }
  }
  // True once the peer's log holds every request it must have received.
  bool PeerCaughtUp() const {
    for (size_t i : reached_) {
      size_t j = i;
      while (j < sent_.size() && sent_[j].second) ++j;
      if (j == sent_.size()) return true;
    }
    return false;
  }

  // Statistics, view checks, counts; after polling has stopped.
  virtual void Finish(int runSeconds) {
    SCOPED_TRACE(name_);
    const SessionStats& s = f().Stats;
    EXPECT_EQ(s.sent - statsAtStart_.sent, static_cast<uint64_t>(requests_));
    EXPECT_EQ(s.answers - statsAtStart_.answers, Count(Outcome::kGood));
    EXPECT_EQ(s.protocolErrors - statsAtStart_.protocolErrors, Count(Outcome::kProtocolError));
    EXPECT_EQ(s.exceptions - statsAtStart_.exceptions, Count(Outcome::kException));
    EXPECT_EQ(s.timeouts - statsAtStart_.timeouts, Count(Outcome::kTimeout));
    EXPECT_EQ(s.connectionErrors - statsAtStart_.connectionErrors, static_cast<uint64_t>(connectionErrors_));
    EXPECT_TRUE(PeerCaughtUp()) << "requests missing from the peer's log";
    // Two answers in one turn of the loop leave the first one's view unseen.
    EXPECT_GE(viewsChecked_ * 10, views_ * 9) << viewsChecked_ << " of " << views_ << " views checked";
    EXPECT_GE(requests_, runSeconds / 5);
    std::printf("[ soak     ] %-10s %5d requests, %s; %d answers' views checked\n", name_.c_str(), requests_,
                Summary().c_str(), viewsChecked_);
  }

  bool Broken() const { return broken_; }
  bool Idle() const { return want_.empty() && !inFlight_; }
  const std::string& Name() const { return name_; }
  int Requests() const { return requests_; }
  // The faults met whose label begins with `label`.
  int Faults(const std::string& label) const {
    int n = 0;
    for (const auto& [l, count] : faults_) n += l.rfind(label, 0) == 0 ? count : 0;
    return n;
  }

 protected:
  frmMain& f() { return p_.f(); }
  // The preamble of a new poll (connect or open rows) and its request row.
  virtual void StartPoll() = 0;
  // The request row of a poll was taken: check it and push its outcome.
  virtual void OnRequest(const LogRecord& rec, bool lastInBatch) = 0;
  // Rows outside the usual course; true when taken.
  virtual bool TakeSpecial(const LogRecord&, const std::string&) { return false; }
  // The outcome of a poll is complete.
  virtual void OnOutcome() {}
  // No poll under way: change the form for the next one, inject faults.
  virtual void Rest(Clock::time_point) {}
  // Every turn of the loop.
  virtual void Tick(Clock::time_point) {}

  // What the rows pushed by OnRequest amount to.
  struct Pending {
    Outcome outcome = Outcome::kNone;
    std::string fault;                // a label when the outcome is a fault
    std::optional<std::string> view;  // what the response view then shows
    bool viewDisabled = false;        // the view stays disabled
  };

  void Fail(const std::string& why) {
    if (broken_) return;
    broken_ = true;
    std::string tail;
    for (const std::string& r : recent_) tail += "\n    | " + r;
    ADD_FAILURE() << name_ << ": " << why << "\n  last rows:" << tail;
  }

  // The last request sent may never have reached the peer.
  void LastSentMayBeMissing() {
    if (!sent_.empty()) sent_.back().second = true;
  }
  void CountRequest(const LogRecord& rec, bool mayBeMissing) {
    ++requests_;
    inFlight_ = true;
    lastRequestAt_ = Clock::now();
    sent_.emplace_back("REQ " + rig::Hex(rec.bytes), mayBeMissing);
  }
  uint64_t Count(Outcome o) const {
    auto it = outcomes_.find(o);
    return it == outcomes_.end() ? 0 : static_cast<uint64_t>(it->second);
  }
  std::string Summary() const {
    std::string s = std::to_string(Count(Outcome::kGood)) + " good";
    for (const auto& [label, n] : faults_) s += ", " + std::to_string(n) + " " + label;
    return s;
  }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  std::string name_;
  rig::Panel& p_;
  std::deque<Want> want_;
  bool inFlight_ = false;
  Pending pending_;
  int requests_ = 0;
  int connectionErrors_ = 0;
  std::map<std::string, int> faults_;

 private:
  void Take(const LogRecord& rec, const std::string& row, bool lastInBatch) {
    recent_.push_back(row);
    if (recent_.size() > 24) recent_.pop_front();
    if (TakeSpecial(rec, row)) return;
    if (want_.empty()) StartPoll();
    const Want w = std::move(want_.front());
    want_.pop_front();
    switch (w.kind) {
      case Want::kExact:
        if (row != w.text) return Fail("expected \"" + w.text + "\"");
        break;
      case Want::kHead:
        if (row.rfind(w.text, 0) != 0 || row.size() <= w.text.size())
          return Fail("expected a row beginning \"" + w.text + "\" and giving a reason");
        break;
      case Want::kRequest:
        if (rec.kind != LogRecord::Kind::Request) return Fail("expected a request row");
        CountRequest(rec, false);
        OnRequest(rec, lastInBatch);
        break;
    }
    if (w.painted && rec.painted != *w.painted) return Fail("wrong bytes painted in " + row);
    if (want_.empty() && !broken_) {
      inFlight_ = false;
      ++outcomes_[pending_.outcome];
      if (!pending_.fault.empty()) ++faults_[pending_.fault];
      view_ = pending_.view;
      viewDisabled_ = pending_.viewDisabled;
      if (view_) ++views_;
      OnOutcome();
    }
  }

  void AtRest(Clock::time_point now) {
    // Each answer's view is checked at the first rest after it: the form
    // may change then, and a changed form may show the answer anew.
    if (view_) {
      if (f().txtResponse.Text() != *view_)
        return Fail("the response view shows \"" + f().txtResponse.Text() + "\" instead of \"" + *view_ + "\"");
      if (!f().txtResponse.Enabled()) return Fail("the response view stays disabled after an answer");
      const std::string dt = f().lblDT.Caption();
      if (dt.size() < 4 || dt.compare(dt.size() - 3, 3, " ms") != 0 ||
          dt.find_first_not_of("0123456789") != dt.size() - 3)
        return Fail("the response time reads \"" + dt + "\"");
      ++viewsChecked_;
      view_.reset();
    } else if (viewDisabled_ && f().txtResponse.Enabled()) {
      return Fail("the response view is enabled after an outcome that shows nothing");
    }
    Rest(now);
  }

  LogFollower peerLog_;
  std::mt19937 rng_;
  milliseconds stallLimit_;
  SessionStats statsAtStart_;
  size_t seen_ = 0;
  bool broken_ = false;
  bool polling_ = false;
  Clock::time_point lastRequestAt_;
  std::deque<std::string> recent_;
  std::deque<std::string> recentPeer_;
  // Requests not yet in the peer's log (true: may never get there), and the
  // places in it the log may have reached.
  std::deque<std::pair<std::string, bool>> sent_;
  std::vector<size_t> reached_ = {0};
  std::map<Outcome, int> outcomes_;
  std::optional<std::string> view_;
  bool viewDisabled_ = false;
  int views_ = 0;
  int viewsChecked_ = 0;
};

// The connect rows of a socket panel before its next request, by the state
// the connection was left in.
enum class Link { kClosed, kOpen, kPeerClosed };

void PushConnectRows(std::deque<Want>& want, Link link, int port) {
  if (link == Link::kPeerClosed) want.push_back(Exact("Disconnected"));
  if (link != Link::kOpen) {
    want.push_back(Exact(""));
    want.push_back(Exact("Connect to 127.0.0.1:" + std::to_string(port) + "..."));
    want.push_back(Exact("Connected"));
  }
}

int NextTid(int tid) { return (tid + 1) & 0xFFFF; }

// Panel "slave": reads of every table, changing between polls, from the
// libmodbus slave, which closes a connection after `closeAfter` answers; now
// and then a poll for unit 9, which the slave leaves unanswered.
class SlaveTracker : public Tracker {
 public:
  SlaveTracker(rig::Panel& panel, int port, int closeAfter, std::string peerLog, uint32_t seed)
      : Tracker("slave", panel, std::move(peerLog), seed, milliseconds(6000)),
        port_(port),
        closeAfter_(closeAfter),
        exchanges_(rig::ReadExchanges()) {
    SetForm();
  }
  void Finish(int runSeconds) override {
    Tracker::Finish(runSeconds);
    std::printf("[ soak     ] %-10s %d connections closed by the slave\n", name_.c_str(), peerCloses_);
  }
  int PeerCloses() const { return peerCloses_; }

 protected:
  void StartPoll() override {
    PushConnectRows(want_, link_, port_);
    if (link_ != Link::kOpen) answeredOnConnection_ = 0;
    link_ = Link::kOpen;
    want_.push_back(RequestRow());
  }
  void OnRequest(const LogRecord& rec, bool) override {
    const int tid = ByteAt(rec.bytes, 0) * 256 + ByteAt(rec.bytes, 1);
    if (lastTid_ >= 0 && tid != NextTid(lastTid_)) return Fail("transaction id not the next one");
    lastTid_ = tid;
    const rig::Exchange& x = exchanges_[form_];
    Frame pdu = x.requests.at(0);
    pdu[0] = static_cast<uint8_t>(unit_);
    if (rec.bytes != Adu(kTcp, tid, pdu)) return Fail("not the form's request (" + x.name + ")");
    if (unit_ == 1) {
      want_.push_back(Exact(Rsp(Adu(kTcp, tid, x.responses.at(0))), Painted{}));
      pending_ = {Outcome::kGood, "", rig::ViewText(x.view), false};
    } else {
      want_.push_back(Exact("Communication Error: Request Timeout"));
      want_.push_back(Exact("Disconnected"));
      pending_ = {Outcome::kTimeout, "dropped", std::nullopt, true};
    }
  }
  void OnOutcome() override {
    if (pending_.outcome == Outcome::kTimeout) {
      link_ = Link::kClosed;
    } else if (++answeredOnConnection_ == closeAfter_) {
      // The slave closes the connection behind this answer; the next poll
      // finds it closed.
      link_ = Link::kPeerClosed;
      ++peerCloses_;
    }
  }
  void Rest(Clock::time_point) override {
    if (formFor_ == requests_) return;
    formFor_ = requests_;
    form_ = Pick(exchanges_.size());
    // The third poll is always dropped, so that every run meets the fault.
    unit_ = (requests_ == 2 || Chance(0.1)) ? 9 : 1;
    SetForm();
  }

 private:
  void SetForm() {
    const rig::Exchange& x = exchanges_[form_];
    p_.SetRequest(x.cmd, x.addr, x.quantityOrValue, x.format, std::to_string(unit_));
  }

  int port_;
  int closeAfter_;
  std::vector<rig::Exchange> exchanges_;
  size_t form_ = 0;
  int unit_ = 1;
  int formFor_ = 0;
  int lastTid_ = -1;
  Link link_ = Link::kClosed;
  int answeredOnConnection_ = 0;
  int peerCloses_ = 0;
};

// Panel "fault peer": a fixed read, answered by the fault peer's script, one
// step per request.
class FaultPeerTracker : public Tracker {
 public:
  FaultPeerTracker(rig::Panel& panel, int port, const std::vector<FaultStep>& script, std::string peerLog)
      : Tracker("fault peer", panel, std::move(peerLog), 0, milliseconds(6000)), port_(port), script_(script) {}

 protected:
  void StartPoll() override {
    PushConnectRows(want_, link_, port_);
    link_ = Link::kOpen;
    want_.push_back(RequestRow());
  }
  void OnRequest(const LogRecord& rec, bool) override {
    const int tid = ByteAt(rec.bytes, 0) * 256 + ByteAt(rec.bytes, 1);
    if (lastTid_ >= 0 && tid != NextTid(lastTid_)) return Fail("transaction id not the next one");
    lastTid_ = tid;
    if (rec.bytes != Adu(kTcp, tid, kFaultPeerPdu)) return Fail("not the form's request");
    const FaultStep& step = script_[std::min(next_, script_.size() - 1)];
    ++next_;
    const std::string label = step.kind == FaultStep::kGood ? "" : FaultStep::Name(step.kind);
    if (!step.Replies()) {
      // No answer in time, whether dropped, late, or the connection gone.
      want_.push_back(Exact("Communication Error: Request Timeout"));
      want_.push_back(Exact("Disconnected"));
      pending_ = {Outcome::kTimeout, label, std::nullopt, true};
      link_ = Link::kClosed;
      return;
    }
    const TcpAnswer a = ExpectTcpAnswer(rec.bytes, step.AnswerTo(rec.bytes));
    want_.insert(want_.end(), a.rows.begin(), a.rows.end());
    pending_ = {a.outcome, label, std::nullopt, a.outcome == Outcome::kTimeout || step.kind == FaultStep::kException};
    if (step.kind == FaultStep::kGarbage) pending_.fault += a.complete ? " taken for a frame" : " timed out";
    // A read of one register with its function code and byte count intact is
    // shown, wrong header fields or not.
    if (a.complete && (step.kind == FaultStep::kGood || step.kind == FaultStep::kWrongHeader))
      pending_.view = "HR 00007: " + std::to_string(step.value);
    if (step.kind == FaultStep::kGood && a.outcome != Outcome::kGood) Fail("a good answer counted as a fault");
    if (step.kind == FaultStep::kWrongHeader && a.outcome != Outcome::kProtocolError && a.outcome != Outcome::kGood)
      Fail("wrong header fields that do not make a protocol error");
    if (!a.complete) link_ = Link::kClosed;
  }

 private:
  int port_;
  const std::vector<FaultStep>& script_;
  size_t next_ = 0;
  int lastTid_ = -1;
  Link link_ = Link::kClosed;
};

// Panel "serial": reads of every table from the RTU slave on a pty; now and
// then a poll for unit 9, which nobody answers; the pty closed with such a
// request in flight or between polls, and made again a little later.
class SerialTracker : public Tracker {
 public:
  SerialTracker(rig::Panel& panel, vesk::test::PtyPair& pair, rig::Peer& slave, Worker& worker, uint32_t seed,
                Clock::time_point closeForcedAfter, Clock::time_point faultsUntil)
      : Tracker("serial", panel, slave.LogPath(), seed, milliseconds(15000)),
        pair_(pair),
        slave_(slave),
        worker_(worker),
        port_(pair.A()),
        exchanges_(rig::ReadExchanges()),
        closeForcedAfter_(closeForcedAfter),
        faultsUntil_(faultsUntil) {
    SetForm();
  }
  void Finish(int runSeconds) override {
    Tracker::Finish(runSeconds);
    std::printf("[ soak     ] %-10s %d port openings after an outage, %d failed polls while the port was gone\n",
                name_.c_str(), reopened_, connectionErrors_);
  }
  int Reopened() const { return reopened_; }

 protected:
  void StartPoll() override {
    if (!open_) {
      want_.push_back(Exact(""));
      want_.push_back(Exact("Open " + port_ + "..."));
      want_.push_back(Exact(port_ + " opened"));
    }
    open_ = true;
    want_.push_back(RequestRow());
  }
  void OnRequest(const LogRecord& rec, bool lastInBatch) override {
    const rig::Exchange& x = exchanges_[form_];
    if (rec.bytes != FormRequest()) return Fail("not the form's request (" + x.name + ")");
    if (unit_ == 1) {
      want_.push_back(Exact(Rsp(rig::WithCrc(x.responses.at(0))), Painted{}));
      pending_ = {Outcome::kGood, "", rig::ViewText(x.view), false};
      return;
    }
    // Nobody answers unit 9: close the pty with the request in flight (it
    // ends with the port), or let it time out.
    if (lastInBatch && CanClose() && !keepOpen_ && (forceClose_ || Chance(0.4))) {
      forceClose_ = false;
      return ClosePty(true);
    }
    want_.push_back(Exact("Communication Error: Request Timeout"));
    want_.push_back(Exact(port_ + " closed"));
    pending_ = {Outcome::kTimeout, "dropped", std::nullopt, true};
  }
  bool TakeSpecial(const LogRecord& rec, const std::string& row) override {
    if (closing_ && requestBeforeClosed_ && rec.kind == LogRecord::Kind::Request) {
      // The pty went between polls, but a poll went out before the port
      // noticed: written to a line nobody reads, it ends with the port.
      requestBeforeClosed_ = false;
      CountRequest(rec, true);
      if (rec.bytes != FormRequest()) Fail("not the form's request");
      return true;
    }
    if (!down_) return false;
    // The port is gone: each poll fails to open it, until it is back on the
    // port list and opens.
    if (downStep_ == 0 && row == "Communication Error: COM ports not found") {
      ++connectionErrors_;
    } else if (downStep_ == 0 && row.empty()) {
      downStep_ = 1;
    } else if (downStep_ == 1 && row == "Open " + port_ + "...") {
      downStep_ = 2;
    } else if (downStep_ == 2 && row.rfind("Communication Error: Failed to open " + port_ + ": ", 0) == 0) {
      ++connectionErrors_;
      downStep_ = 0;
    } else if (downStep_ == 2 && row == port_ + " opened" && restored_) {
      down_ = false;
      restored_ = false;
      open_ = true;
      ++reopened_;
      want_.push_back(RequestRow());
    } else {
      Fail("unexpected row while the port is gone");
    }
    return true;
  }
  void OnOutcome() override {
    if (closing_) {
      closing_ = false;
      requestBeforeClosed_ = false;
      down_ = true;
      downStep_ = 0;
      open_ = false;
      reopenAt_ = Clock::now() + milliseconds(1500 + Pick(2500));
    } else if (pending_.outcome == Outcome::kTimeout) {
      open_ = false;  // the time-out closed the port
    }
  }
  void Rest(Clock::time_point now) override {
    if (formFor_ == requests_) return;
    const bool lastWasGood = pending_.outcome == Outcome::kGood;
    formFor_ = requests_;
    form_ = Pick(exchanges_.size());
    // The second poll goes to unit 9 and the pty closes under it.
    // The fourth one to unit 9 as well, and left to time out.
    if (requests_ == 1) forceClose_ = true;
    keepOpen_ = requests_ == 3;
    unit_ = (forceClose_ || keepOpen_ || Chance(0.12)) ? 9 : 1;
    SetForm();
    // Between polls, after a good answer: the pty goes.
    if (lastWasGood && CanClose() && (Chance(0.04) || (!closedIdle_ && now >= closeForcedAfter_))) {
      closedIdle_ = true;
      ClosePty(false);
    }
  }
  void Tick(Clock::time_point now) override {
    if (!down_ || restored_) return;
    if (!reopening_) {
      if (now < reopenAt_) return;
      // Off the port list until the slave serves the new pty again.
      p_.ports().Set({});
      reopening_ = worker_.Post([&pair = pair_] { return pair.Open(); });
      reopeningSince_ = now;
      return;
    }
    if (worker_.Busy()) return;
    if (!worker_.Result()) return Fail("the pty pair could not be made again");
    if (slave_.WaitReady(3)) {  // (a shorter wait would not read at all)
      p_.ports().Set({port_});
      restored_ = true;
      reopening_ = false;
    } else if (now - reopeningSince_ > seconds(10)) {
      Fail("the RTU slave did not serve the new pty");
    }
  }

 private:
  void SetForm() {
    const rig::Exchange& x = exchanges_[form_];
    p_.SetRequest(x.cmd, x.addr, x.quantityOrValue, x.format, std::to_string(unit_));
  }
  Frame FormRequest() const {
    Frame pdu = exchanges_[form_].requests.at(0);
    pdu[0] = static_cast<uint8_t>(unit_);
    return rig::WithCrc(pdu);
  }
  bool CanClose() const { return !down_ && !closing_ && Clock::now() < faultsUntil_; }
  // Ends the pty pair now (socat stops, the links go). The open port reports
  // it once: one "closed: " row, which ends a request in flight.
  void ClosePty(bool inFlight) {
    closing_ = true;
    requestBeforeClosed_ = !inFlight;
    want_.clear();
    want_.push_back(Head(port_ + " closed: "));
    pending_ = {Outcome::kNone, inFlight ? "pty closed in flight" : "pty closed between polls", std::nullopt, inFlight};
    // The request in flight may or may not have reached the slave.
    if (inFlight) LastSentMayBeMissing();
    pair_.Close();
  }

  vesk::test::PtyPair& pair_;
  rig::Peer& slave_;
  Worker& worker_;
  std::string port_;
  std::vector<rig::Exchange> exchanges_;
  Clock::time_point closeForcedAfter_;
  Clock::time_point faultsUntil_;
  size_t form_ = 0;
  int unit_ = 1;
  int formFor_ = 0;
  bool open_ = false;
  bool forceClose_ = false;
  bool keepOpen_ = false;
  bool closedIdle_ = false;
  bool closing_ = false;
  bool requestBeforeClosed_ = false;
  bool down_ = false;
  int downStep_ = 0;
  bool reopening_ = false;
  bool restored_ = false;
  Clock::time_point reopenAt_;
  Clock::time_point reopeningSince_;
  int reopened_ = 0;
};

// Fills a panel's log to its 1000 entries with rows as long as a usual
// response row. From then on each new entry removes an old one, so the log
// stays level in size, and the memory measured after the first minute is the
// steady state the end of the run is compared with.
void FillLog(rig::Panel& p) {
  for (int i = 0; i < 1000; ++i) p.f().Log("Response <-- 00 01 00 00 00 05 01 03 02 00 07", LogColorInfo);
}

TEST(SoakTest, PanelsKeepPollingThroughInjectedFaults) {
  const int runSeconds = std::max(20, EnvNumber("VESK_SOAK_SECONDS", 150));
  const auto seed =
      static_cast<uint32_t>(EnvNumber("VESK_SOAK_SEED", static_cast<int>(1 + std::random_device{}() % 999999999u)));
  std::printf("[ soak     ] %d s, seed %u (VESK_SOAK_SEED=%u draws the same faults)\n", runSeconds, seed, seed);
  std::fflush(stdout);
  RecordProperty("soak_seed", std::to_string(seed));
  RecordProperty("soak_seconds", runSeconds);
  std::mt19937 rng(seed);

  constexpr int kSlaveCloseAfter = 7;
  constexpr int kFaultPollMs = FaultStep::kDelayMs;
  constexpr int kFaultTimeoutMs = 800;
  rig::Peer slave;
  const int slavePort = slave.StartTcpSlave({"--close-after", std::to_string(kSlaveCloseAfter)});
  ASSERT_GT(slavePort, 0);
  const std::vector<FaultStep> script = DrawScript(rng, static_cast<size_t>(runSeconds) * 1000 / kFaultPollMs + 64);
  std::string scriptText;
  for (const FaultStep& s : script) scriptText += s.Script() + "\n";
  rig::Peer faultPeer;
  const int faultPort = faultPeer.StartFaultPeer(scriptText);
  ASSERT_GT(faultPort, 0);
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  rig::Peer rtuSlave;
  ASSERT_TRUE(rtuSlave.StartSlave({"--rtu", pair.B()}));

  // Time-outs with room for a loaded machine. The fault peer's late answers
  // come 800 ms after its panel's time-out, as its next poll goes out.
  rig::Panel a, b, c;
  a.UseSocket(kTcp, slavePort, "1000");
  a.f().txtPollInterval.SetText("1000");
  b.UseSocket(kTcp, faultPort, std::to_string(kFaultTimeoutMs));
  b.SetRequest(3, "7", "1");
  b.f().txtPollInterval.SetText(std::to_string(kFaultPollMs));
  c.UseSerial(pair.A(), "9600", 0, 0, "2000");
  c.f().txtPollInterval.SetText("1000");
  for (rig::Panel* p : {&a, &b, &c}) FillLog(*p);

  const auto start = Clock::now();
  const auto end = start + seconds(runSeconds);
  // The first minute, or its share of a shorter run.
  const auto baselineAt = start + milliseconds(std::min(60000, runSeconds * 400));
  Worker worker;
  SlaveTracker ta(a, slavePort, kSlaveCloseAfter, slave.LogPath(), rng());
  FaultPeerTracker tb(b, faultPort, script, faultPeer.LogPath());
  // The pty is left alone near the end, so that it is back before polling stops.
  SerialTracker tc(c, pair, rtuSlave, worker, rng(), start + milliseconds(runSeconds * 400),
                   end - milliseconds(std::min(20000, runSeconds * 300)));
  const std::vector<Tracker*> trackers = {&ta, &tb, &tc};
  const auto anyBroken = [&] {
    return std::any_of(trackers.begin(), trackers.end(), [](Tracker* t) { return t->Broken(); });
  };
  for (Tracker* t : trackers) t->StartPolling();

  long baselineKb = -1;
  auto peerLogsReadAt = start;
  const auto turn = [&] {
    const auto now = Clock::now();
    for (Tracker* t : trackers) t->Update(now);
    if (now - peerLogsReadAt >= milliseconds(200)) {
      for (Tracker* t : trackers) t->CheckPeerLog();
      peerLogsReadAt = now;
    }
  };
  testutil::RunUntil(
      [&] {
        turn();
        if (baselineKb < 0 && Clock::now() >= baselineAt) baselineKb = VmRssKb();
        return anyBroken() || Clock::now() >= end;
      },
      (runSeconds + 60) * 1000);
  const long finalKb = VmRssKb();

  // Polling stops; the transactions in flight end and the peers' logs catch up.
  for (Tracker* t : trackers) t->StopPolling();
  const bool settled = testutil::RunUntil(
      [&] {
        turn();
        for (Tracker* t : trackers) t->CheckPeerLog();
        const bool trackersDone = std::all_of(trackers.begin(), trackers.end(), [](Tracker* t) {
          return t->Broken() || (t->Idle() && t->PeerCaughtUp());
        });
        return trackersDone && a.Idle() && b.Idle() && c.Idle();
      },
      8000);
  ASSERT_FALSE(anyBroken());
  EXPECT_TRUE(settled);
  for (Tracker* t : trackers) t->Finish(runSeconds);

  if (runSeconds >= 60) {
    // Every fault met at least once.
    EXPECT_GE(ta.Faults("dropped"), 1);
    EXPECT_GE(ta.PeerCloses(), 1);
    for (int k = FaultStep::kWrongHeader; k < FaultStep::kKinds; ++k)
      EXPECT_GE(tb.Faults(FaultStep::Name(k)), 1) << FaultStep::Name(k);
    EXPECT_GE(tc.Faults("dropped"), 1);
    EXPECT_GE(tc.Faults("pty closed in flight"), 1);
    EXPECT_GE(tc.Faults("pty closed between polls"), 1);
    EXPECT_GE(tc.Reopened(), 2);
  }

  std::printf("[ soak     ] VmRSS %ld kB after %d s, %ld kB at the end\n", baselineKb,
              std::min(60, runSeconds * 4 / 10), finalKb);
  ASSERT_GT(baselineKb, 0);
  EXPECT_LE(finalKb * 10, baselineKb * 11) << "resident memory grew by more than 10 %";
}

}  // namespace
