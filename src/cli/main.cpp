// vesktarvelo-cli: one request (or a series of polls) through the engine on
// the Qt adapters, from a shell. Everything happens on the event loop: the
// session's events end a transaction, a single-shot timer starts the next
// poll, and SIGINT (through a self-pipe) ends the run with its summary.
#include <fcntl.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/device_check.h"
#include "cli/engine_link.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/reporter.h"
#include "engine/session.h"
#include "modbus/requests.h"
#include "presentation/log_record.h"
#include "qt/adapters/qt_serial_port.h"
#include "qt/adapters/qt_system_parts.h"
#include "qt/adapters/qt_tcp_socket.h"
#include "qt/adapters/qt_timer.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSigint(int) {
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

void Write(FILE* stream, std::string_view text) {
  errno = 0;
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
  // The reader has gone (a pipe into head or a script that stopped reading):
  // end as any filter does, by SIGPIPE. The toolkit's socket layer ignores
  // that signal for the whole process, so without this a poll until
  // interrupted would go on for ever, writing into the closed pipe.
  if (errno == EPIPE) {
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
  }
}

class Run {
 public:
  Run(const cli::CliOptions& options, const cli::OutputPlan& plan)
      : options_(options),
        plan_(plan),
        reporter_(
            options, plan, [](std::string_view t) { Write(stdout, t); }, [](std::string_view t) { Write(stderr, t); }),
        clock_(std::make_shared<qt::QtClock>()) {
    engine::LinkParts parts{clock_, std::make_shared<qt::QtTimerFactory>(), nullptr, nullptr};
    if (cli::UsesSerialPort(options)) {
      parts.serial = std::make_shared<qt::QtSerialPort>();
    } else {
      // One requester, whose answer ends in the next request: no need for an
      // extra turn of the event loop between the answer and its handling.
      auto socket = std::make_shared<qt::QtTcpSocket>();
      socket->SetDirectDataEvents(true);
      parts.socket = socket;
    }
    const engine::LinkSettings settings = cli::LinkSettingsOf(options);
    session_ = std::make_unique<engine::Session>(std::move(parts), [settings] { return settings; });
    requester_ = session_->AddRequester([this](const engine::Event& e) { OnEvent(e); });
    next_.setSingleShot(true);
    QObject::connect(&next_, &QTimer::timeout, [this] { Send(); });
  }

  void Start() { Send(); }

  void Interrupt() {
    if (finished_) return;
    Finish(true);
  }

  // Called when the event loop is about to wait: the work kept off the path
  // from an answer to the next request is done now, while that request is
  // on the wire.
  void BeforeWaiting() {
    ReportDeferred();
    if (std::exchange(aheadDue_, false)) QueueAhead();
  }

 private:
  void Send() {
    if (finished_) return;
    transactionId_ = modbus::NextTransactionId(transactionId_);
    pending_ = cli::RequestFrame(options_, transactionId_);
    inFlight_ = true;
    sentAt_ = clock_->Now();
    session_->Submit(requester_, {pending_});
  }

  // Back-to-back polls (--interval 0): the next poll's frame waits in the
  // session while this one is on the wire, so the session sends it the
  // moment the answer is complete, without a turn of the event loop. Not for
  // a device identification, whose next request depends on the answer, nor
  // for a write of two registers with function 6, whose poll takes two. On a
  // serial port the session holds the frame until the line's silence after
  // the answer has passed.
  void QueueAhead() {
    if (finished_ || !inFlight_ || !sent_ || queuedAhead_ || options_.intervalMs != 0) return;
    if (options_.polls != 0 && done_ + 2 > options_.polls) return;
    if (!options_.rawGiven && options_.function == 43) return;
    if (firstWriteRequest_ || cli::SecondWriteRequest(options_)) return;
    idBeforeAhead_ = transactionId_;
    transactionId_ = modbus::NextTransactionId(transactionId_);
    ahead_ = cli::RequestFrame(options_, transactionId_);
    queuedAhead_ = true;
    session_->Submit(requester_, {ahead_});
  }

  // The report of an answer whose successor went on the wire first, written
  // before anything else is, so the output keeps the order of the
  // transactions.
  void ReportDeferred() {
    if (!deferred_) return;
    cli::TransactionRecord r = cli::RecordOfAnswer(options_, deferred_->answer);
    r.requestTime = deferred_->sentAt;
    r.responseTime = deferred_->at;
    deferred_.reset();
    reporter_.Report(r);
  }

