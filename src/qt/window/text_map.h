#pragma once
// The panel keeps its texts in UTF-8 with CR LF line ends and counts positions
// in bytes; a Qt text widget holds UTF-16 with one separator per line break.
// These helpers convert texts and positions between the two.
#include <QString>
#include <cstddef>
#include <deque>
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

// Positions in a text that grows at the end and is trimmed at the top (the log
// pane): panel positions (bytes, CR LF) against widget positions (UTF-16
// units). The text is kept in pieces of at most one line and kPieceBytes
// bytes, each with the position, in both counts, at which it starts; a
// position is found by a binary search over the pieces and a walk within one
// piece. Appending, trimming and mapping cost the size of the change, not of
// the whole text.
//
// Each appended text counts as the widget counts it when that text is inserted
// on its own: a CR that ends one append and an LF that starts the next are two
// line breaks there, and here.
class LogTextMap {
 public:
  static constexpr size_t kPieceBytes = 4096;

  void Clear();
  void Append(std::string_view text);
  // Takes the first n bytes (all of them when n is larger) off the top;
  // returns the widget units they took.
  int RemoveFront(size_t n);

  // Counts `n` bytes as appended and taken off again without being shown
  // (only when nothing is held).
  void Discard(size_t n);
  // Where the text held starts, counted over every byte appended (and
  // discarded) since the last Clear.
  long long Front() const { return frontByte_; }
  size_t Bytes() const { return static_cast<size_t>(endByte_ - frontByte_); }
  int Units() const { return static_cast<int>(endUnit_ - frontUnit_); }
  // As WidgetPos and PanelPos above, on the text held.
  int WidgetPos(size_t bytePos) const;
  size_t PanelPos(int widgetPos) const;
  // The text held (for checks; walks every piece).
  std::string Text() const;

 private:
  struct Piece {
    long long byte;  // where it starts, counted over everything ever appended
    long long unit;
    std::string text;
  };
  void AddPiece(std::string_view text);
  // The index of the piece holding byte (unit) position p counted from the
  // first byte ever appended; the last piece for positions at the end.
  size_t PieceOfByte(long long p) const;
  size_t PieceOfUnit(long long p) const;

  std::deque<Piece> pieces_;
  long long frontByte_ = 0, frontUnit_ = 0;  // the first byte held, in both counts
  long long endByte_ = 0, endUnit_ = 0;
};

}  // namespace qt
