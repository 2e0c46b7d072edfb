// Positions and texts between the panel (UTF-8 bytes, CR LF) and a Qt text
// widget (UTF-16 units, one separator per line).
#include "qt/window/text_map.h"

#include <gtest/gtest.h>

#include <string>

TEST(TextMap, PositionsAcrossLineBreaksAndWideCharacters) {
  // "ab" CR LF "é" (2 bytes, 1 unit) "x" CR LF "𝄞" (4 bytes, 2 units) "z"
  const std::string t = "ab\r\n\xC3\xA9x\r\n\xF0\x9D\x84\x9Ez";
  ASSERT_EQ(qt::ToWidgetText(t), QStringLiteral("ab\n\u00e9x\n") + QString::fromUcs4(U"\U0001D11E") + "z");
  struct {
    int byte, unit;
  } const cases[] = {{0, 0}, {2, 2}, {4, 3}, {6, 4}, {7, 5}, {9, 6}, {13, 8}, {14, 9}, {99, 9}};
  for (const auto& c : cases) {
    EXPECT_EQ(qt::WidgetPos(t, c.byte), c.unit) << "byte " << c.byte;
    EXPECT_EQ(qt::PanelPos(t, c.unit), std::min<int>(c.byte, static_cast<int>(t.size()))) << "unit " << c.unit;
  }
  // Inside a pair or a character: the start of it.
  EXPECT_EQ(qt::WidgetPos(t, 3), 2);             // between CR and LF
  EXPECT_EQ(qt::PanelPos(t, 10), 14);            // past the end
  EXPECT_EQ(qt::LineWidgetPos("a\r\nb", 3), 3);  // single line: CR LF are two characters
  EXPECT_EQ(qt::LinePanelPos("\xC3\xA9z", 1), 2);
}

TEST(TextMap, TextsRoundTrip) {
  for (const std::string t : {"", "row\r\n", "a\r\nb\r\n\r\nc", "\xC3\xA4\r\n\xE2\x82\xAC"}) {
    EXPECT_EQ(qt::FromWidgetText(qt::ToWidgetText(t)), t);
  }
  // A lone CR or LF is a line break too.
  EXPECT_EQ(qt::ToWidgetText("a\rb\nc"), QStringLiteral("a\nb\nc"));
  EXPECT_EQ(qt::FromWidgetText(QStringLiteral("a\nb")), "a\r\nb");
}
