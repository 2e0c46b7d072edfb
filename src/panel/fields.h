#pragma once
// The panel's field model: each field holds the properties the logic reads
// and writes, and tells one observer (the window, in the real program) which
// property changed. Setting a list's selection or turning an option button on
// from code raises its click handler, exactly as the operator's choice does.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

// Colours are the toolkit's 32-bit values &H00BBGGRR; &H800000nn names the
// system colour nn.
constexpr uint32_t kColorGrayText = 0x80000011;    // system grey text
constexpr uint32_t kColorButtonText = 0x80000012;  // system button text
constexpr uint32_t kColorWindowText = 0x80000008;  // system window text
constexpr uint32_t RGB(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (static_cast<uint32_t>(b) << 16); }

enum class Prop {
  Caption,
  Text,
  Items,
  ListIndex,
  Value,
  Enabled,
  Visible,
  ForeColor,
  ToolTip,
  Geometry,
  Selection,
  Locked,
  Focus
};

class Field {
 public:
  using Observer = std::function<void(Field&, Prop)>;

  explicit Field(std::string name, Field* parent = nullptr) : name_(std::move(name)), parent_(parent) {}
  virtual ~Field() = default;
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  const std::string& Name() const { return name_; }
  Field* Parent() const { return parent_; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { Set(enabled_, v, Prop::Enabled); }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { Set(visible_, v, Prop::Visible); }
  // Visible and inside visible groups only: a hidden group hides its fields.
  bool Shown() const { return visible_ && (parent_ == nullptr || parent_->Shown()); }

  uint32_t ForeColor() const { return foreColor_; }
  void SetForeColor(uint32_t c) { Set(foreColor_, c, Prop::ForeColor); }
  const std::string& ToolTipText() const { return toolTip_; }
  void SetToolTipText(const std::string& t) { Set(toolTip_, t, Prop::ToolTip); }

  // Position and size in twips (1/1440 inch).
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int v) { Set(left_, v, Prop::Geometry); }
  void SetTop(int v) { Set(top_, v, Prop::Geometry); }
  void SetWidth(int v) { Set(width_, v, Prop::Geometry); }
  void SetHeight(int v) { Set(height_, v, Prop::Geometry); }
  void Move(int left, int top, int width, int height);

  // Asks the view to move the keyboard focus to this field.
  void SetFocus() { Notify(Prop::Focus); }

  void SetObserver(Observer o) { observer_ = std::move(o); }

 protected:
  void Notify(Prop p) {
    if (observer_) observer_(*this, p);
  }
  template <class T>
  void Set(T& member, const T& v, Prop p) {
    if (member == v) return;
    member = v;
    Notify(p);
  }

 private:
  std::string name_;
  Field* parent_;
  bool enabled_ = true;
  bool visible_ = true;
  uint32_t foreColor_ = kColorButtonText;
  std::string toolTip_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  Observer observer_;
};

// A field with a caption: labels, buttons, the window itself.
class CaptionField : public Field {
 public:
  using Field::Field;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c) { Set(caption_, c, Prop::Caption); }

 private:
  std::string caption_;
};

class Label : public CaptionField {
 public:
  using CaptionField::CaptionField;
  // Clicks on labels that act as links.
  std::function<void()> onClick;
};

class Button : public CaptionField {
 public:
  using CaptionField::CaptionField;
  std::function<void()> onClick;      // a completed click (or keyboard activation)
  std::function<void()> onMouseDown;  // the mouse button going down
};

class Image : public Field {
 public:
  using Field::Field;
  std::function<void()> onClick;
};

// A container. Hiding it hides every field inside it.
class Group : public Field {
 public:
  using Field::Field;
  // Inner size; the panel's groups have no border, so it equals the size.
  int ScaleWidth() const { return Width(); }
  int ScaleHeight() const { return Height(); }
};

class OptionButton : public CaptionField {
 public:
  using CaptionField::CaptionField;
  bool Value() const { return value_; }
  // Turning the option on from off raises onClick and turns its partners off.
  void SetValue(bool v);
  void SetPartner(OptionButton* other) { partner_ = other; }
  std::function<void()> onClick;

 private:
  bool value_ = false;
  OptionButton* partner_ = nullptr;
};

// A drop-down list. A plain list's text is its selected item ("" when none);
// an editable list's text may also be typed.
class ListField : public Field {
 public:
  ListField(std::string name, Field* parent, bool editable = false)
      : Field(std::move(name), parent), editable_(editable) {}

