#include "toolkit/Controls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QCoreApplication>
#include <QCursor>
#include <QPainter>

#include "toolkit/Exceptions.h"
#include "toolkit/Menus.h"
#include "toolkit/QtPresenter_p.h"
#include "toolkit/SysUtils.h"

KEST_CLASS_IMPL(TControl, TComponent)
KEST_CLASS_IMPL(TWinControl, TControl)
KEST_CLASS_IMPL(TCustomControl, TWinControl)


namespace {

std::function<void(const std::string&)>& Recorder() {
  static std::function<void(const std::string&)> R;
  return R;
}

void Record(const std::string& Line) {
  if (Recorder()) Recorder()(Line);
}

const char* BarName(int Bar) { return Bar == SB_HORZ ? "SB_HORZ" : (Bar == SB_VERT ? "SB_VERT" : "SB_BOTH"); }

}  // namespace

void SetWindowCallRecorder(std::function<void(const std::string&)> R) { Recorder() = std::move(R); }

int GetSystemMetrics(int Index) {
  switch (Index) {
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return ScrollBarThickness;
    case SM_CXEDGE:
    case SM_CYEDGE:
      return ClientEdgeWidth;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// TScreen

TScreen& Screen() {
  static TScreen S;
  return S;
}

QCursor TScreen::CursorFor(TCursor Id) const {
  for (const auto& [K, C] : FCursors)
    if (K == Id) return *C;
  switch (Id) {
    case crCross: return QCursor(Qt::CrossCursor);
    case crIBeam: return QCursor(Qt::IBeamCursor);
    case crHandPoint: return QCursor(Qt::PointingHandCursor);
    case crSizeAll: return QCursor(Qt::SizeAllCursor);
    case crHourGlass: return QCursor(Qt::WaitCursor);
    case crNone: return QCursor(Qt::BlankCursor);
    default: return QCursor(Qt::ArrowCursor);
  }
}

void TScreen::SetCursor(TCursor Id, const QCursor& C) {
  for (auto& [K, Existing] : FCursors)
    if (K == Id) {
      Existing = std::make_shared<QCursor>(C);
      return;
    }
  FCursors.emplace_back(Id, std::make_shared<QCursor>(C));
}

bool TScreen::HasCursor(TCursor Id) const {
  return std::any_of(FCursors.begin(), FCursors.end(), [Id](const auto& P) { return P.first == Id; });
}

// ---------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  if (FParent) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* AParent) {
  if (FParent == AParent) return;
  if (FParent) FParent->RemoveControl(this);
  if (AParent) AParent->InsertControl(this);
}

void TControl::SetBounds(std::int32_t ALeft, std::int32_t ATop, std::int32_t AWidth, std::int32_t AHeight) {
  if (FConstraints.MinWidth > 0) AWidth = std::max(AWidth, FConstraints.MinWidth);
  if (FConstraints.MaxWidth > 0) AWidth = std::min(AWidth, FConstraints.MaxWidth);
  if (FConstraints.MinHeight > 0) AHeight = std::max(AHeight, FConstraints.MinHeight);
  if (FConstraints.MaxHeight > 0) AHeight = std::min(AHeight, FConstraints.MaxHeight);
  // Geometry from stored layouts may be anything; kept within a window's reach.
  ALeft = ClampExtent(ALeft);
  ATop = ClampExtent(ATop);
  AWidth = ClampExtent(AWidth, 0);
  AHeight = ClampExtent(AHeight, 0);
  if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight) return;
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  UpdateAnchorRules();
  BoundsChanged();
}

void TControl::UpdateAnchorRules() {
  if (!FParent) return;
  const TPoint C = FParent->LayoutClientSize();
  FAnchorRight = C.X - (FLeft + FWidth);
  FAnchorBottom = C.Y - (FTop + FHeight);
}

std::int32_t TControl::ClientWidth() { return FWidth; }
std::int32_t TControl::ClientHeight() { return FHeight; }

void TControl::SetVisible(bool V) {
  if (FVisible == V) return;
  FVisible = V;
  VisibleChanged();
}

void TControl::SetEnabled(bool V) { FEnabled = V; }
void TControl::SetColor(TColor C) {
  if (FColor == C) return;
  FColor = C;
  Invalidate();
}
void TControl::SetCursor(TCursor C) { FCursor = C; }
void TControl::SetHint(const std::string& H) { FHint = H; }
void TControl::SetShowHint(bool V) {
  FShowHint = V;
  FParentShowHint = false;
}
void TControl::SetParentShowHint(bool V) { FParentShowHint = V; }
void TControl::SetAlign(TAlign A) {
  if (FAlign == A) return;
  FAlign = A;
  if (FParent) FParent->Realign();
}
void TControl::SetAnchors(TAnchors A) {
  FAnchors = A;
  UpdateAnchorRules();
}
void TControl::SetConstraints(const TSizeConstraints& C) {
  FConstraints = C;
  SetBounds(FLeft, FTop, FWidth, FHeight);
}
void TControl::SetBiDiMode(TBiDiMode M) {
  if (FBiDiMode == M) return;
  FBiDiMode = M;
  if (auto* W = dynamic_cast<TWinControl*>(this); W && W->HandleAllocated() && W->FWindow->Widget)
    W->FWindow->Widget->LayoutFromModel();
  Perform(CM_BIDIMODECHANGED, 0, 0);
}

LRESULT TControl::Perform(std::uint32_t Msg, WPARAM W, LPARAM L) {
  TMessage M{Msg, W, L, 0};
  WndProc(M);
  return M.Result;
}

