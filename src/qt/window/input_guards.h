#pragma once
// The guards of the panel's input fields, between the operator's keys and the
// widgets: a typed character goes through the field's key filter first (it
// may be refused with a beep, or replaced), a paste goes through it character
// by character with one beep for the lot, and a field whose value check
// refuses the value keeps the focus (the click that tried to take it is
// swallowed). The text panes' clipboard keys go to the model's handling.
// The usual editing keys (select all, undo, ...) stay the widget's; Enter in
// a field of the request sends it.
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class QEvent;
class QFocusEvent;
class QKeyEvent;
class QWidget;

namespace qt {

class BeepGate;
class FieldBinding;
struct Binding;

class InputGuards : public QObject {
  Q_OBJECT
 public:
  // Guards the fields of `binding` in `window`. `gate`, when given, makes a
  // paste beep once.
  InputGuards(FieldBinding& binding, QWidget* window, std::shared_ptr<BeepGate> gate);
  ~InputGuards() override;

  // Starts guarding a field's widget.
  void Guard(Binding& b);
  // The characters of `text` that the field's key filter lets through (as
  // the filter may have replaced them), one beep for all it refused.
  QString FilterThroughKeyPress(Binding& b, const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  bool OnKeyPress(Binding& b, QKeyEvent* e);
  void SendFrom(Binding& b);
  void OnFocusOut(Binding& b, QFocusEvent* e);
  void InsertTyped(Binding& b, const QString& text);
  void PasteFiltered(Binding& b, const QString& text);
  void Paste(Binding& b);
  bool LineContextMenu(Binding& b, QEvent* e);
  void RestoreFocusLater(Binding& b, bool swallowClick);
  void StopSwallowingMouse();

  FieldBinding& binding_;
  QWidget* window_;
  std::shared_ptr<BeepGate> gate_;
  Binding* refocus_ = nullptr;  // a field that refused to let the focus go
  bool restoringFocus_ = false;
  bool swallowMouse_ = false;
  qint64 swallowSince_ = 0;
};

}  // namespace qt
