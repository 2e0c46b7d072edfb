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

void FieldBinding::ShowWholeLog(Binding& b) {
  // The whole pane, drawn once: when the window is made, and when the model
  // replaces its text.
  auto& log = panel_.txtLog;
  auto* w = static_cast<QPlainTextEdit*>(b.widget);
  const std::string& text = log.Text();
  logMap_.Clear();
  w->clear();
  QTextCursor cur(w->document());
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
      logMap_.Append(c.text);
      QTextCursor cur(w->document());
      cur.movePosition(QTextCursor::End);
      cur.insertText(ToWidgetText(c.text), LogFormat(c.color));
      // The newest row stays in view.
      w->verticalScrollBar()->setValue(w->verticalScrollBar()->maximum());
      break;
    }
    case RichTextField::Change::RemoveFront: {
      const int units = logMap_.RemoveFront(c.pos);
      QTextCursor cur(w->document());
      cur.setPosition(units, QTextCursor::KeepAnchor);
      cur.removeSelectedText();
      break;
    }
    case RichTextField::Change::Recolor: {
      const int from = logMap_.WidgetPos(c.pos);
      const int to = logMap_.WidgetPos(c.pos + c.len);
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
  if (log.SelLength() == 0 && static_cast<size_t>(log.SelStart()) >= logMap_.Bytes()) {
    // The caret at the end, after every entry.
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
