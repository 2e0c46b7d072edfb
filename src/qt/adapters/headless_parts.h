#pragma once
// Stand-ins for the parts that need QtGui, so that the adapter library runs
// headless (integration tests, a QCoreApplication). The window replaces them
// with the real ones (window/gui_platform.h).
#include <optional>
#include <string>

#include "platform/platform.h"

namespace qt {

// A clipboard that lives in memory, private to the process.
class MemoryClipboard : public platform::Clipboard {
 public:
  void Clear() override { text_.reset(); }
  void SetText(const std::string& text) override { text_ = text; }
  bool HasText() const override { return text_.has_value(); }
  std::string GetText() const override { return text_.value_or(std::string()); }

 private:
  std::optional<std::string> text_;
};

// Makes no sound and writes nothing; counts the beeps so a test can see them.
class CountingBeeper : public platform::Beeper {
 public:
  void Beep() override { ++count_; }
  int Count() const { return count_; }

 private:
  int count_ = 0;
};

// No desktop to hand an address to: every address is refused.
class NoDesktop : public platform::Desktop {
 public:
  bool OpenUrl(const std::string&) override { return false; }
};

}  // namespace qt