  bool Editable() const { return editable_; }
  int ListCount() const { return static_cast<int>(items_.size()); }
  // The item at i, "" outside the list.
  std::string List(int i) const;
  const std::vector<std::string>& Items() const { return items_; }
  void AddItem(const std::string& item);
  // Empties the list; the selection becomes -1 (no click is raised).
  void Clear();

  int ListIndex() const { return listIndex_; }
  // Selects item i (-1: none). Refused (false, nothing changes) outside
  // -1..ListCount()-1. A changed selection raises onClick.
  bool SetListIndex(int i);

  const std::string& Text() const { return text_; }
  // Editable list: sets the text (and selects the equal item, if any). Plain
  // list: selects the item equal to the text; refused when there is none.
  bool SetText(const std::string& t);

  std::function<void()> onClick;

 private:
  bool editable_;
  std::vector<std::string> items_;
  int listIndex_ = -1;
  std::string text_;
};

// A text field with a selection, as the clipboard keys need it.
class TextBox : public Field {
 public:
  TextBox(std::string name, Field* parent, bool multiLine = false)
      : Field(std::move(name), parent), multiLine_(multiLine) {}

  const std::string& Text() const { return text_; }
  virtual void SetText(const std::string& t);
  bool MultiLine() const { return multiLine_; }
  bool Locked() const { return locked_; }
  void SetLocked(bool v) { Set(locked_, v, Prop::Locked); }

  // Selection, in characters (bytes of the UTF-8 text). Setting the start
  // empties the selection; the length is clipped to the text.
  int SelStart() const { return selStart_; }
  int SelLength() const { return selLength_; }
  void SetSelStart(int s);
  void SetSelLength(int n);
  // Sets start and length together, without raising two notifications.
  void Select(int start, int length);
  std::string SelText() const;
  // Replaces the selection (inserts at the caret when it is empty); the caret
  // ends behind the inserted text.
  virtual void SetSelText(const std::string& t);

 protected:
  std::string text_;
  int selStart_ = 0;
  int selLength_ = 0;

 private:
  bool multiLine_;
  bool locked_ = false;
};

class TextField : public TextBox {
 public:
  using TextBox::TextBox;
};

// The rich-text log pane: text plus the colour of every character. Changes
// are reported to a change observer one by one (append at the end, remove
// from the top, recolour a range), so a view can apply them incrementally.
class RichTextField : public TextBox {
 public:
  struct Change {
    enum Kind { Reset, Append, RemoveFront, Recolor } kind;
    size_t pos = 0;    // RemoveFront: characters removed; Recolor: first one
    size_t len = 0;    // Recolor: how many
    std::string text;  // Append: the text appended
    uint32_t color = 0;
  };
  using ChangeObserver = std::function<void(const Change&)>;

  using TextBox::TextBox;

  // Colour of the character at pos (0 outside the text).
  uint32_t ColorAt(size_t pos) const;
  size_t Length() const { return text_.size(); }

  void Append(const std::string& t, uint32_t color);
  void RemoveFront(size_t n);
  void SetColor(size_t pos, size_t len, uint32_t color);
  void SetText(const std::string& t) override;
  void SetSelText(const std::string& t) override;

  int RightMargin() const { return rightMargin_; }
  void SetRightMargin(int twips) { rightMargin_ = twips; }

  void SetChangeObserver(ChangeObserver o) { changeObserver_ = std::move(o); }

 private:
  void Emit(const Change& c) {
    if (changeObserver_) changeObserver_(c);
  }
  // Colours as runs: each run starts at a position counted in characters
  // ever written (removed_ of them are gone from the top) and lasts until the
  // next run. A full log pane then trims and appends without moving a colour
  // per character.
  struct ColorRun {
    size_t start;
    uint32_t color;
  };
  std::deque<ColorRun> runs_;
  size_t removed_ = 0;
  // Makes a run start at absolute position abs (splitting the run there).
  std::deque<ColorRun>::iterator SplitAt(size_t abs);
  int rightMargin_ = 0;
  ChangeObserver changeObserver_;
};

// A panel timer on a platform timer. Interval 0..65535 ms (0 never fires).
class TimerField {
 public:
  TimerField(std::string name, platform::TimerFactory& factory, int interval, bool enabled);
  const std::string& Name() const { return name_; }
  int Interval() const { return timer_->Interval(); }
  // Refused (false, unchanged) outside 0..65535.
  bool SetInterval(long long ms);
  bool Enabled() const { return timer_->Enabled(); }
  void SetEnabled(bool on) { timer_->SetEnabled(on); }
  std::function<void()> onTimer;

 private:
  std::string name_;
  std::unique_ptr<platform::Timer> timer_;
};
