#pragma once
// Shared parts of the benchmarks that run the panel on the real Qt platform
// against the libmodbus test slave: a private settings folder, a bounded
// event-loop wait, the panel set up for one transport, a counter of answers
// and errors seen in the log, and a few small statistics.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "panel/frmMain.h"

namespace bench {

// Points XDG_CONFIG_HOME at a temporary folder, so that the panel's settings
// never touch the user's. Make it before the application object.
class PrivateConfig {
 public:
  PrivateConfig() {
    if (dir_.isValid()) qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
  }
  bool Valid() const { return dir_.isValid(); }

 private:
  QTemporaryDir dir_;
};

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns
// whether `done` holds. A 5 ms wake-up bounds each wait for events.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  QTimer wake;
  wake.start(5);
  while (!done()) {
    if (clock.elapsed() >= timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Only the given ports, in this order: pseudo-terminal paths of a benchmark.
class FixedPortList : public platform::PortList {
 public:
  explicit FixedPortList(std::vector<std::string> names) : names_(std::move(names)) {}
  std::vector<platform::PortInfo> Ports() override {
    std::vector<platform::PortInfo> ports;
    for (const std::string& n : names_) ports.push_back(platform::PortInfo{n, "", "", "", {}, {}});
    return ports;
  }

 private:
  std::vector<std::string> names_;
};

// Counts, from the log pane's changes, the response rows and the error rows
// the panel wrote. Headless only: the window uses the same observer.
struct LogCounter {
  long responses = 0;
  long errors = 0;
  std::string lastError;
  // Called on each request row, as the transaction starts.
  std::function<void()> onRequest;
  void Attach(frmMain& f) {
    f.txtLog.SetChangeObserver([this](const RichTextField::Change& c) {
      if (c.kind != RichTextField::Change::Append) return;
      if (c.color == LogColorError) {
        ++errors;
        lastError = c.text;
      } else if (c.text.find("Response <-- ") != std::string::npos) {
        ++responses;
      } else if (onRequest && c.text.find("Request  --> ") != std::string::npos) {
        onRequest();
      }
    });
  }
  void Reset() {
    responses = 0;
    errors = 0;
    lastError.clear();
  }
};

// The request every transaction benchmark sends: read 10 holding registers
// from address 0 of slave 1.
constexpr int kReadAddress = 0;
constexpr int kReadCount = 10;

inline void SetupRequest(frmMain& f) {
  f.optFORM.SetValue(true);
  f.txtUnitID.SetText("1");
  SetComboIndexByText(f.cmbCmd, "03 Read HR");
  f.txtAddr.SetText(std::to_string(kReadAddress));
  f.txtQuantity.SetText(std::to_string(kReadCount));
  SetComboIndexByText(f.cmbFormat, "INT16");
}

// mode 1: TCP, mode 2: RTU-OVER-TCP.
inline void SetupSocket(frmMain& f, int mode, int port) {
  f.cmbMode.SetListIndex(mode);
  f.txtTcpHost.SetText("127.0.0.1");
  f.txtTcpPort.SetText(std::to_string(port));
  f.txtTcpTimeout.SetText("2000");
  SetupRequest(f);
}

// RTU on the first port of the panel's list (a pseudo-terminal).
inline void SetupSerial(frmMain& f, const std::string& device, const std::string& baud) {
  f.cmbMode.SetListIndex(0);
  f.RefreshComPorts();
  SetComboIndexByText(f.cmbRtuPort, device);
  SetComboIndexByText(f.cmbRtuSpeed, baud);
  SetComboIndexByText(f.cmbRtuParity, "None");
  f.cmbRtuStopBit.SetListIndex(0);
  f.txtRtuTimeout.SetText("2000");
  SetupRequest(f);
}

// Connects the panel's socket (modes 1 and 2) and waits until the panel has
// handled the connect event (its "Connected" row): the socket's state turns
// connected before that event is delivered, and a frame sent in between
// would be followed by a second one from the connect handler.
inline bool Connect(frmMain& f) {
  f.cmdTcpConnect_Click();
  return RunUntil(
      [&] {
        return f.ws->State() == platform::TcpSocket::kConnected && !f.LogRecords().empty() &&
               f.LogRecords().back().message == "Connected";
      },
      5000);
}

// Runs n transactions: frames composed from the panel's form are queued,
// `batch` at a time, and the first of each batch is sent on the transport of
// the mode; each answer sends the next. (Batches keep the list short: taking
// the first frame moves the rest of the list.) Runs the event loop until the
// list is done; returns the seconds taken, or a negative number when it did
// not finish in time.
inline double RunQueued(frmMain& f, long n, long batch, int timeoutMs) {
  QElapsedTimer deadline;
  deadline.start();
  double seconds = 0;
  for (long sent = 0; sent < n;) {
    const long k = std::min(batch, n - sent);
    f.ResetRequests();
    for (long i = 0; i < k; ++i) f.GetBytesOfForm();
    const auto t0 = std::chrono::steady_clock::now();
    if (f.Mode != 0) {
      f.SendTcpRequest();
    } else {
      f.SendRtuRequest();
    }
    const int left = std::max<int>(1, timeoutMs - static_cast<int>(deadline.elapsed()));
    if (!RunUntil([&] { return f.Requests.empty() && !f.AwaitingResponse; }, left)) return -1.0;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    sent += k;
  }
  return seconds;
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

inline double Mean(const std::vector<double>& v) {
  return v.empty() ? 0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

// Thousands separated by commas: 12,345.
inline std::string Grouped(double x) {
  const long long n = static_cast<long long>(x + 0.5);
  std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace bench
