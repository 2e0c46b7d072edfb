#pragma once
// A panel on the real Qt platform with its window shown, for the window
// tests: the beeps are counted instead of sounded, the settings writes are
// counted on their way to the real store, and every wait has a deadline.
// Also a small Modbus TCP slave on the loopback address, and the screenshots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "panel/frmMain.h"
#include "qt/adapters/headless_parts.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"

namespace windowtest {

extern QString g_configRoot;

// Runs the event loop until `done` holds or `timeoutMs` has passed.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= timeoutMs) return done();
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qSleep(2);
  }
  return true;
}

inline void RunFor(int ms) {
  RunUntil([] { return false; }, ms);
}

// Forwards to the real store and counts the writes per key.
class CountingSettings : public platform::SettingsStore {
 public:
  explicit CountingSettings(std::shared_ptr<platform::SettingsStore> inner) : inner_(std::move(inner)) {}
  std::optional<std::string> Read(const std::string& section, const std::string& key) override {
    return inner_->Read(section, key);
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) override {
    ++writes[key];
    return inner_->Write(section, key, value);
  }
  void Flush() override { inner_->Flush(); }
  std::map<std::string, int> writes;

 private:
  std::shared_ptr<platform::SettingsStore> inner_;
};

// Records the addresses it is asked to open; opens nothing.
class RecordingDesktop : public platform::Desktop {
 public:
  bool OpenUrl(const std::string& url) override {
    opened.push_back(url);
    return true;
  }
  std::vector<std::string> opened;
};

class Rig {
 public:
  // `prepare` runs on the panel after Form_Load and before the window is made.
  // Each rig has a configuration folder of its own unless it is given one
  // (a restart: the folder an earlier rig wrote).
  // `ports`, when given, stands in for the system's serial port list.
  explicit Rig(const std::function<void(frmMain&)>& prepare = nullptr, const QString& configDir = QString(),
               std::shared_ptr<platform::PortList> ports = nullptr) {
    static int serial = 0;
    dir = configDir.isEmpty() ? g_configRoot + QStringLiteral("/rig%1").arg(++serial) : configDir;
    QDir().mkpath(dir);
    qputenv("XDG_CONFIG_HOME", dir.toUtf8());
    // QSettings keeps the folder it found first; point it at this rig's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);

    platform::Platform p = qt::MakeGuiPlatform();
    beeper = std::make_shared<qt::CountingBeeper>();
    p.beeper = beeper;
    qt::BeepGate::Install(p);
    desktop = std::make_shared<RecordingDesktop>();
    p.desktop = desktop;
    if (ports) p.ports = std::move(ports);
    settings = std::make_shared<CountingSettings>(p.settings);
    p.settings = settings;
    panel = std::make_unique<frmMain>(p);
    panel->Form_Load();
    if (prepare) prepare(*panel);
    window = std::make_unique<qt::MainWindow>(*panel);
    window->show();
    window->activateWindow();
    shown = QTest::qWaitForWindowExposed(window.get()) && QTest::qWaitForWindowActive(window.get());
    RunFor(50);
  }
  ~Rig() {
    window.reset();
    panel.reset();
  }

  template <class W = QWidget>
  W* Widget(const Field& f) const {
    return qobject_cast<W*>(window->WidgetOf(f));
  }
  int Beeps() const { return beeper->Count(); }

  std::shared_ptr<qt::CountingBeeper> beeper;
  std::shared_ptr<CountingSettings> settings;
  std::shared_ptr<RecordingDesktop> desktop;
  std::unique_ptr<frmMain> panel;
  std::unique_ptr<qt::MainWindow> window;
  bool shown = false;
  QString dir;
};

// Gives a line field the focus (as a program would, not the operator).
inline QLineEdit* Focused(Rig& rig, const Field& f) {
  auto* w = rig.Widget<QLineEdit>(f);
  w->setFocus(Qt::OtherFocusReason);
  RunUntil([&] { return w->hasFocus(); }, 2000);
  return w;
}

// Replaces a line field's text by typing.
inline void Retype(QLineEdit* w, const char* text) {
  w->selectAll();
  QTest::keyClick(w, Qt::Key_Backspace);
  QTest::keyClicks(w, text);
}

// The widgets the window adds for the operator aids.
inline std::vector<QWidget*> Aids(const QWidget& window) {
  std::vector<QWidget*> aids;
  for (const char* name : {"requestPreview", "inspectorHeading", "inspectorAddress", "inspector", "saveLog",
                           "statusBar", "sessionStats", "resetStats"})
    aids.push_back(window.findChild<QWidget*>(QLatin1String(name)));
  return aids;
}

// Writes the window to <build folder>/<name>.png (<name>@2x.png when scaled).
inline void Shoot(QWidget& window, const char* name) {
  const QPixmap pm = window.grab();
  const QString suffix = pm.devicePixelRatio() > 1.5 ? QStringLiteral("@2x") : QString();
  const QString path = QStringLiteral(VESK_SHOT_DIR "/%1%2.png").arg(QLatin1String(name), suffix);
  EXPECT_TRUE(pm.save(path)) << path.toStdString();
}

// A Modbus TCP slave on 127.0.0.1: answers function 3 and 4 from
// `registers` (from address 0) and echoes function 6.
class Answerer {
 public:
  Answerer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection())
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { Serve(*s); });
    });
  }
  std::string Port() const { return std::to_string(server_.serverPort()); }
  std::vector<uint16_t> registers;

 private:
  void Serve(QTcpSocket& s) {
    buffer_ += s.readAll();
    while (buffer_.size() >= 8) {
      const auto at = [this](int i) { return static_cast<uint8_t>(buffer_[i]); };
      const int size = 6 + (at(4) << 8 | at(5));
      if (buffer_.size() < size) return;
      QByteArray pdu;
      const int fc = at(7);
      if ((fc == 3 || fc == 4) && size >= 12) {
        const int start = at(8) << 8 | at(9), count = at(10) << 8 | at(11);
        pdu.append(static_cast<char>(fc)).append(static_cast<char>(2 * count));
        for (int a = start; a < start + count; ++a) {
          const uint16_t v = a < static_cast<int>(registers.size()) ? registers[static_cast<size_t>(a)] : 0;
          pdu.append(static_cast<char>(v >> 8)).append(static_cast<char>(v & 0xFF));
        }
      } else {
        pdu = buffer_.mid(7, size - 7);
      }
      QByteArray reply = buffer_.left(4);  // transaction and protocol identifiers
      reply.append(static_cast<char>((pdu.size() + 1) >> 8)).append(static_cast<char>((pdu.size() + 1) & 0xFF));
      reply.append(buffer_[6]).append(pdu);
      s.write(reply);
      buffer_.remove(0, size);
    }
  }
  QTcpServer server_;
  QByteArray buffer_;
};

}  // namespace windowtest
