#include "KestImage/KestImage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "KestImage/Cursors.h"
#include "toolkit/SysUtils.h"

KEST_CLASS_IMPL(TCustomKestImage, TCustomControl)
KEST_CLASS_IMPL(TKestImage, TCustomKestImage)

namespace {

// Scaled sizes and coordinates are truncated toward zero. Values beyond
// +-2^30 are held there, so that differences of two of them still fit into
// 32 bits (a picture of 2^28 pixels in one row zoomed 1000 times would not).
constexpr double CoordLimit = 1073741824.0;
constexpr std::int64_t IntCoordLimit = std::int64_t{1} << 30;

// A size or position held within +-2^30, whatever a graphic reports.
std::int32_t Hold(std::int64_t V) { return static_cast<std::int32_t>(std::clamp(V, -IntCoordLimit, IntCoordLimit)); }

// Posted to the view when a graphic's size changed at its drawing.
constexpr std::uint32_t KM_PICTURERESIZED = WM_USER + 0x4B1;

std::int32_t Trunc(double V) {
  if (!(V == V)) return 0;
  return static_cast<std::int32_t>(std::clamp(std::trunc(V), -CoordLimit, CoordLimit));
}

// Round to nearest, ties to even, held within the same range.
std::int64_t RoundEven(double V) {
  if (!(V == V)) return 0;
  return static_cast<std::int64_t>(std::clamp(std::nearbyint(V), -CoordLimit, CoordLimit));
}

// Integer division rounding toward zero, as C++ does.
constexpr std::int32_t Div2(std::int32_t V) { return V / 2; }

std::int32_t ClampToInt(std::int64_t V) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(V, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// True when a W x H image has at least the cache limit of pixels.
bool AtCacheLimit(std::int64_t W, std::int64_t H) {
  if (W <= 0 || H <= 0) return false;
  return W >= MaxRenderCachePixels || H >= MaxRenderCachePixels || W * H >= MaxRenderCachePixels;
}

const char* const DefaultScales[] = {"00.10", "00.25", "00.50", "00.75", "01.00",
                                     "01.50", "02.00", "04.00", "08.00"};

}  // namespace

// ---------------------------------------------------------------------------
// Construction and destruction

TCustomKestImage::TCustomKestImage(TComponent* AOwner) : TCustomControl(AOwner) {
  SetControlStyle(ControlStyle().Include(csReplicatable));
  FPicture = std::make_unique<TPicture>();
  FPicture->OnChange = [this](TObject* Sender) { HandlePictureChange(Sender); };
  FPicture->OnProgress = [this](TObject* Sender, TProgressStage Stage, std::uint8_t Percent, bool Redraw,
                                const TRect& R, const std::string& Msg) {
    PictureProgress(Sender, Stage, Percent, Redraw, R, Msg);
  };
  FPicture->OnFrame = [this](TObject* Sender, const TRect& R) { PictureFrame(Sender, R); };
  SetHeight(192);
  SetWidth(192);
  FHideScrollBars = true;
  FScale = 1.0;
  FScaleMode = smScale;
  FLockScale = false;
  FBorderStyle = bsSingle;
  FOffset = TPoint{0, 0};
  FMaxOffset = TPoint{0, 0};
  FRenderCache = std::make_unique<TBitmap>();
  FStandardScales = std::make_unique<TStringList>();
  FStandardScales->SetSorted(true);
  for (const char* S : DefaultScales) FStandardScales->Add(S);
}

TCustomKestImage::~TCustomKestImage() {
  FPicture.reset();
  FRenderCache.reset();
  FStandardScales.reset();
}

void TCustomKestImage::DoScaleChange() {
  if (ComponentState().Contains(csLoading)) return;
  if (OnScaleChange) OnScaleChange(this);
}

void TCustomKestImage::DoOffsetChange() {
  if (OnOffsetChange) OnOffsetChange(this);
}

// ---------------------------------------------------------------------------
// Scale and zoom steps

void TCustomKestImage::SetScale(double V) {
  if (std::isnan(V)) return;  // not a number: no scale to clamp to
  V = std::clamp(V, 0.001, 1000.0);
  if (V == FScale) return;
  const double Ratio = V / FScale;
  FScale = V;
  if (FScaleMode != smScale) return;
  UpdateLayout();
  const TPoint C = GetViewCenter();
  CenterOn(TPoint{Trunc(C.X * Ratio), Trunc(C.Y * Ratio)});
  if (FPicture->Width() * FScale < ClientWidth() || FPicture->Height() * FScale < ClientHeight()) {
    EraseBackground();
    ScrollTo(FOffset);
  }
  DoScaleChange();
}

double TCustomKestImage::GetFitScale() {
  const std::int32_t W = FPicture->Width(), H = FPicture->Height();
  if (W == 0 || H == 0) return 0;
  // The fitted picture needs no scroll bars: it is fitted to the room they
  // leave when hidden.
  const TPoint C = ClientSizeWithoutBars();
  const double A = static_cast<double>(C.X) / W;
  const double B = static_cast<double>(C.Y) / H;
  return A >= B ? B : A;
}

TPoint TCustomKestImage::ClientSizeWithoutBars() {
  const TPoint C{ClientWidth(), ClientHeight()};
  if (!FHideScrollBars) return C;
  TCreateParams P;
  CreateParams(P);
  const TRect F = FrameMargins(P.Style, P.ExStyle);
  return TPoint{std::max(C.X, BoundsToClient(Width() - F.Left - F.Right)),
                std::max(C.Y, BoundsToClient(Height() - F.Top - F.Bottom))};
}

TPoint TCustomKestImage::DisplayedSize() {
  const std::int32_t W = FPicture->Width(), H = FPicture->Height();
  switch (FScaleMode) {
    case smStretch: return TPoint{ClientWidth(), ClientHeight()};
    case smScale: return TPoint{Trunc(W * FScale), Trunc(H * FScale)};
    case smResize: {
      const double F = GetFitScale();
      return TPoint{Trunc(W * F), Trunc(H * F)};
    }
    default: return TPoint{Hold(W), Hold(H)};
  }
}

void TCustomKestImage::Zoom(TZoomKind Kind, std::int32_t X, std::int32_t Y) {
  if (!FPicture->Graphic() || FScaleMode != smScale) return;
  if (Kind == zkBestFit) {
    SetScale(GetFitScale());
    ScrollTo(TPoint{0, 0});
    return;
  }
  // Every entry is converted before anything changes, so that a bad entry
  // leaves the scale and the view as they were. The list is kept in text
  // order, which is numeric order only for entries of equal width: the steps
  // are taken in the order of their values.
  std::vector<double> Steps;
  for (int K = 0; K < FStandardScales->Count(); ++K) Steps.push_back(StrToFloat(FStandardScales->Get(K)));
  std::sort(Steps.begin(), Steps.end());
  Steps.erase(std::unique(Steps.begin(), Steps.end()), Steps.end());
  double T = FScale;
  if (!Steps.empty()) {
    // The first step above the scale; past the largest step, the largest.
    const std::size_t I = static_cast<std::size_t>(std::upper_bound(Steps.begin(), Steps.end(), FScale) - Steps.begin());
    T = I < Steps.size() ? Steps[I] : Steps.back();
    if (Kind == zkOut && I >= 1) {
      T = Steps[I - 1];
      if (T == FScale && I >= 2) T = Steps[I - 2];
    }
  }
  const double Ratio = T / FScale;
  if (X == -1) X = GetViewCenter().X;
  if (Y == -1) Y = GetViewCenter().Y;
  if (T == FScale) return;
  SetScale(T);
  CenterOn(TPoint{Trunc(X * Ratio), Trunc(Y * Ratio)});
}

std::string TCustomKestImage::GetScaleText() const { return Format("%.0f%%", {FScale * 100}); }

void TCustomKestImage::SetScaleText(const std::string& Text) {
  std::int64_t N = 0;
  bool Any = false;
  for (char C : Text) {
    if (C < '0' || C > '9') continue;
    Any = true;
    N = N * 10 + (C - '0');
    if (N > std::numeric_limits<std::int32_t>::max()) {
      N = 0;  // outside a signed 32-bit number: no value
      break;
    }
  }
  if (Any && N > 0) SetScale(static_cast<double>(N) / 100);
}

void TCustomKestImage::SetStandardScales(const TStrings& Value) {
  const std::vector<std::string> Entries = Value.ToVector();
  for (const std::string& E : Entries) {
    double V;
    if (!TryStrToFloat(E, V)) throw Exception(Format("'%s' is not a valid Scale value.", {E}));
  }
  FStandardScales->Clear();
  for (const std::string& E : Entries) FStandardScales->Add(E);
}

// ---------------------------------------------------------------------------
// Geometry

void TCustomKestImage::UpdateLayout() {
  FLayoutSize = TPoint{FPicture->Width(), FPicture->Height()};
  FRelayoutPosted = false;
  TPoint M{-1, -1};
  if (FScaleMode != smStretch) {
    const TPoint D = DisplayedSize();
    TPoint C{ClientWidth(), ClientHeight()};
    // A picture that fits the client area once the bars are hidden needs no
    // bars: it is measured against that area, so the bars go instead of
    // scrolling the picture by their own thickness.
    if (FHideScrollBars) {
      const TPoint B = ClientSizeWithoutBars();
      if (D.X <= B.X && D.Y <= B.Y) C = B;
    }
    const std::int64_t Dx = std::int64_t{D.X} - C.X, Dy = std::int64_t{D.Y} - C.Y;
    M = FScaleMode == smResize ? TPoint{Hold(-std::llabs(Dx)), Hold(-std::llabs(Dy))} : TPoint{Hold(Dx), Hold(Dy)};
  }
  SetMaxOffset(M);
  RebuildCache();
}

void TCustomKestImage::SetMaxOffset(TPoint M) {
  if (M == FMaxOffset) return;
  FMaxOffset = M;
  if (M.X < 0 || M.Y < 0) {
    ScrollTo(FOffset);
  } else {
    if (std::abs(FOffset.X) > M.X) FOffset.X = M.X;
    if (std::abs(FOffset.Y) > M.Y) FOffset.Y = M.Y;
  }
  UpdateScrollBars();
  Invalidate();
  DoOffsetChange();
}

TPoint TCustomKestImage::GetAlignedOffset() const {
  switch (FImageAlignment) {
    case iaTopLeft: return UseRightToLeftAlignment() ? TPoint{FMaxOffset.X, 0} : TPoint{0, 0};
    case iaCenter: return TPoint{Div2(FMaxOffset.X), Div2(FMaxOffset.Y)};
    case iaTopRight: return UseRightToLeftAlignment() ? TPoint{0, 0} : TPoint{FMaxOffset.X, 0};
  }
  return TPoint{0, 0};
}

void TCustomKestImage::ScrollTo(TPoint P) {
  TPoint N = P;
  const TPoint A = GetAlignedOffset();
  if (FMaxOffset.X < 0) {
    N.X = A.X;
  } else {
    if (N.X > FMaxOffset.X) N.X = FMaxOffset.X;
    if (N.X < 0) N.X = 0;
  }
  if (FMaxOffset.Y < 0) {
    N.Y = A.Y;
  } else {
    if (N.Y > FMaxOffset.Y) N.Y = FMaxOffset.Y;
    if (N.Y < 0) N.Y = 0;
  }
  if (N == FOffset) return;
  const std::int64_t Dx = std::int64_t{N.X} - FOffset.X, Dy = std::int64_t{N.Y} - FOffset.Y;
  // A move of at most half the client area keeps the pixels on screen and
  // paints only the strip it uncovers; a larger jump repaints everything.
  if (std::llabs(Dx) > Div2(ClientWidth()) || std::llabs(Dy) > Div2(ClientHeight()))
    Invalidate();
  else
    ScrollWindowEx(Handle(), ClampToInt(-Dx), ClampToInt(-Dy), nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
  FOffset = N;
  SyncScrollPositions();
  DoOffsetChange();
}

TPoint TCustomKestImage::GetViewCenter() {
  return TPoint{ClampToInt(std::int64_t{Div2(ClientWidth())} + FOffset.X),
                ClampToInt(std::int64_t{Div2(ClientHeight())} + FOffset.Y)};
}

void TCustomKestImage::CenterOn(TPoint P) {
  ScrollTo(TPoint{ClampToInt(std::int64_t{P.X} - Div2(ClientWidth())),
                  ClampToInt(std::int64_t{P.Y} - Div2(ClientHeight()))});
}

TRect TCustomKestImage::GetImageRect() {
  const std::int32_t W = FPicture->Width(), H = FPicture->Height();
  if (W == 0 || H == 0) return TRect{};
  if (FScaleMode == smStretch) return TRect{0, 0, ClientWidth(), ClientHeight()};
  const TPoint D = DisplayedSize();
  return TRect{ClampToInt(-std::int64_t{FOffset.X}), ClampToInt(-std::int64_t{FOffset.Y}),
               ClampToInt(std::int64_t{D.X} - FOffset.X), ClampToInt(std::int64_t{D.Y} - FOffset.Y)};
}

void TCustomKestImage::SetImageAlignment(TImageAlignment V) {
  EraseBackground();
  FImageAlignment = V;
  FOffset = GetAlignedOffset();
  SyncScrollPositions();
  DoOffsetChange();
  Invalidate();
}

void TCustomKestImage::SetScaleMode(TScaleMode V) {
  if (V == FScaleMode) return;
  FScaleMode = V;
  UpdateLayout();
  ScrollTo(GetAlignedOffset());
  EraseBackground();
  Invalidate();
}

void TCustomKestImage::WMSize() {
  const TPoint Old = FMaxOffset;
  UpdateLayout();
  if ((Old.X <= 0 || Old.Y <= 0) && (FMaxOffset.X > 0 || FMaxOffset.Y > 0)) SetImageAlignment(FImageAlignment);
}

// ---------------------------------------------------------------------------
// Scroll bars

void TCustomKestImage::CreateParams(TCreateParams& Params) {
  TCustomControl::CreateParams(Params);
  Params.Style |= WS_VSCROLL | WS_HSCROLL;
  if (FBorderStyle == bsSingle) {
    Params.Style &= ~WS_BORDER;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
  }
}

void TCustomKestImage::CreateWnd() {
  TCustomControl::CreateWnd();
  UpdateScrollBars();
  UpdateCursor(TShiftState{});
}

std::int32_t TCustomKestImage::DisplayedExtent(bool Horizontal) const {
  const std::int32_t E = Horizontal ? FPicture->Width() : FPicture->Height();
  return FScaleMode == smScale ? Trunc(E * FScale) : Hold(E);
}

void TCustomKestImage::UpdateScrollBars() {
  // Bars of axes that do not scroll first (horizontal, then vertical), then the
  // bars of axes that scroll (vertical, then horizontal). Each call may change
  // the client area and so re-enter the layout through WM_SIZE.
  for (int Bar : {SB_HORZ, SB_VERT}) {
    const std::int32_t M = Bar == SB_HORZ ? FMaxOffset.X : FMaxOffset.Y;
    if (M > 0) continue;
    if (FHideScrollBars) {
      ShowScrollBar(Handle(), Bar, false);
    } else {
      EnableScrollBar(Handle(), Bar, ESB_DISABLE_BOTH);
      ShowScrollBar(Handle(), Bar, true);
    }
  }
  for (int Bar : {SB_VERT, SB_HORZ}) {
    const bool Horz = Bar == SB_HORZ;
    if ((Horz ? FMaxOffset.X : FMaxOffset.Y) <= 0) continue;
    SCROLLINFO Info;
    Info.cbSize = sizeof(SCROLLINFO);
    Info.fMask = SIF_ALL;
    Info.nMin = 0;
    Info.nMax = DisplayedExtent(Horz) - 1;
    const std::int32_t Page = Horz ? ClientWidth() : ClientHeight();
    (Horz ? FPageSize.X : FPageSize.Y) = Page;
    Info.nPage = static_cast<unsigned>(std::max(Page, 0));
    Info.nPos = Horz ? FOffset.X : FOffset.Y;
    SetScrollInfo(Handle(), Bar, Info, true);
    EnableScrollBar(Handle(), Bar, ESB_ENABLE_BOTH);
    ShowScrollBar(Handle(), Bar, true);
  }
}

void TCustomKestImage::SyncScrollPositions() {
  SCROLLINFO Info;
  Info.cbSize = sizeof(SCROLLINFO);
  Info.fMask = SIF_POS;
  if (FMaxOffset.Y > 0) {
    Info.nPos = FOffset.Y;
    SetScrollInfo(Handle(), SB_VERT, Info, true);
  }
  if (FMaxOffset.X > 0) {
    Info.nPos = FOffset.X;
    SetScrollInfo(Handle(), SB_HORZ, Info, true);
  }
}

void TCustomKestImage::WMScroll(int Bar, int Code) {
  const bool Horz = Bar == SB_HORZ;
  const std::int32_t Current = Horz ? FOffset.X : FOffset.Y;
  std::int64_t New = Current;
  switch (Code) {
    case SB_LINEUP: New = std::int64_t{Current} - 5; break;
    case SB_LINEDOWN: New = std::int64_t{Current} + 5; break;
    case SB_PAGEUP: New = std::int64_t{Current} - (Horz ? FPageSize.X : FPageSize.Y); break;
    case SB_PAGEDOWN: New = std::int64_t{Current} + (Horz ? FPageSize.X : FPageSize.Y); break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
      // The 16-bit position in the message is never used: the bar's 32-bit
      // track position reaches the whole range.
      SCROLLINFO Info;
      Info.cbSize = sizeof(SCROLLINFO);
      Info.fMask = SIF_ALL;
      GetScrollInfo(Handle(), Bar, Info);
      New = Info.nTrackPos;
      break;
    }
    case SB_TOP: New = 0; break;
    case SB_BOTTOM: New = Horz ? FMaxOffset.X : FMaxOffset.Y; break;
    default: break;
  }
  const std::int32_t V = ClampToInt(New);
  ScrollTo(Horz ? TPoint{V, FOffset.Y} : TPoint{FOffset.X, V});
}

void TCustomKestImage::SetHideScrollBars(bool V) {
  if (V == FHideScrollBars) return;
  FHideScrollBars = V;
  UpdateScrollBars();
  UpdateLayout();
  ScrollTo(GetAlignedOffset());
}

void TCustomKestImage::SetBorderStyle(TBorderStyle V) {
  if (V == FBorderStyle) return;
  FBorderStyle = V;
  RecreateWnd();
}

void TCustomKestImage::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_SIZE:
      TCustomControl::WndProc(Message);
      WMSize();
      return;
    case WM_HSCROLL:
    case WM_VSCROLL:
      WMScroll(Message.Msg == WM_HSCROLL ? SB_HORZ : SB_VERT, static_cast<int>(Message.WParam & 0xFF));
      return;
    case WM_GETDLGCODE:
      Message.Result = DLGC_WANTARROWS;
      return;
    case CM_BIDIMODECHANGED:
      SetImageAlignment(FImageAlignment);
      UpdateScrollBars();
      return;
    case KM_PICTURERESIZED:
      PictureResized();
      return;
    default:
      TCustomControl::WndProc(Message);
  }
}

