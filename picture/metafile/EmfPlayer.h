// Our own player of enhanced metafile records onto a QPainter. The metafile's
// frame is mapped onto a destination rectangle; every record's size is checked
// before it is read, object-table indices are checked, and the device-context
// state is a value on a stack.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QTransform>

#include "picture/Limits.h"
#include "picture/metafile/EmfFile.h"
#include "toolkit/Types.h"

class QPainter;
class TByteReader;

// The objects of the object table, kept by value: selecting one copies it into
// the device-context state, so deleting it later does not disturb drawing.
struct TEmfPen {
  std::uint32_t Style = 0;    // PS_ style, end cap, join and type bits
  double Width = 0;           // logical units; 0 draws one pixel wide
  std::uint32_t Color = 0;    // 0x00BBGGRR
  std::vector<double> Dashes; // user style, in logical units
  bool Cosmetic = true;
};

struct TEmfBrush {
  std::uint32_t Style = 0;  // BS_ style
  std::uint32_t Color = 0xFFFFFF;
  std::uint32_t Hatch = 0;
  std::shared_ptr<const QImage> Pattern;  // pattern brushes
  bool Monochrome = false;                // pattern drawn in the text and background colours
};

struct TEmfFont {
  std::int32_t Height = 0, Width = 0, Escapement = 0, Orientation = 0, Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  std::uint8_t Charset = 1, PitchAndFamily = 0;
  QString Face;
};

struct TEmfPaletteObject {
  std::vector<std::uint32_t> Entries;  // 0x00RRGGBB
};

struct TDcState {
  std::uint32_t MapMode = 1;
  double WinOrg[2] = {0, 0}, WinExt[2] = {1, 1};
  double VpOrg[2] = {0, 0}, VpExt[2] = {1, 1};
  QTransform World;
  std::uint32_t GraphicsMode = 1;
  TEmfPen Pen;
  TEmfBrush Brush;
  TEmfFont Font;
  std::shared_ptr<const TEmfPaletteObject> Palette;
  std::uint32_t TextColor = 0, BkColor = 0xFFFFFF;
  std::uint32_t BkMode = 2, TextAlign = 0, PolyFillMode = 1, Rop2 = 13, ArcDirection = 1;
  double MiterLimit = 10;
  QPointF CurPos;  // logical
  // The clip in metafile device units; a rectangle is kept as such because
  // the painter clips to rectangles much faster than to paths.
  bool HasClip = false;
  bool ClipIsRect = false;
  QRectF ClipRect;
  QPainterPath Clip;
};

class TEmfPlayer {
 public:
  TEmfPlayer(std::span<const std::uint8_t> Emf, QPainter& Painter);
  ~TEmfPlayer();

  // Plays the records with the frame mapped onto the rectangle, whose bounds
  // are inclusive on all four sides.
  void Play(const TRect& Inclusive);

 private:
  using TObjectSlot = std::variant<std::monostate, TEmfPen, TEmfBrush, TEmfFont, std::shared_ptr<const TEmfPaletteObject>>;

