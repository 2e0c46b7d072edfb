#include "qt/adapters/qt_serial_port.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QMetaObject>
#include <cctype>
#include <cerrno>
#include <utility>

namespace qt {

namespace {

// The device a name stands for: a name with a slash is a path (relative to
// the working directory unless it starts with "/"), a bare name a device in
// /dev.
std::string SystemPath(const std::string& name) {
  const std::string path = platform::SerialDevicePath(name);
  if (path.front() == '/') return path;
  return QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromStdString(path))).toStdString();
}

}  // namespace

QtSerialPort::QtSerialPort() : port_(std::make_unique<QSerialPort>()) {
  QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] {
    Post([this] {
      const auto handler = onReadyRead_;
      if (handler) handler();
    });
  });
  QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                   [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialPort::~QtSerialPort() {
  port_->disconnect();  // closing on destruction reports nothing
  if (port_->isOpen()) port_->close();
}

bool QtSerialPort::Open(const std::string& name, const platform::SerialSettings& settings, std::string& error) {
  if (port_->isOpen()) Close();
  ++generation_;
  goneReported_ = false;
  lastOpenDenied_ = false;

  QSerialPort::DataBits dataBits;
  switch (settings.dataBits) {
    case 5:
      dataBits = QSerialPort::Data5;
      break;
    case 6:
      dataBits = QSerialPort::Data6;
      break;
    case 7:
      dataBits = QSerialPort::Data7;
      break;
    case 8:
      dataBits = QSerialPort::Data8;
      break;
    default:
      error = "Invalid data bits: " + std::to_string(settings.dataBits);
      return false;
  }
  QSerialPort::Parity parity;
  switch (std::tolower(static_cast<unsigned char>(settings.parity))) {
    case 'n':
      parity = QSerialPort::NoParity;
      break;
    case 'o':
      parity = QSerialPort::OddParity;
      break;
    case 'e':
      parity = QSerialPort::EvenParity;
      break;
    case 'm':
      parity = QSerialPort::MarkParity;
      break;
    case 's':
      parity = QSerialPort::SpaceParity;
      break;
    default:
      error = std::string("Invalid parity: ") + settings.parity;
      return false;
  }
  QSerialPort::StopBits stopBits;
  switch (settings.stopBits) {
    case 1:
      stopBits = QSerialPort::OneStop;
      break;
    case 2:
      stopBits = QSerialPort::TwoStop;
      break;
    default:
      error = "Invalid stop bits: " + std::to_string(settings.stopBits);
      return false;
  }

  // QSerialPort takes a name as a path only when it starts with "/", "./" or
  // "../" and puts "/dev/" in front of anything else, "dir/port" included:
  // a path is handed over absolute, a bare name as it is.
  const std::string path = SystemPath(name);
  port_->setPortName(QString::fromStdString(name.find('/') == std::string::npos ? name : path));
  // Set before opening, these only store the values; open() applies them and
  // fails with the port's reason (a baud rate of 0 or below included).
  port_->setBaudRate(settings.baud);
  port_->setDataBits(dataBits);
  port_->setParity(parity);
  port_->setStopBits(stopBits);
  port_->setFlowControl(QSerialPort::NoFlowControl);
  if (!port_->open(QIODevice::ReadWrite)) {
    error = port_->errorString().toStdString();
    // Qt reports a port locked or held exclusively by another program as a
    // permission error too ("Permission error while locking the device");
    // only a device the user may not read and write is a lack of permission
    // the operator can mend. Otherwise the port is taken, and said so.
    if (port_->error() == QSerialPort::PermissionError) {
      const bool mayUse = ::access(path.c_str(), R_OK | W_OK) == 0;
      lastOpenDenied_ = !mayUse && errno == EACCES;
      if (mayUse) error = "Port in use by another program (" + error + ")";
    }
    port_->clearError();
    return false;
  }
  justOpened_ = true;
  return true;
}

void QtSerialPort::Close() {
  ++generation_;
  if (port_->isOpen()) port_->close();
  port_->clearError();
}

bool QtSerialPort::IsOpen() const { return port_->isOpen(); }

void QtSerialPort::Write(const Frame& bytes) {
  if (!port_->isOpen() || bytes.empty()) return;
  port_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

Frame QtSerialPort::ReadAll() {
  if (!port_->isOpen()) return {};
  const QByteArray data = port_->readAll();
  return Frame(data.begin(), data.end());
}

size_t QtSerialPort::Discard() {
  if (!port_->isOpen()) return 0;
  size_t dropped = static_cast<size_t>(port_->readAll().size());
  // What the driver holds and Qt has not read yet; the port is non-blocking.
  const int fd = static_cast<int>(port_->handle());
  if (fd < 0) return dropped;
  // Right after an opening, bytes the far end sent while the port was
  // closed (a late answer) can still be on their way through the driver or a
  // relay: they are waited for a short while, once per opening.
  const int settleMs = std::exchange(justOpened_, false) ? kOpenSettleMs : 0;
  QElapsedTimer waited;
  waited.start();
  char sink[4096];
  for (int round = 0; round < 4096; ++round) {
    const ssize_t n = ::read(fd, sink, sizeof sink);
    if (n > 0) {
      dropped += static_cast<size_t>(n);
      continue;
    }
    const qint64 left = settleMs - waited.elapsed();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
  }
  ::tcflush(fd, TCIFLUSH);
  return dropped;
}

void QtSerialPort::SetHandlers(std::function<void()> onReadyRead, std::function<void(const std::string&)> onGone) {
  onReadyRead_ = std::move(onReadyRead);
  onGone_ = std::move(onGone);
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
  if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) return;
  if (!port_->isOpen() || goneReported_) return;
  goneReported_ = true;
  // A device that is unplugged, or a pseudo-terminal whose other end closes,
  // hangs up; Qt then reports a read that found nothing with whatever text
  // errno last held ("Unknown error", "Inappropriate ioctl for device"), so
  // a hang-up is named as such.
  const int fd = static_cast<int>(port_->handle());
  pollfd p{fd, POLLIN, 0};
  const bool hungUp = fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
  const std::string reason = hungUp ? std::string(kHangUpReason) : port_->errorString().toStdString();
  // Closing from inside QSerialPort's own signal would delete its socket
  // notifier while that is still being delivered; the close is posted instead.
  // Until it runs, further errors of this opening are ignored (goneReported_).
  Post([this, reason] {
    Close();
    const auto handler = onGone_;
    if (handler) handler(reason);
  });
}

void QtSerialPort::Post(std::function<void()> event) {
  const uint64_t generation = generation_;
  // The QSerialPort is the context: when it goes, so do the posted calls.
  QMetaObject::invokeMethod(
      port_.get(),
      [this, generation, event = std::move(event)] {
        if (generation == generation_) event();
      },
      Qt::QueuedConnection);
}

}  // namespace qt
