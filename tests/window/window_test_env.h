#pragma once
// A panel on the real Qt platform with its window shown, for the window
// tests: the beeps are counted instead of sounded, the settings writes are
// counted on their way to the real store, and every wait has a deadline.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
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
  explicit Rig(const std::function<void(frmMain&)>& prepare = nullptr) {
    // A fresh configuration folder per rig: every test starts from scratch.
    static int serial = 0;
    const QString dir = g_configRoot + QStringLiteral("/rig%1").arg(++serial);
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
};

}  // namespace windowtest
