#include "qt/window/register_decoding_pane.h"

#include <QAbstractItemView>
#include <QBoxLayout>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>

#include "modbus/formats.h"
#include "qt/window/response_grid.h"
#include "qt/window/window_look.h"

namespace qt {
namespace {

// The rows the table shows at least; more scroll.
constexpr int kMinRowsShown = 4;
// The room left of the table, clear of the response time beside it.
constexpr int kLeftMargin = 4;
// The Bytes column's widths: all eight bytes of a 64-bit format when there is
// room, down to two bytes and an ellipsis when the value needs the room.
const QString kBytesFull = QStringLiteral("00 00 00 00 00 00 00 00");
const QString kBytesLeast = QStringLiteral("00 00\u2026");
// The Value column is never narrower than this, however long the values.
const QString kValueLeast = QStringLiteral("-2147483648");
// The longest value any format gives: a double's shortest exact text with a
// sign and a three-digit exponent (the 64-bit integers take 20 characters).
const QString kValueLongest = QStringLiteral("-2.2250738585072014E-308");

}  // namespace

ValueInspector::ValueInspector(frmMain& panel, ResponseGrid* responseView, const int& updating, QWidget* parent)
    : QWidget(parent), panel_(panel), view_(responseView) {
  auto* heading = new QLabel(QStringLiteral("INSPECTOR"), this);
  heading->setObjectName(QStringLiteral("inspectorHeading"));
  {
    QFont f = heading->font();
    f.setBold(true);
    heading->setFont(f);
  }
  address_ = new QLabel(this);
  address_->setObjectName(QStringLiteral("inspectorAddress"));
  address_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  table_ = new QTableWidget(modbus::kAllFormatCount, 3, this);
  table_->setObjectName(QStringLiteral("inspector"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Format"), QStringLiteral("Bytes"), QStringLiteral("Value")});
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->setFont(FixedFont(kResponsePt));
  const int rowHeight = table_->fontMetrics().height() + 4;
  table_->verticalHeader()->setDefaultSectionSize(rowHeight);
  table_->horizontalHeader()->setFixedHeight(fontMetrics().height() + 6);
  table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  table_->horizontalHeader()->setSectionsClickable(false);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  // A stop for Tab, so that it can be read from the keyboard (arrows move
  // over its cells); its line follows the response view's.
  table_->setFocusPolicy(Qt::StrongFocus);
  table_->setTabKeyNavigation(false);
  table_->setAccessibleName(QStringLiteral("Inspector"));
  table_->setWordWrap(false);  // a long value is cut at its end, never broken
  table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  table_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  table_->horizontalHeader()->setFont(font());
  {
    const QFontMetrics fm(table_->font());
    const int pad = fm.averageCharWidth() + 4;
    table_->setColumnWidth(0, fm.horizontalAdvance(QStringLiteral("UINT64_HGFEDCBA")) + pad);
    table_->setColumnWidth(1, fm.horizontalAdvance(kBytesFull) + pad);
    table_->horizontalHeader()->setStretchLastSection(true);
  }
  table_->setTextElideMode(Qt::ElideRight);  // a cut column ends in an ellipsis
  table_->viewport()->installEventFilter(this);
  for (int r = 0; r < table_->rowCount(); ++r) {
    const std::string_view name = modbus::FormatName(r);
    table_->setItem(r, 0, new QTableWidgetItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))));
    table_->setItem(r, 1, new QTableWidgetItem);
    table_->setItem(r, 2, new QTableWidgetItem);
  }
  {
    const int chrome = table_->horizontalHeader()->height() + 2 * table_->frameWidth();
    table_->setMinimumHeight(chrome + kMinRowsShown * rowHeight);
    table_->setMaximumHeight(chrome + table_->rowCount() * rowHeight);
  }
  {
    // Never so narrow that a value is cut: the Bytes column gives way first,
    // down to two bytes. The least width holds the longest value beside them,
    // the width wanted all eight bytes too; both with the scroll bar, which
    // shows where the table is not as tall as its rows.
    const QFontMetrics fm(table_->font());
    const int pad = fm.averageCharWidth() + 4;
    // The longest value needs only the cell's own margins (3 pixels a side).
    const int chrome = kLeftMargin + 2 * table_->frameWidth() +
                       table_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table_) +
                       table_->columnWidth(0) + fm.horizontalAdvance(kValueLongest) + 8;
    setMinimumWidth(chrome + fm.horizontalAdvance(kBytesLeast) + pad);
    wanted_ = chrome - 8 + pad + fm.horizontalAdvance(kBytesFull) + pad;  // as FitColumns shares them
    // A stretched last column is kept at least this wide even past the
    // table's edge, where its values would be cut without an ellipsis.
    table_->horizontalHeader()->setMinimumSectionSize(fm.horizontalAdvance(kBytesLeast) + pad);
  }

  auto* headingRow = new QHBoxLayout;
  headingRow->setContentsMargins(0, 0, 0, 0);
  headingRow->setSpacing(0);
  headingRow->addWidget(heading, 1);
  headingRow->addWidget(address_, 2);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(kLeftMargin, 0, 0, 0);  // clear of the response time left of it
  column->setSpacing(2);
  column->addLayout(headingRow);
  // The table takes the height it needs where there is room; the rest is left
  // under it.
  column->addWidget(table_, 100);
  column->addStretch(1);

  connect(view_, &ResponseGrid::linePicked, this, [this, &updating](int line) {
    // The operator's choice of line only; the model's rebuilding of the view
    // keeps the line chosen, so that polling updates its values.
    if (updating > 0) return;
    line_ = line;
    Refresh();
  });
  SetReadable(panel_.txtResponse.Enabled());
}