void TControl::WndProc(TMessage& Message) {
  if (Message.Msg == CM_BIDIMODECHANGED) Invalidate();
}

void TControl::Invalidate() {}
void TControl::Update() {}

void TControl::InputMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y, bool DoubleClick) {
  if (DoubleClick) Shift.Include(ssDouble);
  if (Button == mbLeft) FMouseDownLeft = !DoubleClick;
  MouseDown(Button, Shift, X, Y);
  if (DoubleClick && FControlStyle.Contains(csDoubleClicks)) DblClick();
}

void TControl::InputMouseMove(TShiftState Shift, int X, int Y) { MouseMove(Shift, X, Y); }

void TControl::InputMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  const bool WasClick = Button == mbLeft && FMouseDownLeft;
  if (Button == mbLeft) FMouseDownLeft = false;
  // A click is a press and release of the left button inside the control
  // (positions in client pixels, the size in the units of the bounds).
  const auto* Win = dynamic_cast<const TWinControl*>(this);
  const double R = Win ? Win->ClientPixelRatio() : 1;
  const bool Inside = R == 1 ? X < FWidth && Y < FHeight : X < FWidth * R && Y < FHeight * R;
  if (WasClick && FControlStyle.Contains(csClickEvents) && X >= 0 && Y >= 0 && Inside) Click();
  MouseUp(Button, Shift, X, Y);
}

bool TControl::InputMouseWheel(TShiftState Shift, int Delta, TPoint MousePos) {
  for (TControl* C = this; C; C = C->FParent)
    if (C->DoMouseWheel(Shift, Delta, MousePos)) return true;
  return false;
}

namespace {
TControl::TWheelTurn GWheelTurn;
}

bool TControl::InputWheelTurn(TShiftState Shift, const TWheelTurn& Turn, TPoint MousePos) {
  struct TTurnScope {
    explicit TTurnScope(const TWheelTurn& T) { GWheelTurn = T; }
    ~TTurnScope() { GWheelTurn = TWheelTurn{}; }
  } Scope(Turn);
  return InputMouseWheel(Shift, Turn.Angle.Y, MousePos);
}

const TControl::TWheelTurn& TControl::CurrentWheelTurn() { return GWheelTurn; }

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}
void TControl::MouseMove(TShiftState Shift, int X, int Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}
void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}
void TControl::Click() {
  if (OnClick) OnClick(this);
}
void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

bool TControl::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
  bool Handled = false;
  if (OnMouseWheel) OnMouseWheel(this, Shift, WheelDelta, MousePos, Handled);
  if (Handled) return true;
  // Full notches of 120 units raise the down or up event; a remainder waits.
  FWheelAccumulator += WheelDelta;
  bool Result = false;
  while (FWheelAccumulator <= -120 || FWheelAccumulator >= 120) {
    if (FWheelAccumulator < 0) {
      FWheelAccumulator += 120;
      Result = DoMouseWheelDown(Shift, MousePos) || Result;
    } else {
      FWheelAccumulator -= 120;
      Result = DoMouseWheelUp(Shift, MousePos) || Result;
    }
  }
  return Result;
}

bool TControl::DoMouseWheelDown(TShiftState Shift, TPoint MousePos) {
  bool Handled = false;
  if (OnMouseWheelDown) OnMouseWheelDown(this, Shift, MousePos, Handled);
  return Handled;
}

bool TControl::DoMouseWheelUp(TShiftState Shift, TPoint MousePos) {
  bool Handled = false;
  if (OnMouseWheelUp) OnMouseWheelUp(this, Shift, MousePos, Handled);
  return Handled;
}

namespace {
const std::vector<std::string> AlignNames = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient", "alCustom"};
const std::vector<std::string> AnchorNames = {"akLeft", "akTop", "akRight", "akBottom"};
const std::vector<std::string> BiDiNames = {"bdLeftToRight", "bdRightToLeft", "bdRightToLeftNoAlign",
                                            "bdRightToLeftReadingOnly"};
const std::vector<std::string> HelpTypeNames = {"htKeyword", "htContext"};
const std::vector<std::string> DragKindNames = {"dkDrag", "dkDock"};
const std::vector<std::string> DragModeNames = {"dmManual", "dmAutomatic"};
}  // namespace

void TControl::DefineProperties(TPropList& L) const {
  TComponent::DefineProperties(L);
  L.push_back(prop::Int<TControl, std::int32_t>("Left", &TControl::Left, &TControl::SetLeft, std::nullopt));
  L.push_back(prop::Int<TControl, std::int32_t>("Top", &TControl::Top, &TControl::SetTop, std::nullopt));
  L.push_back(prop::Int<TControl, std::int32_t>("Width", &TControl::Width, &TControl::SetWidth, std::nullopt));
  L.push_back(prop::Int<TControl, std::int32_t>("Height", &TControl::Height, &TControl::SetHeight, std::nullopt));
  L.push_back(prop::Int<TControl, TCursor>("Cursor", &TControl::Cursor, &TControl::SetCursor, crDefault));
  L.push_back(prop::String<TControl>("Hint", &TControl::HintText, &TControl::SetHint, std::string()));
  L.push_back(prop::Enum<TControl, THelpType>("HelpType", &TControl::HelpType, &TControl::SetHelpType, HelpTypeNames,
                                              htContext));
  L.push_back(
      prop::String<TControl>("HelpKeyword", &TControl::HelpKeyword, &TControl::SetHelpKeyword, std::string()));
  L.push_back(prop::Int<TControl, int>("HelpContext", &TControl::HelpContext, &TControl::SetHelpContext, 0));
}