  void Row(const std::string& text, bool error) {
    if (!options_.verbose) return;
    ReportDeferred();
    const std::string row = cli::EventRow(clock_->Now(), text, error, plan_.color);
    Write(plan_.trafficToStderr ? stderr : stdout, row);
  }

  // A transaction that ended without an answer.
  void Failed(cli::Outcome outcome, const std::string& error, const Frame& received, bool sent) {
    cli::TransactionRecord r;
    r.requestTime = sentAt_;
    r.responseTime = clock_->Now();
    r.outcome = outcome;
    r.slave = options_.slave;
    r.function = options_.function;
    r.address = options_.address;
    r.error = error;
    if (sent) r.request = pending_;
    r.response = received;
    Done(r);
  }

  void OnEvent(const engine::Event& e) {
    using K = engine::EventKind;
    switch (e.kind) {
      case K::Connecting:
        Row("Connecting to " + e.text + ":" + std::to_string(e.number), false);
        break;
      case K::Connected:
        Row("Connected", false);
        break;
      case K::PortOpened:
        Row("Port " + e.text + " opened", false);
        break;
      case K::PeerClosed:
        // Between polls: the next poll connects again.
        Row(std::string(kSlaveClosedText) + ": " + e.text, false);
        break;
      case K::StaleDropped:
        // Bytes that waited unread (a late answer, or noise) were thrown away
        // before the request went out, as the window's log says.
        Row(DroppedBytesText(e.number), false);
        break;
      case K::RequestSent:
        sentAt_ = clock_->Now();
        sent_ = true;
        // Queued when the loop is about to wait, once this request is out.
        aheadDue_ = true;
        break;
      case K::AnswerComplete: {
        if (queuedAhead_) {
          AnsweredWithNextQueued(e);
          break;
        }
        cli::TransactionRecord r = cli::RecordOfAnswer(options_, e);
        r.requestTime = sentAt_;
        r.responseTime = clock_->Now();
        Done(r);
        break;
      }
      case K::RequestTimeout:
        // A write broadcast to slave 0 gets no answer: its time-out is its end.
        if (options_.slave == 0 && cli::IsWriteOnlyFunction(options_.function) && e.received.empty())
          Failed(cli::Outcome::Ok, "", e.received, true);
        else
          Failed(cli::Outcome::Timeout, "Request Timeout", e.received, true);
        break;
      case K::ConnectTimeout:
        Failed(cli::Outcome::ConnectionFailure, "Connect timeout", {}, false);
        break;
      case K::ConnectionError:
        if (inFlight_) Failed(cli::Outcome::ConnectionFailure, e.text, e.received, sent_);
        break;
      case K::PortRefused:
        Failed(cli::Outcome::ConnectionFailure, "No serial port chosen", {}, false);
        break;
      case K::PortOpenFailed:
        Failed(cli::Outcome::ConnectionFailure, "Failed to open " + e.text + ": " + e.detail, {}, false);
        break;
      case K::PortGone:
        if (inFlight_) Failed(cli::Outcome::ConnectionFailure, e.text + ": " + e.detail, e.received, sent_);
        break;
      default:
        break;
    }
  }

  // An answer while the next poll's frame waits in the session: that frame
  // goes out as soon as this event returns (on a serial port once the line's
  // silence has passed), and this answer's record is made
  // and written afterwards (when the loop is about to wait): its writing
  // takes less than the next answer's coming, so it never holds a request
  // back. A device identification never queues ahead.
  void AnsweredWithNextQueued(const engine::Event& e) {
    if (!inFlight_ || finished_) return;
    ReportDeferred();
    deferred_ = DeferredAnswer{e, sentAt_, clock_->Now()};
    queuedAhead_ = false;
    sent_ = false;
    aheadDue_ = false;
    ++done_;
    if (options_.polls != 0 && done_ >= options_.polls) {
      inFlight_ = false;
      Finish(false);
      return;
    }
    // The queued frame is the poll now in flight.
    std::swap(pending_, ahead_);
  }

