// Common controls: the tool bar with its buttons and the status bar with its panels.
#pragma once

#include <string>
#include <vector>

#include "toolkit/ActnList.h"
#include "toolkit/StdCtrls.h"

class TImageList;

enum TToolButtonStyle : std::uint8_t { tbsButton, tbsCheck, tbsDropDown, tbsSeparator, tbsDivider };

// A row of buttons and other controls. The bar places them itself, left to
// right in the order of their Left positions from Indent on, each buttons at
// the bar's button size and every control centred vertically.
class TToolBar : public TCustomControl {
  KEST_CLASS(TToolBar)
 public:
  explicit TToolBar(TComponent* AOwner);

  int ButtonWidth() const { return FButtonWidth; }
  void SetButtonWidth(int V);
  int ButtonHeight() const { return FButtonHeight; }
  void SetButtonHeight(int V);
  int Indent() const { return FIndent; }
  void SetIndent(int V);
  bool Flat() const { return FFlat; }
  void SetFlat(bool V) { FFlat = V; }
  bool Wrapable() const { return FWrapable; }
  void SetWrapable(bool V) { FWrapable = V; }
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int V) { FBorderWidth = V; }
  TImageList* Images() const { return FImages; }
  void SetImages(TImageList* I);

  // Places the controls on the bar.
  void ArrangeButtons();
  void Loaded() override;

 protected:
  void Paint() override;
  void DefineProperties(TPropList& L) const override;

 private:
  int FButtonWidth = 23;
  int FButtonHeight = 22;
  int FIndent = 0;
  bool FFlat = false;
  bool FWrapable = true;
  int FBorderWidth = 0;
  TImageList* FImages = nullptr;
};

// A tool-bar button: a plain button, a check button that toggles on each
// click, or a separator (a divider draws a line). Grouped check buttons next
// to each other let at most one be down; with AllowAllUp all may be up. A
// button linked to an action shows the action's image, hint and enabled state
// and runs the action when clicked, after the click has set its own state.
class TToolButton : public TSpeedButton, public TActionClient {
  KEST_CLASS(TToolButton)
 public:
  explicit TToolButton(TComponent* AOwner);
  ~TToolButton() override;

  TToolButtonStyle Style() const { return FStyle; }
  void SetStyle(TToolButtonStyle S);
  bool Down() const { return FDown; }
  void SetDown(bool V);
  bool Grouped() const { return FGrouped; }
  void SetGrouped(bool V) { FGrouped = V; }
  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool V) { FAllowAllUp = V; }
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int V);
  TAction* Action() const { return FAction; }
  void SetAction(TAction* A);

  void ActionChanged(TAction* Action) override;
  void ActionFreed(TAction* Action) override;
  // Shows the tool bar's image for ImageIndex.
  void UpdateImage();

 protected:
  void Click() override;
  void SyncHosted() override;
  void PaintWindow() override;
  void DefineProperties(TPropList& L) const override;

 private:
  // The grouped check buttons that stand next to this one on its bar.
  std::vector<TToolButton*> GroupMembers();

  TToolButtonStyle FStyle = tbsButton;
  bool FDown = false;
  bool FGrouped = false;
  bool FAllowAllUp = false;
  int FImageIndex = -1;
  TAction* FAction = nullptr;
};

struct TStatusPanel {
  int Width = 50;
  std::string Text;
};

// A bar of text panels; the last panel always reaches the right end.
class TStatusBar : public TCustomControl {
  KEST_CLASS(TStatusBar)
 public:
  explicit TStatusBar(TComponent* AOwner);

  int PanelCount() const { return static_cast<int>(FPanels.size()); }
  void SetPanelCount(int N);
  const TStatusPanel& Panel(int I) const { return FPanels[static_cast<std::size_t>(I)]; }
  void SetPanelText(int I, const std::string& Text);
  void SetPanelWidth(int I, int Width);
  // The rectangle a panel takes, in client coordinates (client pixels).
  TRect PanelRect(int I);
  bool SizeGrip() const { return FSizeGrip; }
  void SetSizeGrip(bool V) { FSizeGrip = V; }

 protected:
  void Paint() override;
  void WndProc(TMessage& Message) override;
  void DefineProperties(TPropList& L) const override;
  // The panels are drawn at the screen's density, so their text is as sharp
  // as that of Qt's own widgets; they are laid out in the units of the bounds.
  bool ClientInDevicePixels() const override { return true; }

 private:
  // The rectangle a panel takes, in the units of the bounds.
  TRect LayoutPanelRect(int I);

  std::vector<TStatusPanel> FPanels;
  bool FSizeGrip = true;
};

void RegisterComCtrlsClasses();