void TControl::PublishAlign(TPropList& L) {
  L.push_back(prop::Enum<TControl, TAlign>("Align", &TControl::Align, &TControl::SetAlign, AlignNames, alNone));
}
void TControl::PublishColor(TPropList& L) {
  L.push_back(prop::Int<TControl, TColor>("Color", &TControl::Color, &TControl::SetColor, clWindow));
}
void TControl::PublishBiDiMode(TPropList& L) {
  L.push_back(prop::Enum<TControl, TBiDiMode>("BiDiMode", &TControl::BiDiMode, &TControl::SetBiDiMode, BiDiNames,
                                              bdLeftToRight));
}
void TControl::PublishAnchors(TPropList& L) {
  L.push_back(prop::Set<TControl, TAnchorKind>("Anchors", &TControl::Anchors, &TControl::SetAnchors, AnchorNames,
                                               TAnchors{akLeft, akTop}));
}
void TControl::PublishConstraints(TPropList& L) {
  auto Item = [&L](const char* Name, int TSizeConstraints::*Field) {
    L.push_back({std::string("Constraints.") + Name,
                 [Field](const TComponent& O) -> std::optional<TPropValue> {
                   const int V = static_cast<const TControl&>(O).Constraints().*Field;
                   if (V == 0) return std::nullopt;
                   return TPropValue::OfInt(V);
                 },
                 [Field](TComponent& O, const TPropValue& P) {
                   auto& C = static_cast<TControl&>(O);
                   TSizeConstraints S = C.Constraints();
                   S.*Field = static_cast<int>(P.Int);
                   C.SetConstraints(S);
                 }});
  };
  Item("MaxHeight", &TSizeConstraints::MaxHeight);
  Item("MaxWidth", &TSizeConstraints::MaxWidth);
  Item("MinHeight", &TSizeConstraints::MinHeight);
  Item("MinWidth", &TSizeConstraints::MinWidth);
}
void TControl::PublishDrag(TPropList& L) {
  L.push_back(prop::Int<TControl, TCursor>("DragCursor", &TControl::DragCursor, &TControl::SetDragCursor, crDrag));
  L.push_back(prop::Enum<TControl, TDragKind>("DragKind", &TControl::DragKind, &TControl::SetDragKind, DragKindNames,
                                              dkDrag));
  L.push_back(prop::Enum<TControl, TDragMode>("DragMode", &TControl::DragMode, &TControl::SetDragMode, DragModeNames,
                                              dmManual));
}
void TControl::PublishEnabled(TPropList& L) {
  L.push_back(prop::Bool<TControl>("Enabled", &TControl::Enabled, &TControl::SetEnabled, true));
}
void TControl::PublishParentShowHint(TPropList& L) {
  L.push_back(
      prop::Bool<TControl>("ParentShowHint", &TControl::ParentShowHint, &TControl::SetParentShowHint, true));
}
void TControl::PublishShowHint(TPropList& L) {
  L.push_back({"ShowHint",
               [](const TComponent& O) -> std::optional<TPropValue> {
                 const auto& C = static_cast<const TControl&>(O);
                 if (C.ParentShowHint()) return std::nullopt;
                 return TPropValue::OfIdent(C.ShowHint() ? "True" : "False");
               },
               [](TComponent& O, const TPropValue& P) { static_cast<TControl&>(O).SetShowHint(P.Str == "True"); }});
}
void TControl::PublishVisible(TPropList& L) {
  L.push_back(prop::Bool<TControl>("Visible", &TControl::Visible, &TControl::SetVisible, true));
}
void TControl::PublishMouseEvents(TPropList& L) {
  L.push_back(prop::Event("OnClick", &TControl::OnClick));
  L.push_back(prop::Event("OnContextPopup", &TControl::OnContextPopup));
  L.push_back(prop::Event("OnDblClick", &TControl::OnDblClick));
  L.push_back(prop::Event("OnDragDrop", &TControl::OnDragDrop));
  L.push_back(prop::Event("OnDragOver", &TControl::OnDragOver));
  L.push_back(prop::Event("OnEndDock", &TControl::OnEndDock));
  L.push_back(prop::Event("OnEndDrag", &TControl::OnEndDrag));
  L.push_back(prop::Event("OnMouseDown", &TControl::OnMouseDown));
  L.push_back(prop::Event("OnMouseMove", &TControl::OnMouseMove));
  L.push_back(prop::Event("OnMouseUp", &TControl::OnMouseUp));
}
void TControl::PublishPopupMenu(TPropList& L) {
  L.push_back(prop::Reference<TControl, TPopupMenu>("PopupMenu", &TControl::PopupMenu, &TControl::SetPopupMenu));
}
void TControl::PublishWheelEvents(TPropList& L) {
  L.push_back(prop::Event("OnMouseWheel", &TControl::OnMouseWheel));
  L.push_back(prop::Event("OnMouseWheelDown", &TControl::OnMouseWheelDown));
  L.push_back(prop::Event("OnMouseWheelUp", &TControl::OnMouseWheelUp));
  L.push_back(prop::Event("OnStartDock", &TControl::OnStartDock));
  L.push_back(prop::Event("OnStartDrag", &TControl::OnStartDrag));
}

// ---------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  // Children go before the parent's window: they lose their windows and their
  // parent but stay alive for their owner.
  while (!FControls.empty()) {
    TControl* C = FControls.back();
    if (auto* W = dynamic_cast<TWinControl*>(C)) W->DestroyHandle();
    RemoveControl(C);
  }
  if (FParent) FParent->RemoveControl(this);
  DestroyHandle();
  if (Screen().FActiveControl == this) Screen().FActiveControl = nullptr;
}

