#include "qt/window/watch_pane.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "modbus/response.h"
#include "qt/window/window_look.h"

namespace qt {
namespace {

// How often the tables follow the model: often enough for ages in tenths of
// a second to look alive, rarely enough to cost nothing at 20 blocks.
constexpr int kRefreshMs = 250;

enum BlockColumn {
  kSlave,
  kFunction,
  kAddress,
  kQuantity,
  kFormat,
  kInterval,
  kLastUpdate,
  kResponse,
  kState,
  kBlockColumns
};
enum ValueColumn { kPlot, kBlock, kValueAddress, kValue, kAge, kValueColumns };

const char* const kFunctionNames[] = {"01 Coils", "02 Discrete inputs", "03 Holding registers", "04 Input registers"};

QString OutcomeText(const engine::WatchBlock& b) {
  if (b.config.paused) return QStringLiteral("paused");
  if (!b.state.outcome) return QStringLiteral("waiting");
  switch (*b.state.outcome) {
    case engine::WatchOutcome::Good:
      return QStringLiteral("good");
    case engine::WatchOutcome::Exception:
      return QStringLiteral("exception %1: %2")
          .arg(b.state.exceptionCode)
          .arg(QString::fromLatin1(modbus::ExceptionName(b.state.exceptionCode)));
    case engine::WatchOutcome::Timeout:
      return QStringLiteral("time-out");
    case engine::WatchOutcome::ProtocolError:
      return QStringLiteral("protocol error");
    case engine::WatchOutcome::ConnectionError:
      return QStringLiteral("connection error");
  }
  return {};
}

// The outcome in the log's colours: good rows as the log's answers, faults in
// its error colour, on the log's background; waiting and paused in its info grey.
uint32_t OutcomeColor(const engine::WatchBlock& b) {
  if (b.config.paused || !b.state.outcome) return LogColorInfo;
  return *b.state.outcome == engine::WatchOutcome::Good ? LogColorHighlight : LogColorError;
}

QTableWidget* MakeTable(QWidget* parent, const QStringList& headings, const char* name) {
  auto* t = new QTableWidget(0, static_cast<int>(headings.size()), parent);
  t->setObjectName(QLatin1String(name));
  t->setHorizontalHeaderLabels(headings);
  t->verticalHeader()->setVisible(false);
  t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().lineSpacing() + 6);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Columns are fitted to their contents when the rows are made, not on every
  // change of a cell: fitting measures every row, and ages change four times
  // a second.
  t->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  t->horizontalHeader()->setStretchLastSection(true);
  t->setWordWrap(false);
  // Tab leaves the table (the arrows move within it), as everywhere else in
  // the window; with the table's own Tab the focus would never get out.
  t->setTabKeyNavigation(false);
  return t;
}

// Sets a cell's text. A text longer than the one before it widens its column
// when it no longer fits: the columns are fitted when the rows are made, when
// a block not yet read shows "-" and its time "-", and its first values and
// time would otherwise be cut. Texts no longer than before are not measured.
void SetText(QTableWidget* t, int row, int column, const QString& text) {
  QTableWidgetItem* item = t->item(row, column);
  qsizetype before = 0;
  if (item == nullptr) {
    item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    t->setItem(row, column, item);
  } else if (item->text() != text) {
    before = item->text().size();
    item->setText(text);
  } else {
    return;
  }
  // The last column stretches to the table's edge.
  if (text.size() <= before || column == t->columnCount() - 1) return;
  const int margin = 2 * (t->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, t) + 1) + 2;
  const QFont font = item->data(Qt::FontRole).isValid() ? item->font() : t->font();
  const int wanted = QFontMetrics(font).horizontalAdvance(text) + margin;
  if (t->columnWidth(column) < wanted) t->setColumnWidth(column, wanted);
}

// Fits every column but the last to its contents; the last stretches to the
// table's edge. The table's own resizeColumnsToContents() would size the last
// one too and leave it at that width until the table is next resized.
void FitColumns(QTableWidget* t) {
  for (int c = 0; c + 1 < t->columnCount(); ++c) t->resizeColumnToContents(c);
}

