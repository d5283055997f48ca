#include "toolkit/Menus.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>

#include "support/MenuDriver.h"
#include "toolkit/Forms.h"
#include "toolkit/QtPresenter_p.h"
#include "toolkit/StoredLayout.h"

namespace {

TEST(ShortCutToText, NamesModifiersThenTheKey) {
  const struct {
    TShortCut S;
    const char* Text;
  } Cases[] = {
      {scNone, ""},
      {scCtrl | 'O', "Ctrl+O"},
      {scCtrl | '0', "Ctrl+0"},
      {VK_F1 + 10, "F11"},
      {scShift | scCtrl | VK_OEM_PLUS, "Shift+Ctrl++"},
      {scCtrl | VK_OEM_MINUS, "Ctrl+-"},
      {VK_NEXT, "PgDn"},
      {VK_BACK, "BkSp"},
      {scAlt | VK_HOME, "Alt+Home"},
      {0x07, ""},  // a code without a name
  };
  for (const auto& C : Cases) EXPECT_EQ(ShortCutToText(C.S), C.Text) << C.S;
}

// A form with one control that names the menu and one that does not; the
// menu's items come from a stored layout, as a program's would.
class PopupMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterMenusClasses();
    RegisterActnListClasses();
    RegisterClass(TCustomControl::StaticClass());
    Form.RegisterMethod("CopyClick", TNotifyEvent([this](TObject* S) { Clicks.push_back("copy:" + Name(S)); }));
    Form.RegisterMethod("ZoomExecute", TNotifyEvent([this](TObject*) { Clicks.push_back("zoom"); }));
    Form.RegisterMethod("Popping", TNotifyEvent([this](TObject*) { Clicks.push_back("popup"); }));
    ReadLayout(Form,
               "object Form: TForm\n"
               "  Width = 300\n"
               "  Height = 200\n"
               "  object Inner: TCustomControl\n"
               "    Left = 10\n"
               "    Top = 20\n"
               "    Width = 100\n"
               "    Height = 80\n"
               "  end\n"
               "  object Menu1: TPopupMenu\n"
               "    OnPopup = Popping\n"
               "  end\n"
               "  object Zoom: TAction\n"
               "    Caption = \"Zoom &In\"\n"
               "    OnExecute = ZoomExecute\n"
               "  end\n"
               "  object ItemCopy: TMenuItem\n"
               "    Menu = Menu1\n"
               "    Caption = \"&Copy\"\n"
               "    ShortCut = 16451\n"
               "    OnClick = CopyClick\n"
               "  end\n"
               "  object ItemLine: TMenuItem\n"
               "    Menu = Menu1\n"
               "    Caption = \"-\"\n"
               "  end\n"
               "  object ItemZoom: TMenuItem\n"
               "    Menu = Menu1\n"
               "    Action = Zoom\n"
               "    ShortCut = 16571\n"
               "  end\n"
               "  object ItemHidden: TMenuItem\n"
               "    Menu = Menu1\n"
               "    Caption = \"Hidden\"\n"
               "    Visible = False\n"
               "  end\n"
               "  object ItemMark: TMenuItem\n"
               "    Menu = Menu1\n"
               "    Caption = \"Mark\"\n"
               "    Checked = True\n"
               "    Enabled = False\n"
               "  end\n"
               "end\n");
    Menu = static_cast<TPopupMenu*>(Form.FindComponent("Menu1"));
    Inner = static_cast<TWinControl*>(Form.FindComponent("Inner"));
    Form.Show();
    QApplication::processEvents();
  }

  static std::string Name(TObject* O) { return O ? static_cast<TComponent*>(O)->Name() : "none"; }

  void RightClick(TWinControl* C, QPoint P) {
    QWidget* Client = static_cast<TWindowWidget*>(C->Widget())->Client();
    QContextMenuEvent E(QContextMenuEvent::Mouse, P, Client->mapToGlobal(P));
    QApplication::sendEvent(Client, &E);
  }

  TForm Form{nullptr};
  TPopupMenu* Menu = nullptr;
  TWinControl* Inner = nullptr;
  std::vector<std::string> Clicks;
};

TEST_F(PopupMenuTest, RightClickShowsTheItemsUnderThePointerAndRunsTheChosenOne) {
  Form.SetPopupMenu(Menu);
  const auto Seen = WhenMenuOpens("&Copy");
  RightClick(&Form, QPoint(200, 150));
  ASSERT_TRUE(Seen->Opened);
  EXPECT_EQ(Seen->Entries, (QStringList{"&Copy\tCtrl+C", "-", "Zoom &In\tCtrl++", "(off) [x] Mark"}));
  EXPECT_EQ(Seen->Pos, static_cast<TWindowWidget*>(Form.Widget())->Client()->mapToGlobal(QPoint(200, 150)));
  EXPECT_EQ(Clicks, (std::vector<std::string>{"popup", "copy:ItemCopy"}));
  EXPECT_EQ(Menu->PopupComponent(), &Form);
  EXPECT_EQ(Menu->Shown(), nullptr);
}

