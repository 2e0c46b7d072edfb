// A soak (VESK_SOAK_SECONDS, 150 by default; VESK_SOAK_SEED repeats a run's printed seed): panels poll the fault peer
// (a random script) over TCP, the libmodbus RTU slave on a pty (unit 9 now and then: no answer; the pty closed and
// made again) and a fault peer on a second pty (answers 700 ms late, dropped when the port opens again).
// Each request's rows must be its fault's rows, each good answer is shown, polling never stalls or has two requests
// in flight, and VmRSS at the end is at most 10 % above its value once every log pane is full.
#include <malloc.h>

#include <chrono>
#include <fstream>
#include <future>
#include <numeric>
#include <random>

#include "panel_rig.h"

namespace {

using namespace rig;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int EnvNumber(const char* name, int fallback) {
  const long v = std::getenv(name) ? std::strtol(std::getenv(name), nullptr, 10) : 0;
  return v > 0 && v < 1000000000 ? static_cast<int>(v) : fallback;
}

// Resident memory in use: the allocator first gives back what it holds free, so the figure does
// not move with how the transient megabytes of a flood happened to cut up the heap.
long VmRssKb() {
  malloc_trim(0);
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// What a request must meet: a good answer (its rows, then its view), a fault's exact rows, garbage
// (a response row of its first bytes or none, then error rows only), or no answer in time.
struct Expect {
  // kClosed: the slave closed or reset the connection while the answer was awaited.
  enum Kind { kGood, kRows, kGarbage, kTimeout, kClosed } kind = kGood;
  std::string label{}, view{};  // label: the fault, or "" for the good answers of the slaves
  Rows rows{};
  Frame garbage{};
};

Expect Good(const std::string& view, const Frame& answer) { return {Expect::kGood, "", view, {Rsp(answer)}}; }

// Follows one polling panel, request by request, through its log entries.
class Tracker {
 public:
  // `links`: the connect or open rows, the last one of a new connection; `gone`: a serial port.
  Tracker(std::string name, Panel& p, int stallMs, Rows links, std::function<Expect(const Frame&)> expect,
          const std::string& gone = "")
      : name_(std::move(name)), p_(p), stall_(stallMs), links_(std::move(links)), expect_(std::move(expect)) {
    next_ = p.f().LogRecords().back().start + 1;
    if (!gone.empty()) closedHead_ = gone + " closed: ", failHead_ = "Communication Error: Failed to open " + gone;
  }
  void Start() { p_.f().cmdAuto1_MouseDown(), polling_ = true, last_ = Clock::now(); }
  bool LogFull() const { return p_.f().LogRecords().size() >= 1000; }
  void Stop() { p_.f().cmdAuto0_MouseDown(), polling_ = false; }

  // Takes in the entries logged since the last call (between the event loop's handlers).
  void Update(Clock::time_point now) {
    const auto& recs = p_.f().LogRecords();
    if (recs.front().start > next_) Fail("log entries dropped before they were read");
    bool viewDue = false;
    for (auto it = std::partition_point(recs.begin(), recs.end(), [&](const LogRecord& r) { return r.start < next_; });
         it != recs.end(); ++it) {
      next_ = it->start + 1;
      viewDue = false;
      if (it->kind == LogRecord::Kind::Request) {
        if (started_) Close(true);
        started_ = true, ++requests, last_ = now, rows_.clear();
        cur_ = expect_(it->bytes);
      } else if (started_) {
        rows_.push_back(it->kind == LogRecord::Kind::Response ? Rsp(it->bytes)
                        : it->errorClass.empty()              ? it->message
                                                              : it->errorClass + ": " + it->message);
        viewDue = cur_.kind == Expect::kGood && it->kind == LogRecord::Kind::Response;
      }
    }
    if (viewDue) {  // an answer shown at once (one of two answers in a turn goes unchecked)
      ++viewsChecked_;
      if (p_.f().txtResponse.Text() != cur_.view || !p_.f().txtResponse.Enabled())
        Fail("the view shows \"" + p_.f().txtResponse.Text() + "\" for \"" + cur_.view + "\"");
    }
    if (polling_ && (!p_.f().AutoPolling || now - last_ > milliseconds(stall_))) Fail("polling stopped");
  }
  int Count(const std::string& label) const { return outcomes_.count(label) ? outcomes_.at(label) : 0; }
  void Finish() {
    SCOPED_TRACE(name_);
    if (started_) Close(false);
    EXPECT_EQ(p_.f().Stats.sent, static_cast<uint64_t>(requests));
    EXPECT_EQ(p_.f().Stats.answers, static_cast<uint64_t>(good_));
    EXPECT_GE(viewsChecked_ * 10, good_ * 9);
  }
  bool broken = false;
  int requests = 0;

 private:
  void Fail(const std::string& why) {
    if (!broken) ADD_FAILURE() << name_ << " request " << requests << ": " << why;
    broken = true;
  }
  // The outcome of the current request: its rows without the connect or open rows.
  void Close(bool hasNext) {
    Rows out;
    bool relinked = false;
    for (const std::string& r : rows_) {
      relinked |= r == links_.back();
      // Bytes left on the link by a late answer or a flood, dropped before the request.
      if (r.rfind("Dropped ", 0) == 0 && r.find(" unread byte") != std::string::npos) {
        ++outcomes_["unread bytes dropped"];
        continue;
      }
      if (std::find(links_.begin(), links_.end(), r) == links_.end()) out.push_back(r);
    }
    const auto gone = std::find_if(out.begin(), out.end(), [&](auto& r) { return r.rfind(closedHead_, 0) == 0; });
    const bool closed = !closedHead_.empty() && gone != out.end();
    if (closed) {  // the pty went: its row with a reason, then only polls that fail to open it
      if (gone->size() == closedHead_.size()) Fail("no reason in " + *gone);
      for (auto r = gone + 1; r != out.end(); ++r)
        if (r->rfind(failHead_, 0) != 0 && *r != "Communication Error: COM ports not found")
          Fail("while the port is gone: " + *r);
      out.erase(gone, out.end());
      ++outcomes_[out.empty() ? "pty closed in flight" : "pty closed between polls"];
      if (out.empty()) return;  // the request ended with the port
    }
    const Rows want = cur_.kind == Expect::kTimeout ? Rows{kTimedOut} : cur_.rows;
    bool ok = out == want, closes = cur_.kind == Expect::kTimeout;
    if (cur_.kind == Expect::kGarbage) {
      const size_t first = !out.empty() && out[0].rfind("Response", 0) == 0 ? 1 : 0;
      // A flood's row shows its first bytes only (any of them).
      ok = first < out.size() &&
           (first == 0 || cur_.garbage.empty() || (Rsp(cur_.garbage) + " ").rfind(out[0] + " ", 0) == 0);
      for (size_t i = first; i < out.size(); ++i)  // error rows only
        ok &= std::regex_search(out[i], std::regex("^(Protocol Error|Modbus Exception|" + kTimedOut + ")")),
            closes |= out[i] == kTimedOut;
    }
    if (cur_.kind == Expect::kClosed) {
      ok = out.size() == 1 && out[0].rfind("Communication Error: Slave closed the connection: ", 0) == 0;
      closes = true;
    }
    if (!ok) Fail(cur_.label + ": got " + testing::PrintToString(out) + ", expected " + testing::PrintToString(want));
    if (hasNext && relinked != (closes || closed)) Fail(relinked ? "connected again without cause" : "not again");
    ++outcomes_[cur_.label];
    good_ += cur_.kind == Expect::kGood ? 1 : 0;
  }

  std::string name_;
  Panel& p_;
  int stall_;
  Rows links_;
  std::function<Expect(const Frame&)> expect_;
  std::string closedHead_, failHead_;
  size_t next_ = 0;
  bool started_ = false, polling_ = false;
  Clock::time_point last_;
  Expect cur_;
  Rows rows_;
  std::map<std::string, int> outcomes_;
  int good_ = 0, viewsChecked_ = 0;
};

// A step of the fault peer's script: -1 a good answer of a random value, 0..6 the faults of
// kTcpFaults (labelled by their step), 7 garbage, 8..9 no answer in time, 10..11 the connection
// closed or reset while the answer is awaited, 12 a flood of 2 MB of random bytes.
std::pair<std::string, Expect> Draw(int kind, std::mt19937& rng) {
  static const char* const kLost[][2] = {
      {"drop", "dropped"}, {"delay 1600 echo", "delayed"}, {"reset", "reset"}, {"close", "closed"}};
  Frame bytes(kind == 7 ? 1 + rng() % 32 : 2);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  std::string hex = Hex(bytes);  // in lower case: "FC" would be a placeholder
  std::transform(hex.begin(), hex.end(), hex.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  if (kind < 0)
    return {"reply TID 00 00 LEN UID FC 02 " + hex,
            {Expect::kGood, "", std::to_string(static_cast<int16_t>(bytes[0] << 8 | bytes[1]))}};
  const Fault& f = kTcpFaults[std::min(kind, 6)];  // its error row kept in `rows`
  if (kind < 7) return {f.step, {*f.error ? Expect::kRows : Expect::kGood, f.step, "7", {f.error}}};
  if (kind == 7) return {"reply " + hex, {Expect::kGarbage, "garbage"}};
  if (kind == 12) return {"flood 2", {Expect::kGarbage, "flood"}};
  return {kLost[kind - 8][0], {kind < 10 ? Expect::kTimeout : Expect::kClosed, kLost[kind - 8][1]}};
}

TEST(SoakTest, PanelsKeepPollingThroughInjectedFaults) {
  const int seconds = std::max(30, EnvNumber("VESK_SOAK_SECONDS", 150));
  const auto seed = static_cast<uint32_t>(EnvNumber("VESK_SOAK_SEED", 1 + std::random_device{}() % 999999999));
  std::printf("[ soak     ] %d s, seed %u (VESK_SOAK_SEED=%u draws the same faults)\n", seconds, seed, seed);
  std::fflush(stdout);
  std::mt19937 rng(seed);
  const auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };

  // Each fault early (script steps of every kind, unit 9, a pty closure), then at random.
  std::vector<int> kinds(13);
  std::iota(kinds.begin(), kinds.end(), 0);
  std::shuffle(kinds.begin(), kinds.end(), rng);
  std::discrete_distribution<int> pick({50, 3, 3, 3, 3, 3, 3, 3, 10, 5, 5, 5, 5, 3});
  std::vector<std::pair<std::string, Expect>> script;
  std::string scriptText;
  for (size_t i = 0; i < static_cast<size_t>(seconds) + 64; ++i) {
    script.push_back(Draw(i < kinds.size() ? kinds[i] : pick(rng) - 1, rng));
    scriptText += script.back().first + "\n";
  }

  // The late serial slave: every fifth answer (the first among them) 700 ms late.
  std::string lateScript;
  for (int i = 0; i < seconds + 64; ++i)
    lateScript += i % 5 == 0 ? "delay 700 reply 01 03 02 00 05 CRC\n" : "reply 01 03 02 00 07 CRC\n";

  Peer faultPeer, rtuSlave, latePeer;
  vesk::test::PtyPair pair, latePair;
  const int faultPort = faultPeer.FaultPeer(scriptText);
  ASSERT_TRUE(faultPort > 0 && pair.Open() && rtuSlave.Slave({"--rtu", pair.B()}));
  ASSERT_TRUE(latePair.Open() && latePeer.FaultDevice(latePair.B(), lateScript));
  const std::string port = pair.A(), latePort = latePair.A();
  Panel b, c, d;
  b.UseSocket(kTcp, faultPort, "800");
  b.SetRequest(3, "0", "1");
  b.f().txtPollInterval.SetText("1600");
  c.UseSerial(port, "2000");
  c.SetRequest(3, "0", "3");
  d.UseSerial(latePort, "500");
  d.SetRequest(3, "0", "1");
  for (Panel* p : {&b, &c, &d})
    for (int i = 0; i < 1000; ++i) p->f().Log("Response <-- 00 01 00 00 00 05 01 03 02 00 07");

  const auto tidOf = [](const Frame& r) { return r.size() > 1 ? r[0] << 8 | r[1] : -1; };
  const Expect unknown{Expect::kRows, "a request the form does not make", "", {"-"}};
  size_t step = 0;
  Tracker tb("fault peer", b, 6000, Cat({"Disconnected"}, Connect(faultPort)), [&](const Frame& r) {
    const auto& [line, e] = script[std::min(step++, script.size() - 1)];
    const std::string error = e.rows.empty() ? "" : e.rows[0];
    const Expect x{e.kind, e.label, "HR 00000: " + e.view, FaultRows(line, error, tidOf(r)), Sent(line, tidOf(r))};
    return r == Adu(kTcp, tidOf(r), {1, 3, 0, 0, 0, 1}) ? x : unknown;
  });
  Tracker tc(
      "serial", c, 15000, Rows{"", "Open " + port + "...", port + " closed", port + " opened"},
      [&](const Frame& r) {
        if (r == WithCrc({1, 3, 0, 0, 0, 3}))
          return Good("HR 00000: 0\r\nHR 00001: 1\r\nHR 00002: 2", WithCrc({1, 3, 6, 0, 0, 0, 1, 0, 2}));
        return r == WithCrc({9, 3, 0, 0, 0, 3}) ? Expect{Expect::kTimeout, "dropped"} : unknown;
      },
      port);
  size_t lateStep = 0;
  Tracker td(
      "late", d, 6000, Rows{"", "Open " + latePort + "...", latePort + " closed", latePort + " opened"},
      [&](const Frame& r) {
        if (r != WithCrc({1, 3, 0, 0, 0, 1})) return unknown;
        return lateStep++ % 5 == 0 ? Expect{Expect::kTimeout, "late"} : Good("HR 00000: 7", WithCrc({1, 3, 2, 0, 7}));
      });
  Tracker* const trackers[] = {&tb, &tc, &td};

  const auto start = Clock::now(), end = start + std::chrono::seconds(seconds);
  const auto faultsUntil = end - milliseconds(std::min(20000, seconds * 300));
  const auto idleCloseAt = start + milliseconds(seconds * 300);
  const auto baselineAt = start + milliseconds(std::min(60000, seconds * 400));
  int formFor = -1, closures = 0;
  bool closeInFlight = false, idleClosed = false, down = false, waitSlave = false;
  Clock::time_point reopenAt;
  std::future<bool> reopening;
  const auto closePty = [&] {
    pair.Close();
    c.ports->paths.clear();
    down = true, closeInFlight = false, ++closures;
    reopenAt = Clock::now() + milliseconds(1500 + rng() % 1500);
  };
  const auto injectFaults = [&](Clock::time_point now) {
    if (down) {
      if (!reopening.valid() && !waitSlave && now >= reopenAt)
        reopening = std::async(std::launch::async, [&] { return pair.Open(); });
      if (reopening.valid() && reopening.wait_for(milliseconds(0)) == std::future_status::ready) {
        EXPECT_TRUE(reopening.get()) << "the pty pair could not be made again";
        waitSlave = true;
      }
      if (waitSlave && rtuSlave.WaitReady(3)) c.ports->paths = {port}, down = waitSlave = false;
    } else if (c.f().AwaitingResponse) {
      if (closeInFlight && tc.requests == formFor + 1) closePty();
    } else if (formFor != tc.requests) {
      const bool faults = now < faultsUntil;
      formFor = tc.requests;
      const bool drop = tc.requests == 1 || tc.requests == 3 || (faults && chance(0.12));
      closeInFlight = drop && faults && tc.requests != 3 && (tc.requests == 1 || chance(0.4));
      c.f().txtUnitID.SetText(drop ? "9" : "1");
      if (faults && !closeInFlight && c.f().comm1->IsOpen() && (chance(0.04) || (!idleClosed && now >= idleCloseAt)))
        idleClosed = true, closePty();
    }
  };
  const auto turn = [&] {
    const auto now = Clock::now();
    for (Tracker* t : trackers) t->Update(now);
    injectFaults(now);
    return std::any_of(std::begin(trackers), std::end(trackers), [](Tracker* t) { return t->broken; });
  };

  for (Tracker* t : trackers) t->Start();
  long baselineKb = -1;
  // The panes fill up to their entry bound at their own pace: the baseline is taken once every pane is full (after
  // a minute at the earliest), and no later than 30 s before the end.
  const auto logsFull = [&] {
    return std::all_of(std::begin(trackers), std::end(trackers), [](Tracker* t) { return t->LogFull(); });
  };
  const auto baselineLatest = std::max(baselineAt, end - std::chrono::seconds(30));
  RunUntil(
      [&] {
        const auto now = Clock::now();
        if (baselineKb < 0 && now >= baselineAt && (logsFull() || now >= baselineLatest)) baselineKb = VmRssKb();
        return turn() || Clock::now() >= end;
      },
      (seconds + 60) * 1000);
  [[maybe_unused]] const long finalKb = VmRssKb();
  for (Tracker* t : trackers) t->Stop();
  EXPECT_TRUE(RunUntil([&] { return turn() || (b.Idle() && c.Idle() && d.Idle() && !down); }, 10000));
  for (Tracker* t : trackers) t->Finish();

  EXPECT_GE(td.Count("late") * td.Count("unread bytes dropped"), 1);
  for (int k = 0; k < 13; ++k) EXPECT_GE(tb.Count(Draw(k, rng).second.label), 1) << "never met: " << Draw(k, rng).first;
  EXPECT_GE(tc.Count("dropped"), 1);
  EXPECT_GE(tc.Count("pty closed in flight") * tc.Count("pty closed between polls"), 1);
  EXPECT_EQ(tc.Count("pty closed in flight") + tc.Count("pty closed between polls"), closures);
  ASSERT_GT(baselineKb, 0);
#if !defined(__SANITIZE_ADDRESS__)  // its quarantine holds freed memory; its leak check at exit stands in
  EXPECT_LE(finalKb * 10, baselineKb * 11)
      << "VmRSS " << baselineKb << " kB once the logs were full, " << finalKb << " kB at the end";
#endif
}

}  // namespace