void TWinControl::InsertControl(TControl* C) {
  FControls.push_back(C);
  C->FParent = this;
  C->UpdateAnchorRules();
  if (auto* W = dynamic_cast<TWinControl*>(C)) {
    if (W->HandleAllocated()) {
      W->DestroyHandle();
    }
    if (HandleAllocated()) W->HandleNeeded();
  }
}

void TWinControl::RemoveControl(TControl* C) {
  const auto It = std::find(FControls.begin(), FControls.end(), C);
  if (It == FControls.end()) return;
  FControls.erase(It);
  C->FParent = nullptr;
}

HWND TWinControl::Handle() {
  HandleNeeded();
  return this;
}

void TWinControl::HandleNeeded() {
  if (FWindow) return;
  if (FParent) FParent->HandleNeeded();
  if (FWindow) return;  // the parent's creation created ours
  CreateWnd();
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params.Style = WS_CHILD | WS_CLIPSIBLINGS;
  if (Visible()) Params.Style |= WS_VISIBLE;
  if (FTabStop) Params.Style |= WS_TABSTOP;
  Params.ExStyle = 0;
  if (UseRightToLeftAlignment()) Params.ExStyle |= WS_EX_RIGHT;
  if (BiDiMode() != bdLeftToRight) Params.ExStyle |= WS_EX_RTLREADING;
  if (UseRightToLeftScrollBar()) Params.ExStyle |= WS_EX_LEFTSCROLLBAR;
}

void TWinControl::CreateWnd() {
  TCreateParams P;
  CreateParams(P);
  FWindow = std::make_unique<TWindow>();
  FWindow->Style = P.Style;
  FWindow->ExStyle = P.ExStyle;
  FWindow->Bars[SB_HORZ].Visible = (P.Style & WS_HSCROLL) != 0;
  FWindow->Bars[SB_VERT].Visible = (P.Style & WS_VSCROLL) != 0;
  QWidget* ParentWidget = FParent ? FParent->Widget() : nullptr;
  QWidget* ParentClient = ParentWidget ? static_cast<TWindowWidget*>(ParentWidget)->Client() : nullptr;
  FWindow->Widget = new TWindowWidget(this, ParentClient, IsTopLevelWindow());
  if (ClientInDevicePixels()) FWindow->Ratio = FWindow->Widget->devicePixelRatioF();
  RecomputeClient(false);
  // A new window is invalid everywhere and erased before its first paint.
  InvalidateRegion(QRegion(0, 0, FWindow->Surface.width(), FWindow->Surface.height()), true);
  FWindow->Widget->Client()->setCursor(Screen().CursorFor(Cursor()));  // the bars keep the arrow
  FWindow->Widget->Client()->setFocusPolicy(FTabStop ? Qt::TabFocus : Qt::NoFocus);
  FWindow->Widget->LayoutFromModel();
  if (Visible() && (!FParent || FParent->Widget())) FWindow->Widget->setVisible(FParent != nullptr && Visible());
  // Child windows come with their parent.
  for (TControl* C : FControls)
    if (auto* W = dynamic_cast<TWinControl*>(C)) W->HandleNeeded();
  Perform(WM_SIZE, SIZE_RESTORED, MakeLParam(FWindow->Surface.width(), FWindow->Surface.height()));
}

void TWinControl::DestroyWnd() {
  if (!FWindow) return;
  for (TControl* C : FControls)
    if (auto* W = dynamic_cast<TWinControl*>(C)) W->DestroyHandle();
  if (TWindowWidget* W = FWindow->Widget) {
    W->Detach();
    W->Client()->Detach();
    W->hide();
    W->deleteLater();
    W->setParent(nullptr);
  }
  FWindow.reset();
}

void TWinControl::DestroyHandle() { DestroyWnd(); }

void TWinControl::RecreateWnd() {
  if (!FWindow) return;
  DestroyHandle();
  HandleNeeded();
}

QWidget* TWinControl::Widget() {
  HandleNeeded();
  return FWindow->Widget;
}

void TWinControl::PresentNow() {
  Update();
  if (FWindow && FWindow->Widget && FWindow->Widget->isVisible() && !PresenterPainting())
    FWindow->Widget->Client()->repaint();
}

TPoint TWinControl::ScreenToClient(TPoint P) {
  HandleNeeded();
  if (FWindow->Ratio == 1) {
    const QPoint Q = FWindow->Widget->Client()->mapFromGlobal(QPoint(P.X, P.Y));
    return TPoint{Q.x(), Q.y()};
  }
  // Screen positions are Qt's global ones; the client counts device pixels.
  const QPoint Q = ToClientPixels(FWindow->Widget->Client()->mapFromGlobal(QPointF(P.X, P.Y)), FWindow->Ratio);
  return TPoint{Q.x(), Q.y()};
}

void TWinControl::BoundsChanged() {
  if (!FWindow) return;
  RecomputeClient(true);
}

void TWinControl::VisibleChanged() {
  if (FWindow && FWindow->Widget && FParent) FWindow->Widget->setVisible(Visible());
}

std::int32_t TWinControl::ClientWidth() {
  HandleNeeded();
  return FWindow->Surface.width();
}

std::int32_t TWinControl::ClientHeight() {
  HandleNeeded();
  return FWindow->Surface.height();
}

void TWinControl::SetClientSize(std::int32_t W, std::int32_t H) {
  HandleNeeded();
  const double R = FWindow->Ratio;
  // At a ratio above 1 the bounds take the whole units that hold the pixels asked for.
  auto ToBounds = [R](std::int32_t V) {
    return R == 1 ? V : static_cast<std::int32_t>(std::ceil(static_cast<double>(V) / R - 1e-9));
  };
  SetBounds(Left(), Top(), Width() + ToBounds(W) - FWindow->LayoutClient.width(),
            Height() + ToBounds(H) - FWindow->LayoutClient.height());
}

