#include "engine/watch_runner.h"

#include <algorithm>
#include <utility>

#include "modbus/requests.h"

namespace engine {

namespace {
constexpr int kLostCheckMs = 250;
// Link events after which a transaction that is not awaited any more will
// never get its answer.
bool IsLinkFailure(EventKind kind) {
  switch (kind) {
    case EventKind::ConnectTimeout:
    case EventKind::ConnectionError:
    case EventKind::PortRefused:
    case EventKind::PortOpenFailed:
    case EventKind::PortGone:
      return true;
    default:
      return false;
  }
}
}  // namespace

WatchRunner::WatchRunner(Session& session, std::shared_ptr<platform::Clock> clock,
                         std::unique_ptr<platform::Timer> timer, std::function<modbus::Mode()> mode,
                         Session::Sink forward, std::string decimalSeparator)
    : session_(session),
      clock_(std::move(clock)),
      timer_(std::move(timer)),
      mode_(std::move(mode)),
      forward_(std::move(forward)),
      model_(std::move(decimalSeparator)) {
  // The session cannot forget a requester: the sink checks that the runner
  // still exists before it touches it.
  auto alive = std::make_shared<WatchRunner*>(this);
  alive_ = alive;
  requester_ = session_.AddRequester([alive](const Event& e) {
    if (*alive) (*alive)->OnEvent(e);
  });
  timer_->SetEnabled(false);
  timer_->SetHandler([this] {
    timer_->SetEnabled(false);
    CheckLost();
    Pump();
  });
}

WatchRunner::~WatchRunner() {
  *alive_ = nullptr;
  timer_->SetEnabled(false);
  session_.Withdraw(requester_);
}

int64_t WatchRunner::Now() const { return clock_->MonotonicMs(); }

WatchBlockId WatchRunner::Add(const WatchBlockConfig& config) {
  const WatchBlockId id = model_.Add(config);
  if (id == 0) return 0;
  scheduler_.Add(id, config.intervalMs, config.paused, Now());
  Later();
  return id;
}

bool WatchRunner::Edit(WatchBlockId id, const WatchBlockConfig& config) {
  if (!model_.Edit(id, config)) return false;
  scheduler_.SetInterval(id, config.intervalMs);
  scheduler_.SetPaused(id, config.paused, Now());
  Later();
  return true;
}

bool WatchRunner::Remove(WatchBlockId id) {
  if (!model_.Remove(id)) return false;
  scheduler_.Remove(id);
  // An answer still awaited for it is taken and dropped when it comes.
  Later();
  return true;
}

bool WatchRunner::SetPaused(WatchBlockId id, bool paused) {
  if (!model_.SetPaused(id, paused)) return false;
  scheduler_.SetPaused(id, paused, Now());
  Later();
  return true;
}

bool WatchRunner::Move(WatchBlockId id, size_t position) {
  if (!model_.Move(id, position)) return false;
  scheduler_.Move(id, position);
  return true;
}

void WatchRunner::Clear() {
  std::vector<WatchBlockId> ids;
  for (const WatchBlock& b : model_.Blocks()) ids.push_back(b.id);
  for (WatchBlockId id : ids) Remove(id);
}

void WatchRunner::Start() {
  running_ = true;
  Later();
}

void WatchRunner::Later() {
  timer_->SetInterval(1);
  timer_->SetEnabled(true);
}

void WatchRunner::CheckLost() {
  if (!out_) return;
  const bool linkFailed = std::exchange(linkFailed_, false);
  if (session_.AwaitingResponse() && session_.Current() == requester_) return;
  if (linkFailed) {
    // Nothing brings the link back for a frame left waiting: the next turn does.
    session_.Withdraw(requester_);
  } else if (!session_.Queued(requester_).empty()) {
    return;
  }
  Finish(WatchOutcome::ConnectionError, nullptr);
}

void WatchRunner::Stop() {
  running_ = false;
  timer_->SetEnabled(false);
}

void WatchRunner::Pump() {
  if (pumping_) return;
  pumping_ = true;
  timer_->SetEnabled(false);
  const int64_t now = Now();
  // One transaction of the list at a time; another requester's request in
  // flight holds the list back too.
  if (running_ && !out_ && !session_.AwaitingResponse()) {
    if (const auto next = scheduler_.Next(now); next && *next != WatchScheduler::kPanelSend) {
      const WatchBlock* b = model_.Find(*next);
      if (b && scheduler_.Started(*next, now)) {
        out_ = *next;
        outRevision_ = b->revision;
        outSent_ = false;
        transactionId_ = (transactionId_ + 1) & 0xFFFF;
        session_.Submit(requester_, {modbus::ReadRequest(mode_(), b->config.slave, b->config.function,
                                                         b->config.address, b->config.quantity, transactionId_)});
      }
    }
  }
  if (out_) {
    // Looks now and then whether the session still holds the transaction
    // (one ended by the operator closing the link reports nothing).
    timer_->SetInterval(kLostCheckMs);
    timer_->SetEnabled(true);
  } else if (running_) {
    if (const auto wake = scheduler_.NextWakeUp(now)) {
      // Something due now waits for the link: look again soon.
      const int64_t wait = *wake > now ? *wake - now : 10;
      timer_->SetInterval(static_cast<int>(wait > 65535 ? 65535 : wait));
      timer_->SetEnabled(true);
    }
  }
  pumping_ = false;
}

void WatchRunner::Finish(WatchOutcome outcome, const Event* e) {
  if (!out_) return;
  const WatchBlockId id = *out_;
  const int64_t now = Now();
  out_.reset();
  outSent_ = false;
  if (outcome == WatchOutcome::Good && e) {
    // The data are the bytes the byte count announces: the CRC or LRC after
    // them is never a value, even when the count falls short of the read.
    const size_t first = static_cast<size_t>(e->number) + 3;
    const size_t end = std::min(e->answer.size(), first + ByteAt(e->answer, e->number + 2));
    std::vector<uint8_t> data;
    if (end > first)
      data.assign(e->answer.begin() + static_cast<std::ptrdiff_t>(first),
                  e->answer.begin() + static_cast<std::ptrdiff_t>(end));
    if (!model_.FeedGood(id, outRevision_, now, e->responseMs, data)) outcome = WatchOutcome::ProtocolError;
  } else {
    std::optional<int64_t> responseMs;
    uint8_t exception = 0;
    if (e && e->kind == EventKind::AnswerComplete) {
      responseMs = e->responseMs;
      exception = e->exception.value_or(0);
    }
    model_.FeedFailure(id, outRevision_, now, outcome, responseMs, exception);
  }
  scheduler_.Finished(id, now, outcome);
  if (onFinished) onFinished(id);
}

void WatchRunner::OnEvent(const Event& e) {
  if (e.requester == requester_) {
    if (e.kind == EventKind::RequestSent) {
      outSent_ = true;
    } else if (e.kind == EventKind::AnswerComplete) {
      WatchOutcome outcome = WatchOutcome::Good;
      if (!e.faults.empty())
        outcome = WatchOutcome::ProtocolError;
      else if (e.exception)
        outcome = WatchOutcome::Exception;
      Finish(outcome, &e);
    } else if (e.kind == EventKind::RequestTimeout) {
      Finish(WatchOutcome::Timeout, &e);
    }
    if (forward_) forward_(e);
  } else if (e.kind == EventKind::RequestSent && out_ && outSent_) {
    // Another requester's frame on the wire while ours is out.
    ++overlaps_;
  }
  // The session changes its state after it reports: whether a transaction
  // was lost with the link, or dropped with another's time-out, is looked
  // at once the session is done.
  if (out_ && (IsLinkFailure(e.kind) || e.kind == EventKind::RequestTimeout)) {
    linkFailed_ = linkFailed_ || IsLinkFailure(e.kind);
  }
  // Never submit from inside the session's report: it may be about to send.
  Later();
}

}  // namespace engine