  // The end of a transaction without a frame queued behind it, or without an
  // answer: a frame queued ahead is then dropped and the next poll starts
  // afresh.
  void Done(const cli::TransactionRecord& record) {
    if (!inFlight_ || finished_) return;
    inFlight_ = false;
    sent_ = false;
    aheadDue_ = false;
    session_->Withdraw(requester_);
    // A dropped frame never went out: the next poll takes its number.
    if (queuedAhead_) transactionId_ = idBeforeAhead_;
    queuedAhead_ = false;
    ReportDeferred();
    reporter_.Report(record);
    // A device identification that says more follows: the rest is asked for
    // at once, within the same poll.
    if (record.outcome == cli::Outcome::Ok) {
      if (const auto next = cli::NextDeviceObject(options_, record.response)) {
        options_.objectId = *next;
        next_.start(0);
        return;
      }
      // A value of two registers written with function 6: the second
      // register goes out once the first is written.
      if (auto second = cli::SecondWriteRequest(options_)) {
        firstWriteRequest_ = std::exchange(options_, std::move(*second));
        next_.start(0);
        return;
      }
    }
    if (firstWriteRequest_) options_ = std::move(*std::exchange(firstWriteRequest_, std::nullopt));
    options_.objectId = firstObjectId_;
    ++done_;
    if (options_.polls != 0 && done_ >= options_.polls) {
      Finish(false);
      return;
    }
    // On a serial port the session keeps the line's silence after the
    // answer, however short the interval.
    next_.start(static_cast<int>(options_.intervalMs));
  }

  void Finish(bool interrupted) {
    finished_ = true;
    next_.stop();
    ReportDeferred();
    const int status = reporter_.Finish(interrupted);
    session_->EndTransaction();
    session_->Disconnect();
    session_->ClosePort();
    QCoreApplication::exit(status);
  }

  cli::CliOptions options_;
  cli::OutputPlan plan_;
  cli::RunReporter reporter_;
  std::shared_ptr<qt::QtClock> clock_;
  std::unique_ptr<engine::Session> session_;
  engine::RequesterId requester_ = 0;
  QTimer next_;
  Frame pending_;
  Frame ahead_;
  // An answer whose record is still to be made and written.
  struct DeferredAnswer {
    engine::Event answer;
    LocalTime sentAt;
    LocalTime at;
  };
  std::optional<DeferredAnswer> deferred_;
  bool aheadDue_ = false;  // a request went out: queue the next poll's frame before waiting
  bool queuedAhead_ = false;
  int idBeforeAhead_ = 0;
  LocalTime sentAt_{};
  int transactionId_ = 0;
  uint8_t firstObjectId_ = options_.objectId;
  // The options of a poll whose second write request is under way.
  std::optional<cli::CliOptions> firstWriteRequest_;
  uint32_t done_ = 0;
  bool inFlight_ = false;
  bool sent_ = false;
  bool finished_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const cli::CliParse parse = cli::ParseCliOptions(args);
  switch (parse.action) {
    case cli::CliAction::Help:
      Write(stdout, cli::CliUsage());
      return 0;
    case cli::CliAction::Version:
      Write(stdout, cli::CliVersion());
      return 0;
    case cli::CliAction::UsageError:
      Write(stderr, parse.error + "\n");
      return cli::kExitUsage;
    case cli::CliAction::Run:
      break;
  }
  const cli::CliOptions& options = parse.options;
  if (auto why = cli::UnsupportedReason(options)) {
    Write(stderr, *why + "\n");
    return cli::kExitUsage;
  }
  if (cli::UsesSerialPort(options)) {
    if (auto why = cli::CheckSerialDevice(options.device)) {
      Write(stderr, *why + "\n");
      return cli::kExitUsage;
    }
  }

  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  const cli::OutputPlan plan =
      cli::PlanOutput(options, ::isatty(1) != 0, ::isatty(2) != 0, noColor != nullptr && *noColor != '\0',
                      term != nullptr && std::string_view(term) == "dumb");

  // The toolkit's own event loop rather than GLib's: it needs no wake-up
  // write each time a socket notifier is switched, two a request.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    Write(stderr, "vesktarvelo-cli: cannot set up the interrupt handler\n");
    return 1;
  }
  Run run(options, plan);
  QSocketNotifier interrupt(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&interrupt, &QSocketNotifier::activated, [&run] {
    char c;
    while (::read(g_signalPipe[0], &c, 1) > 0) {
    }
    run.Interrupt();
  });
  struct sigaction action {};
  action.sa_handler = OnSigint;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  const QMetaObject::Connection beforeWaiting = QObject::connect(
      QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, [&run] { run.BeforeWaiting(); });
  QTimer::singleShot(0, [&run] { run.Start(); });
  const int status = app.exec();
  QObject::disconnect(beforeWaiting);
  return status;
}
