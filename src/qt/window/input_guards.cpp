#include "qt/window/input_guards.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

#include "qt/window/beep_gate.h"
#include "qt/window/field_binding.h"

namespace qt {
namespace {

// The character code a key press types, as a 16-bit key code: printable
// characters, Backspace 8, Enter 13, Escape 27 and Ctrl+letter 1..26. -1 for
// keys that type nothing (navigation, Delete, Tab, function keys), which the
// widget handles on its own.
int KeyAsciiOf(const QKeyEvent* e) {
  const int key = e->key();
  const Qt::KeyboardModifiers mods = e->modifiers();
  if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Delete) return -1;
  if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier)) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return key - Qt::Key_A + 1;
    return -1;
  }
  if (mods & (Qt::ControlModifier | Qt::MetaModifier)) return -1;
  if (key == Qt::Key_Backspace) return 8;
  if (key == Qt::Key_Return || key == Qt::Key_Enter) return 13;
  if (key == Qt::Key_Escape) return 27;
  const QString t = e->text();
  if (t.isEmpty()) return -1;
  const char16_t u = t.at(0).unicode();
  if (u < 32 || u == 127) return -1;
  return u;
}

// A character as a 16-bit key code. Codes beyond the signed 16-bit range are
// handed in as 0x7FFF, which no key filter accepts.
int16_t KeyCodeOfChar(char32_t c) { return static_cast<int16_t>(c > 0x7FFF ? 0x7FFF : c); }

bool IsClipboardKey(int key) { return key == Qt::Key_A || key == Qt::Key_C || key == Qt::Key_X || key == Qt::Key_V; }

// The editing keys a text widget handles on its own (select all, undo, redo,
// deleting words and lines). They type no character, so a field's key filter
// never sees them; copy, cut and paste do go through it.
bool IsEditingKey(const QKeyEvent* e) {
  for (const QKeySequence::StandardKey k :
       {QKeySequence::SelectAll, QKeySequence::Undo, QKeySequence::Redo, QKeySequence::DeleteEndOfLine,
        QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord, QKeySequence::DeleteCompleteLine})
    if (e->matches(k)) return true;
  return false;
}

bool IsEnter(const QKeyEvent* e) {
  const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
  return (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && mods == Qt::NoModifier;
}

}  // namespace

InputGuards::InputGuards(FieldBinding& binding, QWidget* window, std::shared_ptr<BeepGate> gate)
    : QObject(window), binding_(binding), window_(window), gate_(std::move(gate)) {}

InputGuards::~InputGuards() { StopSwallowingMouse(); }

void InputGuards::Guard(Binding& b) { b.widget->installEventFilter(this); }

bool InputGuards::eventFilter(QObject* watched, QEvent* e) {
  if (swallowMouse_) {
    const QEvent::Type type = e->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick) {
      auto* w = qobject_cast<QWidget*>(watched);
      const bool stale = QDateTime::currentMSecsSinceEpoch() - swallowSince_ > 3000;
      if (type == QEvent::MouseButtonRelease || stale) StopSwallowingMouse();
      // The click that tried to take the focus from a refused field does not
      // reach its target.
      if (!stale && w != nullptr && w->window() == window_ && (refocus_ == nullptr || w != refocus_->widget))
        return true;
    }
  }

  Binding* found = binding_.BindingOf(watched);
  if (found == nullptr) return QObject::eventFilter(watched, e);
  Binding& b = *found;
  switch (e->type()) {
    case QEvent::KeyPress:
      return OnKeyPress(b, static_cast<QKeyEvent*>(e));
    case QEvent::FocusOut:
      OnFocusOut(b, static_cast<QFocusEvent*>(e));
      break;
    case QEvent::ContextMenu:
      if (b.kind == Binding::Line && b.keyPress != nullptr) return LineContextMenu(b, e);
      break;
    case QEvent::MouseButtonRelease:
      // The middle button pastes the X11 selection: filtered like any paste.
      if (b.kind == Binding::Line && b.keyPress != nullptr &&
          static_cast<QMouseEvent*>(e)->button() == Qt::MiddleButton) {
        if (QApplication::clipboard()->supportsSelection())
          PasteFiltered(b, QApplication::clipboard()->text(QClipboard::Selection));
        return true;
      }
      break;
    default:
      break;
  }
  return false;
}

bool InputGuards::OnKeyPress(Binding& b, QKeyEvent* e) {
  if (b.sendOnEnter && IsEnter(e)) {
    SendFrom(b);
    return true;
  }
  if (b.keyDown != nullptr) {
    const int key = e->key();
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
      const Qt::KeyboardModifiers mods = e->modifiers();
      const auto shift =
          static_cast<int16_t>(((mods & Qt::ShiftModifier) ? 1 : 0) | ((mods & Qt::ControlModifier) ? 2 : 0) |
                               ((mods & Qt::AltModifier) ? 4 : 0));
      binding_.ApplyPending();
      binding_.PushSelection(b);
      (binding_.Panel().*b.keyDown)(static_cast<int16_t>(key), shift);
      binding_.ApplyPending();
      if (b.clipboardKeys && (mods & Qt::ControlModifier) && IsClipboardKey(key)) return true;
    }
  }
  if (b.keyPress == nullptr || IsEditingKey(e)) return false;

  const int code = KeyAsciiOf(e);
  if (code < 0) {
    if (e->matches(QKeySequence::Paste)) {  // Shift+Insert
      Paste(b);
      return true;
    }
    return false;
  }
  if (e->text().size() > 1) {  // several characters at once (an input method): a paste
    PasteFiltered(b, e->text());
    return true;
  }
  auto k = static_cast<int16_t>(code);
  (binding_.Panel().*b.keyPress)(k);
  binding_.ApplyPending();
  if (k == 0) return true;  // refused
  if (k != code) {          // replaced (upper-cased)
    InsertTyped(b, QString(QChar(static_cast<char16_t>(k))));
    return true;
  }
  if (k == 22) {  // Ctrl+V: the pasted text goes through the filter too
    Paste(b);
    return true;
  }
  return false;  // the widget types the character (or copies, cuts, erases)
}

