#pragma once
// The panel keeps its texts in UTF-8 with CR LF line ends and counts positions
// in bytes; a Qt text widget holds UTF-16 with one separator per line break.
// These helpers convert texts and positions between the two.
#include <QString>
#include <string>
#include <string_view>
#include <utility>

namespace qt {

// The text as a Qt widget shows it: UTF-8 decoded, every CR LF (and a lone CR
// or LF) one line break "\n".
QString ToWidgetText(std::string_view text);
// The widget's text back in the panel's form: line breaks as CR LF.
std::string FromWidgetText(const QString& text);
// The single-line variant: the text decoded, nothing else changed.
QString ToLineText(std::string_view text);

// The widget position (UTF-16 units, one unit per line break) of the panel
// position `bytePos` in `text`. Positions past the end give the end.
int WidgetPos(std::string_view text, int bytePos);
// The panel position (bytes, CR LF counting two) of the widget position
// `widgetPos` in `text`. A position inside a character or a CR LF pair gives
// the start of that character or pair.
int PanelPos(std::string_view text, int widgetPos);
// The single-line variants (no line-break mapping).
int LineWidgetPos(std::string_view text, int bytePos);
int LinePanelPos(std::string_view text, int widgetPos);

// Lines of a text whose lines end in CR LF, counted from 0. The bytes from
// the start of line `first` to the end of line `last` (its CR LF excluded),
// clamped to the text: {start, end}.
std::pair<int, int> LineSpan(std::string_view text, int first, int last);
// The first and last line that the bytes [start, start + length) touch; a
// caret (length 0) touches none: {0, -1}.
std::pair<int, int> LinesTouched(std::string_view text, int start, int length);

}  // namespace qt
