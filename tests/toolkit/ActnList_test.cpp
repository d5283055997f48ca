#include "toolkit/ActnList.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A client that counts what its action tells it.
class TCountingClient : public TActionClient {
 public:
  int Changes = 0, Frees = 0;
  void ActionChanged(TAction*) override { ++Changes; }
  void ActionFreed(TAction*) override { ++Frees; }
};

TEST(TAction, ClientsHearOfRealChangesOnly) {
  TCountingClient Client;
  {
    TAction A(nullptr);
    A.AddClient(&Client);
    A.AddClient(&Client);  // once is enough
    A.SetCaption("Zoom");
    A.SetCaption("Zoom");
    A.SetHint("In|Zooms in");
    A.SetEnabled(true);  // already enabled
    A.SetEnabled(false);
    A.SetChecked(true);
    A.SetImageIndex(-1);  // already -1
    A.SetImageIndex(3);
    EXPECT_EQ(Client.Changes, 5);
    EXPECT_EQ(A.Caption(), "Zoom");
    EXPECT_EQ(A.Hint(), "In|Zooms in");
    EXPECT_FALSE(A.Enabled());
    EXPECT_TRUE(A.Checked());
    EXPECT_EQ(A.ImageIndex(), 3);
  }
  EXPECT_EQ(Client.Frees, 1);
}

TEST(TActionList, ShortCutsRunTheMatchingEnabledAction) {
  TActionList L(nullptr);
  TAction Zoom(nullptr), Off(nullptr), None(nullptr);
  int Runs = 0;
  for (TAction* A : {&Zoom, &Off, &None}) {
    A->SetActionList(&L);
    A->OnExecute = [&](TObject*) { ++Runs; };
  }
  Zoom.SetShortCut(ShortCut('I', TShiftState{ssCtrl}));
  Off.SetShortCut(ShortCut('O', TShiftState{ssCtrl, ssShift}));
  Off.SetEnabled(false);
  EXPECT_EQ(Zoom.ShortCut(), scCtrl | 'I');
  EXPECT_EQ(Off.ShortCut(), scCtrl | scShift | 'O');
  EXPECT_EQ(ShortCut('I', TShiftState{ssAlt}), scAlt | 'I');

  EXPECT_FALSE(L.IsShortCut('I', TShiftState{}));
  EXPECT_FALSE(L.IsShortCut('I', TShiftState{ssCtrl, ssShift}));
  EXPECT_TRUE(L.IsShortCut('I', TShiftState{ssCtrl}));
  EXPECT_EQ(Runs, 1);
  EXPECT_FALSE(L.IsShortCut('O', TShiftState{ssCtrl, ssShift}));  // disabled: found, not run
  EXPECT_FALSE(L.IsShortCut(0, TShiftState{}));  // an action without a shortcut is never one
  EXPECT_EQ(Runs, 1);
  EXPECT_EQ(L.ActionCount(), 3);
  Off.SetActionList(nullptr);
  EXPECT_EQ(L.ActionCount(), 2);
}

}  // namespace
