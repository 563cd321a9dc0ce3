#include "app/main_layout.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::app {
namespace {

TEST(MainLayout, WorkedFigures) {
  // 1280 x 800: usable 1152 x 720, margins 64 and 20, column 192, row (720 - 20) / 20 = 35.
  const auto l = main_layout(1280, 800);
  ASSERT_TRUE(l.has_value());
  EXPECT_EQ(l->left_margin, 64);
  EXPECT_EQ(l->top_margin, 20);
  EXPECT_EQ(l->column_unit, 192);
  EXPECT_EQ(l->row_unit, 35);
  EXPECT_EQ(l->pic_panel1, (Rect{32, 20, 787, 682}));  // 4.1 x 192 = 787.2; 19.5 x 35 = 682.5
  EXPECT_EQ(l->pic_panel2, (Rect{832, 20, 394, 682})); // 4 x 192 + 64; 2.05 x 192 = 393.6
  EXPECT_EQ(l->lbl_autostart.left, 32);
  EXPECT_EQ(l->lbl_autostart.top, 711); // 19.75 x 35 = 691.25 -> 691, + 20
}

TEST(MainLayout, HalvesRoundToEven) {
  // W = 1010: left margin 50.5 -> 50 (even), half of it 25.
  const auto l = main_layout(1010, 600);
  ASSERT_TRUE(l.has_value());
  EXPECT_EQ(l->left_margin, 50);
  EXPECT_EQ(l->pic_panel1.left, 25);
  // H = 600: top margin 15, usable 540, row (540 - 15) / 20 = 26.25 -> 26.
  EXPECT_EQ(l->top_margin, 15);
  EXPECT_EQ(l->row_unit, 26);
}

TEST(MainLayout, ProportionsHoldAtEverySize) {
  const std::vector<std::pair<int, int>> sizes = {{800, 600}, {1280, 800}, {1920, 1080}};
  for (const auto& [w, h] : sizes) {
    const auto l = main_layout(w, h);
    ASSERT_TRUE(l.has_value()) << w << "x" << h;
    const Rect a = l->pic_panel1;
    const Rect b = l->pic_panel2;
    EXPECT_NEAR(static_cast<double>(a.width) / w, 0.615, 0.005) << w;
    EXPECT_NEAR(static_cast<double>(b.width) / w, 0.3075, 0.005) << w;
    EXPECT_NEAR(static_cast<double>(a.height) / h, 0.853, 0.01) << h;
    EXPECT_EQ(a.top, b.top);
    EXPECT_EQ(a.height, b.height);
    EXPECT_LT(a.right(), b.left) << "panels overlap at " << w;
    EXPECT_LE(b.right(), w);
    EXPECT_LE(l->lbl_autostart.bottom(), h);
    EXPECT_GT(l->lbl_autostart.top, a.bottom() - 1);
  }
}

TEST(MainLayout, TooSmallAreaIsNotLaidOut) {
  EXPECT_FALSE(main_layout(0, 0).has_value());
  EXPECT_FALSE(main_layout(160, 24).has_value());
}

// Every block stays inside its panel, and blocks that share a place do so only where meant.
TEST(MainLayout, PanelBlocksStayInsideAndApart) {
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{492, 420}, {787, 682}, {1181, 940}}) {
    for (const auto& list : {left_panel_layout(w, h), right_panel_layout(w, h)}) {
      for (const auto& p : list) {
        EXPECT_GE(p.rect.left, 0) << p.name;
        EXPECT_GE(p.rect.top, 0) << p.name;
        EXPECT_LE(p.rect.right(), w) << p.name;
        EXPECT_LE(p.rect.bottom(), h) << p.name;
        EXPECT_GT(p.rect.width, 0) << p.name;
        EXPECT_GT(p.rect.height, 0) << p.name;
      }
      for (std::size_t i = 0; i < list.size(); ++i) {
        for (std::size_t j = i + 1; j < list.size(); ++j) {
          const Rect& a = list[i].rect;
          const Rect& b = list[j].rect;
          const bool overlap =
              a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
          const std::string pair = list[i].name + "/" + list[j].name;
          const bool shared = pair == "Frame_light/Frame_temp" || list[i].name == "frm_autotext" ||
                              list[j].name == "frm_autotext";
          EXPECT_TRUE(!overlap || shared) << pair << " at " << w << "x" << h;
        }
      }
    }
  }
  // Picact starts at row 1.5 and spans 9.5 rows of the panel.
  const auto left = left_panel_layout(780, 390);
  const auto picact =
      std::find_if(left.begin(), left.end(), [](const Placement& p) { return p.name == "Picact"; });
  ASSERT_NE(picact, left.end());
  EXPECT_EQ(picact->rect.top, 30);
  EXPECT_EQ(picact->rect.height, 190);
}

} // namespace
} // namespace kestrova::app
