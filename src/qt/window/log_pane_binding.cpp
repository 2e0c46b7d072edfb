// The log pane's part of the field binding: the pane follows the model's
// changes of the log (rows appended, rows taken off the top, bytes
// recoloured) rather than its whole text, which grows to a thousand entries.
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>

#include "qt/window/field_binding.h"
#include "qt/window/text_map.h"
#include "qt/window/window_look.h"

namespace qt {

void FieldBinding::ShowWholeLog(Binding& b) {
  // The whole pane, drawn once: when the window is made, and when the model
  // replaces its text.
  auto& log = panel_.txtLog;
  auto* w = static_cast<QPlainTextEdit*>(b.widget);
  logMirror_ = log.Text();
  w->clear();
  QTextCursor cur(w->document());
  size_t run = 0;
  for (size_t i = 1; i <= logMirror_.size(); ++i) {
    if (i == logMirror_.size() || log.ColorAt(i) != log.ColorAt(run)) {
      cur.insertText(ToWidgetText(std::string_view(logMirror_).substr(run, i - run)), LogFormat(log.ColorAt(run)));
      run = i;
    }
  }
  ApplyLogSelection();
}

void FieldBinding::ApplyLogChange(const RichTextField::Change& c) {
  Binding& b = *byField_.at(&panel_.txtLog);
  auto* w = static_cast<QPlainTextEdit*>(b.widget);
  UpdateGuard g(updating_);
  // A request logged has used up its transaction identifier: the preview
  // shows the next one.
  MarkRequestChanged();
  switch (c.kind) {
    case RichTextField::Change::Reset:
      ApplyText(b);
      break;
    case RichTextField::Change::Append: {
      logMirror_ += c.text;
      QTextCursor cur(w->document());
      cur.movePosition(QTextCursor::End);
      cur.insertText(ToWidgetText(c.text), LogFormat(c.color));
      // The newest row stays in view.
      w->verticalScrollBar()->setValue(w->verticalScrollBar()->maximum());
      break;
    }
    case RichTextField::Change::RemoveFront: {
      const size_t n = std::min(c.pos, logMirror_.size());
      const int units = WidgetPos(logMirror_, static_cast<int>(n));
      logMirror_.erase(0, n);
      QTextCursor cur(w->document());
      cur.setPosition(units, QTextCursor::KeepAnchor);
      cur.removeSelectedText();
      break;
    }
    case RichTextField::Change::Recolor: {
      const int from = WidgetPos(logMirror_, static_cast<int>(c.pos));
      const int to = WidgetPos(logMirror_, static_cast<int>(c.pos + c.len));
      QTextCursor cur(w->document());
      cur.setPosition(from);
      cur.setPosition(to, QTextCursor::KeepAnchor);
      QTextCharFormat f;
      f.setForeground(ToQColor(c.color));
      cur.mergeCharFormat(f);
      break;
    }
  }
}

void FieldBinding::ApplyLogSelection() {
  auto& log = panel_.txtLog;
  auto* w = static_cast<QPlainTextEdit*>(WidgetOf(log));
  int start = 0, end = 0;
  if (log.SelLength() == 0 && static_cast<size_t>(log.SelStart()) >= logMirror_.size()) {
    // The caret at the end, after every entry: no need to walk the text.
    start = end = w->document()->characterCount() - 1;
  } else {
    start = WidgetPos(logMirror_, log.SelStart());
    end = WidgetPos(logMirror_, log.SelStart() + log.SelLength());
  }
  QTextCursor cur = w->textCursor();
  if (cur.selectionStart() == start && cur.selectionEnd() == end && cur.position() == end) return;
  cur.setPosition(start);
  cur.setPosition(end, QTextCursor::KeepAnchor);
  w->setTextCursor(cur);
}

}  // namespace qt