// ---------------------------------------------------------------------------
// Picture binding

void TCustomKestImage::SetTransparent(bool V) {
  if (V == FTransparent) return;
  FTransparent = V;
  HandlePictureChange(this);
}

void TCustomKestImage::SetPicture(const TPicture* Value) { FPicture->CopyFrom(Value); }

void TCustomKestImage::HandlePictureChange(TObject*) {
  // A decode of the picture before is over: its busy cursor goes with it.
  if (FShowingBackground) StopShowingBackground();
  if (ComponentState().Contains(csUpdating)) return;
  Updating();
  // The mark is cleared however the handling ends: a mark left set would make
  // the view ignore every later picture.
  struct TUpdatingGuard {
    TComponent* C;
    ~TUpdatingGuard() { C->Updated(); }
  } Guard{this};
  if (TGraphic* G = FPicture->Graphic()) {
    if (!G->Is<TMetafile>() && !G->Is<TIcon>()) G->SetTransparent(FTransparent);
    const bool Opaque =
        !G->Transparent() && G->Width() >= BoundsToClient(Width()) && G->Height() >= BoundsToClient(Height());
    TControlStyle S = ControlStyle();
    SetControlStyle(Opaque ? S.Include(csOpaque) : S.Exclude(csOpaque));
    if (NotifyPaletteChange() && FDrawing) Update();
  } else {
    SetControlStyle(ControlStyle().Exclude(csOpaque));
  }
  if (!FDrawing) Invalidate();
  double S = FLockScale ? FScale : 1.0;
  if (OnPictureScale) {
    OnPictureScale(this, S);
    S = std::isnan(S) ? FScale : std::clamp(S, 0.001, 1000.0);
  }
  if (S != FScale) {
    FScale = S;
    DoScaleChange();
  }
  UpdateLayout();
  SetImageAlignment(FImageAlignment);
}