QSpinBox* MakeSpin(QWidget* parent, int low, int high, const char* name, const QString& tip) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(QLatin1String(name));
  s->setRange(low, high);
  s->setToolTip(tip);
  s->setAccelerated(true);
  return s;
}

QPushButton* MakeButton(QWidget* parent, const QString& text, const char* name, const QString& tip) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setAutoDefault(true);  // Enter on the focused button presses it
  b->setToolTip(tip);
  // The style makes a text button at least 80 pixels wide; these are as wide
  // as their text with room on both sides, so that the actions take one line
  // on a small window.
  b->setMaximumWidth(
      std::max(b->fontMetrics().horizontalAdvance(text) + 4 * b->fontMetrics().averageCharWidth(),
               b->fontMetrics().horizontalAdvance(QStringLiteral("Resume")) + 4 * b->fontMetrics().averageCharWidth()));
  return b;
}

// Lays its items out left to right and starts a new line where the width
// runs out, so that a strip of fields takes two lines on a narrow window
// instead of making the pane wider than the window.
class FlowLayout : public QLayout {
 public:
  explicit FlowLayout(int spacing) { setSpacing(spacing); }
  ~FlowLayout() override {
    while (QLayoutItem* item = takeAt(0)) delete item;
  }
  void addItem(QLayoutItem* item) override { items_.push_back(item); }
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int i) const override { return i >= 0 && i < count() ? items_[static_cast<size_t>(i)] : nullptr; }
  QLayoutItem* takeAt(int i) override {
    if (i < 0 || i >= count()) return nullptr;
    QLayoutItem* item = items_[static_cast<size_t>(i)];
    items_.erase(items_.begin() + i);
    return item;
  }
  Qt::Orientations expandingDirections() const override { return {}; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override { return Place(QRect(0, 0, width, 0), false); }
  void setGeometry(const QRect& rect) override {
    QLayout::setGeometry(rect);
    Place(rect, true);
  }
  QSize sizeHint() const override {
    // Everything on one line.
    int w = 0, h = 0;
    for (QLayoutItem* item : items_) {
      if (item->isEmpty()) continue;
      w += item->sizeHint().width() + (w > 0 ? spacing() : 0);
      h = std::max(h, item->sizeHint().height());
    }
    return {w, h};
  }
  QSize minimumSize() const override {
    // As narrow as the widest item.
    QSize s;
    for (QLayoutItem* item : items_)
      if (!item->isEmpty()) s = s.expandedTo(item->minimumSize());
    return s;
  }

 private:
  // Places the items in `rect` (or only measures) and returns the height used.
  // Every line is as high as the highest item; the others are centred in it.
  int Place(const QRect& rect, bool apply) const {
    const int line = sizeHint().height();
    int x = rect.x(), y = rect.y();
    for (QLayoutItem* item : items_) {
      if (item->isEmpty()) continue;
      const QSize hint = item->sizeHint();
      if (x > rect.x() && x + hint.width() > rect.right() + 1) {
        x = rect.x();
        y += line + spacing();
      }
      if (apply) item->setGeometry(QRect(QPoint(x, y + (line - hint.height()) / 2), hint));
      x += hint.width() + spacing();
    }
    return y + line - rect.y();
  }
  std::vector<QLayoutItem*> items_;
};

}  // namespace

