#include "toolkit/StdCtrls.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QComboBox>

namespace {

// Counts how often the box is brought up to date with its properties.
class TCountingComboBox : public TComboBox {
 public:
  using TComboBox::TComboBox;
  int Syncs = 0;

 protected:
  void SyncHosted() override {
    ++Syncs;
    TComboBox::SyncHosted();
  }
};

// The item list of a stored layout reaches the box once, whole, and later
// changes of the list still reach it.
TEST(TComboBox, StoredItemsReachTheBoxInOnePass) {
  TCountingComboBox Box(nullptr);
  Box.HandleNeeded();
  Box.Items().Add("old");
  const TPropList Props = Box.PublishedProperties();
  const auto Items = std::find_if(Props.begin(), Props.end(), [](const TPropInfo& P) { return P.Name == "Items.Strings"; });
  ASSERT_NE(Items, Props.end());
  Box.Syncs = 0;
  Items->Set(Box, TPropValue::OfList({"10%", "25%", "50%", "100%"}));
  EXPECT_EQ(Box.Syncs, 1);
  auto* Q = qobject_cast<QComboBox*>(Box.Hosted());
  ASSERT_NE(Q, nullptr);
  ASSERT_EQ(Q->count(), 4);
  EXPECT_EQ(Q->itemText(3), QString("100%"));
  Box.Items().Add("200%");
  EXPECT_EQ(Box.Syncs, 2);
  EXPECT_EQ(Q->count(), 5);
}

}  // namespace