void TCustomKestImage::PictureProgress(TObject* Sender, TProgressStage Stage, std::uint8_t PercentDone,
                                       bool RedrawNow, const TRect& R, const std::string& Msg) {
  if (Stage == psEnding && FShowingBackground) BackgroundDecodeEnded();
  if (FIncrementalDisplay && RedrawNow) {
    if (NotifyPaletteChange()) {
      Update();
    } else {
      // Painted at once on the whole client area; a paint cycle that is under
      // way (the graphic reports progress while it draws) keeps its clip.
      const QRegion* Clip = Canvas().ClipRegion();
      const std::optional<QRegion> Saved = Clip ? std::optional<QRegion>(*Clip) : std::nullopt;
      Canvas().SetClipRegion(nullptr);
      struct TRestoreClip {
        TCanvas& C;
        const std::optional<QRegion>& R;
        ~TRestoreClip() { C.SetClipRegion(R ? &*R : nullptr); }
      } Restore{Canvas(), Saved};
      Paint();
    }
  }
  if (OnProgress) OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

namespace {
// The part of a W2 x H2 drawing of a W x H picture that shows its area R,
// widened by a pixel on each side for the nearest-neighbour sampling.
TRect ScaledArea(const TRect& R, std::int64_t W, std::int64_t H, std::int64_t W2, std::int64_t H2) {
  auto Down = [](std::int64_t A, std::int64_t B, std::int64_t C) { return ClampToInt(A * B / C - 1); };
  auto Up = [](std::int64_t A, std::int64_t B, std::int64_t C) { return ClampToInt((A * B + C - 1) / C + 1); };
  return TRect{Down(R.Left, W2, W), Down(R.Top, H2, H), Up(R.Right, W2, W), Up(R.Bottom, H2, H)};
}
}  // namespace

void TCustomKestImage::PictureFrame(TObject*, const TRect& R) {
  TGraphic* G = FPicture->Graphic();
  if (!G || R.IsEmpty() || G->Width() <= 0 || G->Height() <= 0) return;
  const std::int64_t W = G->Width(), H = G->Height();
  if (FRenderCacheState != cstNone) {
    // The cache holds the picture at its own or its displayed size: the area
    // is drawn again there, over the background as when the cache is built.
    const TRect Whole{0, 0, FRenderCache->Width(), FRenderCache->Height()};
    const TRect Area = IntersectRect(ScaledArea(R, W, H, Whole.Right, Whole.Bottom), Whole);
    TCanvas& C = FRenderCache->Canvas();
    const QRegion Clip(Area.Left, Area.Top, Area.Width(), Area.Height());
    C.SetClipRegion(&Clip);
    try {
      if (G->Transparent()) {
        const TBrush Saved = C.Brush();
        C.Brush().Color = Color();
        C.Brush().Style = bsSolid;
        C.FillRect(Area);
        C.Brush() = Saved;
      }
      StretchDrawGraphic(C, Whole, G);
    } catch (...) {
      // As when the cache is built: a failed drawing leaves what is there.
    }
    C.SetClipRegion(nullptr);
  }
  const TRect Image = GetImageRect();
  TRect Client = ScaledArea(R, W, H, Image.Width(), Image.Height());
  OffsetRect(Client, Image.Left, Image.Top);
  Client = IntersectRect(Client, Image);
  // Drawn straight from the graphic, a transparent picture needs the
  // background under it first.
  InvalidateRect(this, &Client, FRenderCacheState == cstNone && G->Transparent());
}

bool TCustomKestImage::NotifyPaletteChange() {
  TGraphic* G = FPicture->Graphic();
  if (!Visible() || ComponentState().Contains(csLoading) || !G || !G->PaletteModified()) return false;
  if (!G->Palette()) {
    G->SetPaletteModified(false);
    return false;
  }
  TCustomForm* Form = GetParentForm(this);
  if (!Form || !Form->Active() || !Form->HandleAllocated()) return false;
  if (FDrawing)
    Form->Perform(WM_QUERYNEWPALETTE, 0, 0);
  else
    PostMessage(Form->Handle(), WM_QUERYNEWPALETTE, 0, 0);
  G->SetPaletteModified(false);
  return true;
}

HPALETTE TCustomKestImage::GetPalette() {
  TGraphic* G = FPicture->Graphic();
  return G ? G->Palette() : nullptr;
}

// ---------------------------------------------------------------------------
// Render cache

bool TCustomKestImage::Decoding() const {
  const TGraphic* G = FPicture->Graphic();
  return G && G->BackgroundDecoding();
}

bool TCustomKestImage::AwaitingDecode() {
  TGraphic* G = FPicture->Graphic();
  if (!FBackgroundDecoding || !G) return false;
  G->PlanDrawing(GetImageRect());
  G->StartBackgroundDecode();
  if (!G->BackgroundDecoding()) return false;
  if (!FShowingBackground) {
    FShowingBackground = true;
    FCursorBeforeDecode = Cursor();
    SetCursor(crHourGlass);
  }
  return true;
}

void TCustomKestImage::StopShowingBackground() {
  FShowingBackground = false;
  if (Cursor() == crHourGlass) SetCursor(FCursorBeforeDecode);
}

void TCustomKestImage::BackgroundDecodeEnded() {
  StopShowingBackground();
  RebuildCache();
  Invalidate();
}

void TCustomKestImage::RebuildCache() {
  // Reading a layout sets the picture, the size and the resampling one after
  // another, each of which would build the cache: it is built once, at the end.
  if (ComponentState().Contains(csLoading)) {
    if (FRenderCacheState != cstNone) DropCache();
    FCacheAfterLoading = true;
    return;
  }
  if (FBuildingCache) {
    FRebuildAfterBuild = true;
    return;
  }
  if (AwaitingDecode()) {
    DropCache();
    return;
  }
  // What the cache is built from: a rebuild asked for during the build that
  // finds all of it unchanged would only draw the same pixels again.
  const auto Inputs = [this] {
    return std::make_tuple(FPicture->Graphic(), FPicture->Width(), FPicture->Height(), FScale, FScaleMode,
                           FResampling, Color(), FMaxOffset.X > 0, FMaxOffset.Y > 0);
  };
  const auto Before = Inputs();
  FBuildingCache = true;
  struct TBuildGuard {
    bool& Flag;
    ~TBuildGuard() { Flag = false; }
  } Guard{FBuildingCache};
  switch (FScaleMode) {
    case smNormal: BuildUnscaledCache(); break;
    case smStretch: DropCache(); break;
    case smScale: BuildScaledCache(); break;
    case smResize: DropCache(); break;
  }
  FBuildingCache = false;
  if (std::exchange(FRebuildAfterBuild, false) && Inputs() != Before) {
    RebuildCache();
    return;
  }
  CheckDrawnSize();
}

void TCustomKestImage::Loaded() {
  TCustomControl::Loaded();
  if (!std::exchange(FCacheAfterLoading, false)) return;
  // A layout sets OnProgress after the picture, so the decode that reading
  // the picture starts reaches no handler of the layout; nor does it here,
  // where the owner may not be ready for it yet.
  struct TRestoreHandler {
    TProgressEvent& Event;
    TProgressEvent Saved;
    ~TRestoreHandler() { Event = std::move(Saved); }
  } Restore{OnProgress, std::exchange(OnProgress, nullptr)};
  RebuildCache();
}

void TCustomKestImage::DropCache() {
  FRenderCache->SetSize(1, 1);
  FRenderCache->Dormant();
  FRenderCacheState = cstNone;
}

namespace {
// A graphic that paints every pixel of the rectangle it is drawn into, so the
// cache need not be filled before.
bool CoversWholly(const TGraphic* G) { return G && G->ClassType() == TBitmap::StaticClass() && !G->Transparent(); }

// A graphic that does not draw by stretching pixels: a metafile draws itself
// sharp at any size, an icon at its own size whatever it is given. Enlarging
// its picture at its own size while painting would show what it never draws,
// so when no cache at the displayed size can be had it draws itself.
bool DrawsItself(const TGraphic* G) { return G && (G->Is<TMetafile>() || G->Is<TIcon>()); }
}  // namespace

void TCustomKestImage::PrepareCache(std::int32_t W, std::int32_t H) {
  FRenderCache->SetSize(W, H, false);
  FRenderCache->Canvas().SetResampling(FResampling);
  if (CoversWholly(FPicture->Graphic())) return;
  // What the graphic leaves undrawn shows the background, as on screen when
  // the graphic draws itself; never what an earlier picture left in the cache.
  TCanvas& C = FRenderCache->Canvas();
  const TBrush Saved = C.Brush();
  C.Brush().Color = Color();
  C.Brush().Style = bsSolid;
  C.FillRect(TRect{0, 0, FRenderCache->Width(), FRenderCache->Height()});
  C.Brush() = Saved;
}

void TCustomKestImage::SetColor(TColor C) {
  if (C == Color()) return;
  TCustomControl::SetColor(C);
  if (FRenderCacheState != cstNone && FPicture->Graphic() && !CoversWholly(FPicture->Graphic())) RebuildCache();
}

void TCustomKestImage::CheckDrawnSize() {
  if (FRelayoutPosted || (FPicture->Width() == FLayoutSize.X && FPicture->Height() == FLayoutSize.Y)) return;
  FRelayoutPosted = PostMessage(Handle(), KM_PICTURERESIZED, 0, 0);
}

void TCustomKestImage::PictureResized() {
  FRelayoutPosted = false;
  if (FPicture->Width() == FLayoutSize.X && FPicture->Height() == FLayoutSize.Y) return;
  UpdateLayout();
  SetImageAlignment(FImageAlignment);
}

void TCustomKestImage::BuildUnscaledCache() {
  const std::int32_t W = FPicture->Width(), H = FPicture->Height();
  if (AtCacheLimit(W, H) || (FMaxOffset.X <= 0 && FMaxOffset.Y <= 0)) {
    DropCache();
    return;
  }
  try {
    PrepareCache(W, H);
    DrawGraphic(FRenderCache->Canvas(), 0, 0, FPicture->Graphic());
    FRenderCache->Dormant();
    if (FMaxOffset.X > 0 && FMaxOffset.Y > 0)
      FRenderCacheState = cstUnscaled;
    else
      FRenderCacheState = FMaxOffset.X > 0 ? cstUnscaledHorz : cstUnscaledVert;
  } catch (...) {
    DropCache();
  }
}

void TCustomKestImage::BuildScaledCache() {
  const std::int64_t W = RoundEven(FPicture->Width() * FScale);
  const std::int64_t H = RoundEven(FPicture->Height() * FScale);
  if (AtCacheLimit(W, H)) {
    if (DrawsItself(FPicture->Graphic()))
      DropCache();
    else
      BuildUnscaledCache();
    return;
  }
  if (FMaxOffset.X <= 0 && FMaxOffset.Y <= 0) {
    DropCache();
    return;
  }
  try {
    PrepareCache(static_cast<std::int32_t>(W), static_cast<std::int32_t>(H));
    StretchDrawGraphic(FRenderCache->Canvas(), TRect{0, 0, FRenderCache->Width(), FRenderCache->Height()},
                       FPicture->Graphic());
    FRenderCache->Dormant();
    FRenderCacheState = cstScaled;
  } catch (...) {
    if (DrawsItself(FPicture->Graphic()))
      DropCache();
    else
      BuildUnscaledCache();
  }
}

void TCustomKestImage::SetResampling(TResampling V) {
  if (V == FResampling) return;
  FResampling = V;
  // Only a scaled cache holds resampled pixels; a cache at the picture's own
  // size and direct drawing pick the mode up at the next paint.
  if (FRenderCacheState == cstScaled && !FRenderCache->Empty()) RebuildCache();
  Invalidate();
}

// ---------------------------------------------------------------------------
// Painting

TRect TCustomKestImage::MapToCache(const TRect& R) const {
  TRect M = R;
  OffsetRect(M, FOffset.X, FOffset.Y);
  if (FScaleMode != smScale) return M;
  auto Map = [this](std::int32_t V) { return static_cast<std::int32_t>(RoundEven(V / FScale)); };
  return TRect{Map(M.Left), Map(M.Top), Map(M.Right), Map(M.Bottom)};
}

void TCustomKestImage::Paint() {
  const bool Saved = FDrawing;
  FDrawing = true;
  struct TRestore {
    bool& Flag;
    bool Value;
    ~TRestore() { Flag = Value; }
  } Restore{FDrawing, Saved};

  TCanvas& C = Canvas();
  C.SetResampling(FResampling);
  const TRect Clip = C.ClipRect();
  const TPixelView Cache = FRenderCache->View();
  const TRect Whole{0, 0, Cache.Width, Cache.Height};
  switch (FRenderCacheState) {
    case cstScaled: {
      // The cache holds the picture at its displayed size: a plain copy.
      TRect Src = Clip;
      OffsetRect(Src, FOffset.X, FOffset.Y);
      C.StretchBltFrom(Clip, Cache, Src);
      break;
    }
    case cstUnscaled:
    case cstUnscaledHorz:
    case cstUnscaledVert:
      // The cache holds the picture at its own size. It is stretched over the
      // whole image rectangle and only the clip is written, so that areas
      // painted at different times (the strips that scrolling uncovers) line
      // up exactly, and the picture sits where direct drawing puts it, also on
      // an axis that does not scroll.
      C.StretchBltFrom(GetImageRect(), Cache, Whole);
      break;
    default:
      if (AwaitingDecode()) {
        // Painted over whatever the client area held, also where the view is opaque.
        C.Brush().Color = Color();
        C.Brush().Style = bsSolid;
        C.FillRect(Clip);
        // A draft decoded before stands in for the picture until it arrives;
        // without one, the rows decoded so far, where the graphic shows them.
        if (!FPicture->Graphic()->DrawWhileDecoding(C, GetImageRect()))
          if (TBitmap* Preview = FPicture->Graphic()->BackgroundPreview()) C.StretchDraw(GetImageRect(), Preview);
      } else if (TGraphic* G = FPicture->Graphic()) {
        StretchDrawGraphic(C, GetImageRect(), G);
        CheckDrawnSize();
      }
      break;
  }
}

void TCustomKestImage::EraseBackground() {
  // A paint cycle that erases the whole client area is pending (a window just
  // made or resized): it writes these pixels before anything can show them.
  if (EraseRequested() && InvalidRegion().contains(QRect(0, 0, ClientWidth(), ClientHeight()))) return;
  TCanvas& C = Canvas();
  C.Brush().Color = Color();
  C.Brush().Style = bsSolid;
  C.FillRect(ClientRect());
}

// ---------------------------------------------------------------------------
// Pointer, keys and cursors

void TCustomKestImage::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft && !ComponentState().Contains(csDesigning)) {
    if (TabStop()) SetFocus();
    if (Shift.Contains(ssCtrl)) {
      UpdateCursor(Shift);
      const TPoint Anchor{ClampToInt(std::int64_t{X} + FOffset.X), ClampToInt(std::int64_t{Y} + FOffset.Y)};
      Zoom(Shift.Contains(ssShift) ? zkOut : zkIn, Anchor.X, Anchor.Y);
      // Without key events to correct it later, the cursor returns to the hand now.
      if (!TabStop()) UpdateCursor(TShiftState{});
    } else {
      FDragPoint = TPoint{X, Y};
      FPanning = true;
      UpdateCursor(Shift);
    }
  }
  TCustomControl::MouseDown(Button, Shift, X, Y);
}