double TWinControl::ClientPixelRatio() const { return FWindow ? FWindow->Ratio : 1; }

std::int32_t TWinControl::BoundsToClient(std::int32_t V) const {
  const double R = ClientPixelRatio();
  return R == 1 ? V : static_cast<std::int32_t>(std::lround(V * R));
}

void TWinControl::UpdatePixelRatio() {
  if (!FWindow || !FWindow->Widget || !ClientInDevicePixels()) return;
  const double R = FWindow->Widget->devicePixelRatioF();
  if (R == FWindow->Ratio) return;
  FWindow->Ratio = R;
  RecomputeClient(true);
  // Everything the window showed was measured in the old pixels.
  InvalidateRegion(QRegion(0, 0, FWindow->Surface.width(), FWindow->Surface.height()), true);
}

void TWinControl::RecomputeClient(bool SendSize) {
  TWindow& Wn = *FWindow;
  const TRect Frame = FrameMargins(Wn.Style, Wn.ExStyle);
  const int Lw =
      std::max(0, Width() - Frame.Left - Frame.Right - (Wn.Bars[SB_VERT].Visible ? ScrollBarThickness : 0));
  const int Lh =
      std::max(0, Height() - Frame.Top - Frame.Bottom - (Wn.Bars[SB_HORZ].Visible ? ScrollBarThickness : 0));
  Wn.LayoutClient = QSize(Lw, Lh);
  const int Cw = BoundsToClient(Lw), Ch = BoundsToClient(Lh);
  const bool Changed = Cw != Wn.Surface.width() || Ch != Wn.Surface.height();
  if (Changed && !Wn.Painted) {
    // Only the window's colour to keep: the old pixels go first, and the new
    // ones are filled when they are first wanted (at the latest by the erase
    // of the paint that the size change brings).
    Wn.Surface = QImage();
    Wn.Surface = QImage(Cw, Ch, QImage::Format_RGB32);
    Wn.FillPixel = ColorToPixel(Color());
    Wn.Unfilled = true;
    Wn.Invalid &= QRegion(0, 0, Cw, Ch);
    InvalidateRegion(QRegion(0, 0, Cw, Ch), true);
  } else if (Changed) {
    QImage New(Cw, Ch, QImage::Format_RGB32);
    New.fill(ColorToPixel(Color()));
    if (!Wn.Surface.isNull()) {
      QPainter P(&New);
      P.setCompositionMode(QPainter::CompositionMode_Source);
      P.drawImage(0, 0, Wn.Pixels());
    }
    Wn.Surface = std::move(New);
    Wn.Invalid &= QRegion(0, 0, Cw, Ch);
    // The whole window is redrawn after a size change.
    InvalidateRegion(QRegion(0, 0, Cw, Ch), true);
  }
  if (Wn.Widget) Wn.Widget->LayoutFromModel();
  if (SendSize) Perform(WM_SIZE, SIZE_RESTORED, MakeLParam(Cw, Ch));
}

TRect TWinControl::FrameMargins(std::uint32_t Style, std::uint32_t ExStyle) const {
  int Edge = 0;
  if (ExStyle & WS_EX_CLIENTEDGE)
    Edge = ClientEdgeWidth;
  else if (Style & WS_BORDER)
    Edge = 1;
  return TRect{Edge, Edge, Edge, Edge};
}

TPoint TWinControl::LayoutClientSize() {
  if (FWindow) return TPoint{FWindow->LayoutClient.width(), FWindow->LayoutClient.height()};
  TCreateParams P;
  CreateParams(P);
  const TRect F = FrameMargins(P.Style, P.ExStyle);
  return TPoint{std::max(0, Width() - F.Left - F.Right - ((P.Style & WS_VSCROLL) ? ScrollBarThickness : 0)),
                std::max(0, Height() - F.Top - F.Bottom - ((P.Style & WS_HSCROLL) ? ScrollBarThickness : 0))};
}

std::uint32_t TWinControl::WindowStyle() const { return FWindow ? FWindow->Style : 0; }
std::uint32_t TWinControl::WindowExStyle() const { return FWindow ? FWindow->ExStyle : 0; }

void TWinControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_SIZE:
      Realign();
      break;
    case WM_GETDLGCODE:
      Message.Result = 0;
      break;
    default:
      TControl::WndProc(Message);
  }
}

