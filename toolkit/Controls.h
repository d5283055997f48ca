// Controls and windowed controls with the window model that stands in for the
// desktop's windows: a client surface that holds the pixels the window shows,
// an invalid region painted in paint cycles, moving of client pixels, the two
// standard scroll bars and synchronous size messages. Qt only presents it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QImage>
#include <QPointer>
#include <QRegion>

#include "toolkit/Classes.h"
#include "toolkit/Graphics.h"
#include "toolkit/WinApi.h"

class QWidget;
class TPopupMenu;
class TWinControl;
class TWindowWidget;

// ---------------------------------------------------------------------------
// Cursors: 16-bit ids into the screen-wide cursor table.

using TCursor = std::int16_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeAll = -22;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crDrag = -12;
constexpr TCursor crHourGlass = -11;

// ---------------------------------------------------------------------------
// Enumerations of controls.

enum TAlign : std::uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAnchorKind : std::uint8_t { akLeft, akTop, akRight, akBottom };
using TAnchors = TSet<TAnchorKind>;
enum TBiDiMode : std::uint8_t { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };
enum TBorderStyle : std::uint8_t { bsNone, bsSingle };
enum TDragKind : std::uint8_t { dkDrag, dkDock };
enum TDragMode : std::uint8_t { dmManual, dmAutomatic };
enum TDragState : std::uint8_t { dsDragEnter, dsDragLeave, dsDragMove };
enum THelpType : std::uint8_t { htKeyword, htContext };

enum TControlStyleItem : std::uint8_t {
  csAcceptsControls,
  csCaptureMouse,
  csClickEvents,
  csDoubleClicks,
  csOpaque,
  csReplicatable,
  csSetCaption,
};
using TControlStyle = TSet<TControlStyleItem>;

struct TSizeConstraints {
  int MinWidth = 0, MinHeight = 0, MaxWidth = 0, MaxHeight = 0;
  friend bool operator==(const TSizeConstraints&, const TSizeConstraints&) = default;
};

// ---------------------------------------------------------------------------
// Events of controls.

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TMouseWheelEvent =
    std::function<void(TObject* Sender, TShiftState Shift, int WheelDelta, TPoint MousePos, bool& Handled)>;
using TMouseWheelUpDownEvent = std::function<void(TObject* Sender, TShiftState Shift, TPoint MousePos, bool& Handled)>;
using TContextPopupEvent = std::function<void(TObject* Sender, TPoint MousePos, bool& Handled)>;
using TDragDropEvent = std::function<void(TObject* Sender, TObject* Source, int X, int Y)>;
using TDragOverEvent =
    std::function<void(TObject* Sender, TObject* Source, int X, int Y, TDragState State, bool& Accept)>;
