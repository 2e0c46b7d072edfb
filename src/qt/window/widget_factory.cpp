#include "qt/window/widget_factory.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <limits>
#include <vector>

#include "qt/window/field_binding.h"
#include "qt/window/input_guards.h"
#include "qt/window/response_grid.h"
#include "qt/window/widgets.h"
#include "qt/window/window_look.h"

namespace qt {

void BuildFieldWidgets(FieldBinding& binding, InputGuards& guards, QWidget* window) {
  frmMain& p = binding.Panel();
  binding.Bind(p, Binding::Window, window);
  auto ContainerOf = [&](const Field& f) { return binding.ContainerOf(f); };
  auto WidgetOf = [&](const Field& f) { return binding.WidgetOf(f); };
  auto Bind = [&](Field& f, Binding::Kind k, QWidget* w) -> Binding& { return binding.Bind(f, k, w); };
  using KeyPressHandler = Binding::KeyPressHandler;
  using ValidateHandler = Binding::ValidateHandler;

  auto group = [&](Group& g) {
    auto* w = new QWidget(ContainerOf(g));
    Bind(g, Binding::Group, w);
  };
  auto label = [&](Label& l, bool heading = false) {
    auto* w = new ClickLabel(ContainerOf(l));
    w->setTextFormat(Qt::PlainText);
    if (heading) {
      QFont f = w->font();
      f.setBold(true);
      w->setFont(f);
    }
    if (l.onClick) w->setCursor(Qt::PointingHandCursor);
    Bind(l, Binding::Label, w);
  };
  auto list = [&](ListField& l) -> Binding& {
    auto* w = new QComboBox(ContainerOf(l));
    w->setEditable(l.Editable());
    if (l.Editable()) w->setInsertPolicy(QComboBox::NoInsert);
    w->setFont(FixedFont(kInputPt));
    w->setMaxVisibleItems(16);
    return Bind(l, Binding::List, w);
  };
  // A list of the request: Enter in it sends.
  auto requestList = [&](ListField& l) {
    Binding& b = list(l);
    b.sendOnEnter = true;
    guards.Guard(b);
  };
  auto line = [&](TextField& t, KeyPressHandler kp = nullptr, ValidateHandler v = nullptr) -> Binding& {
    auto* w = new QLineEdit(ContainerOf(t));
    // No length limit of the widget's own: a stored text of any length is
    // shown whole, never cut short silently.
    w->setMaxLength(std::numeric_limits<int>::max());
    w->setFont(FixedFont(kInputPt));
    Binding& b = Bind(t, Binding::Line, w);
    b.keyPress = kp;
    b.validate = v;
    if (kp != nullptr) {
      // Dropped text would bypass the key filter; pasting is filtered instead.
      w->setAcceptDrops(false);
    }
    if (kp != nullptr || v != nullptr) guards.Guard(b);
    return b;
  };
  auto button = [&](Button& btn) {
    auto* w = new QPushButton(ContainerOf(btn));
    // Enter on the focused button presses it, as Space does (outside a
    // dialog a push button takes only Space otherwise).
    w->setAutoDefault(true);
    Bind(btn, Binding::Button, w);
  };
  auto pressButton = [&](Button& btn) {
    auto* w = new PressButton(ContainerOf(btn));
    w->setAutoDefault(false);
    Bind(btn, Binding::Press, w);
  };
  auto option = [&](OptionButton& o) {
    auto* w = new QRadioButton(ContainerOf(o));
    // The model keeps the two options exclusive.
    w->setAutoExclusive(false);
    Bind(o, Binding::Option, w);
  };

  label(p.lblProtocol, true);
  list(p.cmbMode);
  group(p.pctHEXOpt);
  option(p.optFORM);
  option(p.optHEX);
  label(p.Label10, true);
  label(p.lblResponse, true);
  label(p.lblDT);
  static_cast<QLabel*>(WidgetOf(p.lblDT))->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  group(p.pctRTU);
  label(p.Label3);
  list(p.cmbRtuPort);
  label(p.Label4);
  list(p.cmbRtuSpeed);
  label(p.Label11);
  list(p.cmbRtuParity);
  label(p.Label12);
  list(p.cmbRtuStopBit);
  label(p.Label13);
  line(p.txtRtuTimeout, &frmMain::txtRtuTimeout_KeyPress, &frmMain::txtRtuTimeout_Validate);
  label(p.Label14);
  button(p.cmdRtuOpenPort);
  button(p.cmdRtuClosePort);

  group(p.pctTCP);
  label(p.Label1);
  line(p.txtTcpHost);
  label(p.Label2);
  line(p.txtTcpPort, &frmMain::txtTcpPort_KeyPress, &frmMain::txtTcpPort_Validate);
  label(p.Label5);
  line(p.txtTcpTimeout, &frmMain::txtTcpTimeout_KeyPress, &frmMain::txtTcpTimeout_Validate);
  label(p.Label6);
  button(p.cmdTcpConnect);
  button(p.cmdTcpDisconnect);

  group(p.pctRequest);
  group(p.pctForm);
  label(p.lblUnitID);
  // The fields of the request send it on Enter.
  line(p.txtUnitID, &frmMain::txtUnitID_KeyPress, &frmMain::txtUnitID_Validate).sendOnEnter = true;
  label(p.lblCommand);
  requestList(p.cmbCmd);
  label(p.Label7);
  line(p.txtAddr, &frmMain::txtAddr_KeyPress, &frmMain::txtAddr_Validate).sendOnEnter = true;
  label(p.lblLen);
  line(p.txtQuantity, &frmMain::txtQuantity_KeyPress, &frmMain::txtQuantity_Validate).sendOnEnter = true;
  line(p.txtValue, &frmMain::txtValue_KeyPress).sendOnEnter = true;
  // The further commands' second row.
  label(p.lblValues);
  line(p.txtValues, &frmMain::txtValues_KeyPress, &frmMain::txtValues_Validate).sendOnEnter = true;
  label(p.lblValuesAs);
  requestList(p.cmbValuesAs);
  label(p.lblWriteAddr);
  line(p.txtWriteAddr, &frmMain::txtWriteAddr_KeyPress, &frmMain::txtWriteAddr_Validate).sendOnEnter = true;
  label(p.lblAndMask);
  line(p.txtAndMask, &frmMain::txtAndMask_KeyPress, &frmMain::txtAndMask_Validate).sendOnEnter = true;
  label(p.lblOrMask);
  line(p.txtOrMask, &frmMain::txtOrMask_KeyPress, &frmMain::txtOrMask_Validate).sendOnEnter = true;
  label(p.lblReadCode);
  requestList(p.cmbReadCode);
  label(p.lblObjectId);
  line(p.txtObjectId, &frmMain::txtObjectId_KeyPress, &frmMain::txtObjectId_Validate).sendOnEnter = true;
  label(p.Label15);
  requestList(p.cmbFormat);
  button(p.cmdSend);
  pressButton(p.cmdAuto1);
  group(p.pctAuto);
  pressButton(p.cmdAuto0);
  {
    // The stop button shows latched down while polling is on.
    auto* stop = static_cast<QPushButton*>(WidgetOf(p.cmdAuto0));
    stop->setCheckable(true);
    stop->setChecked(true);
  }
  line(p.txtPollInterval, &frmMain::txtPollInterval_KeyPress, &frmMain::txtPollInterval_Validate);
  label(p.lblPollInterval);
  // The caption closes up to its field.
  static_cast<QLabel*>(WidgetOf(p.lblPollInterval))->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label(p.lblAddresses);
  requestList(p.cmbAddresses);

  group(p.pctHEX);
  {
    auto* w = new FilteredTextEdit(ContainerOf(p.txtHEX));
    w->setFont(FixedFont(kInputPt));
    w->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    w->setTabChangesFocus(true);
    Binding& b = Bind(p.txtHEX, Binding::Multi, w);
    b.keyPress = &frmMain::txtHEX_KeyPress;
    b.keyDown = &frmMain::txtHEX_KeyDown;
    b.sendOnEnter = true;
    Binding* raw = &b;
    w->pasteFilter = [&guards, raw](const QString& s) { return guards.FilterThroughKeyPress(*raw, s); };
    guards.Guard(b);
  }

  group(p.pctResponseForm);
  group(p.pctResponseText);
  {
    auto* w = new ResponseGrid(ContainerOf(p.txtResponse));
    Binding& b = Bind(p.txtResponse, Binding::Grid, w);
    b.keyDown = &frmMain::txtResponse_KeyDown;
    b.clipboardKeys = true;
    guards.Guard(b);
  }

  group(p.pctLog);
  {
    auto* w = new QPlainTextEdit(ContainerOf(p.txtLog));
    // Rows of hexadecimal in a fixed font need no shaping; skipping it makes
    // laying out each new row several times cheaper.
    QFont logFont = FixedFont(kLogPt);
    logFont.setStyleStrategy(QFont::PreferNoShaping);
    w->setFont(logFont);
    w->setLineWrapMode(QPlainTextEdit::NoWrap);
    w->setTabChangesFocus(true);
    w->setReadOnly(true);
    w->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    w->setFocusPolicy(Qt::StrongFocus);
    // Every change the pane follows would otherwise stay as an undo step, for
    // as long as the program runs.
    w->document()->setUndoRedoEnabled(false);
    QPalette pal = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      pal.setColor(group, QPalette::Base, kLogBackground);
      pal.setColor(group, QPalette::Text, ToQColor(LogColorInfo));
      // Scroll bars in the pane's dark tones.
      pal.setColor(group, QPalette::Window, kLogBackground.lighter(130));
      pal.setColor(group, QPalette::Button, kLogBackground.lighter(190));
      pal.setColor(group, QPalette::Dark, kLogBackground.lighter(110));
      pal.setColor(group, QPalette::ButtonText, ToQColor(LogColorInfo));
    }
    w->setPalette(pal);
    Binding& b = Bind(p.txtLog, Binding::Log, w);
    b.keyDown = &frmMain::txtLog_KeyDown;
    b.clipboardKeys = true;
    guards.Guard(b);
  }
  group(p.pctLogo);
  {
    auto* w = new LogoWidget(ContainerOf(p.imgLogo));
    if (p.imgLogo.onClick) w->setCursor(Qt::PointingHandCursor);
    Bind(p.imgLogo, Binding::Image, w);
  }
  label(p.Label8);
  label(p.lblScada);
  // The maker's link closes up to the log's save button.
  static_cast<QLabel*>(WidgetOf(p.lblScada))->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void SetFieldTabOrder(FieldBinding& binding) {
  frmMain& p = binding.Panel();
  auto WidgetOf = [&](const Field& f) { return binding.WidgetOf(f); };
  // Mode, the connection, the input kind, the request, then the results.
  const std::vector<const Field*> order = {
      &p.cmbMode,         &p.txtTcpHost,  &p.txtTcpPort,   &p.txtTcpTimeout,   &p.cmdTcpConnect, &p.cmdTcpDisconnect,
      &p.cmbRtuPort,      &p.cmbRtuSpeed, &p.cmbRtuParity, &p.cmbRtuStopBit,   &p.txtRtuTimeout, &p.cmdRtuOpenPort,
      &p.cmdRtuClosePort, &p.optFORM,     &p.optHEX,       &p.txtUnitID,       &p.cmbCmd,        &p.txtAddr,
      &p.txtQuantity,     &p.txtValue,    &p.txtAndMask,   &p.txtValues,       &p.cmbReadCode,   &p.cmbValuesAs,
      &p.txtWriteAddr,    &p.txtObjectId, &p.txtOrMask,    &p.txtHEX,          &p.cmbFormat,     &p.cmdSend,
      &p.cmdAuto1,        &p.cmdAuto0,    &p.cmbAddresses, &p.txtPollInterval, &p.txtResponse,   &p.txtLog};
  for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(WidgetOf(*order[i - 1]), WidgetOf(*order[i]));
}

}  // namespace qt
