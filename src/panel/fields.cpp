#include "panel/fields.h"

#include <algorithm>

void Field::Move(int left, int top, int width, int height) {
  if (left_ == left && top_ == top && width_ == width && height_ == height) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Notify(Prop::Geometry);
}

void OptionButton::SetValue(bool v) {
  if (value_ == v) return;
  value_ = v;
  Notify(Prop::Value);
  if (v) {
    if (partner_ != nullptr && partner_->value_) {
      partner_->value_ = false;
      partner_->Notify(Prop::Value);
    }
    if (onClick) onClick();
  }
}

std::string ListField::List(int i) const {
  return (i >= 0 && i < ListCount()) ? items_[static_cast<size_t>(i)] : std::string();
}

void ListField::AddItem(const std::string& item) {
  items_.push_back(item);
  Notify(Prop::Items);
}

void ListField::Clear() {
  items_.clear();
  listIndex_ = -1;
  if (!editable_) text_.clear();
  Notify(Prop::Items);
}

bool ListField::SetListIndex(int i) {
  if (i < -1 || i >= ListCount()) return false;
  if (i == listIndex_) return true;
  listIndex_ = i;
  if (i >= 0)
    text_ = items_[static_cast<size_t>(i)];
  else if (!editable_)
    text_.clear();
  Notify(Prop::ListIndex);
  if (onClick) onClick();
  return true;
}

bool ListField::SetText(const std::string& t) {
  auto it = std::find(items_.begin(), items_.end(), t);
  if (!editable_) {
    if (it == items_.end()) return false;
    return SetListIndex(static_cast<int>(it - items_.begin()));
  }
  if (text_ != t) {
    text_ = t;
    Notify(Prop::Text);
  }
  // Typing an item's text in an editable list selects that item without a click.
  int idx = it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
  if (idx != listIndex_) {
    listIndex_ = idx;
    Notify(Prop::ListIndex);
  }
  return true;
}

void TextBox::SetText(const std::string& t) {
  if (text_ == t) return;
  text_ = t;
  selStart_ = std::min<int>(selStart_, static_cast<int>(text_.size()));
  selLength_ = 0;
  Notify(Prop::Text);
}

void TextBox::SetSelStart(int s) { Select(s, 0); }

void TextBox::SetSelLength(int n) { Select(selStart_, n); }

void TextBox::Select(int start, int length) {
  const int len = static_cast<int>(text_.size());
  start = std::clamp(start, 0, len);
  length = std::clamp(length, 0, len - start);
  if (start == selStart_ && length == selLength_) return;
  selStart_ = start;
  selLength_ = length;
  Notify(Prop::Selection);
}

std::string TextBox::SelText() const {
  return text_.substr(static_cast<size_t>(selStart_), static_cast<size_t>(selLength_));
}

void TextBox::SetSelText(const std::string& t) {
  text_.replace(static_cast<size_t>(selStart_), static_cast<size_t>(selLength_), t);
  selStart_ += static_cast<int>(t.size());
  selLength_ = 0;
  Notify(Prop::Text);
  Notify(Prop::Selection);
}

uint32_t RichTextField::ColorAt(size_t pos) const {
  if (pos >= text_.size() || runs_.empty()) return 0;
  const size_t abs = pos + removed_;
  // The last run starting at or before abs.
  auto it = std::upper_bound(runs_.begin(), runs_.end(), abs, [](size_t a, const ColorRun& r) { return a < r.start; });
  return it == runs_.begin() ? runs_.front().color : std::prev(it)->color;
}

std::deque<RichTextField::ColorRun>::iterator RichTextField::SplitAt(size_t abs) {
  auto it = std::upper_bound(runs_.begin(), runs_.end(), abs, [](size_t a, const ColorRun& r) { return a < r.start; });
  if (it != runs_.begin() && std::prev(it)->start == abs) return std::prev(it);
  const uint32_t color = it == runs_.begin() ? kColorWindowText : std::prev(it)->color;
  return runs_.insert(it, ColorRun{abs, color});
}

void RichTextField::Append(const std::string& t, uint32_t color) {
  if (t.empty()) return;
  const size_t abs = text_.size() + removed_;
  if (runs_.empty() || runs_.back().color != color) runs_.push_back({abs, color});
  text_ += t;
  Emit({Change::Append, 0, 0, t, color});
}

void RichTextField::RemoveFront(size_t n) {
  n = std::min(n, text_.size());
  if (n == 0) return;
  text_.erase(0, n);
  removed_ += n;
  // Drop the runs that end before the new first character; the run that
  // covers it stays.
  while (runs_.size() > 1 && runs_[1].start <= removed_) runs_.pop_front();
  selStart_ = std::max(0, selStart_ - static_cast<int>(n));
  selLength_ = std::min(selLength_, static_cast<int>(text_.size()) - selStart_);
  Emit({Change::RemoveFront, n, 0, {}, 0});
}

void RichTextField::SetColor(size_t pos, size_t len, uint32_t color) {
  if (pos >= text_.size()) return;
  len = std::min(len, text_.size() - pos);
  if (len == 0) return;
  const size_t from = pos + removed_, to = from + len;
  // Split at the end first: the iterator of the start split stays valid only
  // for the runs before it.
  const bool tailInText = to < text_.size() + removed_;
  if (tailInText) SplitAt(to);
  auto first = SplitAt(from);
  auto last = tailInText ? SplitAt(to) : runs_.end();
  first->color = color;
  runs_.erase(std::next(first), last);
  Emit({Change::Recolor, pos, len, {}, color});
}

void RichTextField::SetText(const std::string& t) {
  text_ = t;
  runs_.clear();
  removed_ = 0;
  runs_.push_back({0, kColorWindowText});
  selStart_ = selLength_ = 0;
  Emit({Change::Reset, 0, 0, t, kColorWindowText});
  Notify(Prop::Text);
}

void RichTextField::SetSelText(const std::string& t) {
  // The log pane is read-only for the operator; a replacement from code gives
  // the whole text the colour of the character before the selection.
  const uint32_t c = selStart_ > 0 ? ColorAt(static_cast<size_t>(selStart_ - 1)) : kColorWindowText;
  TextBox::SetSelText(t);
  runs_.clear();
  runs_.push_back({removed_, c});
  Emit({Change::Reset, 0, 0, text_, c});
}

TimerField::TimerField(std::string name, platform::TimerFactory& factory, int interval, bool enabled)
    : name_(std::move(name)), timer_(factory.CreateTimer()) {
  timer_->SetInterval(interval);
  timer_->SetEnabled(enabled);
  timer_->SetHandler([this] {
    if (onTimer) onTimer();
  });
}

bool TimerField::SetInterval(long long ms) {
  if (ms < 0 || ms > 65535) return false;
  timer_->SetInterval(static_cast<int>(ms));
  return true;
}