using TEndDragEvent = std::function<void(TObject* Sender, TObject* Target, int X, int Y)>;
using TStartDragEvent = std::function<void(TObject* Sender, TObject*& DragObject)>;
using TKeyEvent = std::function<void(TObject* Sender, std::uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

// ---------------------------------------------------------------------------
// TControl

class TControl : public TComponent {
  KEST_CLASS(TControl)
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  std::int32_t Left() const { return FLeft; }
  std::int32_t Top() const { return FTop; }
  std::int32_t Width() const { return FWidth; }
  std::int32_t Height() const { return FHeight; }
  void SetLeft(std::int32_t V) { SetBounds(V, FTop, FWidth, FHeight); }
  void SetTop(std::int32_t V) { SetBounds(FLeft, V, FWidth, FHeight); }
  void SetWidth(std::int32_t V) { SetBounds(FLeft, FTop, V, FHeight); }
  void SetHeight(std::int32_t V) { SetBounds(FLeft, FTop, FWidth, V); }
  virtual void SetBounds(std::int32_t ALeft, std::int32_t ATop, std::int32_t AWidth, std::int32_t AHeight);
  TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
  virtual std::int32_t ClientWidth();
  virtual std::int32_t ClientHeight();
  TRect ClientRect() { return TRect{0, 0, ClientWidth(), ClientHeight()}; }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool V);
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool V);
  TColor Color() const { return FColor; }
  virtual void SetColor(TColor C);
  TCursor Cursor() const { return FCursor; }
  virtual void SetCursor(TCursor C);
  const std::string& Hint() const { return FHint; }
  std::string HintText() const { return FHint; }
  void SetHint(const std::string& H);
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool V);
  bool ParentShowHint() const { return FParentShowHint; }
  void SetParentShowHint(bool V);

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign A);
  TAnchors Anchors() const { return FAnchors; }
  void SetAnchors(TAnchors A);
  const TSizeConstraints& Constraints() const { return FConstraints; }
  void SetConstraints(const TSizeConstraints& C);
  TBiDiMode BiDiMode() const { return FBiDiMode; }
  void SetBiDiMode(TBiDiMode M);
  bool UseRightToLeftAlignment() const { return FBiDiMode == bdRightToLeft; }
  bool UseRightToLeftScrollBar() const { return FBiDiMode != bdLeftToRight && FBiDiMode != bdRightToLeftNoAlign; }

  TCursor DragCursor() const { return FDragCursor; }
  void SetDragCursor(TCursor C) { FDragCursor = C; }
  TDragKind DragKind() const { return FDragKind; }
  void SetDragKind(TDragKind K) { FDragKind = K; }
  TDragMode DragMode() const { return FDragMode; }
  void SetDragMode(TDragMode M) { FDragMode = M; }
  THelpType HelpType() const { return FHelpType; }
  void SetHelpType(THelpType T) { FHelpType = T; }
  std::string HelpKeyword() const { return FHelpKeyword; }
  void SetHelpKeyword(const std::string& K) { FHelpKeyword = K; }
  int HelpContext() const { return FHelpContext; }
  void SetHelpContext(int C) { FHelpContext = C; }
  // The menu a right click or the menu key over the control shows.
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* M) { FPopupMenu = M; }

  TControlStyle ControlStyle() const { return FControlStyle; }
  void SetControlStyle(TControlStyle S) { FControlStyle = S; }

  // Sends a message to the control synchronously and returns its result.
  LRESULT Perform(std::uint32_t Msg, WPARAM W, LPARAM L);
  virtual void WndProc(TMessage& Message);

  virtual void Invalidate();
  virtual void Update();
  void Repaint() {
    Invalidate();
    Update();
  }

  // Input as the window system delivers it: raises the control's hooks.
  virtual void InputMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y, bool DoubleClick = false);
  virtual void InputMouseMove(TShiftState Shift, int X, int Y);
  virtual void InputMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  // A wheel turn of Delta units (120 a notch, positive away from the user);
  // returns whether a handler took it.
  bool InputMouseWheel(TShiftState Shift, int Delta, TPoint MousePos);
  // The whole of a wheel turn: its angle on both axes (120 a notch) and, from
  // devices that measure one (touchpads), its distance in logical pixels.
  struct TWheelTurn {
    TPoint Angle;
    TPoint Pixels;
  };
  // Delivers a turn as InputMouseWheel does with its vertical angle (0 for a
  // sideways turn); its handlers read the whole of it from CurrentWheelTurn.
  bool InputWheelTurn(TShiftState Shift, const TWheelTurn& Turn, TPoint MousePos);
  // The turn being delivered; zero outside a delivery.
  static const TWheelTurn& CurrentWheelTurn();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TContextPopupEvent OnContextPopup;
  TDragDropEvent OnDragDrop;
  TDragOverEvent OnDragOver;
  TEndDragEvent OnEndDock;
  TEndDragEvent OnEndDrag;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;
  TMouseWheelEvent OnMouseWheel;
  TMouseWheelUpDownEvent OnMouseWheelDown;
  TMouseWheelUpDownEvent OnMouseWheelUp;
  TStartDragEvent OnStartDock;
  TStartDragEvent OnStartDrag;

 protected:
  // Input hooks; the base versions raise the published events.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void Click();
  virtual void DblClick();
  virtual bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos);
  virtual bool DoMouseWheelDown(TShiftState Shift, TPoint MousePos);
  virtual bool DoMouseWheelUp(TShiftState Shift, TPoint MousePos);

  // The palette the control wants realised when its form realises palettes.
  virtual HPALETTE GetPalette() { return nullptr; }
  friend class TCustomForm;

  void DefineProperties(TPropList& L) const override;
  // The properties a descendant publishes from those every control has.
  static void PublishAlign(TPropList& L);
  static void PublishColor(TPropList& L);
  static void PublishBiDiMode(TPropList& L);
  static void PublishAnchors(TPropList& L);
  static void PublishConstraints(TPropList& L);
  static void PublishDrag(TPropList& L);
  static void PublishEnabled(TPropList& L);
  static void PublishParentShowHint(TPropList& L);
  static void PublishShowHint(TPropList& L);
  static void PublishVisible(TPropList& L);
  static void PublishMouseEvents(TPropList& L);
  static void PublishWheelEvents(TPropList& L);
  static void PublishPopupMenu(TPropList& L);

  virtual void BoundsChanged() {}
  virtual void VisibleChanged() {}

  TWinControl* FParent = nullptr;
  std::int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TControlStyle FControlStyle{csCaptureMouse, csClickEvents, csDoubleClicks, csSetCaption};

 private:
  void UpdateAnchorRules();
  friend class TWinControl;

  bool FVisible = true;
  bool FEnabled = true;
  TColor FColor = clWindow;
  TCursor FCursor = crDefault;
  std::string FHint;
  bool FShowHint = false;
  bool FParentShowHint = true;
  TAlign FAlign = alNone;
  TAnchors FAnchors{akLeft, akTop};
  // Distances kept by anchors: right and bottom distances to the parent's client edges.
  std::int32_t FAnchorRight = 0, FAnchorBottom = 0;
  TSizeConstraints FConstraints;
  TBiDiMode FBiDiMode = bdLeftToRight;
  TCursor FDragCursor = crDrag;
  TDragKind FDragKind = dkDrag;
  TDragMode FDragMode = dmManual;
  THelpType FHelpType = htContext;
  std::string FHelpKeyword;
  int FHelpContext = 0;
  TPopupMenu* FPopupMenu = nullptr;
  int FWheelAccumulator = 0;
  bool FMouseDownLeft = false;
};

