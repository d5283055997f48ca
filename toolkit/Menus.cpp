#include "toolkit/Menus.h"

#include <algorithm>

#include <QAction>
#include <QMenu>

#include "toolkit/WinApi.h"

KEST_CLASS_IMPL(TMenuItem, TComponent)
KEST_CLASS_IMPL(TPopupMenu, TComponent)

std::string ShortCutToText(TShortCut S) {
  if (S == scNone) return {};
  const std::uint16_t Key = S & 0x1FFF;
  std::string Name;
  if ((Key >= 'A' && Key <= 'Z') || (Key >= '0' && Key <= '9')) {
    Name = std::string(1, static_cast<char>(Key));
  } else if (Key >= VK_F1 && Key < VK_F1 + 24) {
    Name = "F" + std::to_string(Key - VK_F1 + 1);
  } else {
    switch (Key) {
      case VK_BACK: Name = "BkSp"; break;
      case VK_TAB: Name = "Tab"; break;
      case VK_RETURN: Name = "Enter"; break;
      case VK_ESCAPE: Name = "Esc"; break;
      case VK_SPACE: Name = "Space"; break;
      case VK_PRIOR: Name = "PgUp"; break;
      case VK_NEXT: Name = "PgDn"; break;
      case VK_END: Name = "End"; break;
      case VK_HOME: Name = "Home"; break;
      case VK_LEFT: Name = "Left"; break;
      case VK_UP: Name = "Up"; break;
      case VK_RIGHT: Name = "Right"; break;
      case VK_DOWN: Name = "Down"; break;
      case VK_INSERT: Name = "Ins"; break;
      case VK_DELETE: Name = "Del"; break;
      case VK_OEM_PLUS: Name = "+"; break;
      case VK_OEM_MINUS: Name = "-"; break;
      default: return {};
    }
  }
  std::string Text;
  if (S & scShift) Text += "Shift+";
  if (S & scCtrl) Text += "Ctrl+";
  if (S & scAlt) Text += "Alt+";
  return Text + Name;
}

// ---------------------------------------------------------------------------
// TMenuItem

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner) {}

TMenuItem::~TMenuItem() {
  SetAction(nullptr);
  SetMenu(nullptr);
}

void TMenuItem::SetMenu(TPopupMenu* M) {
  if (FMenu == M) return;
  if (FMenu) std::erase(FMenu->FItems, this);
  FMenu = M;
  if (M) M->FItems.push_back(this);
}

std::string TMenuItem::Caption() const { return FCaption.empty() && FAction ? FAction->Caption() : FCaption; }
TShortCut TMenuItem::ShortCut() const { return FShortCut == scNone && FAction ? FAction->ShortCut() : FShortCut; }
bool TMenuItem::Checked() const { return FChecked || (FAction && FAction->Checked()); }
bool TMenuItem::Enabled() const { return FEnabled && (!FAction || FAction->Enabled()); }

void TMenuItem::SetAction(TAction* A) {
  if (FAction == A) return;
  if (FAction) FAction->RemoveClient(this);
  FAction = A;
  if (A) A->AddClient(this);
}

void TMenuItem::ActionFreed(TAction* A) {
  if (FAction == A) FAction = nullptr;
}

void TMenuItem::Click() {
  if (!Enabled() || IsLine()) return;
  if (OnClick)
    OnClick(this);
  else if (FAction)
    FAction->Execute();
}

void TMenuItem::DefineProperties(TPropList& L) const {
  TComponent::DefineProperties(L);
  L.push_back(prop::Reference<TMenuItem, TPopupMenu>("Menu", &TMenuItem::Menu, &TMenuItem::SetMenu));
  L.push_back(prop::Reference<TMenuItem, TAction>("Action", &TMenuItem::Action, &TMenuItem::SetAction));
  L.push_back(prop::String<TMenuItem>("Caption", &TMenuItem::OwnCaption, &TMenuItem::SetCaption, std::string()));
  L.push_back(prop::Int<TMenuItem, TShortCut>("ShortCut", &TMenuItem::OwnShortCut, &TMenuItem::SetShortCut, scNone));
  L.push_back(prop::Bool<TMenuItem>("Checked", &TMenuItem::OwnChecked, &TMenuItem::SetChecked, false));
  L.push_back(prop::Bool<TMenuItem>("Enabled", &TMenuItem::OwnEnabled, &TMenuItem::SetEnabled, true));
  L.push_back(prop::Bool<TMenuItem>("Visible", &TMenuItem::Visible, &TMenuItem::SetVisible, true));
  L.push_back(prop::Event("OnClick", &TMenuItem::OnClick));
}

// ---------------------------------------------------------------------------
// TPopupMenu

TPopupMenu::TPopupMenu(TComponent* AOwner) : TComponent(AOwner) {}

TPopupMenu::~TPopupMenu() {
  for (TMenuItem* I : std::vector<TMenuItem*>(FItems)) I->SetMenu(nullptr);
}

void TPopupMenu::Popup(int X, int Y) {
  if (OnPopup) OnPopup(this);
  QMenu Menu;
  // Each Qt action remembers its item by index; the index is checked again
  // after the menu closed.
  for (std::size_t I = 0; I < FItems.size(); ++I) {
    const TMenuItem* Item = FItems[I];
    if (!Item->Visible()) continue;
    if (Item->IsLine()) {
      Menu.addSeparator();
      continue;
    }
    QString Text = QString::fromStdString(Item->Caption());
    if (const std::string Keys = ShortCutToText(Item->ShortCut()); !Keys.empty())
      Text += '\t' + QString::fromStdString(Keys);
    QAction* A = Menu.addAction(Text);
    A->setEnabled(Item->Enabled());
    A->setCheckable(Item->Checked());
    A->setChecked(Item->Checked());
    A->setData(static_cast<qulonglong>(I));
  }
  FShown = &Menu;
  QAction* Chosen = Menu.exec(QPoint(X, Y));
  FShown = nullptr;
  if (!Chosen) return;
  const std::size_t Index = Chosen->data().toULongLong();
  if (Index < FItems.size()) FItems[Index]->Click();
}

bool TPopupMenu::IsShortCut(std::uint16_t Key, TShiftState Shift) {
  const TShortCut S = ::ShortCut(Key, Shift);
  for (TMenuItem* I : FItems) {
    if (I->ShortCut() == scNone || I->ShortCut() != S || !I->Visible()) continue;
    if (!I->Enabled()) return false;
    I->Click();
    return true;
  }
  return false;
}

void TPopupMenu::DefineProperties(TPropList& L) const {
  TComponent::DefineProperties(L);
  L.push_back(prop::Bool<TPopupMenu>("AutoPopup", &TPopupMenu::AutoPopup, &TPopupMenu::SetAutoPopup, true));
  L.push_back(prop::Event("OnPopup", &TPopupMenu::OnPopup));
}

void RegisterMenusClasses() {
  RegisterClass(TMenuItem::StaticClass());
  RegisterClass(TPopupMenu::StaticClass());
}