void TWinControl::Realign() {
  if (!FWindow) return;
  // Children are placed in the units of the bounds.
  const int Cw = FWindow->LayoutClient.width(), Ch = FWindow->LayoutClient.height();
  TRect Free{0, 0, Cw, Ch};
  for (TAlign A : {alTop, alBottom, alLeft, alRight, alClient})
    for (TControl* C : FControls) {
      if (C->Align() != A || !C->Visible()) continue;
      TRect B = C->BoundsRect();
      switch (A) {
        case alTop: B = Bounds(Free.Left, Free.Top, Free.Width(), C->Height()); Free.Top += C->Height(); break;
        case alBottom: B = Bounds(Free.Left, Free.Bottom - C->Height(), Free.Width(), C->Height()); Free.Bottom -= C->Height(); break;
        case alLeft: B = Bounds(Free.Left, Free.Top, C->Width(), Free.Height()); Free.Left += C->Width(); break;
        case alRight: B = Bounds(Free.Right - C->Width(), Free.Top, C->Width(), Free.Height()); Free.Right -= C->Width(); break;
        default: B = Free; break;
      }
      C->SetBounds(B.Left, B.Top, B.Width(), B.Height());
    }
  for (TControl* C : FControls) {
    if (C->Align() != alNone) continue;
    const TAnchors A = C->Anchors();
    int L = C->Left(), T = C->Top(), W = C->Width(), H = C->Height();
    if (A.Contains(akRight)) {
      if (A.Contains(akLeft))
        W = Cw - L - C->FAnchorRight;
      else
        L = Cw - W - C->FAnchorRight;
    }
    if (A.Contains(akBottom)) {
      if (A.Contains(akTop))
        H = Ch - T - C->FAnchorBottom;
      else
        T = Ch - H - C->FAnchorBottom;
    }
    const int KeepRight = C->FAnchorRight, KeepBottom = C->FAnchorBottom;
    C->SetBounds(L, T, W, H);
    // Moving with the parent keeps the distances the anchors hold.
    C->FAnchorRight = KeepRight;
    C->FAnchorBottom = KeepBottom;
  }
}

void TWinControl::InvalidateRegion(const QRegion& R, bool Erase) {
  if (!FWindow) return;
  const QRegion Inside = R & QRegion(0, 0, FWindow->Surface.width(), FWindow->Surface.height());
  if (Inside.isEmpty()) return;
  FWindow->Invalid += Inside;
  if (Erase) FWindow->EraseRequested = true;
  SchedulePaint();
}

void TWinControl::SchedulePaint() {
  if (!FWindow || FWindow->PaintPosted || !FWindow->Widget) return;
  FWindow->PaintPosted = true;
  QCoreApplication::postEvent(FWindow->Widget, new QEvent(PaintRequestEvent));
}

void TWinControl::Invalidate() {
  if (!FWindow) return;
  InvalidateRect(this, nullptr, !ControlStyle().Contains(csOpaque));
}

void TWinControl::Update() {
  if (FWindow) UpdateWindow(this);
}

void TWinControl::PaintCycle() {
  if (!FWindow || FWindow->Invalid.isEmpty()) return;
  // The area is validated first, as painting begins; painting may invalidate anew.
  const QRegion Area = FWindow->Invalid;
  const bool Erase = FWindow->EraseRequested;
  FWindow->Invalid = QRegion();
  FWindow->EraseRequested = false;
  FWindow->Painted = true;
  if (Erase && FWindow->Unfilled && Area == QRegion(FWindow->Surface.rect())) {
    // Erasing the whole of a surface not yet filled is that fill: it is left
    // to the first use of the pixels, so that what the paint allocates first
    // (a picture it decodes) does not add to the surface's memory.
    FWindow->FillPixel = ColorToPixel(Color());
  } else if (Erase) {
    QImage& S = FWindow->Pixels();
    FillPixels(S, TRect{0, 0, S.width(), S.height()}, &Area, ColorToPixel(Color()));
  }
  auto* Self = dynamic_cast<TCustomControl*>(this);
  struct TClipGuard {
    TCanvas* C;
    ~TClipGuard() {
      if (C) C->SetClipRegion(nullptr);
    }
  } Guard{Self ? &Self->Canvas() : nullptr};
  if (Guard.C) Guard.C->SetClipRegion(&Area);
  if (FWindow->Widget) FWindow->Widget->Client()->update(ToWidgetUnits(Area, FWindow->Ratio));
  PaintWindow();
}

void TWinControl::PresentAll() {
  if (FWindow && FWindow->Widget) FWindow->Widget->Client()->update();
}

const QImage& TWinControl::ClientSurface() {
  HandleNeeded();
  // Its reader may keep what it sees.
  FWindow->Painted = true;
  return FWindow->Pixels();
}

QImage& TWinControl::MutableSurface() {
  HandleNeeded();
  FWindow->Painted = true;
  return FWindow->Pixels();
}

QRegion TWinControl::InvalidRegion() const { return FWindow ? FWindow->Invalid : QRegion(); }
bool TWinControl::EraseRequested() const { return FWindow && FWindow->EraseRequested; }

const TWinControl::TScrollBarState& TWinControl::ScrollBar(int Bar) const {
  static const TScrollBarState None{};
  return FWindow ? FWindow->Bars[Bar == SB_VERT ? 1 : 0] : None;
}

void TWinControl::SetEnabled(bool V) {
  TControl::SetEnabled(V);
  if (FWindow && FWindow->Widget) FWindow->Widget->setEnabled(V);
}

void TWinControl::SetCursor(TCursor C) {
  if (C == Cursor()) return;
  TControl::SetCursor(C);
  if (FWindow && FWindow->Widget) FWindow->Widget->Client()->setCursor(Screen().CursorFor(C));
}

void TWinControl::SetTabStop(bool V) {
  if (FTabStop == V) return;
  FTabStop = V;
  if (FWindow && FWindow->Widget) FWindow->Widget->Client()->setFocusPolicy(V ? Qt::TabFocus : Qt::NoFocus);
}

bool TWinControl::CanFocus() const {
  for (const TControl* C = this; C; C = C->Parent())
    if (!C->Visible() || !C->Enabled()) return false;
  return true;
}

bool TWinControl::Focused() const { return Screen().FActiveControl == this; }

void TWinControl::SetFocus() {
  HandleNeeded();
  if (Screen().FActiveControl != this) {
    TWinControl* Old = Screen().FActiveControl;
    Screen().FActiveControl = this;
    if (Old && Old->OnExit) Old->OnExit(Old);
    if (OnEnter) OnEnter(this);
  }
  if (FWindow->Widget) FWindow->Widget->Client()->setFocus(Qt::OtherFocusReason);
}

