#pragma once
// Puts the bound widgets of the panel's fields and the operator aids into
// layouts, so that the window can take any size from a small netbook screen
// up: the connection bar on top; below it, in splitters the operator can
// move, the request and the response grid over the log, and the inspector
// beside them. The response grid, the inspector and the log take the room
// the window gains.
class QMainWindow;
class QPushButton;
class QSplitter;
class QWidget;

namespace qt {

class FieldBinding;
class RequestPreview;

struct WindowPanes {
  QSplitter* columns = nullptr;  // the panel | the inspector
  QSplitter* rows = nullptr;     // the request and the response grid / the log
};

// `inspector` goes in the right-hand column, `saveLog` at the end of the log's
// foot row, `preview` under the request's buttons.
WindowPanes ArrangeWindow(FieldBinding& binding, QMainWindow* window, RequestPreview* preview, QWidget* inspector,
                          QPushButton* saveLog);

}  // namespace qt