  void Dispatch(std::uint32_t Type, TByteReader& R);
  // State and transforms.
  void DoSaveDC();
  void DoRestoreDC(std::int32_t Relative);
  void SetMapMode(std::uint32_t Mode);
  void UpdateTransform();
  QTransform PageToDevice() const;
  void ModifyWorld(TByteReader& R);
  // Objects.
  void CreatePen(TByteReader& R);
  void ExtCreatePen(TByteReader& R);
  void CreateBrush(TByteReader& R);
  void CreatePatternBrush(TByteReader& R, bool Mono);
  void CreateFont(TByteReader& R);
  void CreatePalette(TByteReader& R);
  void SelectObject(std::uint32_t Index);
  void DeleteObject(std::uint32_t Index);
  TObjectSlot* Slot(std::uint32_t Index, bool ForCreation);
  // Drawing.
  QPen MakePen() const;
  QBrush MakeBrush(const TEmfBrush& B) const;
  void ApplyDrawingState(bool Stroke, bool Fill);
  // Whether a figure with an outline (Stroke) and an interior (Fill) shows
  // anything with the current pen, brush and mix mode; narrows both to what shows.
  bool Visible(bool& Stroke, bool& Fill) const;
  void DrawShape(const QPainterPath& Logical, bool Stroke, bool Fill);
  void Poly(TByteReader& R, std::uint32_t Type, bool Short);
  void PolyPoly(TByteReader& R, bool Polygon, bool Short);
  void PolyDraw(TByteReader& R, bool Short);
  void Box(TByteReader& R, std::uint32_t Type);
  void ArcLike(TByteReader& R, std::uint32_t Type);
  void AngleArc(TByteReader& R);
  void LineTo(QPointF P);
  void SetPixel(TByteReader& R);
  // Paths.
  void AddToPath(const QPainterPath& Logical);
  void PathOutline(std::uint32_t Type);
  // Clipping and regions.
  std::optional<QPainterPath> ReadRegion(TByteReader& R, std::uint32_t Size);
  void CombineClip(const QPainterPath& Device, std::uint32_t Mode);
  void ClipRect(TByteReader& R, bool Exclude);
  void ApplyClip();
  void RegionRecord(TByteReader& R, std::uint32_t Type);
  // Text.
  void ExtTextOut(TByteReader& R, bool Wide);
  void SmallTextOut(TByteReader& R);
  void PolyTextOut(TByteReader& R, bool Wide);
  void DrawText(QPointF Ref, const QString& Text, const std::vector<double>& Dx, std::uint32_t Options,
                const std::optional<QRectF>& Rect, std::uint32_t GraphicsMode);
  // The font that shows the selected one at the surface's scales; none when its size is out of reach.
  std::optional<QFont> TextFont(double SX, double SY) const;
  // Bitmaps.
  void BitBlt(TByteReader& R, std::uint32_t Type);
  void StretchDIBits(TByteReader& R);
  void SetDIBitsToDevice(TByteReader& R);
  void MaskBlt(TByteReader& R);
  void AlphaBlend(TByteReader& R);
  void TransparentBlt(TByteReader& R);
  void DrawImage(const QRectF& Logical, const QImage& Image, std::uint32_t Rop);
  void PatBlt(const QRectF& Logical, std::uint32_t Rop);
  void GradientFill(TByteReader& R);
  QImage DecodeBitmap(TByteReader& R, std::uint32_t OffBmi, std::uint32_t CbBmi, std::uint32_t OffBits,
                      std::uint32_t CbBits, std::uint32_t Usage, const QRect* SrcRect = nullptr,
                      bool KeepAlpha = false, std::int32_t Rows = 0);

  QPointF ReadPoint(TByteReader& R, bool Short);
  QRectF ReadRectL(TByteReader& R);
  double LogicalScale() const;
  QColor Color(std::uint32_t ColorRef) const;

  std::span<const std::uint8_t> FEmf;
  QPainter& FPainter;
  TEmfHeader FHeader;
  TDcState FState;
  std::vector<TDcState> FSaved;
  std::vector<TObjectSlot> FObjects;
  QTransform FDeviceToSurface;
  QTransform FLogicalToDevice;
  QTransform FFull;  // logical to surface
  bool FFullValid = true;  // finite and not singular: anything drawn can show
  bool FTransformDirty = true;
  // The pen, brush and composition last given to the painter, for the state
  // version they were made from: drawing records in a row reuse them.
  std::uint64_t FPaintVersion = 0;
  struct {
    bool Valid = false, Stroke = false, Fill = false;
    std::uint64_t Version = 0;
  } FApplied;
  void PaintChanged() { ++FPaintVersion; }
  // The painter's clip when playback began, which every clip of ours is within.
  bool FHasBaseClip = false;
  QRegion FBaseClip;
  bool FClipDirty = false;
  // The path being recorded, in device units.
  bool FInPath = false;
  QPainterPath FPath;
  std::vector<QPointF> FPoints;  // reused point buffer
  double FDevicePerMM[2] = {1, 1};
};
