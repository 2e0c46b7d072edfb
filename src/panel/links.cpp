// The logo and two labels of the log area act as web links: a click asks the
// desktop to open the address in the default browser.
#include <string>

#include "panel/frmMain.h"

namespace {

// Failure causes of opening a document, numbered as the desktop's open call
// reports them, with the text returned for each.
constexpr int kOutOfMemory = 0;
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kBadFormat = 11;
constexpr int kNoAssociation = 31;

std::string OpenErrorText(int code) {
  switch (code) {
    case kNoAssociation:
      return "Windows не знает, что это за файл и чем его открывать. Выберите программу из списка или нажмите "
             "Отмена.";
    case kOutOfMemory:
      return "Ошибка: Недостаточно памяти. Выполнение прервано!";
    case kFileNotFound:
      return "Ошибка: Файл не найден. Путь или имя файла указаны неправильно! ";
    case kPathNotFound:
      return "Ошибка: Путь не найден. Указанная папка не существует! \"";
    case kBadFormat:
      return "Ошибка:  Неизвестный формат файла!";
    default:
      return {};
  }
}

}  // namespace

void frmMain::imgLogo_Click() { OpenDocument(kSiteUrl); }

void frmMain::Label8_Click() { OpenDocument(kTestServerUrl); }

void frmMain::lblScada_Click() { OpenDocument(kSiteUrl); }

std::string frmMain::OpenDocument(const std::string& target) {
  platform::Desktop* desktop = Platform().desktop.get();
  if (desktop != nullptr && desktop->OpenUrl(target)) return {};
  // The desktop tells success from failure only. A failure means that no
  // handler took the address: the "no program is associated" case. Its
  // open-with choice has no counterpart on this desktop, so nothing more is
  // started.
  return OpenErrorText(kNoAssociation);
}
