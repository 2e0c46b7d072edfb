#pragma once
// The watch list in the window: the blocks the panel's watch runner reads
// (one row each, with the state of its last read in the log's colours), an
// editor strip for the selected block, and the watched values (one row per
// bit, register or 32-bit value, with its age; a value whose block failed is
// marked stale). Values ticked in the first column of the values go to the
// plot. The pane reads the model a few times a second and changes only the
// cells whose text changed.
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "panel/frmMain.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QPushButton;
class QResizeEvent;
class QSplitter;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;

namespace qt {

class WatchPane : public QWidget {
 public:
  explicit WatchPane(frmMain& panel, QWidget* parent = nullptr);

  // Reads the model now (the pane also does so on its own timer).
  void Refresh();
  // The block of a row of the blocks table, 0 for none.
  engine::WatchBlockId BlockAt(int row) const;
  // The selected block, 0 for none.
  engine::WatchBlockId Selected() const;

  // The width the editor strip and the actions take on one line each.
  int OneLineWidth() const;
  // The least height that shows three rows of both tables at `width`.
  int LeastHeight(int width) const;

  // Told when the set of plotted values or the blocks change.
  std::function<void()> onPlottedChanged;
  // Told with a message for the operator (the status bar shows it).
  std::function<void(const QString&)> onMessage;

 protected:
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  // The height of a table that shows `rows` rows under its heading.
  int TableHeight(int rows) const;
  // The height of the editor strip and the actions at `width`.
  int StripHeight(int width) const;
  void AddFromRequest();
  void ApplyEdit();
  void RemoveSelected();
  void TogglePause();
  void MoveSelected(int by);
  void LoadEditor();
  void SelectBlock(engine::WatchBlockId id);
  void RebuildIfChanged();
  void RefreshBlockRow(int row, const engine::WatchBlock& b, int64_t now);
  void RefreshValues(int64_t now);
  void ValueChanged(QTableWidgetItem* item);
  QString WallTime(int64_t monotonicMs) const;

  frmMain& panel_;
  QTableWidget* blocks_ = nullptr;
  QTableWidget* values_ = nullptr;
  QSplitter* split_ = nullptr;  // the blocks and the values
  QLayout* editorFlow_ = nullptr;
  QLayout* actionsFlow_ = nullptr;
  QSpinBox* slave_ = nullptr;
  QComboBox* function_ = nullptr;
  QSpinBox* address_ = nullptr;
  QSpinBox* quantity_ = nullptr;
  QComboBox* format_ = nullptr;
  QSpinBox* interval_ = nullptr;
  QPushButton* apply_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* up_ = nullptr;
  QPushButton* down_ = nullptr;
  QCheckBox* hideGood_ = nullptr;

  // What the tables were built for: each block's id, revision and config.
  struct Shape {
    engine::WatchBlockId id;
    uint32_t revision;
    engine::WatchBlockConfig config;
    bool operator==(const Shape&) const = default;
  };
  std::vector<Shape> shape_;
  std::vector<frmMain::PlottedValue> plotted_;
  // The values table's rows: block and address.
  std::vector<frmMain::PlottedValue> valueRows_;
  bool filling_ = false;
  bool fitColumns_ = true;
};

}  // namespace qt