bool TWinControl::InputContextPopup(TPoint MousePos) {
  bool Handled = false;
  if (OnContextPopup) OnContextPopup(this, MousePos, Handled);
  if (Handled) return true;
  TPopupMenu* Menu = PopupMenu();
  if (!Menu || !Menu->AutoPopup()) {
    if (!FParent) return false;
    // The parent hears of it in its own client coordinates.
    const double R = ClientPixelRatio();
    const TPoint InBounds = R == 1 ? MousePos
                                   : TPoint{static_cast<std::int32_t>(std::floor(MousePos.X / R)),
                                            static_cast<std::int32_t>(std::floor(MousePos.Y / R))};
    const TPoint P = MousePos.X == -1 && MousePos.Y == -1
                         ? MousePos
                         : TPoint{InBounds.X + Left() + CurrentFrame().Left, InBounds.Y + Top() + CurrentFrame().Top};
    return FParent->InputContextPopup(P);
  }
  if (MousePos.X == -1 && MousePos.Y == -1) MousePos = TPoint{ClientWidth() / 2, ClientHeight() / 2};
  QPoint Global(MousePos.X, MousePos.Y);
  if (HandleAllocated() && FWindow->Widget) {
    const double R = FWindow->Ratio;
    Global = R == 1 ? FWindow->Widget->Client()->mapToGlobal(Global)
                    : FWindow->Widget->Client()->mapToGlobal(QPointF(MousePos.X / R, MousePos.Y / R)).toPoint();
  }
  Menu->SetPopupComponent(this);
  Menu->Popup(Global.x(), Global.y());
  return true;
}

void TWinControl::FocusChanged(bool Gained) {
  if (Gained && Screen().FActiveControl != this) {
    TWinControl* Old = Screen().FActiveControl;
    Screen().FActiveControl = this;
    if (Old && Old->OnExit) Old->OnExit(Old);
    if (OnEnter) OnEnter(this);
  }
}

bool TWinControl::PreviewShortCut(std::uint16_t Key, TShiftState Shift) {
  return FParent && FParent->PreviewShortCut(Key, Shift);
}

void TWinControl::InputKeyDown(std::uint16_t Key, TShiftState Shift) {
  if (PreviewShortCut(Key, Shift)) return;
  KeyDown(Key, Shift);
}
void TWinControl::InputKeyUp(std::uint16_t Key, TShiftState Shift) { KeyUp(Key, Shift); }
void TWinControl::InputKeyPress(char Key) { KeyPress(Key); }

void TWinControl::KeyDown(std::uint16_t& Key, TShiftState Shift) {
  if (OnKeyDown) OnKeyDown(this, Key, Shift);
}
void TWinControl::KeyUp(std::uint16_t& Key, TShiftState Shift) {
  if (OnKeyUp) OnKeyUp(this, Key, Shift);
}
void TWinControl::KeyPress(char& Key) {
  if (OnKeyPress) OnKeyPress(this, Key);
}