// ---------------------------------------------------------------------------
// TWinControl

struct TCreateParams {
  std::uint32_t Style = 0;
  std::uint32_t ExStyle = 0;
};

class TWinControl : public TControl {
  KEST_CLASS(TWinControl)
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  // The window. HandleNeeded creates it (with the parent's first); Handle
  // creates it when needed and returns it.
  HWND Handle();
  bool HandleAllocated() const { return FWindow != nullptr; }
  void HandleNeeded();
  void DestroyHandle();
  // Destroys the window and creates it again (a new style takes effect).
  void RecreateWnd();

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int I) const { return FControls[static_cast<std::size_t>(I)]; }

  std::int32_t ClientWidth() override;
  std::int32_t ClientHeight() override;
  void SetClientSize(std::int32_t W, std::int32_t H);

  void Invalidate() override;
  void Update() override;
  void SetEnabled(bool V) override;
  void SetCursor(TCursor C) override;

  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool V);
  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int V) { FTabOrder = V; }
  bool CanFocus() const;
  bool Focused() const;
  virtual void SetFocus();

  TFont& Font() { return FFont; }

  // The pixels the window shows (client size, 32 bits per pixel).
  const QImage& ClientSurface();
  // Client pixels per unit of the control's bounds: 1, or for a control whose
  // client area works in device pixels, the device pixel ratio of the screen
  // that shows it. Such a control's client size, client coordinates, input
  // positions, invalid areas, moved pixels and scroll bar ranges count device
  // pixels; its bounds, frame and bars stay in the units of its parent, as
  // every other control's do.
  double ClientPixelRatio() const;
  // The invalid region not yet painted.
  QRegion InvalidRegion() const;
  // Whether the pending paint cycle erases first.
  bool EraseRequested() const;

  // The style of the window as created (0 without a window).
  std::uint32_t WindowStyle() const;
  std::uint32_t WindowExStyle() const;

  // Scroll-bar state of the window, as the window functions left it.
  struct TScrollBarState {
    bool Visible = true;
    unsigned DisabledArrows = 0;  // ESB_DISABLE_* bits
    int Min = 0;
    int Max = 100;
    unsigned Page = 0;
    int Pos = 0;
    int TrackPos = 0;
    bool Tracking = false;
  };
  const TScrollBarState& ScrollBar(int Bar) const;

  // Paints what is invalid and puts it on the screen at once, so that progress
  // shows during a long operation on this thread; while Qt itself is painting
  // a window, the screen follows at the next presentation.
  void PresentNow();

  // A point on the screen in client coordinates (the window is created when needed).
  TPoint ScreenToClient(TPoint P);

  // The Qt widget that presents the window (created with the window). A Qt
  // host places the control in its own layout through it.
  QWidget* Widget();

  // Input from the window system.
  virtual void InputKeyDown(std::uint16_t Key, TShiftState Shift);
  virtual void InputKeyUp(std::uint16_t Key, TShiftState Shift);
  virtual void InputKeyPress(char Key);

  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

  // A key offered to the enclosing form before the focused control sees it;
  // true when the form used it as a shortcut.
  virtual bool PreviewShortCut(std::uint16_t Key, TShiftState Shift);

  // Called by the presenter when Qt moved the focus here or away.
  void FocusChanged(bool Gained);

  // A right click at client point MousePos, or the menu key (MousePos -1, -1):
  // OnContextPopup first, then the control's PopupMenu under the pointer (the
  // key puts it at the control's centre); a control with neither passes the
  // request to its parent. Returns whether a menu or a handler took it.
  bool InputContextPopup(TPoint MousePos);

 protected:
  virtual void CreateParams(TCreateParams& Params);
  // Creates the window; descendants extend it with what follows creation.
  virtual void CreateWnd();
  virtual void DestroyWnd();
  // Paints the invalid area; TCustomControl calls Paint.
  virtual void PaintWindow() {}
  virtual void KeyDown(std::uint16_t& Key, TShiftState Shift);
  virtual void KeyUp(std::uint16_t& Key, TShiftState Shift);
  virtual void KeyPress(char& Key);
  // Width of the window's frame on each side, outside the client area and the
  // bars: the sunken edge, a thin border, or a top-level window's frame.
  virtual TRect FrameMargins(std::uint32_t Style, std::uint32_t ExStyle) const;
  // The frame of the window as created.
  TRect CurrentFrame() const { return FrameMargins(WindowStyle(), WindowExStyle()); }
  // The client size: the window's, or before the window exists the size it will have.
  TPoint LayoutClientSize();
  virtual bool IsTopLevelWindow() const { return false; }
  // The client surface for drawing (the window is created when needed).
  QImage& MutableSurface();
  // Whether the client area works in the screen's device pixels, so that on a
  // high-density screen every client pixel is one pixel of the screen; off by
  // default: the client area is then in the units of the bounds.
  virtual bool ClientInDevicePixels() const { return false; }
  // A length in the units of the bounds as client pixels.
  std::int32_t BoundsToClient(std::int32_t V) const;
  // Lays out child controls after a size change (anchors and alignment).
  void Realign();
  void WndProc(TMessage& Message) override;
  static void PublishTabStop(TPropList& L);
  void BoundsChanged() override;
  void VisibleChanged() override;

 private:
  friend class TControl;
  friend class TWindowWidget;
  friend class TClientWidget;
  friend bool ShowScrollBar(HWND, int, bool);
  friend bool EnableScrollBar(HWND, int, unsigned);
  friend int SetScrollInfo(HWND, int, const SCROLLINFO&, bool);
  friend bool GetScrollInfo(HWND, int, SCROLLINFO&);
  friend int ScrollWindowEx(HWND, int, int, const TRect*, const TRect*, QRegion*, TRect*, unsigned);
  friend bool InvalidateRect(HWND, const TRect*, bool);
  friend bool UpdateWindow(HWND);
  friend bool PostMessage(HWND, std::uint32_t, WPARAM, LPARAM);

  struct TWindow;
  void InsertControl(TControl* C);
  void RemoveControl(TControl* C);
  // Client size from the outer size, border and visible bars.
  void RecomputeClient(bool SendSize);
  // Takes the device pixel ratio of the screen that shows the window; a new
  // ratio gives a new client surface, painted anew.
  void UpdatePixelRatio();
  void InvalidateRegion(const QRegion& R, bool Erase);
  void PaintCycle();
  void SchedulePaint();
  void PresentAll();

  std::vector<TControl*> FControls;
  std::unique_ptr<TWindow> FWindow;
  bool FTabStop = false;
  int FTabOrder = -1;
  TFont FFont;
};