WatchPane::WatchPane(frmMain& panel, QWidget* parent) : QWidget(parent), panel_(panel) {
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(4);

  // The editor strip: the selected block's fields, and the list's actions.
  // Both wrap onto a further line where the pane is narrow; a caption stays
  // on the line of its field.
  auto* editor = new FlowLayout(6);
  editorFlow_ = editor;
  auto* selected = new QLabel(QStringLiteral("<b>Selected block:</b>"), this);
  selected->setToolTip(QStringLiteral("The fields of the block selected in the list; Apply changes it"));
  editor->addWidget(selected);
  auto caption = [&](const QString& text, QWidget* field) {
    auto* pair = new QWidget(this);
    auto* h = new QHBoxLayout(pair);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(4);
    auto* l = new QLabel(text, pair);
    l->setBuddy(field);
    h->addWidget(l);
    h->addWidget(field);
    editor->addWidget(pair);
  };
  slave_ = MakeSpin(this, 1, 247, "watchSlave", QStringLiteral("Slave address, 1 to 247"));
  function_ = new QComboBox(this);
  function_->setObjectName(QStringLiteral("watchFunction"));
  for (const char* name : kFunctionNames) function_->addItem(QLatin1String(name));
  address_ = MakeSpin(this, 0, 65535, "watchAddress", QStringLiteral("First address read, from 0"));
  quantity_ = MakeSpin(this, 1, 2000, "watchQuantity",
                       QStringLiteral("Bits (01, 02: 1 to 2000) or registers (03, 04: 1 to 125)"));
  format_ = new QComboBox(this);
  format_->setObjectName(QStringLiteral("watchFormat"));
  for (int i = 0; i < engine::WatchFormatCount() && i < panel_.cmbFormat.ListCount(); ++i)
    format_->addItem(QString::fromStdString(panel_.cmbFormat.List(i)));
  interval_ = MakeSpin(this, 100, 65535, "watchInterval", QStringLiteral("Poll interval, 100 to 65535 ms"));
  interval_->setSuffix(QStringLiteral(" ms"));
  interval_->setSingleStep(100);
  caption(QStringLiteral("Slave"), slave_);
  caption(QStringLiteral("Function"), function_);
  caption(QStringLiteral("Address"), address_);
  caption(QStringLiteral("Qty"), quantity_);
  caption(QStringLiteral("Format"), format_);
  caption(QStringLiteral("Every"), interval_);
  apply_ =
      MakeButton(this, QStringLiteral("Apply"), "watchApply", QStringLiteral("Give the selected block these fields"));
  editor->addWidget(apply_);
  v->addLayout(editor);

  auto* actions = new FlowLayout(4);
  actionsFlow_ = actions;
  auto* add = MakeButton(this, QStringLiteral("Add to watch"), "watchAdd",
                         QStringLiteral("Watch the request's slave, function, address, quantity, format and poll "
                                        "interval as a new block"));
  remove_ =
      MakeButton(this, QStringLiteral("Remove"), "watchRemove", QStringLiteral("Stop watching the selected block"));
  pause_ = MakeButton(this, QStringLiteral("Pause"), "watchPause",
                      QStringLiteral("Pause or resume the selected block's reads"));
  up_ = MakeButton(this, QStringLiteral("Up"), "watchUp", QStringLiteral("Move the selected block up"));
  down_ = MakeButton(this, QStringLiteral("Down"), "watchDown", QStringLiteral("Move the selected block down"));
  hideGood_ = new QCheckBox(QStringLiteral("Hide good watch reads in the log"), this);
  hideGood_->setObjectName(QStringLiteral("watchHideGood"));
  hideGood_->setToolTip(QStringLiteral("Faults of the watched blocks stay in the log"));
  hideGood_->setChecked(panel_.HideWatchGoodInLog);
  for (QWidget* w : {static_cast<QWidget*>(add), static_cast<QWidget*>(remove_), static_cast<QWidget*>(pause_),
                     static_cast<QWidget*>(up_), static_cast<QWidget*>(down_)})
    actions->addWidget(w);
  actions->addWidget(hideGood_);
  v->addLayout(actions);

  split_ = new QSplitter(Qt::Vertical, this);
  QSplitter* split = split_;
  split->setObjectName(QStringLiteral("watchSplitter"));
  split->setChildrenCollapsible(false);
  blocks_ = MakeTable(split,
                      {QStringLiteral("Slave"), QStringLiteral("Function"), QStringLiteral("Address"),
                       QStringLiteral("Qty"), QStringLiteral("Format"), QStringLiteral("Every"),
                       QStringLiteral("Last update"), QStringLiteral("Response"), QStringLiteral("State")},
                      "watchBlocks");
  blocks_->setAccessibleName(QStringLiteral("Watched blocks"));
  values_ = MakeTable(split,
                      {QStringLiteral("Plot"), QStringLiteral("Block"), QStringLiteral("Address"),
                       QStringLiteral("Value"), QStringLiteral("Age")},
                      "watchValues");
  values_->setAccessibleName(QStringLiteral("Watched values"));
  values_->setToolTip(
      QStringLiteral("Tick up to 8 values to plot them (named in the plot by slave, table, address "
                     "and a format other than INT16: S1 HR 110, S1 HR 100 FLOAT_ABCD). A stale value is one "
                     "whose block's last read failed or that was never read: it is greyed and its age says so."));
  // The blocks are numbered as the values' Block column names them.
  blocks_->verticalHeader()->setVisible(true);
  split->addWidget(blocks_);
  split->addWidget(values_);
  v->addWidget(split, 1);

  connect(add, &QPushButton::clicked, this, [this] { AddFromRequest(); });
  connect(apply_, &QPushButton::clicked, this, [this] { ApplyEdit(); });
  connect(remove_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
  connect(pause_, &QPushButton::clicked, this, [this] { TogglePause(); });
  connect(up_, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { MoveSelected(1); });
  connect(hideGood_, &QCheckBox::toggled, this, [this](bool on) { panel_.HideWatchGoodInLog = on; });
  connect(blocks_, &QTableWidget::itemSelectionChanged, this, [this] { LoadEditor(); });
  // From the keyboard: Enter in a field of the strip applies it, Delete in
  // the blocks removes the selected one.
  for (QWidget* w :
       {static_cast<QWidget*>(slave_), static_cast<QWidget*>(function_), static_cast<QWidget*>(address_),
        static_cast<QWidget*>(quantity_), static_cast<QWidget*>(format_), static_cast<QWidget*>(interval_)})
    w->installEventFilter(this);
  blocks_->installEventFilter(this);
  connect(values_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { ValueChanged(item); });
  // Bits have no format.
  connect(function_, &QComboBox::currentIndexChanged, this,
          [this](int index) { format_->setEnabled(!engine::WatchReadsBits(static_cast<uint8_t>(index + 1))); });

  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] {
    if (isVisible()) Refresh();
  });
  timer->start(kRefreshMs);
  format_->setEnabled(!engine::WatchReadsBits(static_cast<uint8_t>(function_->currentIndex() + 1)));
  LoadEditor();
  Refresh();
}

