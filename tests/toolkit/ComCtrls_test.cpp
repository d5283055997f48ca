#include "toolkit/ComCtrls.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(TToolBar, ButtonsStandInARowAndSeparatorsKeepTheirWidth) {
  TToolBar Bar(nullptr);
  Bar.SetBounds(0, 0, 300, 29);
  Bar.SetIndent(4);
  std::vector<std::unique_ptr<TToolButton>> Buttons;
  const struct {
    TToolButtonStyle Style;
    int Width;
  } Items[] = {{tbsButton, 99}, {tbsSeparator, 8}, {tbsButton, 99}, {tbsDivider, 6}};
  for (const auto& I : Items) {
    auto B = std::make_unique<TToolButton>(nullptr);
    B->SetParent(&Bar);
    B->SetStyle(I.Style);
    B->SetBounds(1000 + static_cast<int>(Buttons.size()), 0, I.Width, 22);  // the order of Left decides
    Buttons.push_back(std::move(B));
  }
  Bar.ArrangeButtons();
  const TRect Expected[] = {{4, 3, 27, 25}, {27, 3, 35, 25}, {35, 3, 58, 25}, {58, 3, 64, 25}};
  for (std::size_t I = 0; I < Buttons.size(); ++I) EXPECT_EQ(Buttons[I]->BoundsRect(), Expected[I]) << I;
  // Absurd sizes stay within a window's reach and keep the row in order.
  Bar.SetButtonWidth(std::numeric_limits<int>::max());
  Bar.SetIndent(std::numeric_limits<int>::min());
  EXPECT_EQ(Buttons[0]->Left(), -MaxControlExtent);
  EXPECT_EQ(Buttons[0]->Width(), MaxControlExtent);
  EXPECT_EQ(Buttons[1]->Left(), 0);
  Buttons.clear();
}

TEST(TStatusBar, PanelsFollowEachOtherAndTheLastTakesTheRest) {
  TStatusBar S(nullptr);
  S.SetBounds(0, 0, 400, 20);
  S.SetPanelCount(3);
  S.SetPanelWidth(0, 100);
  S.SetPanelWidth(1, 50);
  S.SetPanelWidth(2, 10);
  const int H = S.ClientHeight() - 2;
  EXPECT_EQ(S.PanelRect(0), (TRect{0, 2, 100, 2 + H}));
  EXPECT_EQ(S.PanelRect(1), (TRect{102, 2, 152, 2 + H}));
  EXPECT_EQ(S.PanelRect(2), (TRect{154, 2, S.ClientWidth(), 2 + H}));
  // Widths past any screen: no overflow, the last panel has no room left.
  S.SetPanelWidth(0, std::numeric_limits<int>::max());
  S.SetPanelWidth(1, std::numeric_limits<int>::max());
  EXPECT_EQ(S.Panel(0).Width, MaxControlExtent);
  EXPECT_EQ(S.PanelRect(2).Width(), 0);
  EXPECT_EQ(S.PanelRect(2).Left, MaxControlExtent);
}

}  // namespace