// ---------------------------------------------------------------------------
// TCustomControl: a windowed control that paints itself on its canvas.

class TCustomControl : public TWinControl {
  KEST_CLASS(TCustomControl)
 public:
  explicit TCustomControl(TComponent* AOwner);
  ~TCustomControl() override;
  // The canvas on the client surface: drawing shows at once; during painting
  // it is clipped to the area being painted.
  TCanvas& Canvas() { return *FCanvas; }

 protected:
  virtual void Paint() {}
  void PaintWindow() override { Paint(); }

 private:
  std::unique_ptr<TCanvas> FCanvas;
};

// ---------------------------------------------------------------------------
// The screen: the cursor table and who has the focus and the capture.

class TScreen {
 public:
  // The cursor registered under Id, or the default arrow when none is.
  class QCursor CursorFor(TCursor Id) const;
  void SetCursor(TCursor Id, const class QCursor& C);
  bool HasCursor(TCursor Id) const;
  TWinControl* ActiveControl() const { return FActiveControl; }
  int PixelsPerInch() const { return DisplayInfo().PixelsPerInch; }

 private:
  friend class TWinControl;
  friend class TControl;
  std::vector<std::pair<TCursor, std::shared_ptr<class QCursor>>> FCursors;
  TWinControl* FActiveControl = nullptr;
};
TScreen& Screen();
