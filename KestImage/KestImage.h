// The image view: a windowed control that shows one picture in a scrollable
// client area, zoomed, fitted, stretched or aligned, panned by dragging and
// zoomed by Ctrl-click, painted from an off-screen render cache.
//
// This header brings everything a host needs: the control, its picture
// container and the graphic classes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "picture/Bitmap.h"
#include "picture/FileFormats.h"
#include "picture/Graphic.h"
#include "picture/icon/Icon.h"
#include "picture/metafile/Metafile.h"
#include "toolkit/Classes.h"
#include "toolkit/Controls.h"
#include "toolkit/Forms.h"

enum TScaleMode : std::uint8_t { smNormal, smStretch, smScale, smResize };
enum TImageAlignment : std::uint8_t { iaTopLeft, iaCenter, iaTopRight };
enum TZoomKind : std::uint8_t { zkIn, zkOut, zkBestFit };

// What the render cache holds and how painting uses it.
enum TCacheState : std::uint8_t {
  cstScaled,        // the picture at its displayed size (at least one axis scrolls)
  cstUnscaled,      // the picture at its own size, both axes scroll
  cstNone,          // nothing: the graphic draws itself on each paint
  cstUnscaledHorz,  // own size, only the horizontal axis scrolls
  cstUnscaledVert,  // own size, only the vertical axis scrolls
};

// The view's cursors in the screen-wide cursor table.
constexpr TCursor crZoomIn = 1301;
constexpr TCursor crZoomOut = 1302;
constexpr TCursor crHand = 1303;
constexpr TCursor crHandGrab = 1304;

// A render cache of this many pixels or more is never built.
constexpr std::int64_t MaxRenderCachePixels = 12 * 1048576;

class TCustomKestImage : public TCustomControl {
  KEST_CLASS(TCustomKestImage)
 public:
  explicit TCustomKestImage(TComponent* AOwner);
  ~TCustomKestImage() override;

