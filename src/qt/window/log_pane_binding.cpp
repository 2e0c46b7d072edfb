// The log pane's part of the field binding: the pane follows the model's
// changes of the log (rows appended, rows taken off the top, bytes
// recoloured) rather than its whole text, which grows to a thousand entries;
// the position map (LogTextMap) makes each change cost its own size.
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>

#include "qt/window/field_binding.h"
#include "qt/window/text_map.h"
#include "qt/window/window_look.h"

namespace qt {
namespace {

// Whether the pane shows its end: scrolled to the bottom, or with the line
// after the last row in view (the caret put at the end scrolls only that far).
bool ShowsEnd(const QPlainTextEdit* w) {
  const QScrollBar* bar = w->verticalScrollBar();
  if (bar->value() >= bar->maximum()) return true;
  QTextCursor end(w->document());
  end.movePosition(QTextCursor::End);
  return w->cursorRect(end).top() < w->viewport()->height();
}

}  // namespace

void FieldBinding::ShowWholeLog(Binding& b) {
  // The whole pane, drawn once: when the window is made, and when the model
  // replaces its text.
  auto& log = panel_.txtLog;
  auto* w = static_cast<QPlainTextEdit*>(b.widget);
  const std::string& text = log.Text();
  logPending_ = PendingLog{};
  logFront_ = 0;
  logMap_.Clear();
  w->clear();
  QTextCursor cur(w->document());
  cur.beginEditBlock();
  size_t run = 0;
  for (size_t i = 1; i <= text.size(); ++i) {
    if (i == text.size() || log.ColorAt(i) != log.ColorAt(run)) {
      // Each run goes to the map as it goes to the widget, converted on its own.
      const std::string_view part = std::string_view(text).substr(run, i - run);
      logMap_.Append(part);
      cur.insertText(ToWidgetText(part), LogFormat(log.ColorAt(run)));
      run = i;
    }
  }
  cur.endEditBlock();
  // Drawn whole, the pane shows its newest row.
  w->verticalScrollBar()->setValue(w->verticalScrollBar()->maximum());
  logFollowedAt_ = w->verticalScrollBar()->value();
  ApplyLogSelection();
}

bool FieldBinding::LogFollows(const QPlainTextEdit* w) const {
  // Left where it was put to show the newest row, the pane follows even when
  // it has been made smaller since (a splitter, the watch list), which leaves
  // the end below; moved since, it follows when it shows its end.
  return (logFollowedAt_ >= 0 && w->verticalScrollBar()->value() == logFollowedAt_) || ShowsEnd(w);
}

void FieldBinding::ApplyLogChange(const RichTextField::Change& c) {
  // A request logged has used up its transaction identifier: the preview
  // shows the next one.
  MarkRequestChanged();
  // The changes are gathered and applied together once a frame (FlushLog,
  // or at once when the window asks for everything pending): rows taken off
  // the top and rows appended then cost one edit each, and rows that come and
  // go within the frame never reach the widget. Positions are kept counted
  // from the first byte ever logged, so that the order of the edits does not
  // matter.
  switch (c.kind) {
    case RichTextField::Change::Reset: {
      UpdateGuard g(updating_);
      ApplyText(*byField_.at(&panel_.txtLog));
      return;
    }
    case RichTextField::Change::Append:
      logPending_.appends.push_back({c.text, c.color});
      logPending_.appendedBytes += c.text.size();
      break;
    case RichTextField::Change::RemoveFront:
      logFront_ += static_cast<long long>(c.pos);
      break;
    case RichTextField::Change::Recolor:
      logPending_.recolors.push_back(
          {logFront_ + static_cast<long long>(c.pos), logFront_ + static_cast<long long>(c.pos + c.len), c.color});
      break;
  }
  logPending_.any = true;
  ScheduleLog();
}

void FieldBinding::ScheduleLog() {
  if (!logFrame_.isActive()) logFrame_.start();
}

void FieldBinding::FlushLog() {
  logFrame_.stop();
  ApplyLogPending();
  if (logSelectionPending_) {
    logSelectionPending_ = false;
    UpdateGuard g(updating_);
    ApplyLogSelection();
  }
}

void FieldBinding::ApplyLogPending() {
  if (!logPending_.any) return;
  PendingLog p = std::move(logPending_);
  logPending_ = PendingLog{};
  Binding& b = *byField_.at(&panel_.txtLog);
  auto* w = static_cast<QPlainTextEdit*>(b.widget);
  UpdateGuard g(updating_);
  QTextCursor cur(w->document());
  // A pane scrolled to its end follows the newest row; one the operator has
  // scrolled back in stays on the rows being read, while rows are added
  // below and taken off the top (the pane does not wrap: a row is a line).
  QScrollBar* bar = w->verticalScrollBar();
  const bool follow = LogFollows(w);
  const int firstShown = bar->value();
  const int blocks = w->document()->blockCount();

  // Rows off the top: first what the pane shows, then what was appended since
  // and is already gone again.
  const long long shownEnd = logMap_.Front() + static_cast<long long>(logMap_.Bytes());
  if (logFront_ > logMap_.Front()) {
    const long long fromShown = std::min(logFront_, shownEnd) - logMap_.Front();
    const int units = logMap_.RemoveFront(static_cast<size_t>(fromShown));
    cur.beginEditBlock();
    cur.setPosition(0);
    cur.setPosition(units, QTextCursor::KeepAnchor);
    cur.removeSelectedText();
    cur.endEditBlock();
  }
  const int removedRows = blocks - w->document()->blockCount();
  long long unseen = logFront_ - std::max(logMap_.Front(), shownEnd);
  if (unseen > 0) logMap_.Discard(static_cast<size_t>(std::min<long long>(unseen, p.appendedBytes)));

  // Rows appended, in one edit at the end.
  if (!p.appends.empty()) {
    cur.beginEditBlock();
    cur.movePosition(QTextCursor::End);
    for (auto& [text, color] : p.appends) {
      std::string_view t = text;
      if (unseen > 0) {
        const auto cut = static_cast<size_t>(std::min<long long>(unseen, static_cast<long long>(t.size())));
        t.remove_prefix(cut);
        unseen -= static_cast<long long>(cut);
      }
      if (t.empty()) continue;
      logMap_.Append(t);
      cur.insertText(ToWidgetText(t), LogFormat(color));
    }
    cur.endEditBlock();
  }

  // Recolours, in the order made, of what is still shown.
  for (const auto& r : p.recolors) {
    const long long a = std::max(r.from, logMap_.Front());
    const long long e = std::min(r.to, logMap_.Front() + static_cast<long long>(logMap_.Bytes()));
    if (a >= e) continue;
    cur.beginEditBlock();
    cur.setPosition(logMap_.WidgetPos(static_cast<size_t>(a - logMap_.Front())));
    cur.setPosition(logMap_.WidgetPos(static_cast<size_t>(e - logMap_.Front())), QTextCursor::KeepAnchor);
    QTextCharFormat f;
    f.setForeground(ToQColor(r.color));
    cur.mergeCharFormat(f);
    cur.endEditBlock();
  }
  bar->setValue(follow ? bar->maximum() : std::max(0, firstShown - removedRows));
  logFollowedAt_ = follow ? bar->value() : -1;
}

void FieldBinding::ApplyLogSelection() {
  ApplyLogPending();  // the selection is in the model's text of now
  auto& log = panel_.txtLog;
  auto* w = static_cast<QPlainTextEdit*>(WidgetOf(log));
  int start = 0, end = 0;
  if (log.SelLength() == 0 && static_cast<size_t>(log.SelStart()) >= logMap_.Bytes()) {
    // The caret at the end, after every entry: where the model puts it with
    // each row logged. It does not take away what the operator has selected
    // or scrolled back to read (the selection goes to the model when a
    // clipboard key is pressed).
    if (w->textCursor().hasSelection() || !LogFollows(w)) return;
    start = end = w->document()->characterCount() - 1;
  } else {
    start = logMap_.WidgetPos(static_cast<size_t>(std::max(0, log.SelStart())));
    end = logMap_.WidgetPos(static_cast<size_t>(std::max(0, log.SelStart() + log.SelLength())));
  }
  QTextCursor cur = w->textCursor();
  if (cur.selectionStart() == start && cur.selectionEnd() == end && cur.position() == end) return;
  cur.setPosition(start);
  cur.setPosition(end, QTextCursor::KeepAnchor);
  w->setTextCursor(cur);
}

}  // namespace qt
