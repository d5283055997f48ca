#include <gtest/gtest.h>

#include "KestImage/KestImage.h"
#include "toolkit/Menus.h"
#include "toolkit/StoredLayout.h"

namespace {

TEST(TKestImage, StoredLayoutThatNamesAPopupMenuLoadsAndWritesItBack) {
  InitializeKestImageUnit();
  RegisterMenusClasses();
  const std::string Text =
      "object Root: TComponent\n"
      "  object KestImage1: TKestImage\n"
      "    PopupMenu = PopupMenu1\n"
      "  end\n"
      "  object PopupMenu1: TPopupMenu\n"
      "  end\n"
      "end\n";
  TComponent Root(nullptr);
  ReadLayout(Root, Text);
  auto* V = static_cast<TKestImage*>(Root.FindComponent("KestImage1"));
  EXPECT_EQ(V->PopupMenu(), Root.FindComponent("PopupMenu1"));
  EXPECT_NE(WriteLayout(Root).find("    PopupMenu = PopupMenu1\n"), std::string::npos);
  // A view without a menu writes none.
  V->SetPopupMenu(nullptr);
  EXPECT_EQ(WriteLayout(Root).find("PopupMenu ="), std::string::npos);
}

}  // namespace
