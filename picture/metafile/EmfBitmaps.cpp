// Bitmap records, raster operations, alpha blending and gradient fills of the player.
#include <algorithm>
#include <cmath>

#include <QLinearGradient>
#include <QPainter>

#include "toolkit/ByteReader.h"
#include "picture/Dib.h"
#include "picture/metafile/EmfPlayer.h"
#include "picture/metafile/EmfRecords.h"

using namespace emf;

namespace {

// The painter's composition for a ternary raster operation with a source
// bitmap. Operations that also involve the brush are drawn as a plain copy.
QPainter::CompositionMode SourceRop(std::uint32_t Rop) {
  switch (Rop) {
    case SRCPAINT: return QPainter::RasterOp_SourceOrDestination;
    case SRCAND: return QPainter::RasterOp_SourceAndDestination;
    case SRCINVERT: return QPainter::RasterOp_SourceXorDestination;
    case SRCERASE: return QPainter::RasterOp_SourceAndNotDestination;
    case NOTSRCCOPY: return QPainter::RasterOp_NotSource;
    case NOTSRCERASE: return QPainter::RasterOp_NotSourceAndNotDestination;
    case MERGEPAINT: return QPainter::RasterOp_NotSourceOrDestination;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

// The raster operation that leaves the destination as it is.
constexpr std::uint32_t DSTCOPY = 0x00AA0029;

// The fields that the bit-block transfer records share: destination, raster
// operation (or blend function, or transparent colour), source point and
// transform, and where the bitmap lies in the record; the source size for the
// stretching ones, the destination size for the others.
struct TBltFields {
  QRectF Dest;
  std::uint32_t Rop = 0;
  QRectF Src;
  QTransform SrcXForm;
  std::uint32_t Usage = 0, OffBmi = 0, CbBmi = 0, OffBits = 0, CbBits = 0;
};

TBltFields ReadBlt(TByteReader& R, bool HasSrcSize) {
  TBltFields F;
  R.Skip(16);  // bounds
  const double XD = R.I32(), YD = R.I32(), CXD = R.I32(), CYD = R.I32();
  F.Dest = QRectF(XD, YD, CXD, CYD);
  F.Rop = R.U32();
  const double XS = R.I32(), YS = R.I32();
  const double M11 = R.F32(), M12 = R.F32(), M21 = R.F32(), M22 = R.F32(), Dx = R.F32(), Dy = R.F32();
  F.SrcXForm = QTransform(M11, M12, M21, M22, Dx, Dy);
  R.Skip(4);  // background colour of the source
  F.Usage = R.U32();
  F.OffBmi = R.U32();
  F.CbBmi = R.U32();
  F.OffBits = R.U32();
  F.CbBits = R.U32();
  double CXS = CXD, CYS = CYD;
  if (HasSrcSize) {
    CXS = R.I32();
    CYS = R.I32();
  }
  F.Src = QRectF(XS, YS, CXS, CYS);
  return F;
}

// A coordinate from a file as an int: limited to a range where sums stay inside int.
int ToInt(double V) {
  if (!(V == V)) return 0;
  constexpr double Max = MaxPixelCoordinate;
  return static_cast<int>(std::clamp(V, -Max, Max));
}

// A part of a bitmap from a file's numbers, kept where its far edges do not
// overflow; it is cut to the bitmap later.
QRect PartRect(std::int64_t X, std::int64_t Y, std::int64_t W, std::int64_t H) {
  auto Pos = [](std::int64_t V) { return static_cast<int>(std::clamp(V, -MaxPixelCoordinate, MaxPixelCoordinate)); };
  auto Len = [](std::int64_t V) { return static_cast<int>(std::clamp<std::int64_t>(V, 0, MaxPixelCoordinate)); };
  return QRect(Pos(X), Pos(Y), Len(W), Len(H));
}

// The source rectangle in the bitmap's pixels, through the source transform.
QRect SourcePart(const TBltFields& F) {
  const QRectF S = F.SrcXForm.mapRect(F.Src).normalized();
  return PartRect(ToInt(std::floor(S.left())), ToInt(std::floor(S.top())), std::max(1, ToInt(std::round(S.width()))),
                  std::max(1, ToInt(std::round(S.height()))));
}

}  // namespace

QImage TEmfPlayer::DecodeBitmap(TByteReader& R, std::uint32_t OffBmi, std::uint32_t CbBmi, std::uint32_t OffBits,
                                std::uint32_t CbBits, std::uint32_t Usage, const QRect* SrcRect, bool KeepAlpha,
                                std::int32_t Rows) {
  // Both parts must lie inside the record; R spans the whole record.
  TColorEntries Form;
  Form.PaletteIndices = Usage == DIB_PAL_COLORS;
  if (FState.Palette) Form.Palette = &FState.Palette->Entries;
  return DecodeRecordBitmap(R.Sub(OffBmi, CbBmi).Rest(), R.Sub(OffBits, CbBits).Rest(), Form, SrcRect, KeepAlpha, Rows);
}

void TEmfPlayer::DrawImage(const QRectF& Logical, const QImage& Image, std::uint32_t Rop) {
  if (Image.isNull() || FInPath || !FFullValid || Logical.width() == 0 || Logical.height() == 0) return;
  ApplyDrawingState(false, false);
  const QPainter::CompositionMode Mode = SourceRop(Rop);
  FPainter.setCompositionMode(Mode);
  FApplied.Valid = false;
  // A negative extent mirrors the bitmap.
  const bool MirrorX = Logical.width() < 0, MirrorY = Logical.height() < 0;
  const bool AxisAligned = FFull.m12() == 0 && FFull.m21() == 0;
  if (AxisAligned) {
    // Only the visible part is stretched, here, nearest pixel first: the
    // painter would work through the whole of a hugely enlarged bitmap, and
    // mixes raster operations only into images it does not scale.
    const QRectF T = FFull.mapRect(Logical.normalized());
    const QRectF Surface(0, 0, FPainter.device()->width(), FPainter.device()->height());
    const QRect Vis = T.intersected(Surface).toAlignedRect().intersected(Surface.toRect());
    if (Vis.isEmpty() || T.width() <= 0 || T.height() <= 0) return;
    const bool FlipX = MirrorX != (FFull.m11() < 0), FlipY = MirrorY != (FFull.m22() < 0);
    const QImage Src = Image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage Out(Vis.size(), QImage::Format_ARGB32_Premultiplied);
    if (Out.isNull()) return;
    std::vector<int> Cols(static_cast<std::size_t>(Vis.width()));
    for (int X = 0; X < Vis.width(); ++X) {
      const int C = static_cast<int>(std::clamp(std::floor((Vis.left() + X + 0.5 - T.left()) * Src.width() / T.width()), 0.0,
                                                  Src.width() - 1.0));
      Cols[static_cast<std::size_t>(X)] = FlipX ? Src.width() - 1 - C : C;
    }
    for (int Y = 0; Y < Vis.height(); ++Y) {
      int Row = static_cast<int>(std::clamp(std::floor((Vis.top() + Y + 0.5 - T.top()) * Src.height() / T.height()), 0.0,
                                            Src.height() - 1.0));
      if (FlipY) Row = Src.height() - 1 - Row;
      const auto* S = reinterpret_cast<const QRgb*>(Src.constScanLine(Row));
      auto* D = reinterpret_cast<QRgb*>(Out.scanLine(Y));
      for (int X = 0; X < Vis.width(); ++X) D[X] = S[Cols[static_cast<std::size_t>(X)]];
    }
    FPainter.setWorldTransform(QTransform());
    FTransformDirty = true;
    FPainter.drawImage(Vis.topLeft(), Out);
    return;
  }
  // Turned or slanted: the painter draws the part of the bitmap that can reach the surface.
  const QImage Src = MirrorX || MirrorY ? Image.mirrored(MirrorX, MirrorY) : Image;
  const QRectF Box = Logical.normalized();
  const QRectF Reach = FFull.inverted().mapRect(QRectF(0, 0, FPainter.device()->width(), FPainter.device()->height()));
  const QRectF Part = Box.intersected(Reach);
  if (Part.isEmpty()) return;
  const double KX = Src.width() / Box.width(), KY = Src.height() / Box.height();
  FPainter.drawImage(Part, Src, QRectF((Part.left() - Box.left()) * KX, (Part.top() - Box.top()) * KY, Part.width() * KX,
                                       Part.height() * KY));
}

void TEmfPlayer::PatBlt(const QRectF& Logical, std::uint32_t Rop) {
  if (FInPath || !FFullValid || Rop == DSTCOPY) return;
  ApplyDrawingState(false, false);
  FApplied.Valid = false;
  const QRectF Box = Logical.normalized();
  switch (Rop) {
    case BLACKNESS: FPainter.fillRect(Box, Qt::black); break;
    case WHITENESS: FPainter.fillRect(Box, Qt::white); break;
    case DSTINVERT:
      FPainter.setCompositionMode(QPainter::RasterOp_NotDestination);
      FPainter.fillRect(Box, Qt::black);
      break;
    case PATINVERT:
      FPainter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      FPainter.fillRect(Box, MakeBrush(FState.Brush));
      break;
    default:
      if (FState.Brush.Style != BS_NULL) FPainter.fillRect(Box, MakeBrush(FState.Brush));
      break;
  }
}

void TEmfPlayer::BitBlt(TByteReader& R, std::uint32_t Type) {
  const TBltFields F = ReadBlt(R, Type == EMR_STRETCHBLT);
  if (F.CbBmi == 0) {
    PatBlt(F.Dest, F.Rop);
    return;
  }
  const QRect Part = SourcePart(F);
  DrawImage(F.Dest, DecodeBitmap(R, F.OffBmi, F.CbBmi, F.OffBits, F.CbBits, F.Usage, &Part), F.Rop);
}

void TEmfPlayer::StretchDIBits(TByteReader& R) {
  R.Skip(16);
  const double XD = R.I32(), YD = R.I32();
  const std::int32_t XS = R.I32(), YS = R.I32(), CXS = R.I32(), CYS = R.I32();
  const std::uint32_t OffBmi = R.U32(), CbBmi = R.U32(), OffBits = R.U32(), CbBits = R.U32();
  const std::uint32_t Usage = R.U32(), Rop = R.U32();
  const double CXD = R.I32(), CYD = R.I32();
  if (CbBmi == 0) {
    PatBlt(QRectF(XD, YD, CXD, CYD), Rop);
    return;
  }
  TByteReader InfoPart = R.Sub(OffBmi, CbBmi);
  const TBmpInfo Info = ReadBmpInfo(InfoPart);
  // The source rectangle of a bottom-up bitmap is counted from its bottom row.
  const std::int64_t Top = Info.TopDown() ? YS : Info.AbsHeight() - YS - CYS;
  if (CXS <= 0 || CYS <= 0) return;
  const QRect Part = PartRect(XS, Top, CXS, CYS);
  DrawImage(QRectF(XD, YD, CXD, CYD), DecodeBitmap(R, OffBmi, CbBmi, OffBits, CbBits, Usage, &Part), Rop);
}

void TEmfPlayer::SetDIBitsToDevice(TByteReader& R) {
  R.Skip(16);
  const double XD = R.I32(), YD = R.I32();
  const std::int32_t XS = R.I32(), YS = R.I32(), CXS = R.I32(), CYS = R.I32();
  const std::uint32_t OffBmi = R.U32(), CbBmi = R.U32(), OffBits = R.U32(), CbBits = R.U32();
  const std::uint32_t Usage = R.U32(), StartScan = R.U32(), Scans = R.U32();
  if (CXS <= 0 || CYS <= 0) return;
  TByteReader InfoPart = R.Sub(OffBmi, CbBmi);
  const TBmpInfo Info = ReadBmpInfo(InfoPart);
  const std::int64_t Height = Info.AbsHeight();
  if (Height == 0) return;
  const std::int64_t Top = Info.TopDown() ? YS : Height - YS - CYS;
  // The bits hold the scans StartScan to StartScan + Scans - 1, counted from the first stored row.
  std::int64_t Rows = 0, Shift = 0;
  if (Scans > 0 && StartScan < Height && Scans < Height) {
    Rows = std::min<std::int64_t>(Scans, Height - std::int64_t{StartScan});
    Shift = Info.TopDown() ? StartScan : Height - StartScan - Rows;
  }
  const QRect Part = PartRect(XS, Top - Shift, CXS, CYS);
  // The bits are copied one to one onto device pixels.
  const double SX = std::abs(FLogicalToDevice.m11()), SY = std::abs(FLogicalToDevice.m22());
  if (SX == 0 || SY == 0) return;
  DrawImage(QRectF(XD, YD, CXS / SX, CYS / SY),
            DecodeBitmap(R, OffBmi, CbBmi, OffBits, CbBits, Usage, &Part, false, static_cast<std::int32_t>(Rows)),
            SRCCOPY);
}

void TEmfPlayer::MaskBlt(TByteReader& R) {
  const TBltFields F = ReadBlt(R, false);
  const std::int32_t XM = R.I32(), YM = R.I32();
  const std::uint32_t UsageMask = R.U32(), OffBmiMask = R.U32(), CbBmiMask = R.U32(), OffBitsMask = R.U32(),
                      CbBitsMask = R.U32();
  const std::uint32_t Fore = F.Rop & 0x00FFFFFF;
  if (F.CbBmi == 0) {
    PatBlt(F.Dest, Fore);
    return;
  }
  const QRect Part = SourcePart(F);
  QImage Src = DecodeBitmap(R, F.OffBmi, F.CbBmi, F.OffBits, F.CbBits, F.Usage, &Part);
  if (Src.isNull()) return;
  // Where the mask is 0 the background operation applies; it keeps the
  // destination in practice, so those pixels are left out.
  if (CbBmiMask != 0 && ((F.Rop >> 24) & 0xFF) == 0xAA) {
    const QRect MaskPart = PartRect(XM, YM, Src.width(), Src.height());
    const QImage Mask = DecodeBitmap(R, OffBmiMask, CbBmiMask, OffBitsMask, CbBitsMask, UsageMask, &MaskPart);
    if (!Mask.isNull()) {
      Src = Src.convertToFormat(QImage::Format_ARGB32_Premultiplied);
      for (int Y = 0; Y < std::min(Src.height(), Mask.height()); ++Y) {
        auto* S = reinterpret_cast<std::uint32_t*>(Src.scanLine(Y));
        const auto* M = reinterpret_cast<const std::uint32_t*>(Mask.constScanLine(Y));
        for (int X = 0; X < std::min(Src.width(), Mask.width()); ++X)
          if ((M[X] & 0xFFFFFF) == 0) S[X] = 0;
      }
    }
  }
  DrawImage(F.Dest, Src, Fore);
}

void TEmfPlayer::AlphaBlend(TByteReader& R) {
  const TBltFields F = ReadBlt(R, true);
  const std::uint8_t ConstantAlpha = static_cast<std::uint8_t>(F.Rop >> 16);
  const bool PerPixel = (F.Rop >> 24) != 0;  // AC_SRC_ALPHA
  if (F.CbBmi == 0) return;
  const QRect Part = SourcePart(F);
  const QImage Src = DecodeBitmap(R, F.OffBmi, F.CbBmi, F.OffBits, F.CbBits, F.Usage, &Part, PerPixel);
  if (Src.isNull()) return;
  const qreal Opacity = FPainter.opacity();
  FPainter.setOpacity(ConstantAlpha / 255.0);
  DrawImage(F.Dest, Src, SRCCOPY);
  FPainter.setOpacity(Opacity);
}

void TEmfPlayer::TransparentBlt(TByteReader& R) {
  const TBltFields F = ReadBlt(R, true);
  if (F.CbBmi == 0) return;
  const QRect Part = SourcePart(F);
  QImage Src = DecodeBitmap(R, F.OffBmi, F.CbBmi, F.OffBits, F.CbBits, F.Usage, &Part);
  if (Src.isNull()) return;
  Src = Src.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QRgb Key = Color(F.Rop).rgb() & 0xFFFFFF;
  for (int Y = 0; Y < Src.height(); ++Y) {
    auto* S = reinterpret_cast<std::uint32_t*>(Src.scanLine(Y));
    for (int X = 0; X < Src.width(); ++X)
      if ((S[X] & 0xFFFFFF) == Key) S[X] = 0;
  }
  DrawImage(F.Dest, Src, SRCCOPY);
}

void TEmfPlayer::GradientFill(TByteReader& R) {
  R.Skip(16);
  const std::uint32_t NVer = R.U32(), NTri = R.U32(), Mode = R.U32();
  if (NVer > R.Remaining() / 16) return;
  struct TVertex {
    QPointF P;
    QColor C;
  };
  std::vector<TVertex> V(NVer);
  for (auto& E : V) {
    E.P = ReadPoint(R, false);
    const int Red = R.U16() >> 8, Green = R.U16() >> 8, Blue = R.U16() >> 8;
    const int Alpha = R.U16() >> 8;
    (void)Alpha;  // gradients are drawn opaque, as on a device without alpha
    E.C = QColor(Red, Green, Blue);
  }
  const std::uint32_t PerItem = Mode == GRADIENT_FILL_TRIANGLE ? 12 : 8;
  if (NTri > R.Remaining() / PerItem || FInPath || !FFullValid) return;
  ApplyDrawingState(false, false);
  for (std::uint32_t I = 0; I < NTri; ++I) {
    if (Mode == GRADIENT_FILL_TRIANGLE) {
      const std::uint32_t A = R.U32(), B = R.U32(), C = R.U32();
      if (A >= NVer || B >= NVer || C >= NVer) continue;
      // Colours interpolated across the triangle, computed on the surface's pixels.
      const QPointF P0 = FFull.map(V[A].P), P1 = FFull.map(V[B].P), P2 = FFull.map(V[C].P);
      const QRectF Box = QRectF(P0, P1).normalized().united(QRectF(P2, P2)).intersected(
          QRectF(0, 0, FPainter.device()->width(), FPainter.device()->height()));
      const double Den = (P1.y() - P2.y()) * (P0.x() - P2.x()) + (P2.x() - P1.x()) * (P0.y() - P2.y());
      if (Box.isEmpty() || Den == 0) continue;
      const QRect Pix = Box.toAlignedRect();
      QImage Img(Pix.size(), QImage::Format_ARGB32_Premultiplied);
      if (Img.isNull()) continue;
      for (int Y = 0; Y < Img.height(); ++Y) {
        auto* Row = reinterpret_cast<QRgb*>(Img.scanLine(Y));
        const double PY = Pix.top() + Y + 0.5;
        for (int X = 0; X < Img.width(); ++X) {
          const double PX = Pix.left() + X + 0.5;
          const double W0 = ((P1.y() - P2.y()) * (PX - P2.x()) + (P2.x() - P1.x()) * (PY - P2.y())) / Den;
          const double W1 = ((P2.y() - P0.y()) * (PX - P2.x()) + (P0.x() - P2.x()) * (PY - P2.y())) / Den;
          const double W2 = 1 - W0 - W1;
          if (W0 < 0 || W1 < 0 || W2 < 0) {
            Row[X] = 0;
            continue;
          }
          auto Mix = [&](int (QColor::*Ch)() const) {
            return std::clamp(static_cast<int>(std::lround((V[A].C.*Ch)() * W0 + (V[B].C.*Ch)() * W1 + (V[C].C.*Ch)() * W2)), 0, 255);
          };
          Row[X] = qRgb(Mix(&QColor::red), Mix(&QColor::green), Mix(&QColor::blue));
        }
      }
      FPainter.setWorldTransform(QTransform());
      FTransformDirty = true;
      FPainter.drawImage(Pix.topLeft(), Img);
    } else {
      const std::uint32_t A = R.U32(), B = R.U32();
      if (A >= NVer || B >= NVer) continue;
      if (FTransformDirty) {
        FPainter.setWorldTransform(FFull);
        FTransformDirty = false;
      }
      const QRectF Box = QRectF(V[A].P, V[B].P).normalized();
      const bool Horizontal = Mode == GRADIENT_FILL_RECT_H;
      QLinearGradient G(V[A].P, Horizontal ? QPointF(V[B].P.x(), V[A].P.y()) : QPointF(V[A].P.x(), V[B].P.y()));
      G.setColorAt(0, V[A].C);
      G.setColorAt(1, V[B].C);
      FPainter.fillRect(Box, G);
    }
  }
}
