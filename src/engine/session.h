#pragma once
// A session: one link to one slave (TCP, RTU or ASCII on a serial port, or
// RTU or ASCII over TCP) on the platform parts it is given, the requests that travel on it one
// at a time, the request and connect time-outs and the statistics. It says
// what happens as structured events and knows nothing of any window, log
// text or colour.
//
// Requesters take turns on the link. Each requester has its own frames (a
// transaction is one or more frames that go out back to back, e.g. the two
// frames of a 32-bit value written with function 06) and gets the events of
// its own requests; link events (connecting, port opened, ...) go to every
// requester. Never are two requests in flight: the next frame goes out when
// the answer in flight is complete, has timed out or can no longer arrive.
//
// On a serial port (RTU or ASCII) the line is kept quiet between frames: a
// frame taken within the line's silence after a complete answer (see
// LineSilenceMs) is held, as the request in flight, until the silence has
// passed, and only then written. Bytes that come meanwhile belong to no
// request: they are dropped and reported before the frame goes out. The
// request time-out starts when the frame is written.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "engine/session_stats.h"
#include "modbus/response.h"
#include "modbus/types.h"
#include "platform/platform.h"

namespace engine {

// The link's settings as they stand when the session needs them (the
// session asks again at each connect, open and time-out arming).
struct LinkSettings {
  modbus::Mode mode = modbus::Mode::Tcp;
  // The socket: the host as entered (blanks around it are dropped for the
  // connect, kept in the event) and the port.
  std::string host;
  int32_t port = 0;
  // Time-outs in ms; nothing, or a value outside 0..65535, arms a timer that
  // never fires. The socket's time-out serves both socket modes and the
  // connect; the serial one serves RTU.
  std::optional<int32_t> socketTimeoutMs;
  std::optional<int32_t> serialTimeoutMs;
  // The serial port: whether one is chosen (and whether the system lists any
  // at all), its name, and its line settings or why they cannot be used.
  bool portChosen = false;
  bool portsListed = false;
  std::string portName;
  std::optional<platform::SerialSettings> serial;
  std::string serialRefusal;
};

enum class EventKind {
  Connecting,       // text: host as entered, number: port
  Connected,        //
  SocketReleased,   // the session let go of the socket; flag: it was not closed (a "Disconnected")
  ConnectTimeout,   // received
  ConnectionError,  // number: code, text: description, received; flag: the peer closed the connection
  PeerClosed,       // the peer closed the connection while no answer was awaited; text: description
  StaleDropped,     // number: bytes dropped unread before a request or on opening, with those come meanwhile
  PortRefused,      // no port chosen; flag: the system lists ports, received
  PortOpening,      // text: port name, serial: the line settings
  PortOpened,       // text: port name
  PortOpenFailed,   // text: port name, detail: reason, flag: permission denied, received
  PortClosed,       // text: port name
  PortGone,         // text: port name, detail: the port's reason
  RequestSent,      // frame
  AnswerComplete,   // frame, answer, request, faults, exception (codeMark), number: slave index, responseMs
  RequestTimeout,   // received
  StatsChanged,     //
};

using RequesterId = int32_t;

// The silence a serial line keeps between two frames, in whole ms: 3.5
// characters (start bit, data bits, parity bit if any, stop bits) at the baud
// rate, rounded up, and 2 ms above 19200 baud, where the usual fixed 1.75 ms
// applies.
int32_t LineSilenceMs(const platform::SerialSettings& line);

struct Event {
  EventKind kind = EventKind::StatsChanged;
  // The requester whose request this concerns; 0 for link events.
  RequesterId requester = 0;
  std::string text;
  std::string detail;
  int32_t number = 0;
  bool flag = false;
  Frame frame;
  // The answer as the checks read it (slave byte at `number`): the frame
  // itself, or in ASCII framing the binary frame its characters carry.
  Frame answer;
  // Where the exception code of an exception answer was received in `frame`.
  modbus::Fault codeMark;
  Frame request;
  // The bytes received for the request in flight (when one is in flight).
  Frame received;
  std::vector<modbus::Fault> faults;
  std::optional<uint8_t> exception;
  int64_t responseMs = 0;
  platform::SerialSettings serial;
};

// The platform parts one link needs. Two sessions on two links get two sets.
// The transport of the link's mode must be there (the socket for TCP and RTU
// over TCP, the serial port for RTU); the other may be left out.
struct LinkParts {
  std::shared_ptr<platform::Clock> clock;
  std::shared_ptr<platform::TimerFactory> timers;
  std::shared_ptr<platform::SerialPort> serial;
  std::shared_ptr<platform::TcpSocket> socket;
};

class Session {
 public:
  using Sink = std::function<void(const Event&)>;
  // Takes the requester's next frame, or nothing when it has none.
  using Source = std::function<std::optional<Frame>()>;

