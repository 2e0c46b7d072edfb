// A session: one link, its requesters in turn, time-outs and statistics.
#include "engine/session.h"

#include <algorithm>
#include <utility>

#include "common/module1.h"

namespace engine {

using platform::TcpSocket;

namespace {
constexpr int32_t kMaxTimerMs = 65535;

Event MakeEvent(EventKind kind, RequesterId requester = 0) {
  Event e;
  e.kind = kind;
  e.requester = requester;
  return e;
}
}  // namespace

int32_t LineSilenceMs(const platform::SerialSettings& line) {
  if (line.baud > 19200 || line.baud <= 0) return 2;
  const int64_t bits = 1 + line.dataBits + (line.parity == 'n' ? 0 : 1) + line.stopBits;
  // 3.5 characters of `bits` bits: 3500 * bits / baud ms, rounded up.
  return static_cast<int32_t>((3500 * bits + line.baud - 1) / line.baud);
}

Session::Session(LinkParts parts, std::function<LinkSettings()> settings)
    : parts_(std::move(parts)), settings_(std::move(settings)) {
  connectTimer_ = parts_.timers->CreateTimer();
  requestTimer_ = parts_.timers->CreateTimer();
  connectTimer_->SetHandler([this] { OnConnectTimeout(); });
  requestTimer_->SetHandler([this] { OnRequestTimeout(); });
  if (parts_.serial)
    parts_.serial->SetHandlers([this] { OnSerialData(); }, [this](const std::string& why) { OnPortGone(why); });
  if (parts_.socket)
    parts_.socket->SetHandlers([this] { OnConnected(); }, [this] { OnSocketData(); },
                               [this](int number, const std::string& text) { OnSocketError(number, text); });
}

Session::~Session() {
  // The transports may outlive the session: none of their events may reach it
  // any more. (A face that hooked them itself unhooks them itself.)
  if (parts_.serial) parts_.serial->SetHandlers(nullptr, nullptr);
  if (parts_.socket) parts_.socket->SetHandlers(nullptr, nullptr, nullptr);
  connectTimer_->SetHandler(nullptr);
  requestTimer_->SetHandler(nullptr);
}

// ---- requesters --------------------------------------------------------------------

RequesterId Session::AddRequester(Sink sink) { return AddRequester(std::move(sink), nullptr, nullptr); }

RequesterId Session::AddRequester(Sink sink, Source source, std::function<void()> drop) {
  Requester r;
  r.id = nextId_++;
  r.sink = std::move(sink);
  r.source = std::move(source);
  r.drop = std::move(drop);
  requesters_.push_back(std::move(r));
  return requesters_.back().id;
}

Session::Requester* Session::Find(RequesterId id) {
  for (Requester& r : requesters_)
    if (r.id == id) return &r;
  return nullptr;
}

void Session::Submit(RequesterId requester, std::vector<Frame> frames) {
  Requester* r = Find(requester);
  if (r == nullptr || r->source) return;
  if (!frames.empty()) r->transactions.push_back(std::move(frames));
  if (awaiting_) return;  // its turn comes when the answer in flight ends
  if (SocketMode()) {
    EnsureConnected();
  } else if (!PortOpen()) {
    OpenPort();
  }
  SendNext();
}

void Session::Withdraw(RequesterId requester) {
  if (Requester* r = Find(requester)) {
    r->transactions.clear();
    r->begun = false;
  }
}

std::vector<Frame> Session::Queued(RequesterId requester) const {
  for (const Requester& r : requesters_)
    if (r.id == requester) {
      std::vector<Frame> frames;
      for (const std::vector<Frame>& t : r.transactions) frames.insert(frames.end(), t.begin(), t.end());
      return frames;
    }
  return {};
}

void Session::SendNow(RequesterId requester) {
  if (awaiting_ && current_ != requester) {
    // Another requester's answer is awaited: this one goes right after it.
    priority_ = requester;
    return;
  }
  priority_ = requester;
  if (SocketMode()) {
    EnsureConnected();
  } else {
    OpenPort();
  }
  SendNext();
}

std::optional<std::pair<RequesterId, Frame>> Session::TakeFrame() {
  auto take = [](Requester& r) -> std::optional<Frame> {
    if (r.source) return r.source();
    if (r.transactions.empty()) return std::nullopt;
    std::vector<Frame>& t = r.transactions.front();
    Frame f = std::move(t.front());
    t.erase(t.begin());
    r.begun = !t.empty();
    if (t.empty()) r.transactions.pop_front();
    return f;
  };
  std::vector<RequesterId> order;
  if (priority_ != 0) order.push_back(std::exchange(priority_, 0));
  if (const Requester* r = Find(current_); r != nullptr && (r->source || r->begun)) order.push_back(current_);
  const auto at =
      std::find_if(requesters_.begin(), requesters_.end(), [this](const Requester& r) { return r.id == current_; });
  const size_t start = at == requesters_.end() ? 0 : static_cast<size_t>(at - requesters_.begin()) + 1;
  for (size_t k = 0; k < requesters_.size(); ++k) order.push_back(requesters_[(start + k) % requesters_.size()].id);
  for (RequesterId id : order)
    if (Requester* r = Find(id))
      if (std::optional<Frame> f = take(*r)) return std::make_pair(id, std::move(*f));
  return std::nullopt;
}

void Session::DropQueued(RequesterId keep) {
  // A frame held for the line's silence has not gone out: it waits like the others.
  if (held_ && current_ != keep) DropHeld();
  for (Requester& r : requesters_) {
    if (r.id == keep) continue;
    r.transactions.clear();
    r.begun = false;
    if (r.drop) r.drop();
  }
}

// ---- events out ----------------------------------------------------------------------

void Session::Emit(Event e) {
  // The requesters there when the event is sent, each sink copied before it
  // is called: a sink may add a requester, which moves the others. (Several
  // events go out per transaction: no list is made for them.)
  const size_t count = requesters_.size();
  for (size_t i = 0; i < count && i < requesters_.size(); ++i) {
    if (e.requester != 0 && e.requester != requesters_[i].id) continue;
    const Sink sink = requesters_[i].sink;
    if (sink) sink(e);
  }
}

Frame Session::ReceivedSoFar() const { return awaiting_ ? assembler_.Received() : Frame{}; }

void Session::StatsChanged() { Emit(MakeEvent(EventKind::StatsChanged)); }

void Session::ResetStats() {
  stats_ = SessionStats{};
  StatsChanged();
}

bool Session::SocketMode() const { return modbus::IsSocketMode(Settings().mode); }

int64_t Session::ElapsedMs() const {
  if (!parts_.clock) return 0;
  return std::max<int64_t>(0, parts_.clock->MonotonicMs() - startMono_);
}

// ---- the transaction cycle ------------------------------------------------------------

void Session::ArmTimeout(platform::Timer& timer) {
  timer.SetEnabled(false);
  timer.SetInterval(0);
  // RTU and ASCII over TCP travel on the socket and take the socket's time-out.
  const LinkSettings s = Settings();
  const std::optional<int32_t> ms = modbus::IsSocketMode(s.mode) ? s.socketTimeoutMs : s.serialTimeoutMs;
  if (ms && *ms >= 0 && *ms <= kMaxTimerMs) timer.SetInterval(*ms);
  timer.SetEnabled(true);
}

void Session::StopRequestTimer() {
  requestTimer_->SetEnabled(false);
  requestTimer_->SetInterval(0);
}

void Session::StopConnectTimer() {
  connectTimer_->SetEnabled(false);
  connectTimer_->SetInterval(0);
}

bool Session::TakeNextRequest() {
  auto next = TakeFrame();
  if (!next) return false;
  current_ = next->first;
  lastRequest_ = std::move(next->second);
  sentMode_ = Settings().mode;
  assembler_ = modbus::ResponseAssembler(sentMode_, lastRequest_);
  fedToAnswer_ = 0;
  awaiting_ = true;
  return true;
}

int64_t Session::SilenceLeftMs() const {
  if (!answerEndMono_ || !parts_.clock) return 0;
  const int64_t end = *answerEndMono_;
  const int64_t now = parts_.clock->MonotonicMs();
  // The clock counts whole ms, so a frame taken in a later ms than the one
  // the answer ended in may be up to a ms nearer to the answer than the
  // clock says: it waits that ms more, and the silence is never cut short.
  return end + silenceMs_ + (now > end ? 1 : 0) - now;
}

void Session::HoldFor(int64_t ms) {
  requestTimer_->SetEnabled(false);
  requestTimer_->SetInterval(static_cast<int>(std::clamp<int64_t>(ms, 1, kMaxTimerMs)));
  requestTimer_->SetEnabled(true);
}

void Session::DropHeld() {
  if (!std::exchange(held_, false)) return;
  StopRequestTimer();
  awaiting_ = false;
}

void Session::PutOnWire() {
  held_ = false;
  // Bytes that came during the silence, and any still unread, are dropped
  // and reported before the frame goes out.
  DropStale(modbus::IsSocketMode(sentMode_));
  // The line now carries a request: the next frame is timed from its answer.
  answerEndMono_.reset();
  startDayMs_ = GetDayMilliseconds(parts_.clock->Now());
  startMono_ = parts_.clock->MonotonicMs();
  // Without a usable time-out the request waits until the next one is sent.
  ArmTimeout(*requestTimer_);
  Event e = MakeEvent(EventKind::RequestSent, current_);
  e.frame = lastRequest_;
  Emit(std::move(e));
  // An empty frame (raw input without a digit) puts nothing on the wire; its
  // time-out ends the transaction.
  if (!lastRequest_.empty()) {
    if (modbus::IsSocketMode(sentMode_)) {
      parts_.socket->Send(lastRequest_);
    } else {
      parts_.serial->Write(lastRequest_);
    }
  }
  ++stats_.sent;
  StatsChanged();
}

void Session::SendNext() {
  if (SocketMode()) {
    // Not connected yet: the frame waits for the connect event.
    if (SocketState() != TcpSocket::kConnected || !TakeNextRequest()) return;
    parts_.socket->SetNoDelay();
  } else {
    // Not open (opening failed): the frame waits until the next send.
    if (!PortOpen() || !TakeNextRequest()) return;
    // Within the line's silence after an answer the frame is held, as the
    // request in flight, until the silence has passed.
    if (const int64_t wait = SilenceLeftMs(); wait > 0) {
      held_ = true;
      heldUntilMono_ = parts_.clock->MonotonicMs() + wait;
      HoldFor(wait);
      return;
    }
  }
  PutOnWire();
}

void Session::EndTransaction() {
  held_ = false;
  StopRequestTimer();
  awaiting_ = false;
  DropQueued();
}

void Session::OnRequestTimeout() {
  if (held_) {
    // A timer may fire a little early (a coarse one by some per cent): the
    // frame waits for the rest of the silence on the clock.
    if (const int64_t left = heldUntilMono_ - parts_.clock->MonotonicMs(); left > 0) {
      HoldFor(left);
      return;
    }
    // The line's silence has passed: the frame held for it goes out.
    StopRequestTimer();
    if (PortOpen()) {
      PutOnWire();
    } else {
      DropHeld();
    }
    return;
  }
  // Still awaiting here, so the event carries the bytes received for this
  // request (and only for this one).
  Event e = MakeEvent(EventKind::RequestTimeout, current_);
  e.received = ReceivedSoFar();
  Emit(std::move(e));
  ResetCommunication();
  // The frames behind the one that timed out are dropped. A requester that
  // asked to go next while this answer was awaited (the operator's Send
  // during a watched block's read) keeps its frame: the link comes up again
  // for it, as its own Send would have brought it up.
  const RequesterId waiting = priority_ != current_ ? priority_ : 0;
  DropQueued(waiting);
  StopRequestTimer();
  awaiting_ = false;
  ++stats_.timeouts;
  StatsChanged();
  if (waiting != 0) SendNow(waiting);
}

void Session::DropStale(bool socket) {
  const size_t unread =
      socket ? (parts_.socket ? parts_.socket->Discard() : 0) : (PortOpen() ? parts_.serial->Discard() : 0);
  ReportDropped(std::exchange(cameUnawaited_, 0) + unread);
}

void Session::ReportDropped(size_t dropped) {
  if (dropped == 0) return;
  Event e = MakeEvent(EventKind::StaleDropped);
  e.number = static_cast<int32_t>(std::min<size_t>(dropped, INT32_MAX));
  Emit(std::move(e));
}

void Session::ResetCommunication() {
  ClosePort();
  Disconnect();
}

void Session::ReceiveChunk(const Frame& data) {
  if (data.empty()) return;
  // Bytes that come while no answer is awaited (a late answer, unsolicited
  // bytes) belong to no request. The transports read as soon as bytes
  // arrive, so they are counted here and reported with the ones still unread
  // when the next request goes out: alike on the socket and on the port, and
  // in one row however many chunks a flood comes in.
  if (!awaiting_ || held_) {
    cameUnawaited_ += data.size();
    return;
  }
  fedToAnswer_ += data.size();
  if (!assembler_.FeedChunk(data)) return;
  // The answer is complete; the rest of the chunk belongs to no request and
  // is counted with the bytes that come while nothing is awaited.
  awaiting_ = false;
  const size_t fed = std::exchange(fedToAnswer_, 0);
  cameUnawaited_ += fed - std::min(fed, assembler_.Received().size());
  StopRequestTimer();
  // On a serial line the next frame keeps the silence after this answer.
  if (!modbus::IsSocketMode(sentMode_)) answerEndMono_ = parts_.clock->MonotonicMs();
  Event e = MakeEvent(EventKind::AnswerComplete, current_);
  e.frame = assembler_.Received();
  e.answer = assembler_.Answer();
  e.codeMark = assembler_.WireSpan("", assembler_.SlaveIndex() + 2, 1);
  e.request = lastRequest_;
  e.faults = assembler_.Faults();
  e.exception = assembler_.Exception();
  e.number = assembler_.SlaveIndex();
  e.responseMs = ElapsedMs();
  Emit(std::move(e));
  // Each complete answer counts once; only a good one has a response time.
  if (!assembler_.Faults().empty()) {
    ++stats_.protocolErrors;
  } else if (assembler_.Exception()) {
    ++stats_.exceptions;
  } else {
    stats_.CountAnswer(ElapsedMs());
  }
  StatsChanged();
  // The next frame goes out at once (on a serial line, once the silence has
  // passed); the rest of the chunk is dropped, so it
  // can never be taken as the start of the next answer. A requester that
  // submitted from inside the report has had its frame sent already: one
  // request in flight, never a second over it.
  if (!awaiting_) SendNext();
}

// ---- the socket ------------------------------------------------------------------------

void Session::Connect() {
  const LinkSettings s = Settings();
  Disconnect();
  Event e = MakeEvent(EventKind::Connecting);
  e.text = s.host;
  e.number = s.port;
  Emit(std::move(e));
  ArmTimeout(*connectTimer_);
  connectFailureCounted_ = false;
  parts_.socket->Connect(TrimBlank(s.host), s.port);
}

void Session::EnsureConnected() {
  const int state = SocketState();
  if (state == TcpSocket::kConnected || state == TcpSocket::kConnecting) return;
  if (state > TcpSocket::kClosed) Disconnect();
  Connect();
}

void Session::Disconnect() {
  if (SocketState() == TcpSocket::kClosed) {
    Emit(MakeEvent(EventKind::SocketReleased));
    return;
  }
  Event e = MakeEvent(EventKind::SocketReleased);
  e.flag = true;
  Emit(std::move(e));
  StopRequestTimer();
  // The answer in flight on this connection can no longer arrive, and its
  // time-out is stopped: nothing else would end the wait.
  awaiting_ = false;
  StopConnectTimer();
  parts_.socket->Close();
}

void Session::OnConnectTimeout() {
  StopConnectTimer();
  Event e = MakeEvent(EventKind::ConnectTimeout);
  e.received = ReceivedSoFar();
  Emit(std::move(e));
  DropQueued();
  ResetCommunication();
  // A connect already refused by a socket error was counted then: one failed
  // connect is one connection error.
  if (!std::exchange(connectFailureCounted_, true)) {
    ++stats_.connectionErrors;
    StatsChanged();
  }
}

void Session::OnConnected() {
  Emit(MakeEvent(EventKind::Connected));
  StopConnectTimer();
  StopRequestTimer();
  DropStale(true);
  // A frame submitted from inside the report has gone out already.
  if (!awaiting_) SendNext();
}

void Session::OnSocketData() {
  const Frame data = parts_.socket->ReadAll();
  ReceiveChunk(data);
}

void Session::OnSocketError(int32_t number, const std::string& description) {
  if (number == TcpSocket::kPeerClosed) {
    // The socket stays as the peer left it (closed on the next send, which
    // reconnects). An answer awaited can no longer come: it ends now.
    if (!awaiting_) {
      Event e = MakeEvent(EventKind::PeerClosed);
      e.text = description;
      Emit(std::move(e));
      return;
    }
    Event e = MakeEvent(EventKind::ConnectionError);
    e.number = number;
    e.text = description;
    e.flag = true;
    e.received = ReceivedSoFar();
    Emit(std::move(e));
    StopRequestTimer();
    awaiting_ = false;
    ++stats_.connectionErrors;
    StatsChanged();
    return;
  }
  // Still awaiting here: the event carries the bytes received for the request in flight.
  Event e = MakeEvent(EventKind::ConnectionError);
  e.number = number;
  e.text = description;
  e.received = ReceivedSoFar();
  Emit(std::move(e));
  StopRequestTimer();
  parts_.socket->Close();
  // The connection is gone and with it the answer: the transaction ends here.
  awaiting_ = false;
  // While a connect is pending (its time-out armed) every error and the
  // time-out that follows belong to that one attempt: it counts once.
  const bool connecting = connectTimer_->Enabled();
  if (connecting && std::exchange(connectFailureCounted_, true)) return;
  ++stats_.connectionErrors;
  StatsChanged();
}

// ---- the serial port --------------------------------------------------------------------

void Session::OpenPort() {
  const LinkSettings s = Settings();
  if (!s.portChosen) {
    Event e = MakeEvent(EventKind::PortRefused);
    e.flag = s.portsListed;
    e.received = ReceivedSoFar();
    Emit(std::move(e));
    ++stats_.connectionErrors;
    StatsChanged();
    return;
  }
  if (PortOpen()) return;
  Event opening = MakeEvent(EventKind::PortOpening);
  opening.text = s.portName;
  if (s.serial) opening.serial = *s.serial;
  Emit(std::move(opening));
  std::string reason = s.serialRefusal;
  // The port is opened by its list name.
  if (!s.serial || !parts_.serial->Open(s.portName, *s.serial, reason)) {
    // Only a refusal of this very opening tells of missing permission.
    Event e = MakeEvent(EventKind::PortOpenFailed);
    e.text = s.portName;
    e.detail = reason;
    e.flag = s.serial && parts_.serial->LastOpenDeniedPermission();
    e.received = ReceivedSoFar();
    Emit(std::move(e));
    parts_.serial->Close();
    ++stats_.connectionErrors;
    StatsChanged();
    return;
  }
  openPortName_ = s.portName;
  silenceMs_ = LineSilenceMs(*s.serial);
  Event e = MakeEvent(EventKind::PortOpened);
  e.text = s.portName;
  Emit(std::move(e));
  DropStale(false);
}

void Session::ClosePort() {
  if (!PortOpen()) return;
  // A frame held for the line's silence can no longer go out on this port.
  DropHeld();
  parts_.serial->Close();
  Event e = MakeEvent(EventKind::PortClosed);
  e.text = openPortName_.empty() ? Settings().portName : openPortName_;
  openPortName_.clear();
  Emit(std::move(e));
}

void Session::OnSerialData() {
  const Frame data = parts_.serial->ReadAll();
  ReceiveChunk(data);
}

void Session::OnPortGone(const std::string& reason) {
  // Reported once per opening; a report for a port no longer ours is ignored.
  if (openPortName_.empty()) return;
  parts_.serial->Close();
  Event e = MakeEvent(EventKind::PortGone);
  e.text = openPortName_;
  e.detail = reason;
  openPortName_.clear();
  Emit(std::move(e));
  // The answer can no longer arrive on this port.
  if (!SocketMode()) EndTransaction();
}

}  // namespace engine
