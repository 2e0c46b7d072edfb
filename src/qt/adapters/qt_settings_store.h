#pragma once
// The per-user settings store on QSettings.
#include <QSettings>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace qt {

// Settings in QSettings' native format and user scope. Sections are QSettings
// groups (the program uses "main"); values are stored as text.
//
// Organization "VeskTarvelo", application = the executable's base name
// ("VeskTarvelo" when there is none). On Linux that is the INI file
// $XDG_CONFIG_HOME/VeskTarvelo/<base name>.conf, i.e. for the program
// ~/.config/VeskTarvelo/VeskTarvelo.conf; on Windows the registry key
// HKEY_CURRENT_USER\Software\VeskTarvelo\<base name>; on macOS
// ~/Library/Preferences/com.vesktarvelo.<base name>.plist.
// QSettings reads XDG_CONFIG_HOME once, at the first QSettings of the process.
class QtSettingsStore : public platform::SettingsStore {
 public:
  static constexpr const char* kOrganization = "VeskTarvelo";

  QtSettingsStore();  // application = the executable's base name
  explicit QtSettingsStore(const std::string& application);

  std::optional<std::string> Read(const std::string& section, const std::string& key) override;
  bool Write(const std::string& section, const std::string& key, const std::string& value) override;
  void Flush() override;

  // Where the settings live (a file path, or a registry path on Windows).
  std::string Location() const;
  // The executable's base name, or "VeskTarvelo".
  static std::string ApplicationName();

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace qt