  // The session makes two timers from parts.timers, the connect time-out
  // first, then the request time-out (which also times a serial line's
  // silence while a frame is held for it: no request is on the wire then);
  // it hooks itself to the transports' events.
  Session(LinkParts parts, std::function<LinkSettings()> settings);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // A requester whose frames the session keeps (Submit adds to them).
  RequesterId AddRequester(Sink sink);
  // A requester that keeps its frames itself: the session takes them one by
  // one through `source` when it is that requester's turn, and has it drop
  // them through `drop` when the waiting frames are given up.
  RequesterId AddRequester(Sink sink, Source source, std::function<void()> drop);
  // Queues one transaction (its frames go out back to back) for the
  // requester, and starts the link or sends when it is idle. A requester's
  // next transaction waits for the others' turns.
  void Submit(RequesterId requester, std::vector<Frame> frames);
  // Drops the frames the session keeps for the requester.
  void Withdraw(RequesterId requester);

  // Makes the requester's next frame go out now: on a link that is up, the
  // answer still awaited (if it is the same requester's) is given up for it,
  // and so is a frame of its own held for the line's silence (the new one is
  // held in its place for the rest of the silence);
  // a link that is down is brought up first (the frame goes out when it is).
  // When another requester's answer is awaited, its turn comes right after.
  void SendNow(RequesterId requester);

  // ---- the link ----------------------------------------------------------------
  void Connect();          // (re)connects the socket, closing it first
  void EnsureConnected();  // connects unless connected or connecting
  void Disconnect();       // closes the socket (a "Disconnected" when it was not closed)
  void OpenPort();         // opens the chosen serial port unless open
  void ClosePort();        // closes the serial port if open
  // Sends the next frame of the requester whose turn it is, if the link is
  // ready (socket connected, or serial port open) and one is waiting.
  void SendNext();
  // Gives up the request in flight and every frame waiting (the operator
  // closed the link or switched the framing).
  void EndTransaction();
  // Drops every requester's waiting frames but those of `keep` (0: none
  // kept); the request in flight stays (the framing changed on the same
  // transport: its answer still comes in the framing it was sent in).
  void DropQueued(RequesterId keep = 0);

  // ---- events from the platform (hooked by the constructor; public so that
  // a face that routes them itself can forward them) -------------------------
  void OnConnected();
  void OnSocketData();
  void OnSocketError(int32_t number, const std::string& description);
  void OnSerialData();
  void OnPortGone(const std::string& reason);
  // The request timer fired: the request in flight timed out, or the line's
  // silence a frame was held for has passed and the frame goes out.
  void OnRequestTimeout();
  void OnConnectTimeout();