void ValueInspector::SetReadable(bool enabled) { table_->setEnabled(enabled); }

bool ValueInspector::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_->viewport() && event->type() == QEvent::Resize) FitColumns();
  return QWidget::eventFilter(watched, event);
}

void ValueInspector::FitColumns() {
  // The Value column is what the operator reads: it gets the width its
  // longest value needs and the Bytes column what is left, between two bytes
  // and all eight. Where even that is too little the value is cut with an
  // ellipsis (its tool tip holds it whole).
  const QFontMetrics fm(table_->font());
  const int pad = fm.averageCharWidth() + 4;
  int valueWanted = fm.horizontalAdvance(kValueLeast) + pad;
  for (int r = 0; r < table_->rowCount(); ++r)
    if (const QTableWidgetItem* value = table_->item(r, 2))
      valueWanted = std::max(valueWanted, fm.horizontalAdvance(value->text()) + pad);
  const int room = table_->viewport()->width() - table_->columnWidth(0);
  const int bytes =
      std::clamp(room - valueWanted, fm.horizontalAdvance(kBytesLeast) + pad, fm.horizontalAdvance(kBytesFull) + pad);
  if (table_->columnWidth(1) != bytes) table_->setColumnWidth(1, bytes);
}

void ValueInspector::Refresh() {
  const std::vector<InspectorRow> rows = line_ >= 0 ? panel_.InspectResponseLine(line_) : std::vector<InspectorRow>{};
  for (int r = 0; r < table_->rowCount(); ++r) {
    const InspectorRow* row = static_cast<size_t>(r) < rows.size() ? &rows[static_cast<size_t>(r)] : nullptr;
    if (row != nullptr) table_->item(r, 0)->setText(QString::fromStdString(row->format));
    table_->item(r, 1)->setText(row != nullptr ? QString::fromStdString(row->bytes) : QString());
    const QString value = row != nullptr ? QString::fromStdString(row->value) : QString();
    table_->item(r, 2)->setText(value);
    table_->item(r, 2)->setToolTip(value);
  }
  FitColumns();

  const std::optional<int32_t> address = line_ >= 0 ? panel_.ResponseLineAddress(line_) : std::nullopt;
  QString caption;
  if (address && !rows.empty() && panel_.Addresses() != modbus::AddressNotation::Protocol)
    // Register or reference number, with the protocol address on the wire.
    caption = QStringLiteral("Address %1 (protocol %2)")
                  .arg(QString::fromStdString(panel_.ResponseLineAddressText(line_)))
                  .arg(*address);
  else if (address && !rows.empty())
    caption = QStringLiteral("Address %1 (0x%2)")
                  .arg(*address)
                  .arg(QString::number(*address, 16).toUpper().rightJustified(4, QLatin1Char('0')));
  else if (line_ >= 0 && !panel_.txtResponse.Text().empty())
    caption = QStringLiteral("No register on this line");
  else
    caption = QStringLiteral("Click a register line");
  address_->setText(caption);
  {
    QPalette pal = address_->palette();
    // A hint while no register is picked; the address once one is.
    pal.setColor(QPalette::WindowText,
                 rows.empty() ? palette().color(QPalette::PlaceholderText) : palette().color(QPalette::WindowText));
    address_->setPalette(pal);
  }

  // The line inspected is marked in the response view.
  view_->MarkLine(rows.empty() ? -1 : line_);
}

}  // namespace qt
