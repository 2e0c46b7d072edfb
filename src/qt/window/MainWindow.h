#pragma once
// The program's window: a thin view of the panel model. Every field of the
// panel has one widget, placed where the model puts it and showing what the
// model holds; the operator's actions go to the model's handlers, and the
// model's changes come back through the fields' observers. The window itself
// decides nothing about the behaviour of the panel.
//
// Beside the panel's fields the window shows the operator aids the panel
// offers: the request preview (in the request area), the value inspector (a
// column right of the panel, with the log's save button at its foot) and the
// session statistics (a status bar under everything).
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "panel/frmMain.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QKeyEvent;
class QFocusEvent;
class QLabel;
class QPushButton;
class QTableWidget;

namespace qt {

class BeepGate;

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  // Binds to a panel on which Form_Load has run. The panel must outlive the
  // window; the window detaches itself from the panel when destroyed.
  explicit MainWindow(frmMain& panel, QWidget* parent = nullptr);
  ~MainWindow() override;

  frmMain& Panel() { return panel_; }
  // The widget that shows a field (the window for the panel itself), or
  // nullptr for a field the window does not show.
  QWidget* WidgetOf(const Field& field) const;
  // Applies the model's changes of the multi-line texts now. They are
  // otherwise applied once the current event has been handled, so that a view
  // built line by line is drawn once.
  void ApplyPending();

  // Saves the log to `path` once the operator has chosen it in the save
  // dialog: as CSV when the name ends in ".csv", as text when it ends in
  // ".txt", otherwise as the dialog's filter says (`csvFilter`). A failure is
  // reported in the log by the panel.
  void SaveLogAs(const QString& path, bool csvFilter);

 protected:
  void closeEvent(QCloseEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  using KeyPressHandler = void (frmMain::*)(int16_t&);
  using ValidateHandler = void (frmMain::*)(bool&);
  using KeyDownHandler = void (frmMain::*)(int16_t, int16_t);

  struct Binding {
    enum Kind { Window, Group, Label, List, Option, Line, Multi, Log, Button, Press, Image } kind;
    Field* field;
    QWidget* widget;
    KeyPressHandler keyPress = nullptr;
    ValidateHandler validate = nullptr;
    KeyDownHandler keyDown = nullptr;
    // Ctrl+A/C/X/V belong to the model's clipboard handling, not the widget's.
    bool clipboardKeys = false;
    bool pendingText = false;
    bool pendingSelection = false;
  };

  // Building.
  Binding& Bind(Field& field, Binding::Kind kind, QWidget* widget);
  QWidget* ContainerOf(const Field& field) const;
  void BuildWidgets();
  void ConnectActions(Binding& b);
  void SetTabOrder();
  void ApplyAll(Binding& b);

  // Model to widget.
  void Apply(Binding& b, Prop p);
  void ApplyCaption(Binding& b);
  void ApplyText(Binding& b);
  void ApplySelection(Binding& b);
  void ApplyForeColor(Binding& b);
  void ApplyGeometry(Binding& b);
  void SyncList(Binding& b);
  void Defer(Binding& b, bool text, bool selection);
  void ApplyLogChange(const RichTextField::Change& c);
  void ApplyLogSelection();
  void FocusFromModel(Binding& b);

  // Widget to model.
  bool OnKeyPress(Binding& b, QKeyEvent* e);
  void OnFocusOut(Binding& b, QFocusEvent* e);
  void PushSelection(Binding& b);
  QString FilterThroughKeyPress(Binding& b, const QString& text);
  void InsertTyped(Binding& b, const QString& text);
  void PasteFiltered(Binding& b, const QString& text);
  void Paste(Binding& b);
  bool LineContextMenu(Binding& b, QEvent* e);
  void SyncTextToModel(Binding& b);
  void RaiseQueryUnload(int16_t unloadMode);
  void PushPosition();

  // The operator aids.
  void BuildAids();
  void QueueFlush();
  void RefreshPreview();
  void RefreshInspector();
  void RefreshStats();
  void ChooseLogFile();

  // Keeping a refused field focused.
  void RestoreFocusLater(Binding& b, bool swallowClick);
  void StopSwallowingMouse();

  frmMain& panel_;
  std::shared_ptr<BeepGate> gate_;
  std::vector<std::unique_ptr<Binding>> bindings_;
  std::unordered_map<const Field*, Binding*> byField_;
  std::unordered_map<const QObject*, Binding*> byWidget_;
  int updating_ = 0;  // > 0 while widgets are set from the model
  bool flushQueued_ = false;
  bool unloaded_ = false;

  // The log pane's text as the model holds it (UTF-8, CR LF), to map the
  // model's character positions onto the widget's.
  std::string logMirror_;

  Binding* refocus_ = nullptr;  // a field that refused to let the focus go
  bool restoringFocus_ = false;
  bool modelFocusMove_ = false;
  bool swallowMouse_ = false;
  qint64 swallowSince_ = 0;

  QLineEdit* preview_ = nullptr;
  bool previewPending_ = false;
  QLabel* inspectorAddress_ = nullptr;
  QTableWidget* inspector_ = nullptr;
  int inspectedLine_ = -1;  // the response view's line the operator chose; -1 for none
  QLabel* stats_ = nullptr;
  QPushButton* saveLog_ = nullptr;
  QPushButton* resetStats_ = nullptr;
  QString logFolder_;  // where the save dialog opens
};

}  // namespace qt