void TCustomKestImage::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  if (!FPanning) return;
  ScrollTo(TPoint{ClampToInt(std::int64_t{FOffset.X} + FDragPoint.X - X),
                  ClampToInt(std::int64_t{FOffset.Y} + FDragPoint.Y - Y)});
  // Taken over even when the offset was clamped: turning back moves the picture at once.
  FDragPoint = TPoint{X, Y};
}

void TCustomKestImage::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  FPanning = false;
  UpdateCursor(TabStop() ? Shift : TShiftState{});
  TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TCustomKestImage::KeyDown(std::uint16_t& Key, TShiftState Shift) {
  const bool Line = Shift.Contains(ssCtrl);
  switch (Key) {
    case VK_LEFT: Perform(WM_HSCROLL, Line ? SB_LINEUP : SB_PAGEUP, 0); break;
    case VK_UP: Perform(WM_VSCROLL, Line ? SB_LINEUP : SB_PAGEUP, 0); break;
    case VK_RIGHT: Perform(WM_HSCROLL, Line ? SB_LINEDOWN : SB_PAGEDOWN, 0); break;
    case VK_DOWN: Perform(WM_VSCROLL, Line ? SB_LINEDOWN : SB_PAGEDOWN, 0); break;
    case VK_MULTIPLY: Zoom(zkBestFit, -1, -1); break;
    case VK_ADD: Zoom(zkIn, -1, -1); break;
    case VK_SUBTRACT: Zoom(zkOut, -1, -1); break;
    default: break;
  }
  UpdateCursor(Shift);
}