int WatchPane::TableHeight(int rows) const {
  return blocks_->horizontalHeader()->sizeHint().height() + rows * blocks_->verticalHeader()->defaultSectionSize() +
         2 * blocks_->frameWidth();
}

int WatchPane::OneLineWidth() const {
  return std::max(editorFlow_->sizeHint().width(), actionsFlow_->sizeHint().width());
}

int WatchPane::LeastHeight(int width) const {
  // Measured a scroll bar narrower than offered, and with room for the
  // blocks' own scroll bar where they sit beside the values.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  return StripHeight(width - bar) + TableHeight(3) + bar;
}

int WatchPane::StripHeight(int width) const {
  return editorFlow_->heightForWidth(width) + actionsFlow_->heightForWidth(width) + 2 * layout()->spacing();
}

void WatchPane::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  // The strip's lines never overlap the tables: what does not fit scrolls.
  const int least = StripHeight(width()) + TableHeight(1);
  if (minimumHeight() != least) setMinimumHeight(least);
  // The blocks over the values while both show three rows or more; on a low
  // pane side by side, where each shows as many rows as the pane is high.
  const Qt::Orientation wanted =
      split_->height() >= 2 * TableHeight(3) + split_->handleWidth() ? Qt::Vertical : Qt::Horizontal;
  if (split_->orientation() == wanted) return;
  split_->setOrientation(wanted);
  const int room = wanted == Qt::Vertical ? split_->height() : split_->width();
  split_->setSizes({room * 3 / 5, room * 2 / 5});
}

