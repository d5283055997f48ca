// Drawing surfaces: the canvas with its brush, pen and font, and palettes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QRegion>

#include "toolkit/Blit.h"
#include "toolkit/Classes.h"

class QImage;
class QPainter;
class TCanvas;

// What the program knows of the display: its logical pixels per inch and its
// colour depth. Fixed so that drawing is the same on every machine; tests may
// change them (for example to try the paths for 8-bit screens).
struct TDisplayInfo {
  int PixelsPerInch = 96;
  int BitsPerPixel = 32;
  int Planes = 1;
};
TDisplayInfo& DisplayInfo();

// A logical palette: up to 256 colours (0x00RRGGBB). Realising a palette is a
// no-op on screens deeper than 8 bits.
class TPalette {
 public:
  explicit TPalette(std::vector<std::uint32_t> Entries) : FEntries(std::move(Entries)) {}
  const std::vector<std::uint32_t>& Entries() const { return FEntries; }

 private:
  std::vector<std::uint32_t> FEntries;
};
// A palette handle: null means "no palette".
using HPALETTE = const TPalette*;

// The 256-colour halftone palette.
std::unique_ptr<TPalette> CreateHalftonePalette();

// Anything that can draw itself onto a canvas at a rectangle: the canvas's
// Draw and StretchDraw take one.
class TCanvasDrawable {
 public:
  virtual ~TCanvasDrawable() = default;
  virtual bool Empty() const = 0;
  virtual std::int32_t Width() const = 0;
  virtual std::int32_t Height() const = 0;
  virtual void DrawInto(TCanvas& ACanvas, const TRect& R) = 0;
};

enum TBrushStyle : std::uint8_t { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
enum TPenStyle : std::uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TFontStyle : std::uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;

class TBrush {
 public:
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

class TPen {
 public:
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
};

class TFont : public TPersistent {
 public:
  std::string Name = "MS Sans Serif";
  int Height = -11;  // negative: character height in pixels
  TColor Color = clWindowText;
  TFontStyles Style;
  int Charset = 1;  // default character set

  // The size in points at the screen's pixels per inch.
  int Size() const;
  void SetSize(int Points);
  void Assign(const TPersistent* Source) override;
  // The Qt font that shows this font on this machine (the closest installed family).
  class QFont ToQFont() const;
};

// Raster operation of a canvas copy; only plain copying is used.
enum TCopyMode : std::uint32_t { cmSrcCopy = 0x00CC0020 };

// A drawing surface over a 32-bit pixel image (a window's client surface or a
// bitmap). Drawing happens at once; during a window's paint cycle it is clipped
// to the area being painted.
class TCanvas : public TPersistent {
 public:
  using TSurfaceProvider = std::function<QImage*()>;
  explicit TCanvas(TSurfaceProvider Provider, int BitsPerPixel = 32);
  ~TCanvas() override;

  TBrush& Brush() { return FBrush; }
  TPen& Pen() { return FPen; }
  TFont& Font() { return FFont; }
  TCopyMode CopyMode() const { return FCopyMode; }
  void SetCopyMode(TCopyMode M) { FCopyMode = M; }
  // How graphics drawn smaller than their size pick their pixels (nearest by
  // default); canvas copies (CopyRect) always sample.
  TResampling Resampling() const { return FResampling; }
  void SetResampling(TResampling R) { FResampling = R; }

  // The surface's background and text colours: a monochrome bitmap is drawn in
  // them (text colour for 0 bits, background colour for 1 bits).
  TColor BackgroundColor() const { return FBkColor; }
  void SetBackgroundColor(TColor C) { FBkColor = C; }
  TColor TextColor() const { return FTextColor; }
  void SetTextColor(TColor C) { FTextColor = C; }

  // The bounding box of the area drawing may touch (the whole surface when no clip is set).
  TRect ClipRect() const;
  // Limits drawing to a region (an empty optional lifts the limit).
  void SetClipRegion(const QRegion* Region);
  const QRegion* ClipRegion() const { return FHasClip ? &FClip : nullptr; }

  void FillRect(const TRect& R);
  void Rectangle(const TRect& R);
  void MoveTo(int X, int Y);
  void LineTo(int X, int Y);
  void TextOut(int X, int Y, const std::string& Text);
  // Draws the graphic at its own size with its top-left corner at (X, Y);
  // nothing when it is absent or empty.
  void Draw(int X, int Y, TCanvasDrawable* Graphic);
  // Draws the graphic into R; nothing when it is absent.
  void StretchDraw(const TRect& R, TCanvasDrawable* Graphic);
  // Copies Src's rectangle SrcRect into Dest, stretching nearest-neighbour.
  void CopyRect(const TRect& Dest, TCanvas& Src, const TRect& SrcRect);
  // Copies from a pixel view, stretching, with options.
  void StretchBltFrom(const TRect& Dest, const TPixelView& Src, const TRect& SrcRect, const TBlitOptions& O = {});

  TColor Pixels(int X, int Y);
  void SetPixels(int X, int Y, TColor C);

  // The pixel image drawn on; null when the surface has no pixels.
  QImage* Surface() const { return FProvider(); }
  // Where the surface's size can be had without its pixels (a window's,
  // which are made ready only when first wanted).
  using TSizeProvider = std::function<QSize()>;
  void SetSizeProvider(TSizeProvider P) { FSizeProvider = std::move(P); }
  // Bits per pixel of the device the canvas stands for (windows: the screen's).
  int BitsPerPixel() const { return FBitsPerPixel; }
  void SetBitsPerPixel(int B) { FBitsPerPixel = B; }

  // A painter on the surface, clipped as the canvas is; for drawing that the
  // canvas itself does not offer (metafile playback, text).
  void WithPainter(const std::function<void(QPainter&)>& Fn);

 private:
  TSurfaceProvider FProvider;
  TSizeProvider FSizeProvider;
  int FBitsPerPixel;
  TBrush FBrush;
  TPen FPen;
  TFont FFont;
  TCopyMode FCopyMode = cmSrcCopy;
  TResampling FResampling = rsNearest;
  TColor FBkColor = clWhite;
  TColor FTextColor = clBlack;
  QRegion FClip;
  bool FHasClip = false;
  TPoint FPenPos;
};