void TWinControl::PublishTabStop(TPropList& L) {
  L.push_back(prop::Bool<TWinControl>("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop, false));
}

// ---------------------------------------------------------------------------
// TCustomControl

TCustomControl::TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {
  FCanvas = std::make_unique<TCanvas>(
      [this]() -> QImage* {
        return &MutableSurface();
      },
      DisplayInfo().BitsPerPixel);
  FCanvas->SetSizeProvider([this] { return QSize(ClientWidth(), ClientHeight()); });
}

TCustomControl::~TCustomControl() = default;

// ---------------------------------------------------------------------------
// Window functions.

bool ShowScrollBar(HWND Wnd, int Bar, bool Show) {
  Record(Format("ShowScrollBar(%s, %d)", {BarName(Bar), Show ? 1 : 0}));
  if (!Wnd || !Wnd->FWindow) return false;
  bool Changed = false;
  for (int B : {SB_HORZ, SB_VERT}) {
    if (Bar != B && Bar != SB_BOTH) continue;
    auto& S = Wnd->FWindow->Bars[B];
    if (S.Visible != Show) {
      S.Visible = Show;
      Changed = true;
    }
    if (Wnd->FWindow->Widget) Wnd->FWindow->Widget->SyncBar(B);
  }
  // A bar that appears or disappears changes the client area; the window hears
  // of it at once, also from inside this call.
  if (Changed) Wnd->RecomputeClient(true);
  return true;
}

bool EnableScrollBar(HWND Wnd, int Bar, unsigned Arrows) {
  Record(Format("EnableScrollBar(%s, %d)", {BarName(Bar), static_cast<int>(Arrows)}));
  if (!Wnd || !Wnd->FWindow) return false;
  for (int B : {SB_HORZ, SB_VERT}) {
    if (Bar != B && Bar != SB_BOTH) continue;
    Wnd->FWindow->Bars[B].DisabledArrows = Arrows & ESB_DISABLE_BOTH;
    if (Wnd->FWindow->Widget) Wnd->FWindow->Widget->SyncBar(B);
  }
  return true;
}

int SetScrollInfo(HWND Wnd, int Bar, const SCROLLINFO& Info, bool Redraw) {
  std::string Line = Format("SetScrollInfo(%s, mask 0x%s", {BarName(Bar), ""});
  {
    char Hex[16];
    std::snprintf(Hex, sizeof Hex, "%x", Info.fMask);
    Line += Hex;
  }
  if (Info.fMask & SIF_RANGE) Line += Format(", min %d, max %d", {Info.nMin, Info.nMax});
  if (Info.fMask & SIF_PAGE) Line += Format(", page %d", {Info.nPage});
  if (Info.fMask & SIF_POS) Line += Format(", pos %d", {Info.nPos});
  Record(Line + ")");
  (void)Redraw;
  if (!Wnd || !Wnd->FWindow || (Bar != SB_HORZ && Bar != SB_VERT)) return 0;
  auto& S = Wnd->FWindow->Bars[Bar];
  if (Info.fMask & SIF_RANGE) {
    S.Min = Info.nMin;
    S.Max = Info.nMax;
  }
  const std::int64_t Span = std::int64_t{S.Max} - S.Min + 1;
  if (Info.fMask & SIF_PAGE) S.Page = static_cast<unsigned>(std::clamp<std::int64_t>(Info.nPage, 0, std::max<std::int64_t>(Span, 0)));
  if (Info.fMask & SIF_POS) S.Pos = Info.nPos;
  // The position stays where the thumb can be: min .. max - page + 1.
  const std::int64_t Top = std::max<std::int64_t>(S.Min, std::int64_t{S.Max} - std::max<std::int64_t>(S.Page, 1) + 1);
  S.Pos = static_cast<int>(std::clamp<std::int64_t>(S.Pos, S.Min, Top));
  if (Wnd->FWindow->Widget) Wnd->FWindow->Widget->SyncBar(Bar);
  return S.Pos;
}

bool GetScrollInfo(HWND Wnd, int Bar, SCROLLINFO& Info) {
  if (!Wnd || !Wnd->FWindow || (Bar != SB_HORZ && Bar != SB_VERT)) return false;
  const auto& S = Wnd->FWindow->Bars[Bar];
  if (Info.fMask & SIF_RANGE) {
    Info.nMin = S.Min;
    Info.nMax = S.Max;
  }
  if (Info.fMask & SIF_PAGE) Info.nPage = S.Page;
  if (Info.fMask & SIF_POS) Info.nPos = S.Pos;
  if (Info.fMask & SIF_TRACKPOS) Info.nTrackPos = S.Tracking ? S.TrackPos : S.Pos;
  return true;
}

int ScrollWindowEx(HWND Wnd, int DX, int DY, const TRect* Scroll, const TRect* Clip, QRegion* UpdateRgn,
                   TRect* Update, unsigned Flags) {
  Record(Format("ScrollWindowEx(%d, %d)", {DX, DY}));
  if (!Wnd || !Wnd->FWindow || Scroll || Clip) return 0;
  auto& Wn = *Wnd->FWindow;
  QImage& S = Wn.Pixels();
  const int W = S.width(), H = S.height();
  if (W == 0 || H == 0) return 1;
  const QRegion All(0, 0, W, H);
  // Move the pixels that stay visible.
  if (std::abs(DX) < W && std::abs(DY) < H && (DX || DY)) {
    const int RowBytes = (W - std::abs(DX)) * 4;
    const int SrcX = DX < 0 ? -DX : 0, DstX = DX > 0 ? DX : 0;
    auto MoveRow = [&](int Y) {
      std::memmove(S.scanLine(Y + DY) + DstX * 4, S.constScanLine(Y) + SrcX * 4, static_cast<std::size_t>(RowBytes));
    };
    if (DY > 0)
      for (int Y = H - 1 - DY; Y >= 0; --Y) MoveRow(Y);
    else
      for (int Y = -DY; Y < H; ++Y) MoveRow(Y);
  }
  const QRegion Moved = QRegion(DX, DY, W, H) & All;
  const QRegion Uncovered = All - Moved;
  // What was waiting to be painted moves with the pixels.
  Wn.Invalid = (Wn.Invalid.translated(DX, DY) & All);
  if (Flags & SW_INVALIDATE) {
    Wn.Invalid += Uncovered;
    if (Flags & SW_ERASE) Wn.EraseRequested = true;
    if (!Uncovered.isEmpty()) Wnd->SchedulePaint();
  }
  if (UpdateRgn) *UpdateRgn = Uncovered;
  if (Update) {
    const QRect B = Uncovered.boundingRect();
    *Update = TRect{B.left(), B.top(), B.right() + 1, B.bottom() + 1};
  }
  Wnd->PresentAll();
  return Uncovered.isEmpty() ? 1 : 2;
}

bool InvalidateRect(HWND Wnd, const TRect* R, bool Erase) {
  if (!Wnd || !Wnd->FWindow) return false;
  const QImage& S = Wnd->FWindow->Surface;
  Wnd->InvalidateRegion(R ? QRegion(R->Left, R->Top, R->Width(), R->Height()) : QRegion(0, 0, S.width(), S.height()),
                        Erase);
  return true;
}

bool UpdateWindow(HWND Wnd) {
  if (!Wnd || !Wnd->FWindow) return false;
  Wnd->PaintCycle();
  return true;
}

bool GetClientRect(HWND Wnd, TRect& R) {
  if (!Wnd) return false;
  R = TRect{0, 0, Wnd->ClientWidth(), Wnd->ClientHeight()};
  return true;
}

LRESULT SendMessage(HWND Wnd, std::uint32_t Msg, WPARAM W, LPARAM L) { return Wnd ? Wnd->Perform(Msg, W, L) : 0; }

bool PostMessage(HWND Wnd, std::uint32_t Msg, WPARAM W, LPARAM L) {
  if (!Wnd || !Wnd->FWindow || !Wnd->FWindow->Widget) return false;
  QCoreApplication::postEvent(Wnd->FWindow->Widget, new TPostedMessage(TMessage{Msg, W, L, 0}));
  return true;
}