void TCustomKestImage::KeyUp(std::uint16_t&, TShiftState Shift) { UpdateCursor(Shift); }

void TCustomKestImage::UpdateCursor(TShiftState Shift) {
  if (FShowingBackground)
    SetCursor(crHourGlass);
  else if (Shift.Contains(ssCtrl) && FScaleMode == smScale)
    SetCursor(Shift.Contains(ssShift) ? crZoomOut : crZoomIn);
  else if (FPanning)
    SetCursor(crHandGrab);
  else
    SetCursor(crHand);
}

// ---------------------------------------------------------------------------
// TKestImage: the published properties with their saved defaults.

namespace {
const std::vector<std::string> ScaleModeNames = {"smNormal", "smStretch", "smScale", "smResize"};
const std::vector<std::string> AlignmentNames = {"iaTopLeft", "iaCenter", "iaTopRight"};
const std::vector<std::string> BorderStyleNames = {"bsNone", "bsSingle"};
const std::vector<std::string> ResamplingNames = {"rsNearest", "rsSmooth"};
using K = TCustomKestImage;
}  // namespace

void TKestImage::DefineProperties(TPropList& L) const {
  TCustomKestImage::DefineProperties(L);
  L.push_back(prop::Event("OnScaleChange", &K::OnScaleChange));
  L.push_back(prop::Event("OnOffsetChange", &K::OnOffsetChange));
  L.push_back({"Picture.Data",
               [](const TComponent& O) -> std::optional<TPropValue> {
                 TMemoryStream S;
                 static_cast<const K&>(O).Picture()->WriteStored(S);
                 return TPropValue::OfBinary(S.TakeBytes());
               },
               [](TComponent& O, const TPropValue& P) {
                 auto S = TMemoryStream::Over(P.Bytes);
                 static_cast<K&>(O).Picture()->ReadStored(*S);
               }});
  L.push_back(prop::Bool<K>("HideScrollBars", &K::HideScrollBars, &K::SetHideScrollBars, true));
  L.push_back(prop::Enum<K, TScaleMode>("ScaleMode", &K::ScaleMode, &K::SetScaleMode, ScaleModeNames, smScale));
  L.push_back(prop::Float<K>("Scale", &K::Scale, &K::SetScale, std::nullopt));
  L.push_back(prop::Bool<K>("LockScale", &K::LockScale, &K::SetLockScale, false));
  L.push_back({"StandardScales.Strings",
               [](const TComponent& O) -> std::optional<TPropValue> {
                 return TPropValue::OfList(static_cast<const K&>(O).StandardScales()->ToVector());
               },
               [](TComponent& O, const TPropValue& P) {
                 // Filled in place from the stored strings, without validation.
                 TStringList* L = static_cast<K&>(O).StandardScales();
                 L->Clear();
                 for (const auto& S : P.Items) L->Add(S);
               }});
  L.push_back(prop::Enum<K, TImageAlignment>("ImageAlignment", &K::ImageAlignment, &K::SetImageAlignment,
                                             AlignmentNames, std::nullopt));
  L.push_back(
      prop::Enum<K, TBorderStyle>("BorderStyle", &K::BorderStyle, &K::SetBorderStyle, BorderStyleNames, bsSingle));
  L.push_back(prop::Bool<K>("IncrementalDisplay", &K::IncrementalDisplay, &K::SetIncrementalDisplay, false));
  L.push_back(prop::Bool<K>("Transparent", &K::Transparent, &K::SetTransparent, false));
  L.push_back(prop::Bool<K>("BackgroundDecoding", &K::BackgroundDecoding, &K::SetBackgroundDecoding, false));
  L.push_back(prop::Event("OnProgress", &K::OnProgress));
  L.push_back(prop::Enum<K, TResampling>("Resampling", &K::Resampling, &K::SetResampling, ResamplingNames, rsNearest));
  PublishAlign(L);
  PublishColor(L);
  PublishBiDiMode(L);
  PublishAnchors(L);
  PublishConstraints(L);
  PublishDrag(L);
  PublishEnabled(L);
  PublishParentShowHint(L);
  PublishPopupMenu(L);
  PublishShowHint(L);
  PublishTabStop(L);
  PublishVisible(L);
  PublishMouseEvents(L);
  PublishWheelEvents(L);
}

// ---------------------------------------------------------------------------
// Unit start-up and shutdown

namespace {
int GStartupCounter = 0;
}

void InitializeKestImageUnit() {
  // Only the first start-up registers; later ones only count.
  if (GStartupCounter-- != 0) return;
  RegisterClass(TKestImage::StaticClass());
  RegisterKestImageCursors();
}

void FinalizeKestImageUnit() { ++GStartupCounter; }