  // ---- state -------------------------------------------------------------------
  // True from the moment a frame is taken (also while it is held for the
  // line's silence) until its answer ends.
  bool AwaitingResponse() const { return awaiting_; }
  const Frame& LastRequest() const { return lastRequest_; }
  const modbus::ResponseAssembler& Assembly() const { return assembler_; }
  // Wall-clock day milliseconds and monotonic ms of the last send.
  int32_t RequestStartDayMs() const { return startDayMs_; }
  int64_t RequestStartMono() const { return startMono_; }
  // Milliseconds since the last send on the monotonic clock, never negative.
  int64_t ElapsedMs() const;
  const std::string& OpenPortName() const { return openPortName_; }
  bool PortOpen() const { return parts_.serial && parts_.serial->IsOpen(); }
  int SocketState() const { return parts_.socket ? parts_.socket->State() : platform::TcpSocket::kClosed; }
  const SessionStats& Stats() const { return stats_; }
  void ResetStats();
  // The frames the session keeps for a requester (none for one with its own source).
  std::vector<Frame> Queued(RequesterId requester) const;
  // The requester whose frame went out last.
  RequesterId Current() const { return current_; }
  const platform::Timer& RequestTimer() const { return *requestTimer_; }
  const platform::Timer& ConnectTimer() const { return *connectTimer_; }

 private:
  struct Requester {
    RequesterId id = 0;
    Sink sink;
    Source source;
    std::function<void()> drop;
    // When the session keeps them: the transactions waiting, oldest first,
    // and whether the first one has begun (its frames go back to back).
    std::deque<std::vector<Frame>> transactions;
    bool begun = false;
  };

  LinkSettings Settings() const { return settings_ ? settings_() : LinkSettings{}; }
  void Emit(Event e);
  // The bytes received for the request in flight, or none.
  Frame ReceivedSoFar() const;
  void StatsChanged();
  Requester* Find(RequesterId id);
  // Takes the next frame: the requester asked to go next, the rest of a
  // transaction that has begun (or the next frame of a requester that keeps
  // its own, whose frames are one transaction), then the others in turn.
  std::optional<std::pair<RequesterId, Frame>> TakeFrame();
  bool TakeNextRequest();
  void PutOnWire();
  void ArmTimeout(platform::Timer& timer);
  void StopRequestTimer();
  void StopConnectTimer();
  void ReceiveChunk(const Frame& data);
  void ResetCommunication();
  // Drops what the link holds unread, so a late or unsolicited frame is
  // never taken for the answer to the next request.
  void DropStale(bool socket);
  // Reports `dropped` bytes thrown away unread (nothing for none).
  void ReportDropped(size_t dropped);
  bool SocketMode() const;
  // Milliseconds a frame taken now on the serial port must wait for the
  // line's silence (0 or less: none).
  int64_t SilenceLeftMs() const;
  // (Re)arms the request timer to end the hold of a frame in `ms`.
  void HoldFor(int64_t ms);
  // Gives up the frame held for the line's silence, if any.
  void DropHeld();

  LinkParts parts_;
  std::function<LinkSettings()> settings_;
  std::unique_ptr<platform::Timer> connectTimer_;
  std::unique_ptr<platform::Timer> requestTimer_;
  std::vector<Requester> requesters_;
  RequesterId nextId_ = 1;
  RequesterId current_ = 0;
  // A requester whose frame goes out as soon as the answer in flight ends.
  RequesterId priority_ = 0;

  bool awaiting_ = false;
  // Bytes that came while no answer was awaited, reported with the next drop.
  size_t cameUnawaited_ = 0;
  // Bytes fed to the answer awaited, so that those behind its end are counted.
  size_t fedToAnswer_ = 0;
  Frame lastRequest_;
  modbus::ResponseAssembler assembler_;
  int32_t startDayMs_ = 0;
  int64_t startMono_ = 0;
  std::string openPortName_;
  SessionStats stats_;
  // The connect attempt under way has already been counted as a connection error.
  bool connectFailureCounted_ = false;
  // The mode of the request in flight (answers are framed as it was sent).
  modbus::Mode sentMode_ = modbus::Mode::Tcp;
  // The serial line: its silence between frames (from the settings the port
  // was opened with), the monotonic ms its last answer ended (none once a
  // request has been written since), and whether the frame taken is held
  // for the silence (the request timer then times the silence).
  int32_t silenceMs_ = 2;
  std::optional<int64_t> answerEndMono_;
  bool held_ = false;
  int64_t heldUntilMono_ = 0;
};

}  // namespace engine
