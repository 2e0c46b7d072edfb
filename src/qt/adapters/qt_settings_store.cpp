#include "qt/adapters/qt_settings_store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

namespace qt {
namespace {

QString KeyOf(const std::string& section, const std::string& key) {
  return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

}  // namespace

std::string QtSettingsStore::ApplicationName() {
  QString name;
  if (QCoreApplication::instance() != nullptr) {
    name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  }
  return name.isEmpty() ? std::string("VeskTarvelo") : name.toStdString();
}

QtSettingsStore::QtSettingsStore() : QtSettingsStore(ApplicationName()) {}

QtSettingsStore::QtSettingsStore(const std::string& application)
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QString::fromLatin1(kOrganization), QString::fromStdString(application))) {}

std::optional<std::string> QtSettingsStore::Read(const std::string& section, const std::string& key) {
  const QString k = KeyOf(section, key);
  if (!settings_->contains(k)) return std::nullopt;
  const QVariant v = settings_->value(k);
  // An INI value edited by hand as a,b comes back as a list; it is read as
  // the text it was.
  if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(',')).toStdString();
  return v.toString().toStdString();
}

bool QtSettingsStore::Write(const std::string& section, const std::string& key, const std::string& value) {
  if (!settings_->isWritable()) return false;
  settings_->setValue(KeyOf(section, key), QString::fromStdString(value));
  return true;
}

void QtSettingsStore::Flush() { settings_->sync(); }

std::string QtSettingsStore::Location() const { return settings_->fileName().toStdString(); }

}  // namespace qt
