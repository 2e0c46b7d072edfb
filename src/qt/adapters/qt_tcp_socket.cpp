#include "qt/adapters/qt_tcp_socket.h"

#include <sys/socket.h>

#include <QByteArray>
#include <QMetaObject>
#include <QNetworkProxy>

namespace qt {

QtTcpSocket::QtTcpSocket() : socket_(std::make_unique<QTcpSocket>()) {
  socket_->setProxy(QNetworkProxy::NoProxy);
  QObject::connect(socket_.get(), &QTcpSocket::connected, socket_.get(), [this] {
    Post([this] {
      connectReported_ = true;
      const auto handler = onConnect_;
      if (handler) handler();
    });
  });
  QObject::connect(socket_.get(), &QTcpSocket::readyRead, socket_.get(), [this] {
    // Straight on only from the event loop itself, with nothing posted
    // earlier still to come: the order of events stays that of the wire.
    if (direct_ && callDepth_ == 0 && posted_ == 0) {
      DataArrived();
    } else {
      Post([this] { DataArrived(); });
    }
  });
  QObject::connect(socket_.get(), &QTcpSocket::errorOccurred, socket_.get(),
                   [this](QAbstractSocket::SocketError error) {
                     // A close or reset by the peer is reported like any error; the
                     // connection then waits to be closed here.
                     if (error == QAbstractSocket::RemoteHostClosedError) peerClosed_ = true;
                     // Taken now: the text belongs to this error.
                     const int number = static_cast<int>(error);
                     const std::string description = socket_->errorString().toStdString();
                     Post([this, number, description] {
                       const auto handler = onError_;
                       if (handler) handler(number, description);
                     });
                   });
}

void QtTcpSocket::DataArrived() {
  const auto handler = onDataArrival_;
  if (handler) handler();
}

QtTcpSocket::~QtTcpSocket() {
  socket_->disconnect();  // closing on destruction reports nothing
  socket_->abort();
}

int QtTcpSocket::State() const {
  if (peerClosed_) return kOther;
  // Connected only once the connect event has been delivered: until then a
  // send must leave its frame queued for that event, or the event would send
  // a second frame while the first is still in flight.
  if (socket_->state() == QAbstractSocket::ConnectedState && !connectReported_) return kConnecting;
  switch (socket_->state()) {
    case QAbstractSocket::UnconnectedState:
      return kClosed;
    case QAbstractSocket::ConnectingState:
      return kConnecting;
    case QAbstractSocket::ConnectedState:
      return kConnected;
    default:
      return kOther;  // host lookup, closing, bound, listening
  }
}

void QtTcpSocket::Connect(const std::string& host, int32_t port) {
  const CallScope scope(callDepth_);
  ++generation_;
  peerClosed_ = false;
  connectReported_ = false;
  noDelaySet_ = false;
  if (socket_->state() != QAbstractSocket::UnconnectedState) socket_->abort();
  if (port < 1 || port > 65535) {
    const std::string description = "Invalid port number " + std::to_string(port);
    Post([this, description] {
      const auto handler = onError_;
      if (handler) handler(static_cast<int>(QAbstractSocket::SocketAddressNotAvailableError), description);
    });
    return;
  }
  socket_->connectToHost(QString::fromStdString(host), static_cast<quint16>(port));
}

void QtTcpSocket::Send(const Frame& bytes) {
  const CallScope scope(callDepth_);
  if (socket_->state() != QAbstractSocket::ConnectedState || bytes.empty()) return;
  socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  // Out now rather than on the next turn of the event loop: a request is
  // small, and its answer cannot come before it leaves.
  socket_->flush();
}

Frame QtTcpSocket::ReadAll() {
  const CallScope scope(callDepth_);
  if (!socket_->isOpen()) return {};
  const QByteArray data = socket_->readAll();
  return Frame(data.begin(), data.end());
}

size_t QtTcpSocket::Discard() {
  const CallScope scope(callDepth_);
  if (!socket_->isOpen()) return 0;
  size_t dropped = static_cast<size_t>(socket_->readAll().size());
  // What the system holds and Qt has not read yet (its read is posted).
  const qintptr fd = socket_->socketDescriptor();
  if (fd < 0) return dropped;
  char sink[4096];
  for (int round = 0; round < 4096; ++round) {
    const ssize_t n = ::recv(static_cast<int>(fd), sink, sizeof sink, MSG_DONTWAIT);
    if (n <= 0) break;
    dropped += static_cast<size_t>(n);
  }
  return dropped;
}

void QtTcpSocket::Close() {
  const CallScope scope(callDepth_);
  ++generation_;
  peerClosed_ = false;
  connectReported_ = false;
  noDelaySet_ = false;
  socket_->abort();
}

void QtTcpSocket::SetNoDelay() {
  const CallScope scope(callDepth_);
  // Asked before every request: one system call per connection is enough.
  if (noDelaySet_ && socket_->state() == QAbstractSocket::ConnectedState) return;
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  noDelaySet_ = socket_->state() == QAbstractSocket::ConnectedState;
}

void QtTcpSocket::SetHandlers(std::function<void()> onConnect, std::function<void()> onDataArrival,
                              std::function<void(int number, const std::string& description)> onError) {
  onConnect_ = std::move(onConnect);
  onDataArrival_ = std::move(onDataArrival);
  onError_ = std::move(onError);
}

void QtTcpSocket::Post(std::function<void()> event) {
  const uint64_t generation = generation_;
  ++posted_;
  // The QTcpSocket is the context: when it goes, so do the posted calls.
  QMetaObject::invokeMethod(
      socket_.get(),
      [this, generation, event = std::move(event)] {
        --posted_;
        if (generation == generation_) event();
      },
      Qt::QueuedConnection);
}

}  // namespace qt
