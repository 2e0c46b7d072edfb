// The web links of the log area.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

struct Panel {
  Panel() { f.Form_Load(); }
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
};

TEST(PanelLinks, EachElementOpensItsAddress) {
  Panel p;
  p.f.imgLogo.onClick();
  p.f.lblScada.onClick();
  p.f.Label8.onClick();
  const std::vector<std::string>& opened = p.fp.desktop->opened;
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0], opened[1]);
  EXPECT_NE(opened[0].find("?referer=VeskTarvelo"), std::string::npos);
  EXPECT_EQ(opened[0], kSiteUrl);
  EXPECT_EQ(opened[2], kTestServerUrl);
  EXPECT_NE(opened[2], opened[0]);
}

TEST(PanelLinks, AFailedOpenReturnsItsTextAndLeavesThePanelAlone) {
  Panel p;
  EXPECT_EQ(p.f.OpenDocument(kSiteUrl), "");
  p.fp.desktop->succeed = false;
  EXPECT_EQ(p.f.OpenDocument(kSiteUrl),
            "Windows не знает, что это за файл и чем его открывать. Выберите программу из списка или нажмите "
            "Отмена.");

  const std::string log = p.f.txtLog.Text();
  const std::string caption = p.f.lblDT.Caption();
  p.f.imgLogo_Click();
  p.f.Label8_Click();
  p.f.lblScada_Click();
  EXPECT_EQ(p.fp.desktop->opened.size(), 5u);
  EXPECT_EQ(p.f.txtLog.Text(), log);
  EXPECT_EQ(p.f.lblDT.Caption(), caption);
  EXPECT_EQ(p.fp.beeper->count, 0);
}

}  // namespace
