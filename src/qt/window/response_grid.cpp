#include "qt/window/response_grid.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSignalBlocker>
#include <vector>

#include "panel/frmMain.h"
#include "qt/window/window_look.h"

namespace qt {
namespace {

enum Column { kAddress, kValue, kRaw, kColumns };

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  if (text.empty()) return lines;
  for (size_t from = 0;;) {
    const size_t at = text.find("\r\n", from);
    lines.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) break;
    from = at + 2;
  }
  return lines;
}

// The register bytes of a line, in wire order: its register, or the two or
// four registers of the 32- or 64-bit value its format tag names.
QString RawOf(const frmMain& panel, int line, const std::string& formatTag) {
  const char* name = "INT16";
  if (formatTag == "FLT" || formatTag == "I32" || formatTag == "U32") name = "UINT32_ABCD";
  if (formatTag == "I64" || formatTag == "U64" || formatTag == "DBL") name = "UINT64_ABCDEFGH";
  for (const InspectorRow& row : panel.InspectResponseLine(line))
    if (row.format == name) return QString::fromStdString(row.bytes);
  return {};
}

QTableWidgetItem* Cell(const QString& text, Qt::Alignment align) {
  auto* item = new QTableWidgetItem(text);
  item->setTextAlignment(align | Qt::AlignVCenter);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

}  // namespace

ResponseLineParts SplitResponseLine(std::string_view line) {
  ResponseLineParts parts;
  size_t split = line.find(" <- ");
  size_t skip = 4;
  if (split != std::string_view::npos) {
    parts.written = true;
  } else {
    split = line.find(": ");
    skip = 2;
  }
  if (split == std::string_view::npos) {
    parts.value = std::string(Trim(line));
    return parts;
  }
  std::string_view head = Trim(line.substr(0, split));
  parts.value = std::string(Trim(line.substr(split + skip)));
  // "FORMAT TAG ADDRESS": the format goes apart from the address.
  const size_t first = head.find(' ');
  if (first != std::string_view::npos && head.find(' ', first + 1) != std::string_view::npos) {
    parts.format = std::string(head.substr(0, first));
    head = Trim(head.substr(first + 1));
  }
  parts.address = std::string(head);
  return parts;
}

ResponseGrid::ResponseGrid(QWidget* parent) : QTableWidget(0, kColumns, parent) {
  setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("Value"), QStringLiteral("Raw (hex)")});
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setFont(FixedFont(kResponsePt));
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setHighlightSections(false);
  {
    const QFontMetrics fm(font());
    const int pad = 2 * fm.averageCharWidth() + 4;
    setColumnWidth(kAddress, fm.horizontalAdvance(QStringLiteral("HR 00000")) + pad);
    setColumnWidth(kValue, fm.horizontalAdvance(QStringLiteral("-2147483648")) + pad);
    // The raw bytes stretch to the edge; where room is short they give way
    // down to one register's bytes rather than to the header's default width,
    // which would put a scroll bar under a grid whose values all fit.
    horizontalHeader()->setDefaultSectionSize(fm.horizontalAdvance(QStringLiteral("00 00")) + pad);
    horizontalHeader()->setStretchLastSection(true);
  }
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setWordWrap(false);
  setShowGrid(true);  // as the inspector: the value and its bytes kept apart
  setAlternatingRowColors(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  setTabKeyNavigation(false);
  connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int, int previous, int) {
    if (!signalsBlocked() && row >= 0 && row != previous) emit linePicked(row);
  });
  connect(this, &QTableWidget::cellPressed, this, [this](int row, int) { emit linePicked(row); });
}

void ResponseGrid::ShowText(const std::string& text, const frmMain& panel) {
  const QSignalBlocker quiet(this);
  const std::vector<std::string_view> lines = Lines(text);
  const int keep = currentRow();
  setRowCount(static_cast<int>(lines.size()));
  std::string format;
  for (int i = 0; i < rowCount(); ++i) {
    const ResponseLineParts parts = SplitResponseLine(lines[static_cast<size_t>(i)]);
    if (!parts.format.empty()) format = parts.format;
    const QString value = (parts.written ? QStringLiteral("\u2190 ") : QString()) + QString::fromStdString(parts.value);
    setItem(i, kAddress, Cell(QString::fromStdString(parts.address), Qt::AlignLeft));
    setItem(i, kValue, Cell(value, parts.address.empty() ? Qt::AlignLeft : Qt::AlignRight));
    setItem(i, kRaw, Cell(RawOf(panel, i, parts.format), Qt::AlignLeft));
  }
  // The 32-bit views name their format once, in the heading.
  horizontalHeaderItem(kValue)->setText(
      format.empty() ? QStringLiteral("Value") : QStringLiteral("Value (%1)").arg(QString::fromStdString(format)));
  // The address and value columns as wide as their widest cell (at least
  // their heading); the raw bytes take the rest. The cells' margins and the
  // grid keep the columns apart.
  for (const int c : {kAddress, kValue}) resizeColumnToContents(c);
  if (keep >= 0 && keep < rowCount()) setCurrentCell(keep, kAddress, QItemSelectionModel::NoUpdate);
  if (marked_ >= rowCount()) marked_ = -1;
  MarkLine(marked_);
}

std::optional<std::pair<int, int>> ResponseGrid::SelectedLines() const {
  const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
  if (ranges.isEmpty()) return std::nullopt;
  int first = rowCount(), last = -1;
  for (const QTableWidgetSelectionRange& r : ranges) {
    first = std::min(first, r.topRow());
    last = std::max(last, r.bottomRow());
  }
  return std::pair{first, last};
}

void ResponseGrid::SelectLines(int first, int last) {
  const QSignalBlocker quiet(this);
  clearSelection();
  if (last < first || rowCount() == 0) return;
  setRangeSelected(QTableWidgetSelectionRange(first, 0, last, kColumns - 1), true);
}

void ResponseGrid::MarkLine(int line) {
  marked_ = line;
  QColor tint = palette().color(QPalette::Highlight);
  tint.setAlpha(48);
  for (int r = 0; r < rowCount(); ++r)
    for (int c = 0; c < kColumns; ++c)
      if (QTableWidgetItem* cell = item(r, c)) cell->setBackground(r == line ? QBrush(tint) : QBrush());
}

int ResponseGrid::RowsInView() const {
  if (rowCount() == 0) return 0;
  const int top = rowAt(0);
  int bottom = rowAt(viewport()->height() - 1);
  if (bottom < 0) bottom = rowCount() - 1;
  return top < 0 ? 0 : bottom - top + 1;
}

}  // namespace qt
