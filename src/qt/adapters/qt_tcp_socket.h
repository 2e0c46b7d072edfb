#pragma once
// The TCP client socket on QTcpSocket.
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace qt {

// A TCP client connection on a QTcpSocket of the calling thread, without a
// proxy (a Modbus master talks to its slave directly).
//
// State(): UnconnectedState 0, ConnectingState 6, ConnectedState 7; host
// lookup, closing, bound and listening 9 (another state).
//
// Events (onConnect, onDataArrival, onError) are posted to the event loop and
// never called from inside a call of this class, not even when Qt itself
// reports an outcome at once from inside connectToHost(). Close() aborts the
// connection: State() is 0 at once and no event of that connection (or of an
// earlier one) arrives afterwards; a new Connect() does the same first.
//
// Error numbers: onError's number is the QAbstractSocket::SocketError value
// that Qt reports (ConnectionRefusedError 0, RemoteHostClosedError 1,
// HostNotFoundError 2, SocketAccessError 3, SocketResourceError 4,
// SocketTimeoutError 5, NetworkError 7, ... UnknownSocketError -1), as Qt
// documents it and keeps it across versions; the description is the socket's
// errorString(). A peer closing the connection is not an error event: the
// socket then reports state 9 (another state, half closed by the peer) until
// Close() or Connect(), so the next send notices it and reconnects. A port outside 1..65535 ends, from the event
// loop, in SocketAddressNotAvailableError (9) without any attempt on the
// network.
//
// SetDirectDataEvents(true) lets onDataArrival come straight from the event
// loop's read notification rather than a later turn of the loop: one wake-up
// (a write and a read of the loop's event descriptor) less per answer. It is
// still never called from inside a call of this class, and never ahead of an
// event posted earlier: while one of those is pending, or a call of this
// class is running, the data event is posted as usual.
class QtTcpSocket : public platform::TcpSocket {
 public:
  QtTcpSocket();
  ~QtTcpSocket() override;
  QtTcpSocket(const QtTcpSocket&) = delete;
  QtTcpSocket& operator=(const QtTcpSocket&) = delete;

  int State() const override;
  void Connect(const std::string& host, int32_t port) override;
  void Send(const Frame& bytes) override;
  Frame ReadAll() override;
  void Close() override;
  void SetNoDelay() override;
  size_t Discard() override;
  void SetHandlers(std::function<void()> onConnect, std::function<void()> onDataArrival,
                   std::function<void(int number, const std::string& description)> onError) override;

  void SetDirectDataEvents(bool direct) { direct_ = direct; }

 private:
  // Counts the calls of this class running (they may nest through a handler).
  struct CallScope {
    explicit CallScope(int& depth) : depth_(depth) { ++depth_; }
    ~CallScope() { --depth_; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    int& depth_;
  };

  void DataArrived();
  // Runs `event` from the event loop, unless the connection was closed or a
  // new one started in the meantime.
  void Post(std::function<void()> event);

  std::unique_ptr<QTcpSocket> socket_;
  uint64_t generation_ = 0;       // counts connects and closes
  bool peerClosed_ = false;       // the peer closed the connection; not yet closed here
  bool connectReported_ = false;  // the connect event of this connection was delivered
  bool noDelaySet_ = false;       // Nagle is off on this connection already
  bool direct_ = false;           // data events straight from the read notification when safe
  int callDepth_ = 0;             // calls of this class running
  int posted_ = 0;                // posted events not yet run
  std::function<void()> onConnect_;
  std::function<void()> onDataArrival_;
  std::function<void(int, const std::string&)> onError_;
};

}  // namespace qt
