// Windowed controls whose client area is covered by a native Qt widget (a
// combo box, a tool button, a text label): the toolkit places the window by its
// own geometry, Qt draws and edits the contents. Keys typed into the widget
// reach the form's shortcuts first and then the control's key events; focus
// gained by the widget makes the control the screen's active control.
#pragma once

#include <string>

#include "toolkit/Controls.h"

class QWidget;
class TWidgetBridge;

// Sent to a control after its Font changed, so that it shows the new font.
constexpr std::uint32_t CM_FONTCHANGED = CM_BASE + 8;

// The tool-tip part of a hint: the text before a "|" (the rest is a long hint
// for a status line).
std::string GetShortHint(const std::string& Hint);
// Whether tool tips show for a control: its own ShowHint, or while ParentShowHint
// is set, that of the nearest parent that decides for itself.
bool HintsShown(const TControl* Control);
// Gives the control's window the tool tip its hint asks for (nothing when hints
// are off for it).
void ApplyToolTip(TWinControl& Control);

// Shows the font in a hosted widget; a widget that already shows it is left
// alone (setting a font makes Qt resolve it again for the widget and its children).
void ApplyFont(QWidget* Widget, const TFont& Font);

// The published font properties of a windowed control.
void PublishFont(TPropList& L);

class TWidgetControl : public TWinControl {
  KEST_CLASS(TWidgetControl)
 public:
  explicit TWidgetControl(TComponent* AOwner);
  ~TWidgetControl() override;

  // The Qt widget that covers the client area (the window is created when needed).
  QWidget* Hosted();
  // A stored layout gives the hint and the hint switches after the window may
  // already exist: the tool tip follows them then.
  void Loaded() override;

 protected:
  // Creates the hosted widget as a child of Parent; the control keeps showing
  // its state through it from then on.
  virtual QWidget* CreateHosted(QWidget* Parent) = 0;
  // Brings the hosted widget up to date with the control's properties.
  virtual void SyncHosted() {}
  bool HostedExists() const { return FHosted != nullptr; }
  // SyncHosted when the hosted widget exists.
  void Resync() {
    if (HostedExists()) SyncHosted();
  }
  // Sets a field that the hosted widget shows.
  template <class T>
  void SetShown(T& Field, const T& V) {
    Field = V;
    Resync();
  }
  // Passes focus and keys of the hosted widget and everything inside it to the control.
  void BridgeChildren();

  void CreateWnd() override;
  void DestroyWnd() override;
  // Anchors, Enabled, ParentShowHint, ShowHint and Visible.
  static void PublishCommon(TPropList& L);
  void WndProc(TMessage& Message) override;

 private:
  friend class TWidgetBridge;
  QWidget* FHosted = nullptr;
  TWidgetBridge* FBridge = nullptr;
};
