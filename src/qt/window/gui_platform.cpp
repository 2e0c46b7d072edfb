#include "qt/window/gui_platform.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <memory>

#include "qt/QtPlatform.h"

namespace qt {
namespace {

class GuiClipboard : public platform::Clipboard {
 public:
  void Clear() override { QGuiApplication::clipboard()->clear(); }
  void SetText(const std::string& text) override {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
  }
  bool HasText() const override {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data != nullptr && data->hasText();
  }
  std::string GetText() const override { return QGuiApplication::clipboard()->text().toStdString(); }
};

class GuiBeeper : public platform::Beeper {
 public:
  void Beep() override { QApplication::beep(); }
};

class GuiDesktop : public platform::Desktop {
 public:
  bool OpenUrl(const std::string& url) override {
    // fromUserInput takes web addresses as well as local paths.
    const QUrl target = QUrl::fromUserInput(QString::fromStdString(url));
    return target.isValid() && QDesktopServices::openUrl(target);
  }
};

}  // namespace

platform::Platform MakeGuiPlatform() {
  platform::Platform p = MakePlatform();
  p.clipboard = std::make_shared<GuiClipboard>();
  p.beeper = std::make_shared<GuiBeeper>();
  p.desktop = std::make_shared<GuiDesktop>();
  return p;
}

}  // namespace qt