bool WatchPane::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, e);
  const auto* key = static_cast<QKeyEvent*>(e);
  if (key->modifiers() & ~Qt::KeypadModifier) return QWidget::eventFilter(watched, e);
  if (watched == blocks_) {
    if (key->key() != Qt::Key_Delete || Selected() == 0) return QWidget::eventFilter(watched, e);
    RemoveSelected();
    return true;
  }
  // A combo box's open list takes its own Enter; this is the closed box's.
  if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return QWidget::eventFilter(watched, e);
  if (apply_->isEnabled()) {
    // What was typed counts, also where the spin box has not yet taken it.
    if (auto* spin = qobject_cast<QSpinBox*>(watched)) spin->interpretText();
    ApplyEdit();
  }
  return true;
}

engine::WatchBlockId WatchPane::BlockAt(int row) const {
  return row >= 0 && static_cast<size_t>(row) < shape_.size() ? shape_[static_cast<size_t>(row)].id : 0;
}

engine::WatchBlockId WatchPane::Selected() const {
  const QList<QTableWidgetItem*> items = blocks_->selectedItems();
  return items.isEmpty() ? 0 : BlockAt(items.front()->row());
}

void WatchPane::SelectBlock(engine::WatchBlockId id) {
  for (size_t i = 0; i < shape_.size(); ++i)
    if (shape_[i].id == id) blocks_->selectRow(static_cast<int>(i));
}

void WatchPane::AddFromRequest() {
  const engine::WatchBlockId id = panel_.AddRequestToWatch();
  Refresh();
  if (id != 0) {
    SelectBlock(id);
  } else if (onMessage) {
    onMessage(QStringLiteral("Not added to watch: %1").arg(QString::fromStdString(panel_.WatchRefusal)));
  }
}