  // --- Properties --------------------------------------------------------
  bool IncrementalDisplay() const { return FIncrementalDisplay; }
  void SetIncrementalDisplay(bool V) { FIncrementalDisplay = V; }
  // On: the first drawing of a graphic that decodes then starts its decode on
  // a worker thread and returns at once; the view shows its background until
  // the decode ends (its progress notifications still arrive, on this
  // thread), then the picture. Off (the default): the first drawing decodes.
  bool BackgroundDecoding() const { return FBackgroundDecoding; }
  void SetBackgroundDecoding(bool V) { FBackgroundDecoding = V; }
  // A decode of the shown picture runs on a worker thread.
  bool Decoding() const;
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool V);
  // The shown picture, owned by the view; files are loaded into it.
  TPicture* Picture() const { return FPicture.get(); }
  // Copies the content of the given picture; the caller keeps its object.
  void SetPicture(const TPicture* Value);
  bool HideScrollBars() const { return FHideScrollBars; }
  void SetHideScrollBars(bool V);
  double Scale() const { return FScale; }
  void SetScale(double V);
  TScaleMode ScaleMode() const { return FScaleMode; }
  void SetScaleMode(TScaleMode V);
  // The zoom steps as decimal texts, kept sorted as text; a read returns the
  // view's own list.
  TStringList* StandardScales() const { return FStandardScales.get(); }
  // Validates every entry, then copies the list.
  void SetStandardScales(const TStrings& Value);
  bool LockScale() const { return FLockScale; }
  void SetLockScale(bool V) { FLockScale = V; }
  TImageAlignment ImageAlignment() const { return FImageAlignment; }
  void SetImageAlignment(TImageAlignment V);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle V);
  // How a picture shown smaller than its size is resampled: rsNearest (one
  // picture pixel per screen pixel) or rsSmooth (each screen pixel the mean of
  // the picture pixels it covers). Larger than its size it shows whole pixels
  // either way.
  TResampling Resampling() const { return FResampling; }
  void SetResampling(TResampling V);

  // --- Scale and zoom steps ----------------------------------------------
  // One step through StandardScales (or a best fit) about the anchor (X, Y) in
  // displayed-picture pixels; -1 on an axis means the view centre on that axis.
  void Zoom(TZoomKind Kind, std::int32_t X, std::int32_t Y);
  double GetFitScale();
  std::string GetScaleText() const;
  void SetScaleText(const std::string& Text);

  // --- Geometry ------------------------------------------------------------
  void UpdateLayout();
  void SetMaxOffset(TPoint M);
  TPoint GetAlignedOffset() const;
  void ScrollTo(TPoint P);
  TPoint GetViewCenter();
  void CenterOn(TPoint P);
  TRect GetImageRect();
  TPoint Offset() const { return FOffset; }
  TPoint MaxOffset() const { return FMaxOffset; }

  // --- Scroll bars ---------------------------------------------------------
  void UpdateScrollBars();
  void SyncScrollPositions();
  TPoint PageSize() const { return FPageSize; }

  // --- Picture binding, cache and painting --------------------------------
  virtual void HandlePictureChange(TObject* Sender);
  virtual void DoScaleChange();
  virtual void DoOffsetChange();
  virtual void PictureProgress(TObject* Sender, TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow,
                               const TRect& R, const std::string& Msg);
  // A new frame of an animated picture changed R (picture pixels): that area
  // is drawn again in the render cache and repainted; zoom, offset and layout stay.
  virtual void PictureFrame(TObject* Sender, const TRect& R);
  bool NotifyPaletteChange();
  void RebuildCache();
  void EraseBackground();
  // The cache rectangle that a client rectangle shows with an unscaled cache:
  // shifted by the offset and, when zoomed, divided by the scale, each
  // coordinate rounded to nearest (ties to even).
  TRect MapToCache(const TRect& R) const;
  TCacheState RenderCacheState() const { return static_cast<TCacheState>(FRenderCacheState); }
  const TBitmap& RenderCache() const { return *FRenderCache; }
  bool Drawing() const { return FDrawing; }
  bool Panning() const { return FPanning; }

  // --- Pointer, keys and cursors -------------------------------------------
  void UpdateCursor(TShiftState Shift);

  // Events, in declaration order with the fields below.
  TNotifyEvent OnScaleChange;
  TNotifyEvent OnOffsetChange;
  // Chooses the scale a new picture is shown at: Scale arrives as the view
  // chooses it (1.0, or the scale kept by LockScale) and may be changed.
  // Unassigned (the default), the view's own choice holds.
  std::function<void(TObject* Sender, double& Scale)> OnPictureScale;

 protected:
  bool FIncrementalDisplay = false;
  bool FTransparent = false;
  bool FDrawing = false;
  std::unique_ptr<TPicture> FPicture;

 public:
  TProgressEvent OnProgress;

 protected:
  std::unique_ptr<TBitmap> FRenderCache;
  std::uint8_t FRenderCacheState = 0;
  bool FHideScrollBars = false;
  TPoint FOffset;
  TPoint FMaxOffset;
  bool FPanning = false;
  TPoint FDragPoint;
  TPoint FPageSize;
  double FScale = 0;
  TScaleMode FScaleMode = smNormal;
  std::unique_ptr<TStringList> FStandardScales;
  bool FLockScale = false;
  TImageAlignment FImageAlignment = iaTopLeft;
  TBorderStyle FBorderStyle = bsNone;
  TResampling FResampling = rsNearest;

  // Toolkit hooks.
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  // The view's pixels are the screen's: at 100 % one picture pixel is one pixel of the screen.
  bool ClientInDevicePixels() const override { return true; }
  void Paint() override;
  HPALETTE GetPalette() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void KeyDown(std::uint16_t& Key, TShiftState Shift) override;
  void KeyUp(std::uint16_t& Key, TShiftState Shift) override;
  void WndProc(TMessage& Message) override;

 private:
  void WMSize();
  void WMScroll(int Bar, int Code);
  void DropCache();
  void BuildUnscaledCache();
  void BuildScaledCache();
  // Sizes the cache for drawing the graphic into all of it; the background
  // colour goes first where the graphic may leave pixels undrawn.
  void PrepareCache(std::int32_t W, std::int32_t H);
  // The picture's displayed extent on an axis for the scroll bars.
  std::int32_t DisplayedExtent(bool Horizontal) const;
  // The picture's displayed width and height in the current mode, held within
  // +-2^30 whatever size the graphic reports.
  TPoint DisplayedSize();
  // The client size once bars that the view may hide are hidden.
  TPoint ClientSizeWithoutBars();
  // A graphic that learns its size at its first drawing (an icon) makes the
  // view lay itself out again, posted so that no paint is re-entered.
  void CheckDrawnSize();
  void PictureResized();
  // With background decoding: starts the graphic's decode if it has yet to
  // decode; true while that decode runs (the graphic cannot be drawn yet).
  bool AwaitingDecode();
  // The picture of a finished background decode replaces the background.
  void BackgroundDecodeEnded();
  // Ends the background and busy cursor shown for a decode.
  void StopShowingBackground();

  TPoint FLayoutSize;
  bool FRelayoutPosted = false;
  bool FBackgroundDecoding = false;
  // The view shows its background in place of a picture being decoded.
  bool FShowingBackground = false;
  // The cursor the busy cursor stands in for while a background decode runs.
  TCursor FCursorBeforeDecode = crDefault;
  // The cache was asked for while a stored layout was read: it is built once
  // when reading ends, not again for every property read.
  bool FCacheAfterLoading = false;
  // A cache build is under way; a rebuild asked for meanwhile (a graphic that
  // reports a change when its first drawing decodes it) is done after it,
  // and only if what the cache is built from has changed.
  bool FBuildingCache = false;
  bool FRebuildAfterBuild = false;

 public:
  // A cache that holds background pixels is drawn again in the new colour.
  void SetColor(TColor C) override;
  // Builds the cache that reading the layout asked for.
  void Loaded() override;
};

// The published face of the view: properties visible to stored layouts, with
// their saved defaults.
class TKestImage : public TCustomKestImage {
  KEST_CLASS(TKestImage)
 public:
  explicit TKestImage(TComponent* AOwner) : TCustomKestImage(AOwner) {}

 protected:
  void DefineProperties(TPropList& L) const override;
};

// Start-up and shutdown of the view's unit: registers its four cursors once in
// the screen-wide cursor table (a start-up counter guards the step) and its
// classes for stored layouts.
void InitializeKestImageUnit();
void FinalizeKestImageUnit();
