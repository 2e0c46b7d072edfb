#pragma once
// The response view as a grid: one row per line of the panel's response
// view, with the line's address, its value and, where the answer carried
// register bytes, those bytes in hexadecimal. The grid shows as many rows as
// its height holds. The operator picks a line by clicking it (or with the
// arrow keys) and selects lines to copy them.
#include <QTableWidget>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

class frmMain;

namespace qt {

// A line of the response view taken apart: "HR 00003: -2" gives address
// "HR 00003" and value "-2"; a 32-bit view's "FLOAT_ABCD HR 00000: 21.5"
// also gives the format; a write's "HR 00005 <- 77" is marked written. A line
// of another shape is all value.
struct ResponseLineParts {
  std::string format;
  std::string address;
  std::string value;
  bool written = false;
};
ResponseLineParts SplitResponseLine(std::string_view line);

class ResponseGrid : public QTableWidget {
  Q_OBJECT
 public:
  explicit ResponseGrid(QWidget* parent = nullptr);

  // Shows the view's text (lines separated by CR LF); the raw bytes come from
  // the panel's registers of the answer shown.
  void ShowText(const std::string& text, const frmMain& panel);
  // The lines selected, first and last; none when no row is.
  std::optional<std::pair<int, int>> SelectedLines() const;
  // Selects lines `first` to `last` (nothing when last < first).
  void SelectLines(int first, int last);
  // Tints the row of `line` as the one inspected (-1: none).
  void MarkLine(int line);
  // How many rows are in view, whole or in part.
  int RowsInView() const;

 signals:
  // The operator made `line` the current line.
  void linePicked(int line);

 private:
  int marked_ = -1;
};

}  // namespace qt
