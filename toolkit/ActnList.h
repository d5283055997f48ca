// Actions: named commands with a caption, hint, image, shortcut and enabled
// state that the controls linked to them show, and the action list that holds
// them and answers their shortcuts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/Classes.h"

class TAction;
class TActionList;
class TImageList;

// A shortcut: a virtual-key code plus modifier flags.
using TShortCut = std::uint16_t;
constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;
constexpr TShortCut scNone = 0;
TShortCut ShortCut(std::uint16_t Key, TShiftState Shift);

// What a control linked to an action implements to follow it.
class TActionClient {
 public:
  virtual ~TActionClient() = default;
  // The action's caption, hint, image, enabled or checked state changed.
  virtual void ActionChanged(TAction* Action) = 0;
  // The action is being destroyed: the link is gone.
  virtual void ActionFreed(TAction* Action) = 0;
};

class TAction : public TComponent {
  KEST_CLASS(TAction)
 public:
  explicit TAction(TComponent* AOwner);
  ~TAction() override;

  TActionList* ActionList() const { return FActionList; }
  void SetActionList(TActionList* L);

  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& V) { Change(FCaption, V); }
  std::string Category() const { return FCategory; }
  void SetCategory(const std::string& V) { FCategory = V; }
  bool Checked() const { return FChecked; }
  void SetChecked(bool V) { Change(FChecked, V); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool V) { Change(FEnabled, V); }
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int V) { FGroupIndex = V; }
  // The full hint: the tool tip before a "|", a long hint after it.
  std::string Hint() const { return FHint; }
  void SetHint(const std::string& V) { Change(FHint, V); }
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int V) { Change(FImageIndex, V); }
  TShortCut ShortCut() const { return FShortCut; }
  void SetShortCut(TShortCut V) { FShortCut = V; }

  // Runs OnExecute when the action is enabled and has a handler; returns
  // whether it ran.
  bool Execute();

  void AddClient(TActionClient* C);
  void RemoveClient(TActionClient* C);

  TNotifyEvent OnExecute;

 protected:
  void DefineProperties(TPropList& L) const override;

 private:
  // Sets a field that clients show, telling them when it changed.
  template <class T>
  void Change(T& Field, const T& V) {
    if (Field == V) return;
    Field = V;
    Changed();
  }
  void Changed();

  TActionList* FActionList = nullptr;
  std::string FCaption, FCategory, FHint;
  bool FChecked = false;
  bool FEnabled = true;
  int FGroupIndex = 0;
  int FImageIndex = -1;
  TShortCut FShortCut = scNone;
  std::vector<TActionClient*> FClients;
};

class TActionList : public TComponent {
  KEST_CLASS(TActionList)
 public:
  explicit TActionList(TComponent* AOwner);
  ~TActionList() override;

  TImageList* Images() const { return FImages; }
  void SetImages(TImageList* I) { FImages = I; }
  int ActionCount() const { return static_cast<int>(FActions.size()); }
  TAction* Actions(int I) const { return FActions[static_cast<std::size_t>(I)]; }

  // Runs the enabled action whose shortcut the key makes; true when one ran.
  bool IsShortCut(std::uint16_t Key, TShiftState Shift);

 protected:
  void DefineProperties(TPropList& L) const override;

 private:
  friend class TAction;
  std::vector<TAction*> FActions;
  TImageList* FImages = nullptr;
};

void RegisterActnListClasses();
