#include "qt/window/field_binding.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextCursor>
#include <algorithm>

#include "qt/window/response_grid.h"
#include "qt/window/text_map.h"
#include "qt/window/widgets.h"
#include "qt/window/window_look.h"
#include "qt/window/window_menus.h"

namespace qt {

FieldBinding::FieldBinding(frmMain& panel, QWidget* window) : QObject(window), panel_(panel), window_(window) {
  logFrame_.setSingleShot(true);
  logFrame_.setInterval(16);
  connect(&logFrame_, &QTimer::timeout, this, [this] { FlushLog(); });
}

FieldBinding::~FieldBinding() {
  for (auto& b : bindings_) b->field->SetObserver(nullptr);
  panel_.txtLog.SetChangeObserver(nullptr);
}

Binding& FieldBinding::Bind(Field& field, Binding::Kind kind, QWidget* widget) {
  auto b = std::make_unique<Binding>();
  b->kind = kind;
  b->field = &field;
  b->widget = widget;
  Binding& ref = *b;
  byField_[&field] = &ref;
  byWidget_[widget] = &ref;
  widget->setObjectName(QString::fromStdString(field.Name()));
  bindings_.push_back(std::move(b));
  return ref;
}

void FieldBinding::Attach() {
  for (auto& b : bindings_) {
    ConnectActions(*b);
    ApplyAll(*b);
    Binding* raw = b.get();
    b->field->SetObserver([this, raw](Field&, Prop p) { Apply(*raw, p); });
  }
  panel_.txtLog.SetChangeObserver([this](const RichTextField::Change& c) { ApplyLogChange(c); });
}

QWidget* FieldBinding::WidgetOf(const Field& field) const {
  auto it = byField_.find(&field);
  return it == byField_.end() ? nullptr : it->second->widget;
}

QWidget* FieldBinding::ContainerOf(const Field& field) const {
  if (field.Parent() == nullptr) return window_;
  QWidget* w = WidgetOf(*field.Parent());
  return w != nullptr ? w : window_;
}

Binding* FieldBinding::BindingOf(const QObject* widget) const {
  auto it = byWidget_.find(widget);
  return it == byWidget_.end() ? nullptr : it->second;
}

// ---- model to widget ---------------------------------------------------------

void FieldBinding::ApplyAll(Binding& b) {
  UpdateGuard g(updating_);
  ApplyGeometry(b);
  if (b.kind == Binding::List) SyncList(b);
  ApplyCaption(b);
  ApplyText(b);
  if (b.kind == Binding::Option)
    static_cast<QRadioButton*>(b.widget)->setChecked(static_cast<OptionButton*>(b.field)->Value());
  if (b.kind != Binding::Window) {
    b.widget->setEnabled(b.field->Enabled());
    b.widget->setVisible(b.field->Visible());
  }
  ApplyForeColor(b);
  b.widget->setToolTip(WithKey(QString::fromStdString(b.field->ToolTipText()), b.toolTipKey));
  if (b.kind == Binding::Line) static_cast<QLineEdit*>(b.widget)->setReadOnly(static_cast<TextBox*>(b.field)->Locked());
  if (b.kind == Binding::Multi)
    SetPaneLocked(static_cast<QPlainTextEdit*>(b.widget), static_cast<TextBox*>(b.field)->Locked());
}

void FieldBinding::Apply(Binding& b, Prop p) {
  UpdateGuard g(updating_);
  if (p == Prop::Text || p == Prop::Items || p == Prop::ListIndex || p == Prop::Value) {
    // The preview follows every field it may be made of; it is made again
    // once, after the current event.
    MarkRequestChanged();
  }
  switch (p) {
    case Prop::Caption:
      ApplyCaption(b);
      break;
    case Prop::Text:
      if (b.kind == Binding::Multi || b.kind == Binding::Grid)
        Defer(b, true, false);
      else if (b.kind != Binding::Log)  // the log pane follows its changes instead
        ApplyText(b);
      break;
    case Prop::Items:
    case Prop::ListIndex:
      if (b.kind == Binding::List) SyncList(b);
      break;
    case Prop::Value:
      if (b.kind == Binding::Option)
        static_cast<QRadioButton*>(b.widget)->setChecked(static_cast<OptionButton*>(b.field)->Value());
      break;
    case Prop::Enabled:
      if (b.kind != Binding::Window) b.widget->setEnabled(b.field->Enabled());
      // The inspector reads the response view's answer: greyed with it.
      if (b.field == &panel_.txtResponse && onResponseEnabled) onResponseEnabled(b.field->Enabled());
      break;
    case Prop::Visible:
      if (b.kind != Binding::Window) b.widget->setVisible(b.field->Visible());
      break;
    case Prop::ForeColor:
      ApplyForeColor(b);
      break;
    case Prop::ToolTip:
      b.widget->setToolTip(WithKey(QString::fromStdString(b.field->ToolTipText()), b.toolTipKey));
      break;
    case Prop::Geometry:
      ApplyGeometry(b);
      break;
    case Prop::Selection:
      if (b.kind == Binding::Log) {
        // The log's caret follows each row logged: set with the rows.
        logSelectionPending_ = true;
        ScheduleLog();
      } else if (b.kind == Binding::Multi || b.kind == Binding::Grid) {
        Defer(b, false, true);
      } else
        ApplySelection(b);
      break;
    case Prop::Locked:
      if (b.kind == Binding::Line)
        static_cast<QLineEdit*>(b.widget)->setReadOnly(static_cast<TextBox*>(b.field)->Locked());
      else if (b.kind == Binding::Multi || b.kind == Binding::Log)
        SetPaneLocked(static_cast<QPlainTextEdit*>(b.widget), static_cast<TextBox*>(b.field)->Locked());
      break;
    case Prop::Focus:
      FocusFromModel(b);
      break;
  }
}

void FieldBinding::ApplyCaption(Binding& b) {
  auto* f = dynamic_cast<CaptionField*>(b.field);
  if (f == nullptr) return;
  const QString c = QString::fromStdString(f->Caption());
  switch (b.kind) {
    case Binding::Window:
      window_->setWindowTitle(c);
      break;
    case Binding::Label:
      static_cast<QLabel*>(b.widget)->setText(c);
      break;
    case Binding::Button:
    case Binding::Press:
    case Binding::Option:
      static_cast<QAbstractButton*>(b.widget)->setText(c);
      break;
    default:
      break;
  }
}

void FieldBinding::ApplyText(Binding& b) {
  switch (b.kind) {
    case Binding::Line: {
      auto* w = static_cast<QLineEdit*>(b.widget);
      const QString t = ToLineText(static_cast<TextBox*>(b.field)->Text());
      if (w->text() != t) w->setText(t);
      break;
    }
    case Binding::Multi: {
      auto* w = static_cast<QPlainTextEdit*>(b.widget);
      const QString t = ToWidgetText(static_cast<TextBox*>(b.field)->Text());
      if (w->toPlainText() != t) w->setPlainText(t);
      if (b.field == &panel_.txtResponse && onResponseShown) onResponseShown();
      break;
    }
    case Binding::Grid:
      static_cast<ResponseGrid*>(b.widget)->ShowText(static_cast<TextBox*>(b.field)->Text(), panel_);
      if (b.field == &panel_.txtResponse && onResponseShown) onResponseShown();
      break;
    case Binding::List:
      SyncList(b);
      break;
    case Binding::Log:
      ShowWholeLog(b);
      break;
    default:
      break;
  }
}

void FieldBinding::ApplySelection(Binding& b) {
  switch (b.kind) {
    case Binding::Line: {
      auto* w = static_cast<QLineEdit*>(b.widget);
      auto* t = static_cast<TextBox*>(b.field);
      const int start = LineWidgetPos(t->Text(), t->SelStart());
      const int end = LineWidgetPos(t->Text(), t->SelStart() + t->SelLength());
      if (end > start)
        w->setSelection(start, end - start);
      else
        w->setCursorPosition(start);
      break;
    }
    case Binding::Multi: {
      auto* w = static_cast<QPlainTextEdit*>(b.widget);
      auto* t = static_cast<TextBox*>(b.field);
      const int start = WidgetPos(t->Text(), t->SelStart());
      const int end = WidgetPos(t->Text(), t->SelStart() + t->SelLength());
      QTextCursor cur = w->textCursor();
      if (cur.selectionStart() == start && cur.selectionEnd() == end) break;
      cur.setPosition(start);
      cur.setPosition(end, QTextCursor::KeepAnchor);
      w->setTextCursor(cur);
      break;
    }
    case Binding::Grid: {
      // The lines the model's selection touches.
      auto* t = static_cast<TextBox*>(b.field);
      const auto [first, last] = LinesTouched(t->Text(), t->SelStart(), t->SelLength());
      static_cast<ResponseGrid*>(b.widget)->SelectLines(first, last);
      break;
    }
    case Binding::Log:
      ApplyLogSelection();
      break;
    default:
      break;
  }
}

void FieldBinding::ApplyForeColor(Binding& b) {
  if (b.kind != Binding::Label) return;
  QPalette pal = b.widget->palette();
  pal.setColor(QPalette::WindowText, ToQColor(b.field->ForeColor()));
  b.widget->setPalette(pal);
}

void FieldBinding::ApplyGeometry(Binding& b) {
  const Field& f = *b.field;
  if (b.kind == Binding::Window && onWindowGeometry) onWindowGeometry(f);
}

void FieldBinding::SyncList(Binding& b) {
  auto& l = *static_cast<ListField*>(b.field);
  auto* w = static_cast<QComboBox*>(b.widget);
  QStringList items;
  for (const std::string& s : l.Items()) items << QString::fromStdString(s);
  QStringList shown;
  for (int i = 0; i < w->count(); ++i) shown << w->itemText(i);
  if (shown != items) {
    w->clear();
    w->addItems(items);
    // Let the drop-down list show its longest item in full.
    int widest = 0;
    for (const QString& s : items) widest = std::max(widest, w->fontMetrics().horizontalAdvance(s));
    w->view()->setMinimumWidth(widest + 2 * w->fontMetrics().averageCharWidth() + 8);
  }
  if (w->currentIndex() != l.ListIndex()) w->setCurrentIndex(l.ListIndex());
  if (l.Editable()) {
    const QString t = QString::fromStdString(l.Text());
    if (w->currentText() != t) w->setEditText(t);
  }
}

void FieldBinding::Defer(Binding& b, bool text, bool selection) {
  b.pendingText = b.pendingText || text;
  b.pendingSelection = b.pendingSelection || selection;
  QueueFlush();
}

void FieldBinding::MarkRequestChanged() {
  requestChanged_ = true;
  QueueFlush();
}

void FieldBinding::QueueFlush() {
  if (flushQueued_) return;
  flushQueued_ = true;
  QMetaObject::invokeMethod(
      this, [this] { ApplyPendingFields(); }, Qt::QueuedConnection);
}

void FieldBinding::ApplyPending() {
  FlushLog();
  ApplyPendingFields();
}

void FieldBinding::ApplyPendingFields() {
  flushQueued_ = false;
  UpdateGuard g(updating_);
  for (auto& b : bindings_) {
    if (b->pendingText) {
      b->pendingText = false;
      ApplyText(*b);
    }
    if (b->pendingSelection) {
      b->pendingSelection = false;
      ApplySelection(*b);
    }
  }
  if (requestChanged_) {
    requestChanged_ = false;
    if (onRequestChanged) onRequestChanged();
  }
}

void FieldBinding::FocusFromModel(Binding& b) {
  // A focus move by the model is not the operator leaving a field: it does
  // not run the field's value check.
  modelFocusMove_ = true;
  b.widget->setFocus(Qt::OtherFocusReason);
  modelFocusMove_ = false;
}

// ---- widget to model ------------------------------------------------------

void FieldBinding::ConnectActions(Binding& b) {
  switch (b.kind) {
    case Binding::List: {
      auto* w = static_cast<QComboBox*>(b.widget);
      auto* l = static_cast<ListField*>(b.field);
      connect(w, &QComboBox::activated, this, [this, &b, l](int i) {
        if (updating_ > 0) return;
        l->SetListIndex(i);
        ApplyPending();
        // The model may refuse or change the choice; show what it holds.
        UpdateGuard g(updating_);
        SyncList(b);
      });
      if (l->Editable()) {
        connect(w->lineEdit(), &QLineEdit::textEdited, this, [this, l](const QString& t) {
          if (updating_ > 0) return;
          l->SetText(t.toStdString());
          ApplyPending();
        });
      }
      break;
    }
    case Binding::Line: {
      auto* w = static_cast<QLineEdit*>(b.widget);
      connect(w, &QLineEdit::textEdited, this, [this, &b](const QString&) {
        if (updating_ > 0) return;
        SyncTextToModel(b);
      });
      break;
    }
    case Binding::Multi: {
      auto* w = static_cast<QPlainTextEdit*>(b.widget);
      connect(w, &QPlainTextEdit::textChanged, this, [this, &b] {
        if (updating_ > 0) return;
        SyncTextToModel(b);
      });
      break;
    }
    case Binding::Option: {
      auto* w = static_cast<QRadioButton*>(b.widget);
      auto* o = static_cast<OptionButton*>(b.field);
      connect(w, &QRadioButton::clicked, this, [this, w, o](bool checked) {
        if (checked) o->SetValue(true);
        ApplyPending();
        // Clicking a chosen option does not clear it: show what the model holds.
        UpdateGuard g(updating_);
        w->setChecked(o->Value());
      });
      break;
    }
    case Binding::Button: {
      auto* btn = static_cast<Button*>(b.field);
      connect(static_cast<QPushButton*>(b.widget), &QPushButton::clicked, this, [this, btn] {
        if (btn->onClick) btn->onClick();
        ApplyPending();
      });
      break;
    }
    case Binding::Press: {
      auto* btn = static_cast<Button*>(b.field);
      connect(static_cast<PressButton*>(b.widget), &PressButton::mouseDown, this, [this, btn] {
        if (btn->onMouseDown) btn->onMouseDown();
        ApplyPending();
      });
      break;
    }
    case Binding::Label: {
      auto* l = static_cast<Label*>(b.field);
      connect(static_cast<ClickLabel*>(b.widget), &ClickLabel::clicked, this, [this, l] {
        if (l->onClick) l->onClick();
        ApplyPending();
      });
      break;
    }
    case Binding::Image: {
      auto* img = static_cast<Image*>(b.field);
      connect(static_cast<LogoWidget*>(b.widget), &LogoWidget::clicked, this, [this, img] {
        if (img->onClick) img->onClick();
        ApplyPending();
      });
      break;
    }
    default:
      break;
  }
}

void FieldBinding::SyncTextToModel(Binding& b) {
  auto* t = static_cast<TextBox*>(b.field);
  std::string text;
  if (b.kind == Binding::Line)
    text = static_cast<QLineEdit*>(b.widget)->text().toStdString();
  else
    text = FromWidgetText(static_cast<QPlainTextEdit*>(b.widget)->toPlainText());
  t->SetText(text);
  ApplyPending();
}

void FieldBinding::PushSelection(Binding& b) {
  if (b.kind == Binding::Grid) {
    // The rows selected are whole lines of the view's text.
    auto* t = static_cast<TextBox*>(b.field);
    const auto lines = static_cast<ResponseGrid*>(b.widget)->SelectedLines();
    const auto [start, end] = lines ? LineSpan(t->Text(), lines->first, lines->second) : std::pair{0, 0};
    UpdateGuard g(updating_);
    t->Select(start, end - start);
    return;
  }
  auto* w = static_cast<QPlainTextEdit*>(b.widget);
  if (b.kind != Binding::Multi && b.kind != Binding::Log) return;
  const QTextCursor cur = w->textCursor();
  int start = 0, end = 0;
  if (b.kind == Binding::Log) {
    ApplyLogPending();  // the pane's positions, then, are the model's
    start = static_cast<int>(logMap_.PanelPos(cur.selectionStart()));
    end = static_cast<int>(logMap_.PanelPos(cur.selectionEnd()));
  } else {
    const std::string& text = static_cast<TextBox*>(b.field)->Text();
    start = PanelPos(text, cur.selectionStart());
    end = PanelPos(text, cur.selectionEnd());
  }
  UpdateGuard g(updating_);
  static_cast<TextBox*>(b.field)->Select(start, end - start);
}

}  // namespace qt