void WatchPane::LoadEditor() {
  const engine::WatchBlock* b = panel_.Watch().Model().Find(Selected());
  for (QWidget* w : {static_cast<QWidget*>(apply_), static_cast<QWidget*>(remove_), static_cast<QWidget*>(pause_),
                     static_cast<QWidget*>(up_), static_cast<QWidget*>(down_)})
    w->setEnabled(b != nullptr);
  if (b == nullptr) {
    pause_->setText(QStringLiteral("Pause"));
    return;
  }
  const engine::WatchBlockConfig& c = b->config;
  slave_->setValue(c.slave);
  function_->setCurrentIndex(c.function - 1);
  address_->setValue(c.address);
  quantity_->setValue(c.quantity);
  format_->setCurrentIndex(c.formatIndex);
  interval_->setValue(static_cast<int>(c.intervalMs));
  pause_->setText(c.paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
}

void WatchPane::ApplyEdit() {
  const engine::WatchBlockId id = Selected();
  const engine::WatchBlock* b = panel_.Watch().Model().Find(id);
  if (b == nullptr) return;
  engine::WatchBlockConfig c = b->config;
  c.slave = static_cast<uint8_t>(slave_->value());
  c.function = static_cast<uint8_t>(function_->currentIndex() + 1);
  c.address = static_cast<uint16_t>(address_->value());
  c.quantity = static_cast<uint16_t>(quantity_->value());
  c.formatIndex = engine::WatchReadsBits(c.function) ? 0 : format_->currentIndex();
  c.intervalMs = static_cast<uint32_t>(interval_->value());
  if (const auto problem = engine::CheckWatchBlock(c)) {
    if (onMessage)
      onMessage(QStringLiteral("Block not changed: %1 %2")
                    .arg(QString::fromStdString(problem->field), QString::fromStdString(problem->message)));
    return;
  }
  panel_.Watch().Edit(id, c);
  panel_.PrunePlotted();
  Refresh();
  SelectBlock(id);
}

void WatchPane::RemoveSelected() {
  const engine::WatchBlockId id = Selected();
  if (id == 0) return;
  const int row = blocks_->currentRow();
  panel_.RemoveFromWatch(id);
  Refresh();
  if (blocks_->rowCount() > 0) blocks_->selectRow(std::min(row, blocks_->rowCount() - 1));
  LoadEditor();
}

void WatchPane::TogglePause() {
  const engine::WatchBlockId id = Selected();
  const engine::WatchBlock* b = panel_.Watch().Model().Find(id);
  if (b == nullptr) return;
  panel_.Watch().SetPaused(id, !b->config.paused);
  Refresh();
  LoadEditor();
}

void WatchPane::MoveSelected(int by) {
  const engine::WatchBlockId id = Selected();
  const int row = blocks_->currentRow();
  if (id == 0 || row + by < 0) return;
  panel_.Watch().Move(id, static_cast<size_t>(row + by));
  Refresh();
  SelectBlock(id);
}

QString WatchPane::WallTime(int64_t monotonicMs) const {
  const int64_t now = panel_.Platform().clock->MonotonicMs();
  return QDateTime::currentDateTime().addMSecs(monotonicMs - now).toString(QStringLiteral("hh:mm:ss.zzz"));
}

void WatchPane::RebuildIfChanged() {
  const std::vector<engine::WatchBlock>& blocks = panel_.Watch().Model().Blocks();
  std::vector<Shape> shape;
  shape.reserve(blocks.size());
  for (const engine::WatchBlock& b : blocks) shape.push_back({b.id, b.revision, b.config});
  if (shape == shape_ && plotted_ == panel_.Plotted) return;
  const engine::WatchBlockId selected = Selected();
  shape_ = std::move(shape);
  plotted_ = panel_.Plotted;

  filling_ = true;
  blocks_->setRowCount(static_cast<int>(blocks.size()));
  valueRows_.clear();
  for (const engine::WatchBlock& b : blocks)
    for (const engine::WatchValue& value : b.values) valueRows_.push_back({b.id, value.address});
  values_->setRowCount(static_cast<int>(valueRows_.size()));
  for (size_t i = 0; i < valueRows_.size(); ++i) {
    QTableWidgetItem* tick = values_->item(static_cast<int>(i), kPlot);
    if (tick == nullptr) {
      tick = new QTableWidgetItem;
      tick->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      values_->setItem(static_cast<int>(i), kPlot, tick);
    }
    tick->setCheckState(panel_.IsPlotted(valueRows_[i].block, valueRows_[i].address) ? Qt::Checked : Qt::Unchecked);
  }
  filling_ = false;
  // Fitted once the new rows have their texts.
  fitColumns_ = true;
  if (selected != 0) SelectBlock(selected);
  // Also when only the blocks changed: a plotted value's block may now read
  // another register under the same address.
  if (onPlottedChanged) onPlottedChanged();
}

void WatchPane::Refresh() {
  RebuildIfChanged();
  const int64_t now = panel_.Platform().clock->MonotonicMs();
  const std::vector<engine::WatchBlock>& blocks = panel_.Watch().Model().Blocks();
  for (size_t i = 0; i < blocks.size(); ++i) RefreshBlockRow(static_cast<int>(i), blocks[i], now);
  RefreshValues(now);
  if (std::exchange(fitColumns_, false)) {
    FitColumns(blocks_);
    FitColumns(values_);
    // Room for a state that comes later than the texts fitted now.
    const int state =
        blocks_->fontMetrics().horizontalAdvance(QStringLiteral("exception 2: Illegal Data Address")) + 16;
    if (blocks_->columnWidth(kState) < state) blocks_->setColumnWidth(kState, state);
  }
}

void WatchPane::RefreshBlockRow(int row, const engine::WatchBlock& b, int64_t /*now*/) {
  const engine::WatchBlockConfig& c = b.config;
  SetText(blocks_, row, kSlave, QString::number(c.slave));
  SetText(blocks_, row, kFunction, QLatin1String(kFunctionNames[std::clamp(c.function - 1, 0, 3)]));
  SetText(blocks_, row, kAddress, QString::number(c.address));
  SetText(blocks_, row, kQuantity, QString::number(c.quantity));
  SetText(blocks_, row, kFormat,
          engine::WatchReadsBits(c.function) ? QStringLiteral("bits") : format_->itemText(c.formatIndex));
  SetText(blocks_, row, kInterval, QStringLiteral("%1 ms").arg(c.intervalMs));
  SetText(blocks_, row, kLastUpdate, b.state.lastUpdateMs ? WallTime(*b.state.lastUpdateMs) : QStringLiteral("-"));
  SetText(blocks_, row, kResponse,
          b.state.responseTimeMs ? QStringLiteral("%1 ms").arg(*b.state.responseTimeMs) : QStringLiteral("-"));
  SetText(blocks_, row, kState, OutcomeText(b));
  QTableWidgetItem* state = blocks_->item(row, kState);
  if (state->toolTip() != state->text()) state->setToolTip(state->text());  // in full, however narrow the column
  const QColor color = ToQColor(OutcomeColor(b));
  if (state->foreground().color() != color) {
    state->setForeground(color);
    state->setBackground(kLogBackground);
  }
}

void WatchPane::RefreshValues(int64_t now) {
  const engine::WatchModel& model = panel_.Watch().Model();
  const QString separator = QString::fromStdString(
      panel_.Platform().locale ? panel_.Platform().locale->DecimalSeparator() : std::string("."));
  // Block numbers as the blocks table shows them: its row, from 1.
  std::vector<std::pair<engine::WatchBlockId, int>> numbers;
  for (size_t i = 0; i < shape_.size(); ++i) numbers.emplace_back(shape_[i].id, static_cast<int>(i) + 1);
  size_t row = 0;
  for (const engine::WatchBlock& b : model.Blocks()) {
    int number = 0;
    for (const auto& [id, n] : numbers)
      if (id == b.id) number = n;
    for (const engine::WatchValue& value : b.values) {
      const int r = static_cast<int>(row++);
      if (r >= values_->rowCount()) return;
      SetText(values_, r, kBlock, QString::number(number));
      SetText(values_, r, kValueAddress, QString::number(value.address));
      SetText(values_, r, kValue, value.text.empty() ? QStringLiteral("-") : QString::fromStdString(value.text));
      QString age;
      if (!value.lastGoodMs) {
        age = QStringLiteral("stale: never read");
      } else {
        // Tenths of a second, in the locale's notation as the values are.
        const QString seconds = QString::number(static_cast<double>(now - *value.lastGoodMs) / 1000.0, 'f', 1)
                                    .replace(QLatin1Char('.'), separator);
        age = value.stale ? QStringLiteral("stale: %1 s old").arg(seconds) : QStringLiteral("%1 s").arg(seconds);
      }
      SetText(values_, r, kAge, age);
      // A stale value is greyed and slanted, its age in the error colour: it
      // never looks like a fresh one.
      QTableWidgetItem* item = values_->item(r, kValue);
      if (item->font().italic() != value.stale) {
        QFont f = item->font();
        f.setItalic(value.stale);
        item->setFont(f);
        item->setForeground(value.stale ? QColor(128, 128, 128) : palette().color(QPalette::Text));
        values_->item(r, kAge)->setForeground(value.stale ? QColor(192, 0, 0) : palette().color(QPalette::Text));
      }
    }
  }
}

void WatchPane::ValueChanged(QTableWidgetItem* item) {
  if (filling_ || item->column() != kPlot) return;
  const size_t row = static_cast<size_t>(item->row());
  if (row >= valueRows_.size()) return;
  const frmMain::PlottedValue v = valueRows_[row];
  const bool on = item->checkState() == Qt::Checked;
  if (!panel_.SetPlotted(v.block, v.address, on)) {
    filling_ = true;
    item->setCheckState(Qt::Unchecked);
    filling_ = false;
    if (onMessage) onMessage(QStringLiteral("At most %1 values can be plotted").arg(frmMain::kMaxPlotted));
    return;
  }
  plotted_ = panel_.Plotted;
  if (onPlottedChanged) onPlottedChanged();
}

}  // namespace qt
