// Popup menus: a list of items (captions with their shortcuts, check marks,
// separators, or actions standing in for them) that a control shows under the
// pointer on a right click or the menu key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/ActnList.h"
#include "toolkit/Classes.h"

class QMenu;
class TPopupMenu;

// The text of a shortcut as menus show it: "Ctrl+O", "Shift+F11", "PgDn".
std::string ShortCutToText(TShortCut S);

// One command of a menu. A caption of "-" makes a separator. An item linked
// to an action shows the action's caption, shortcut, enabled and checked
// state, and a click runs the action (unless the item has its own OnClick).
class TMenuItem : public TComponent, public TActionClient {
  KEST_CLASS(TMenuItem)
 public:
  explicit TMenuItem(TComponent* AOwner);
  ~TMenuItem() override;

  // The menu the item belongs to; items follow in the order they joined it.
  TPopupMenu* Menu() const { return FMenu; }
  void SetMenu(TPopupMenu* M);

  // What the item shows: its own values, or the action's where the item has none.
  std::string Caption() const;
  void SetCaption(const std::string& V) { FCaption = V; }
  TShortCut ShortCut() const;
  void SetShortCut(TShortCut V) { FShortCut = V; }
  bool Checked() const;
  void SetChecked(bool V) { FChecked = V; }
  bool Enabled() const;
  void SetEnabled(bool V) { FEnabled = V; }
  bool Visible() const { return FVisible; }
  void SetVisible(bool V) { FVisible = V; }
  bool IsLine() const { return Caption() == "-"; }

  TAction* Action() const { return FAction; }
  void SetAction(TAction* A);

  // Runs OnClick, or else the action; nothing while the item is disabled.
  void Click();

  void ActionChanged(TAction*) override {}
  void ActionFreed(TAction* A) override;

  TNotifyEvent OnClick;

 protected:
  void DefineProperties(TPropList& L) const override;

 private:
  // The stored values that are not the action's.
  std::string OwnCaption() const { return FCaption; }
  TShortCut OwnShortCut() const { return FShortCut; }
  bool OwnChecked() const { return FChecked; }
  bool OwnEnabled() const { return FEnabled; }

  TPopupMenu* FMenu = nullptr;
  std::string FCaption;
  TShortCut FShortCut = scNone;
  bool FChecked = false;
  bool FEnabled = true;
  bool FVisible = true;
  TAction* FAction = nullptr;
};

class TPopupMenu : public TComponent {
  KEST_CLASS(TPopupMenu)
 public:
  explicit TPopupMenu(TComponent* AOwner);
  ~TPopupMenu() override;

  int Count() const { return static_cast<int>(FItems.size()); }
  TMenuItem* Items(int I) const { return FItems[static_cast<std::size_t>(I)]; }

  // Whether a right click or the menu key over a control that names the menu shows it.
  bool AutoPopup() const { return FAutoPopup; }
  void SetAutoPopup(bool V) { FAutoPopup = V; }
  // The control the menu was last shown for.
  TComponent* PopupComponent() const { return FPopupComponent; }
  void SetPopupComponent(TComponent* C) { FPopupComponent = C; }

  // Shows the menu with its top-left corner at the screen point (X, Y) and
  // returns when it has closed; the chosen item's click runs after that.
  void Popup(int X, int Y);
  // The Qt menu while it is shown (tests choose items through it), else null.
  QMenu* Shown() const { return FShown; }

  // Runs the enabled, visible item whose shortcut the key makes; true when one ran.
  bool IsShortCut(std::uint16_t Key, TShiftState Shift);

  // Raised before the menu shows, so a host can bring the items up to date.
  TNotifyEvent OnPopup;

 protected:
  void DefineProperties(TPropList& L) const override;

 private:
  friend class TMenuItem;
  std::vector<TMenuItem*> FItems;
  bool FAutoPopup = true;
  TComponent* FPopupComponent = nullptr;
  QMenu* FShown = nullptr;
};

void RegisterMenusClasses();