TEST_F(PopupMenuTest, AnItemWithAnActionRunsTheActionAndFollowsItsState) {
  Form.SetPopupMenu(Menu);
  auto* Zoom = static_cast<TAction*>(Form.FindComponent("Zoom"));
  auto Seen = WhenMenuOpens("Zoom &In");
  RightClick(&Form, QPoint(5, 5));
  EXPECT_EQ(Clicks.back(), "zoom");
  Zoom->SetEnabled(false);
  Zoom->SetChecked(true);
  Seen = WhenMenuOpens("Zoom &In");
  RightClick(&Form, QPoint(5, 5));
  EXPECT_EQ(Seen->Entries[2], "(off) [x] Zoom &In\tCtrl++");
  // A disabled entry cannot be chosen.
  EXPECT_EQ(Clicks, (std::vector<std::string>{"popup", "zoom", "popup"}));
}

TEST_F(PopupMenuTest, AControlWithoutAMenuPassesTheClickToItsParent) {
  Form.SetPopupMenu(Menu);
  const auto Seen = WhenMenuOpens();
  RightClick(Inner, QPoint(1, 2));
  ASSERT_TRUE(Seen->Opened);
  EXPECT_EQ(Menu->PopupComponent(), &Form);
  // Inner's client (1, 2) is the form's (11, 22).
  EXPECT_EQ(Seen->Pos, static_cast<TWindowWidget*>(Form.Widget())->Client()->mapToGlobal(QPoint(11, 22)));
}

TEST_F(PopupMenuTest, TheMenuKeyShowsTheMenuAtTheControlsCentre) {
  Inner->SetPopupMenu(Menu);
  const auto Seen = WhenMenuOpens();
  QWidget* Client = static_cast<TWindowWidget*>(Inner->Widget())->Client();
  QKeyEvent Key(QEvent::KeyPress, Qt::Key_Menu, Qt::NoModifier);
  QApplication::sendEvent(Client, &Key);
  ASSERT_TRUE(Seen->Opened);
  EXPECT_EQ(Menu->PopupComponent(), Inner);
  EXPECT_EQ(Seen->Pos, Client->mapToGlobal(QPoint(Inner->ClientWidth() / 2, Inner->ClientHeight() / 2)));
}

TEST_F(PopupMenuTest, AHandledContextPopupOrAnOffAutoPopupShowsNothing) {
  Inner->SetPopupMenu(Menu);
  bool Handle = true;
  Inner->OnContextPopup = [&](TObject*, TPoint, bool& Handled) { Handled = Handle; };
  auto Seen = WhenMenuOpens();
  RightClick(Inner, QPoint(3, 3));
  QApplication::processEvents();
  EXPECT_FALSE(Seen->Opened);
  Handle = false;
  Menu->SetAutoPopup(false);
  Seen = WhenMenuOpens();
  RightClick(Inner, QPoint(3, 3));
  QApplication::processEvents();
  EXPECT_FALSE(Seen->Opened);
  EXPECT_TRUE(Clicks.empty());
}

TEST_F(PopupMenuTest, ShortCutsOfVisibleEnabledItemsRun) {
  EXPECT_TRUE(Menu->IsShortCut('C', TShiftState{ssCtrl}));
  EXPECT_FALSE(Menu->IsShortCut('C', TShiftState{}));
  EXPECT_TRUE(Menu->IsShortCut(VK_OEM_PLUS, TShiftState{ssCtrl}));
  static_cast<TAction*>(Form.FindComponent("Zoom"))->SetEnabled(false);
  EXPECT_FALSE(Menu->IsShortCut(VK_OEM_PLUS, TShiftState{ssCtrl}));
  EXPECT_EQ(Clicks, (std::vector<std::string>{"copy:ItemCopy", "zoom"}));
}

TEST_F(PopupMenuTest, StoredLayoutRoundTripKeepsTheItemsInOrder) {
  Inner->SetPopupMenu(Menu);
  const std::string Text = WriteLayout(Form);
  TForm Copy(nullptr);
  Copy.RegisterMethod("CopyClick", TNotifyEvent([](TObject*) {}));
  Copy.RegisterMethod("ZoomExecute", TNotifyEvent([](TObject*) {}));
  Copy.RegisterMethod("Popping", TNotifyEvent([](TObject*) {}));
  ReadLayout(Copy, Text);
  auto* M = static_cast<TPopupMenu*>(Copy.FindComponent("Menu1"));
  ASSERT_EQ(M->Count(), 5);
  EXPECT_EQ(M->Items(2)->Caption(), "Zoom &In");  // from the action, which is not written into the item
  EXPECT_EQ(M->Items(2)->Action(), Copy.FindComponent("Zoom"));
  EXPECT_FALSE(M->Items(3)->Visible());
  EXPECT_EQ(WriteLayout(Copy), Text);
}

TEST(TMenuItem, OutlivesItsActionAndItsMenuAndLeavesThem) {
  TMenuItem Item(nullptr);
  {
    TAction A(nullptr);
    A.SetCaption("Go");
    Item.SetAction(&A);
    EXPECT_EQ(Item.Caption(), "Go");
  }
  EXPECT_EQ(Item.Action(), nullptr);
  EXPECT_EQ(Item.Caption(), "");
  {
    TPopupMenu M(nullptr);
    Item.SetMenu(&M);
    {
      TMenuItem Other(nullptr);
      Other.SetMenu(&M);
      EXPECT_EQ(M.Count(), 2);
    }
    ASSERT_EQ(M.Count(), 1);
    EXPECT_EQ(M.Items(0), &Item);
  }
  EXPECT_EQ(Item.Menu(), nullptr);
}

}  // namespace
