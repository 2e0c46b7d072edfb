#include "qt/window/window_layout.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <algorithm>

#include "qt/window/field_binding.h"
#include "qt/window/request_preview.h"

namespace qt {
namespace {

// Gaps between the fields of a row, between a caption and its field, and
// around the window's content, in logical pixels.
constexpr int kGap = 6;
constexpr int kCaptionGap = 2;
constexpr int kMargin = 8;

template <class L>
L* Bare(L* layout) {
  layout->setContentsMargins(0, 0, 0, 0);
  return layout;
}

// A width that holds `chars` digits of the widget's font, with its frame.
int DigitsWide(const QWidget* w, int chars) {
  return w->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0'))) + 14;
}

}  // namespace

WindowPanes ArrangeWindow(FieldBinding& binding, QMainWindow* window, RequestPreview* preview, QWidget* inspector,
                          QPushButton* saveLog) {
  frmMain& p = binding.Panel();
  auto at = [&](const Field& f) { return binding.WidgetOf(f); };
  auto fixWidth = [&](const Field& f, int width) { at(f)->setFixedWidth(width); };
  // A row of captions over a row of fields.
  auto captionGrid = [&](const Field& group) {
    auto* g = Bare(new QGridLayout(at(group)));
    // A little wider than between the request's fields: the captions of
    // narrow lists would otherwise run together ("Stop-bit Timeout").
    g->setHorizontalSpacing(&group == &p.pctForm ? kGap : kGap + 2);
    g->setVerticalSpacing(kCaptionGap);
    g->setRowStretch(2, 1);  // any height to spare goes under the fields
    return g;
  };

  // ---- the connection bar -------------------------------------------------
  {
    QGridLayout* g = captionGrid(p.pctRTU);
    const std::pair<const Field*, const Field*> columns[] = {{&p.Label3, &p.cmbRtuPort},
                                                             {&p.Label4, &p.cmbRtuSpeed},
                                                             {&p.Label11, &p.cmbRtuParity},
                                                             {&p.Label12, &p.cmbRtuStopBit},
                                                             {&p.Label13, &p.txtRtuTimeout}};
    int c = 0;
    for (const auto& [caption, field] : columns) {
      g->addWidget(at(*caption), 0, c);
      g->addWidget(at(*field), 1, c++);
    }
    g->addWidget(at(p.Label14), 1, c++);
    g->addWidget(at(p.cmdRtuOpenPort), 1, c++);
    g->addWidget(at(p.cmdRtuClosePort), 1, c++);
    fixWidth(p.cmbRtuPort, std::max(DigitsWide(at(p.cmbRtuPort), 12), 120));
    fixWidth(p.cmbRtuSpeed, DigitsWide(at(p.cmbRtuSpeed), 6) + 16);
    fixWidth(p.txtRtuTimeout, DigitsWide(at(p.txtRtuTimeout), 5));
  }
  {
    QGridLayout* g = captionGrid(p.pctTCP);
    const std::pair<const Field*, const Field*> columns[] = {
        {&p.Label1, &p.txtTcpHost}, {&p.Label2, &p.txtTcpPort}, {&p.Label5, &p.txtTcpTimeout}};
    int c = 0;
    for (const auto& [caption, field] : columns) {
      g->addWidget(at(*caption), 0, c);
      g->addWidget(at(*field), 1, c++);
    }
    g->addWidget(at(p.Label6), 1, c++);
    g->addWidget(at(p.cmdTcpConnect), 1, c++);
    g->addWidget(at(p.cmdTcpDisconnect), 1, c++);
    fixWidth(p.txtTcpHost, DigitsWide(at(p.txtTcpHost), 18));
    fixWidth(p.txtTcpPort, DigitsWide(at(p.txtTcpPort), 5));
    fixWidth(p.txtTcpTimeout, DigitsWide(at(p.txtTcpTimeout), 5));
  }
  {
    // The link's buttons, serial and socket alike, are one width: the
    // widest text's with room on both sides ("Disconnect" would otherwise
    // fill its button to the edges beside a roomy "Open").
    const Field* buttons[] = {&p.cmdRtuOpenPort, &p.cmdRtuClosePort, &p.cmdTcpConnect, &p.cmdTcpDisconnect};
    int wide = 0;
    for (const Field* b : buttons)
      wide = std::max(wide, at(*b)->sizeHint().width() + 2 * at(*b)->fontMetrics().averageCharWidth());
    for (const Field* b : buttons) at(*b)->setFixedWidth(wide);
  }
  {
    auto* h = Bare(new QHBoxLayout(at(p.pctHEXOpt)));
    h->setSpacing(kGap * 2);
    h->addWidget(at(p.optFORM));
    h->addWidget(at(p.optHEX));
  }

  // ---- the request ----------------------------------------------------------
  // Four columns, shared by the form's fields and the rows under them.
  // The captions the further commands give the last two columns ("Read address", "Write address",
  // "Read quantity") fit them too, so that choosing a command never widens the form.
  const auto captionWide = [&](const Field& label, const char* caption) {
    return at(label)->fontMetrics().horizontalAdvance(QString::fromLatin1(caption)) + 4;
  };
  int col[4] = {std::max(DigitsWide(at(p.txtUnitID), 4), at(p.lblUnitID)->sizeHint().width()),
                at(p.cmbCmd)->sizeHint().width(),
                std::max({DigitsWide(at(p.txtAddr), 7), at(p.cmdSend)->sizeHint().width(), 80,
                          captionWide(p.Label7, "Read address"), captionWide(p.lblWriteAddr, "Write address")}),
                std::max({DigitsWide(at(p.txtQuantity), 7), at(p.cmdAuto1)->sizeHint().width(), 90,
                          captionWide(p.lblLen, "Read quantity")})};
  {
    QGridLayout* g = captionGrid(p.pctForm);
    const Field* captions[] = {&p.lblUnitID, &p.lblCommand, &p.Label7, &p.lblLen};
    const Field* fields[] = {&p.txtUnitID, &p.cmbCmd, &p.txtAddr, &p.txtQuantity};
    for (int c = 0; c < 4; ++c) {
      g->addWidget(at(*captions[c]), 0, c);
      g->addWidget(at(*fields[c]), 1, c);
      at(*fields[c])->setFixedWidth(col[c]);
    }
    // Value takes Quantity's place for the writes.
    g->addWidget(at(p.txtValue), 1, 3);
    fixWidth(p.txtValue, col[3]);
    // The further commands: the AND mask in Quantity's place, and a second
    // row of captions and fields under the first (only the fields the chosen
    // command reads are shown).
    g->addWidget(at(p.lblAndMask), 0, 3);
    g->addWidget(at(p.txtAndMask), 1, 3);
    fixWidth(p.txtAndMask, col[3]);
    const std::pair<const Field*, const Field*> wide[] = {{&p.lblValues, &p.txtValues},
                                                          {&p.lblReadCode, &p.cmbReadCode}};
    for (const auto& [caption, field] : wide) {
      g->addWidget(at(*caption), 2, 0, 1, 2);
      g->addWidget(at(*field), 3, 0, 1, 2);
      // As wide as the two columns it spans, never wider.
      at(*field)->setMinimumWidth(0);
      at(*field)->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    // The columns keep their widths when a command hides a column's fields.
    for (int c = 0; c < 4; ++c) g->setColumnMinimumWidth(c, col[c]);
    // How 15's coils are typed: as wide as its longest item, over the last two columns if need be.
    g->addWidget(at(p.lblValuesAs), 2, 2, 1, 2);
    g->addWidget(at(p.cmbValuesAs), 3, 2, 1, 2, Qt::AlignLeft);
    fixWidth(p.cmbValuesAs, std::min(std::max(col[2], at(p.cmbValuesAs)->sizeHint().width()), col[2] + kGap + col[3]));
    const std::pair<const Field*, const Field*> third[] = {{&p.lblWriteAddr, &p.txtWriteAddr},
                                                           {&p.lblObjectId, &p.txtObjectId}};
    for (const auto& [caption, field] : third) {
      g->addWidget(at(*caption), 2, 2);
      g->addWidget(at(*field), 3, 2);
      at(*field)->setFixedWidth(col[2]);
    }
    g->addWidget(at(p.lblOrMask), 2, 3);
    g->addWidget(at(p.txtOrMask), 3, 3);
    fixWidth(p.txtOrMask, col[3]);
    // The form keeps one height for every command (its second row's room included), so the
    // window never changes size with the command chosen.
    const int captionHeight = at(p.lblValues)->sizeHint().height();
    int fieldHeight = 0;
    for (const Field* f : {static_cast<const Field*>(&p.txtValues), static_cast<const Field*>(&p.cmbReadCode),
                           static_cast<const Field*>(&p.cmbCmd), static_cast<const Field*>(&p.txtAddr)})
      fieldHeight = std::max(fieldHeight, at(*f)->sizeHint().height());
    for (int r = 0; r < 4; ++r) g->setRowMinimumHeight(r, r % 2 == 0 ? captionHeight : fieldHeight);
    g->setRowStretch(2, 0);
    g->setRowStretch(4, 1);
    at(p.pctForm)->setFixedHeight(2 * captionHeight + 2 * fieldHeight + 3 * kCaptionGap);
  }
  {
    auto* v = Bare(new QVBoxLayout(at(p.pctHEX)));
    v->addWidget(at(p.txtHEX));
    at(p.pctHEX)->setAutoFillBackground(true);  // it covers the form's fields
    // Three lines: a frame of 256 bytes in hex fits, and the request keeps its height.
    at(p.txtHEX)->setFixedHeight(at(p.txtHEX)->fontMetrics().lineSpacing() * 3 + 12);
  }
  {
    auto* v = Bare(new QVBoxLayout(at(p.pctAuto)));
    v->addWidget(at(p.cmdAuto0));
    at(p.pctAuto)->setAutoFillBackground(true);  // it covers the start button
  }
  {
    auto* g = Bare(new QGridLayout(at(p.pctRequest)));
    g->setHorizontalSpacing(kGap);
    g->setVerticalSpacing(kCaptionGap);
    // The raw request lies over the form; the stop button over the start one.
    g->addWidget(at(p.pctForm), 0, 0, 1, 4);
    g->addWidget(at(p.pctHEX), 0, 0, 1, 4);
    g->setRowMinimumHeight(1, 2 * kGap);
    g->addWidget(at(p.Label15), 2, 0, 1, 2);
    g->addWidget(at(p.cmbFormat), 3, 0, 1, 2);
    g->addWidget(at(p.cmdSend), 3, 2);
    g->addWidget(at(p.cmdAuto1), 3, 3);
    g->addWidget(at(p.pctAuto), 3, 3);
    // The poll interval under the Auto button, its caption closing up to it;
    // the preview gets a row of its own, as wide as the request.
    g->setRowMinimumHeight(4, kGap - kCaptionGap);
    auto* pollRow = new QHBoxLayout;
    pollRow->setSpacing(kGap);
    pollRow->addWidget(at(p.lblAddresses));
    pollRow->addWidget(at(p.cmbAddresses));
    pollRow->addStretch(1);
    pollRow->addWidget(at(p.lblPollInterval));
    pollRow->addWidget(at(p.txtPollInterval));
    g->addLayout(pollRow, 5, 0, 1, 4);
    g->setRowMinimumHeight(6, kGap - kCaptionGap);
    g->addWidget(preview, 7, 0, 1, 4);
    for (int c = 0; c < 4; ++c) g->setColumnMinimumWidth(c, col[c]);
    fixWidth(p.cmdSend, col[2]);
    fixWidth(p.cmdAuto1, col[3]);
    fixWidth(p.pctAuto, col[3]);
    fixWidth(p.txtPollInterval, col[3]);
    at(p.pctRequest)->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    at(p.pctHEX)->raise();
    at(p.pctAuto)->raise();
  }

  // ---- the response grid ------------------------------------------------------
  Bare(new QVBoxLayout(at(p.pctResponseText)))->addWidget(at(p.txtResponse));
  Bare(new QVBoxLayout(at(p.pctResponseForm)))->addWidget(at(p.pctResponseText));
  // At its least, beside the inspector's least width, in a window of 1024
  // pixels.
  at(p.txtResponse)->setMinimumSize(190, 80);

  // ---- the log and its foot row -------------------------------------------------
  {
    auto* foot = Bare(new QHBoxLayout(at(p.pctLogo)));
    foot->setSpacing(kGap * 2);
    at(p.imgLogo)->setFixedSize(79, 24);
    foot->addWidget(at(p.imgLogo));
    foot->addWidget(at(p.Label8));
    foot->addStretch(1);
    foot->addWidget(at(p.lblScada));
    foot->addWidget(saveLog);
    auto* v = Bare(new QVBoxLayout(at(p.pctLog)));
    v->setSpacing(4);
    v->addWidget(at(p.txtLog), 1);
    v->addWidget(at(p.pctLogo));
    at(p.txtLog)->setMinimumHeight(at(p.txtLog)->fontMetrics().lineSpacing() * 3 + 12);
  }

  // ---- the window ----------------------------------------------------------------
  auto* central = new QWidget(window);
  central->setObjectName(QStringLiteral("central"));
  auto* top = new QVBoxLayout(central);
  top->setContentsMargins(kMargin, kMargin - 2, kMargin, 2);
  top->setSpacing(kGap);

  auto* bar = new QHBoxLayout;
  bar->setSpacing(kGap * 2);
  auto* mode = new QVBoxLayout;
  mode->setSpacing(kCaptionGap);
  mode->addWidget(at(p.lblProtocol));
  mode->addWidget(at(p.cmbMode));
  fixWidth(p.cmbMode, at(p.cmbMode)->sizeHint().width() + 8);
  bar->addLayout(mode);
  // The serial and the socket settings share one place. Only one shows, but a switch back to the
  // serial port shows it before the socket's are hidden, and a shown widget lays the window out at
  // once: side by side the two would need more than the window has, and the window would grow for
  // good. In one cell the bar needs the wider of the two, as it does after the switch.
  auto* link = Bare(new QGridLayout);
  link->addWidget(at(p.pctRTU), 0, 0, Qt::AlignLeft | Qt::AlignBottom);
  link->addWidget(at(p.pctTCP), 0, 0, Qt::AlignLeft | Qt::AlignBottom);
  bar->addLayout(link);
  bar->addStretch(1);
  bar->addWidget(at(p.pctHEXOpt), 0, Qt::AlignBottom);
  top->addLayout(bar);

  auto* rule = new QFrame(central);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  top->addWidget(rule);

  // The request beside the response grid.
  auto* upper = new QWidget;
  upper->setObjectName(QStringLiteral("requestAndResponse"));
  auto* side = Bare(new QHBoxLayout(upper));
  side->setSpacing(kGap * 2);
  auto* request = new QVBoxLayout;
  request->setSpacing(kCaptionGap);
  request->addWidget(at(p.Label10));
  request->addWidget(at(p.pctRequest));
  request->addStretch(1);
  side->addLayout(request);
  auto* response = new QVBoxLayout;
  response->setSpacing(kCaptionGap);
  auto* heading = new QHBoxLayout;
  heading->addWidget(at(p.lblResponse));
  heading->addStretch(1);
  heading->addWidget(at(p.lblDT));
  response->addLayout(heading);
  response->addWidget(at(p.pctResponseForm), 1);
  side->addLayout(response, 1);

  WindowPanes panes;
  panes.rows = new QSplitter(Qt::Vertical);
  panes.rows->setObjectName(QStringLiteral("rowSplitter"));
  panes.rows->setChildrenCollapsible(false);
  panes.rows->addWidget(upper);
  panes.rows->addWidget(at(p.pctLog));
  panes.rows->setStretchFactor(0, 1);
  panes.rows->setStretchFactor(1, 1);

  panes.columns = new QSplitter(Qt::Horizontal);
  panes.columns->setObjectName(QStringLiteral("columnSplitter"));
  panes.columns->setChildrenCollapsible(false);
  panes.columns->addWidget(panes.rows);
  panes.columns->addWidget(inspector);
  panes.columns->setStretchFactor(0, 1);
  panes.columns->setStretchFactor(1, 0);
  top->addWidget(panes.columns, 1);

  window->setCentralWidget(central);

  // What a screen reader names each field by: the caption over it, or a name
  // where there is none. Value shows under Quantity's caption, which then
  // reads "Value".
  const std::pair<const Field*, const Field*> captioned[] = {{&p.lblProtocol, &p.cmbMode},
                                                             {&p.Label3, &p.cmbRtuPort},
                                                             {&p.Label4, &p.cmbRtuSpeed},
                                                             {&p.Label11, &p.cmbRtuParity},
                                                             {&p.Label12, &p.cmbRtuStopBit},
                                                             {&p.Label13, &p.txtRtuTimeout},
                                                             {&p.Label1, &p.txtTcpHost},
                                                             {&p.Label2, &p.txtTcpPort},
                                                             {&p.Label5, &p.txtTcpTimeout},
                                                             {&p.lblUnitID, &p.txtUnitID},
                                                             {&p.lblCommand, &p.cmbCmd},
                                                             {&p.Label7, &p.txtAddr},
                                                             {&p.lblLen, &p.txtQuantity},
                                                             {&p.lblAndMask, &p.txtAndMask},
                                                             {&p.lblValues, &p.txtValues},
                                                             {&p.lblReadCode, &p.cmbReadCode},
                                                             {&p.lblValuesAs, &p.cmbValuesAs},
                                                             {&p.lblWriteAddr, &p.txtWriteAddr},
                                                             {&p.lblObjectId, &p.txtObjectId},
                                                             {&p.lblOrMask, &p.txtOrMask},
                                                             {&p.Label15, &p.cmbFormat},
                                                             {&p.lblAddresses, &p.cmbAddresses},
                                                             {&p.lblPollInterval, &p.txtPollInterval}};
  for (const auto& [caption, field] : captioned)
    if (auto* label = qobject_cast<QLabel*>(at(*caption))) label->setBuddy(at(*field));
  const std::pair<const Field*, const char*> named[] = {
      {&p.txtValue, "Value"}, {&p.txtHEX, "Raw request (hex)"}, {&p.txtResponse, "Response"}, {&p.txtLog, "Log"}};
  for (const auto& [field, name] : named) at(*field)->setAccessibleName(QString::fromLatin1(name));
  return panes;
}

}  // namespace qt
