#include "toolkit/ActnList.h"

#include <algorithm>

#include "toolkit/ImgList.h"

KEST_CLASS_IMPL(TAction, TComponent)
KEST_CLASS_IMPL(TActionList, TComponent)

TShortCut ShortCut(std::uint16_t Key, TShiftState Shift) {
  TShortCut S = Key & 0x1FFF;
  if (Shift.Contains(ssShift)) S |= scShift;
  if (Shift.Contains(ssCtrl)) S |= scCtrl;
  if (Shift.Contains(ssAlt)) S |= scAlt;
  return S;
}

// ---------------------------------------------------------------------------
// TAction

TAction::TAction(TComponent* AOwner) : TComponent(AOwner) {}

TAction::~TAction() {
  SetActionList(nullptr);
  // Clients may unlink themselves while hearing of it: work on a copy.
  const std::vector<TActionClient*> Clients = FClients;
  FClients.clear();
  for (TActionClient* C : Clients) C->ActionFreed(this);
}

void TAction::SetActionList(TActionList* L) {
  if (FActionList == L) return;
  if (FActionList) std::erase(FActionList->FActions, this);
  FActionList = L;
  if (L) L->FActions.push_back(this);
}

void TAction::Changed() {
  const std::vector<TActionClient*> Clients = FClients;
  for (TActionClient* C : Clients) C->ActionChanged(this);
}

bool TAction::Execute() {
  if (!FEnabled || !OnExecute) return false;
  OnExecute(this);
  return true;
}

void TAction::AddClient(TActionClient* C) {
  if (std::find(FClients.begin(), FClients.end(), C) == FClients.end()) FClients.push_back(C);
}

void TAction::RemoveClient(TActionClient* C) { std::erase(FClients, C); }

void TAction::DefineProperties(TPropList& L) const {
  TComponent::DefineProperties(L);
  L.push_back(prop::Reference<TAction, TActionList>("ActionList", &TAction::ActionList, &TAction::SetActionList));
  L.push_back(prop::String<TAction>("Category", &TAction::Category, &TAction::SetCategory, std::string()));
  L.push_back(prop::String<TAction>("Caption", &TAction::Caption, &TAction::SetCaption, std::string()));
  L.push_back(prop::Bool<TAction>("Checked", &TAction::Checked, &TAction::SetChecked, false));
  L.push_back(prop::Bool<TAction>("Enabled", &TAction::Enabled, &TAction::SetEnabled, true));
  L.push_back(prop::Int<TAction, int>("GroupIndex", &TAction::GroupIndex, &TAction::SetGroupIndex, 0));
  L.push_back(prop::String<TAction>("Hint", &TAction::Hint, &TAction::SetHint, std::string()));
  L.push_back(prop::Int<TAction, int>("ImageIndex", &TAction::ImageIndex, &TAction::SetImageIndex, -1));
  L.push_back(prop::Int<TAction, TShortCut>("ShortCut", &TAction::ShortCut, &TAction::SetShortCut, scNone));
  L.push_back(prop::Event("OnExecute", &TAction::OnExecute));
}

// ---------------------------------------------------------------------------
// TActionList

TActionList::TActionList(TComponent* AOwner) : TComponent(AOwner) {}

TActionList::~TActionList() {
  for (TAction* A : std::vector<TAction*>(FActions)) A->SetActionList(nullptr);
}

bool TActionList::IsShortCut(std::uint16_t Key, TShiftState Shift) {
  const TShortCut S = ShortCut(Key, Shift);
  for (TAction* A : FActions)
    if (A->ShortCut() != scNone && A->ShortCut() == S) return A->Execute();
  return false;
}

void TActionList::DefineProperties(TPropList& L) const {
  TComponent::DefineProperties(L);
  L.push_back(prop::Reference<TActionList, TImageList>("Images", &TActionList::Images, &TActionList::SetImages));
}

void RegisterActnListClasses() {
  RegisterClass(TAction::StaticClass());
  RegisterClass(TActionList::StaticClass());
}
