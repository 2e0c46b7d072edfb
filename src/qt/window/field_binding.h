#pragma once
// The binding of the panel's fields to their widgets: each field has one
// widget showing what the model holds (text, caption, list, choice, colour,
// enabled and shown state, selection, focus), and the operator's actions on
// the widget go back to the field (typed text, a list choice, a click).
//
// Multi-line texts follow the model once the current event has been handled,
// so that a view built line by line is drawn once; the log pane follows the
// model's changes (appended rows, rows taken off the top, recoloured bytes)
// instead of its whole text.
#include <QKeySequence>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "panel/frmMain.h"
#include "qt/window/text_map.h"

class QPlainTextEdit;
class QWidget;

namespace qt {

// Counts a nesting of "the window is setting widgets from the model", so that
// the widgets' change signals do not go back to the model.
class UpdateGuard {
 public:
  explicit UpdateGuard(int& counter) : counter_(counter) { ++counter_; }
  ~UpdateGuard() { --counter_; }
  UpdateGuard(const UpdateGuard&) = delete;
  UpdateGuard& operator=(const UpdateGuard&) = delete;

 private:
  int& counter_;
};

struct Binding {
  using KeyPressHandler = void (frmMain::*)(int16_t&);
  using ValidateHandler = void (frmMain::*)(bool&);
  using KeyDownHandler = void (frmMain::*)(int16_t, int16_t);

  enum Kind { Window, Group, Label, List, Option, Line, Multi, Grid, Log, Button, Press, Image } kind;
  Field* field;
  QWidget* widget;
  KeyPressHandler keyPress = nullptr;
  ValidateHandler validate = nullptr;
  KeyDownHandler keyDown = nullptr;
  // Ctrl+A/C/X/V belong to the model's clipboard handling, not the widget's.
  bool clipboardKeys = false;
  // Enter sends the request (the fields the request is made of).
  bool sendOnEnter = false;
  // The key that does what the widget does, named after the model's tool tip.
  QKeySequence toolTipKey;
  bool pendingText = false;
  bool pendingSelection = false;
};

class FieldBinding : public QObject {
  Q_OBJECT
 public:
  // `window` shows the panel itself (its caption is the window's title).
  FieldBinding(frmMain& panel, QWidget* window);
  ~FieldBinding() override;

  frmMain& Panel() { return panel_; }

  // Registers the widget of a field; the widget takes the field's name.
  Binding& Bind(Field& field, Binding::Kind kind, QWidget* widget);
  // Once every widget is bound: connects the widgets' actions, shows the
  // model's state and starts following the model's changes.
  void Attach();

  QWidget* WidgetOf(const Field& field) const;
  // The widget a field's widget goes in: its group's, or the window.
  QWidget* ContainerOf(const Field& field) const;
  Binding* BindingOf(const QObject* widget) const;

  // Applies the deferred multi-line texts and selections, and the log's
  // changes, now.
  void ApplyPending();
  // The widget's text (and, for the text panes, its selection) to the model.
  void SyncTextToModel(Binding& b);
  void PushSelection(Binding& b);

  // > 0 while widgets are set from the model.
  int& Updating() { return updating_; }
  // True while the model moves the focus (not the operator leaving a field).
  bool ModelMovesFocus() const { return modelFocusMove_; }

  // Called once after the changes of an event when a field a request is made
  // of (or the log, whose request rows use up transaction ids) changed.
  std::function<void()> onRequestChanged;
  // Called after the response view's text has been shown, and when the view
  // is greyed or enabled.
  std::function<void()> onResponseShown;
  std::function<void(bool)> onResponseEnabled;
  // Places the window where the panel's position says (the fields' own
  // positions are not used: the window's layouts place them).
  std::function<void(const Field&)> onWindowGeometry;

 private:
  void ConnectActions(Binding& b);
  void ApplyAll(Binding& b);
  void Apply(Binding& b, Prop p);
  void ApplyCaption(Binding& b);
  void ApplyText(Binding& b);
  void ApplySelection(Binding& b);
  void ApplyForeColor(Binding& b);
  void ApplyGeometry(Binding& b);
  void SyncList(Binding& b);
  void Defer(Binding& b, bool text, bool selection);
  void MarkRequestChanged();
  void QueueFlush();
  // The log pane (log_pane_binding.cpp).
  void ShowWholeLog(Binding& b);
  void ApplyLogChange(const RichTextField::Change& c);
  // The log changes gathered since the last call, applied to the pane.
  void ApplyLogPending();
  // The deferred fields other than the log (the flush after each event).
  void ApplyPendingFields();
  // The log's changes and caret, at most once a frame (logFrame_).
  void ScheduleLog();
  void FlushLog();
  void ApplyLogSelection();
  // Whether the log pane shows the newest row as rows are logged: the
  // operator has not scrolled away from its end.
  bool LogFollows(const QPlainTextEdit* w) const;
  void FocusFromModel(Binding& b);

  frmMain& panel_;
  QWidget* window_;
  std::vector<std::unique_ptr<Binding>> bindings_;
  std::unordered_map<const Field*, Binding*> byField_;
  std::unordered_map<const QObject*, Binding*> byWidget_;
  int updating_ = 0;
  bool flushQueued_ = false;
  bool requestChanged_ = false;
  bool modelFocusMove_ = false;
  // The log pane's text as the model holds it (UTF-8, CR LF), to map the
  // model's character positions onto the widget's.
  LogTextMap logMap_;
  // The log's changes not yet applied to the pane. Positions count bytes from
  // the first byte logged since the pane was last drawn whole; logFront_ is
  // where the model's text starts in that count.
  struct PendingLog {
    struct Run {
      std::string text;
      uint32_t color;
    };
    struct Recolor {
      long long from, to;
      uint32_t color;
    };
    std::vector<Run> appends;
    long long appendedBytes = 0;
    std::vector<Recolor> recolors;
    bool any = false;
  };
  PendingLog logPending_;
  long long logFront_ = 0;
  bool logSelectionPending_ = false;
  // The scroll position the pane was last put at to follow the newest row,
  // -1 when it did not follow.
  int logFollowedAt_ = -1;
  // Rows may be logged thousands of times a second: the pane follows them
  // once a frame, so that laying out and painting happen once for all the
  // rows of that frame.
  QTimer logFrame_;
};

}  // namespace qt