void InputGuards::SendFrom(Binding& b) {
  frmMain& panel = binding_.Panel();
  // The field's value is checked first, as when the operator leaves it for
  // the Send button: a refused value (with its beep) sends nothing.
  if (b.validate != nullptr) {
    bool cancel = false;
    (panel.*b.validate)(cancel);
    binding_.ApplyPending();
    if (cancel) return;
  }
  if (!panel.cmdSend.Enabled() || !panel.cmdSend.onClick) return;
  panel.cmdSend.onClick();
  binding_.ApplyPending();
}

void InputGuards::OnFocusOut(Binding& b, QFocusEvent* e) {
  if (b.validate == nullptr) return;
  const Qt::FocusReason why = e->reason();
  // Only the operator moving to another field of this window checks the
  // value; switching windows, menus and the model's own focus moves do not.
  if (why == Qt::ActiveWindowFocusReason || why == Qt::PopupFocusReason || why == Qt::MenuBarFocusReason) return;
  if (binding_.ModelMovesFocus() || restoringFocus_) return;
  if (refocus_ != nullptr && refocus_ != &b) return;
  bool cancel = false;
  (binding_.Panel().*b.validate)(cancel);
  binding_.ApplyPending();
  if (cancel) RestoreFocusLater(b, why == Qt::MouseFocusReason);
}

void InputGuards::RestoreFocusLater(Binding& b, bool swallowClick) {
  refocus_ = &b;
  if (swallowClick && !swallowMouse_) {
    swallowMouse_ = true;
    swallowSince_ = QDateTime::currentMSecsSinceEpoch();
    qApp->installEventFilter(this);
  }
  // The focus has already moved on when the field hears of it; it is put
  // back once the move is complete.
  QPointer<QWidget> w = b.widget;
  QTimer::singleShot(0, this, [this, w] {
    if (w && w->isVisible() && w->isEnabled()) {
      restoringFocus_ = true;
      w->setFocus(Qt::OtherFocusReason);
      restoringFocus_ = false;
    }
    refocus_ = nullptr;
  });
}

void InputGuards::StopSwallowingMouse() {
  if (!swallowMouse_) return;
  swallowMouse_ = false;
  qApp->removeEventFilter(this);
}

QString InputGuards::FilterThroughKeyPress(Binding& b, const QString& text) {
  if (gate_) gate_->Hold();
  QString allowed;
  for (qsizetype i = 0; i < text.size(); ++i) {
    char32_t c = text.at(i).unicode();
    qsizetype units = 1;
    if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
      units = 2;
    }
    const int16_t code = KeyCodeOfChar(c);
    int16_t k = code;
    (binding_.Panel().*b.keyPress)(k);
    if (k == code)
      allowed += text.mid(i, units);
    else if (k != 0)
      allowed += QChar(static_cast<char16_t>(k));
    i += units - 1;
  }
  if (gate_) gate_->Release();
  binding_.ApplyPending();
  return allowed;
}

void InputGuards::InsertTyped(Binding& b, const QString& text) {
  if (b.kind == Binding::Line) {
    auto* w = static_cast<QLineEdit*>(b.widget);
    if (w->isReadOnly()) return;
    w->insert(text);
  } else if (b.kind == Binding::Multi) {
    auto* w = static_cast<QPlainTextEdit*>(b.widget);
    if (w->isReadOnly()) return;
    w->textCursor().insertText(text);
    w->ensureCursorVisible();
  }
  binding_.SyncTextToModel(b);
}

void InputGuards::PasteFiltered(Binding& b, const QString& text) {
  if (text.isEmpty()) return;
  if (b.kind == Binding::Line && static_cast<QLineEdit*>(b.widget)->isReadOnly()) return;
  const QString allowed = FilterThroughKeyPress(b, text);
  if (!allowed.isEmpty()) InsertTyped(b, allowed);
}

void InputGuards::Paste(Binding& b) {
  if (b.kind == Binding::Multi) {
    // FilteredTextEdit filters every paste and drop on its own.
    static_cast<QPlainTextEdit*>(b.widget)->paste();
    return;
  }
  PasteFiltered(b, QApplication::clipboard()->text());
}

bool InputGuards::LineContextMenu(Binding& b, QEvent* e) {
  auto* w = static_cast<QLineEdit*>(b.widget);
  std::unique_ptr<QMenu> menu(w->createStandardContextMenu());
  for (QAction* a : menu->actions()) {
    if (a->objectName() != QLatin1String("edit-paste")) continue;
    // The menu's Paste goes through the key filter like Ctrl+V.
    auto* filtered = new QAction(a->icon(), a->text(), menu.get());
    filtered->setEnabled(a->isEnabled());
    filtered->setShortcut(a->shortcut());
    connect(filtered, &QAction::triggered, this, [this, &b] { Paste(b); });
    menu->insertAction(a, filtered);
    menu->removeAction(a);
    break;
  }
  menu->exec(static_cast<QContextMenuEvent*>(e)->globalPos());
  return true;
}

}  // namespace qt
