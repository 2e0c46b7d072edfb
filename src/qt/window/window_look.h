#pragma once
// The look the window's parts share: the scale of the panel's position units,
// the fixed-pitch fonts of the inputs, the response view and the log, and the
// panel's colours as Qt colours.
#include <QColor>
#include <QFont>
#include <QTextCharFormat>
#include <cstdint>

class QPlainTextEdit;

namespace qt {

// The panel's positions are in twips; 15 twips make one logical pixel.
int Px(int twips);

// Point sizes of the fixed-pitch fonts: the input fields and lists, the
// response view, the log pane.
constexpr qreal kInputPt = 9.0;
constexpr qreal kResponsePt = 9.0;
constexpr qreal kLogPt = 9.75;

// Background of the log pane, RGB(21,25,34).
inline const QColor kLogBackground{21, 25, 34};
// Text colour of a preview that is a refusal rather than bytes.
inline const QColor kRefusalColor{176, 24, 24};

QFont FixedFont(qreal pointSize);

// A colour of the model (&H00BBGGRR, or &H800000nn for system colour nn).
QColor ToQColor(uint32_t c);

// The character format of log text in a model colour.
QTextCharFormat LogFormat(uint32_t color);

// A locked text pane is read-only and keeps its caret: the keyboard moves it
// and selects with it (read-only alone leaves selecting to the mouse).
void SetPaneLocked(QPlainTextEdit* w, bool locked);

}  // namespace qt
