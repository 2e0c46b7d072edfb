#pragma once
// Makes the widget of every field of the panel, of the kind the field needs
// (a label, a list, a line or text pane, the response grid, a button, an
// option, a group), in the look of the program, and binds it; the guarded
// fields get their key filters and value checks, the request's fields send
// on Enter.
class QWidget;

namespace qt {

class FieldBinding;
class InputGuards;

// `window` is the widget that stands for the panel itself.
void BuildFieldWidgets(FieldBinding& binding, InputGuards& guards, QWidget* window);
// The Tab order of the fields: mode, the connection, the input kind, the
// request, then the results.
void SetFieldTabOrder(FieldBinding& binding);

}  // namespace qt
