#include "picture/metafile/EmfPlayer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QPainter>

#include "toolkit/ByteReader.h"
#include "picture/metafile/EmfRecords.h"
#include "toolkit/Exceptions.h"

using namespace emf;

namespace {

bool Finite(const QTransform& T) {
  return std::isfinite(T.m11()) && std::isfinite(T.m12()) && std::isfinite(T.m21()) && std::isfinite(T.m22()) &&
         std::isfinite(T.dx()) && std::isfinite(T.dy());
}

QTransform ReadXForm(TByteReader& R) {
  const double M11 = R.F32(), M12 = R.F32(), M21 = R.F32(), M22 = R.F32(), Dx = R.F32(), Dy = R.F32();
  return QTransform(M11, M12, M21, M22, Dx, Dy);
}

// Stock objects as the system defines them.
TEmfBrush StockBrush(std::uint32_t Color, std::uint32_t Style = BS_SOLID) {
  TEmfBrush B;
  B.Style = Style;
  B.Color = Color;
  return B;
}
TEmfPen StockPen(std::uint32_t Color, std::uint32_t Style = PS_SOLID) {
  TEmfPen P;
  P.Style = Style;
  P.Color = Color;
  return P;
}
TEmfFont StockFont(bool Fixed) {
  TEmfFont F;
  F.Height = 16;
  F.Weight = 700;
  F.Face = Fixed ? QStringLiteral("Courier") : QStringLiteral("System");
  return F;
}

// Pixels per millimetre of a reference device that gives none: the screen's 96 per inch.
constexpr double ScreenPerMM = 96.0 / 25.4;

}  // namespace

TEmfPlayer::TEmfPlayer(std::span<const std::uint8_t> Emf, QPainter& Painter) : FEmf(Emf), FPainter(Painter) {}
TEmfPlayer::~TEmfPlayer() = default;

void TEmfPlayer::Play(const TRect& Inclusive) {
  try {
    FHeader = ReadEmfHeader(FEmf);
  } catch (const Exception&) {
    return;
  }
  for (int I = 0; I < 2; ++I)
    FDevicePerMM[I] = FHeader.DevicePx[I] > 0 && FHeader.DeviceMM[I] > 0
                          ? static_cast<double>(FHeader.DevicePx[I]) / FHeader.DeviceMM[I]
                          : ScreenPerMM;
  // The frame, in 0.01 mm, in the metafile's device units.
  const double FL = FHeader.Frame.Left * FDevicePerMM[0] / 100, FR = FHeader.Frame.Right * FDevicePerMM[0] / 100;
  const double FT = FHeader.Frame.Top * FDevicePerMM[1] / 100, FB = FHeader.Frame.Bottom * FDevicePerMM[1] / 100;
  double FL2 = FL, FR2 = FR, FT2 = FT, FB2 = FB;
  if (FR == FL || FB == FT) {
    // Without a frame the bounds, in device units, stand for it.
    FL2 = FHeader.Bounds.Left;
    FR2 = FHeader.Bounds.Right;
    FT2 = FHeader.Bounds.Top;
    FB2 = FHeader.Bounds.Bottom;
    if (FR2 == FL2 || FB2 == FT2) return;
  }
  const double SX = (static_cast<double>(Inclusive.Right) - Inclusive.Left) / (FR2 - FL2);
  const double SY = (static_cast<double>(Inclusive.Bottom) - Inclusive.Top) / (FB2 - FT2);
  FDeviceToSurface = QTransform(SX, 0, 0, SY, Inclusive.Left - FL2 * SX, Inclusive.Top - FT2 * SY);
  if (!Finite(FDeviceToSurface)) return;

  // A header that counts the most handles 16 bits can say may hold a full
  // table converted from a Windows metafile, whose last index is one more.
  FObjects.assign(FHeader.Handles == 0xFFFF ? MaxObjectTable : std::max<std::size_t>(FHeader.Handles, 1), TObjectSlot{});
  FPainter.save();
  FHasBaseClip = FPainter.hasClipping();
  if (FHasBaseClip) FBaseClip = FPainter.clipRegion();
  FPainter.setRenderHint(QPainter::Antialiasing, false);
  FPainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  FPainter.setRenderHint(QPainter::TextAntialiasing, true);
  FState = TDcState{};
  FState.Font = StockFont(false);
  UpdateTransform();

  TEmfRecordWalker Walker(FEmf.first(FHeader.Bytes));
  bool First = true;
  while (auto Rec = Walker.Next()) {
    if (First) {  // the header
      First = false;
      continue;
    }
    if (Rec->Type == EMR_EOF) break;
    TByteReader R(Rec->Data);
    R.Skip(8);
    try {
      Dispatch(Rec->Type, R);
    } catch (const EReadError&) {
      // A record shorter than its fields is skipped.
    }
  }
  FPainter.restore();
}

// ---------------------------------------------------------------------------
// Reading helpers

QPointF TEmfPlayer::ReadPoint(TByteReader& R, bool Short) {
  if (Short) {
    const double X = R.I16();
    return QPointF(X, R.I16());
  }
  const double X = R.I32();
  return QPointF(X, R.I32());
}

QRectF TEmfPlayer::ReadRectL(TByteReader& R) {
  const double L = R.I32(), T = R.I32(), Rr = R.I32(), B = R.I32();
  return QRectF(QPointF(L, T), QPointF(Rr, B)).normalized();
}

QColor TEmfPlayer::Color(std::uint32_t C) const {
  // A colour given as a palette index (0x01 in the top byte) takes the selected palette's entry.
  if ((C >> 24) == 1 && FState.Palette) {
    const std::uint32_t I = C & 0xFFFF;
    if (I < FState.Palette->Entries.size()) {
      const std::uint32_t E = FState.Palette->Entries[I];
      return QColor((E >> 16) & 0xFF, (E >> 8) & 0xFF, E & 0xFF);
    }
  }
  return QColor(C & 0xFF, (C >> 8) & 0xFF, (C >> 16) & 0xFF);
}

double TEmfPlayer::LogicalScale() const { return std::sqrt(std::abs(FFull.determinant())); }

// ---------------------------------------------------------------------------
// Dispatch

void TEmfPlayer::Dispatch(std::uint32_t Type, TByteReader& R) {
  switch (Type) {
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
      Poly(R, Type, false);
      break;
    case EMR_POLYBEZIER16: Poly(R, EMR_POLYBEZIER, true); break;
    case EMR_POLYGON16: Poly(R, EMR_POLYGON, true); break;
    case EMR_POLYLINE16: Poly(R, EMR_POLYLINE, true); break;
    case EMR_POLYBEZIERTO16: Poly(R, EMR_POLYBEZIERTO, true); break;
    case EMR_POLYLINETO16: Poly(R, EMR_POLYLINETO, true); break;
    case EMR_POLYPOLYLINE: PolyPoly(R, false, false); break;
    case EMR_POLYPOLYGON: PolyPoly(R, true, false); break;
    case EMR_POLYPOLYLINE16: PolyPoly(R, false, true); break;
    case EMR_POLYPOLYGON16: PolyPoly(R, true, true); break;
    case EMR_POLYDRAW: PolyDraw(R, false); break;
    case EMR_POLYDRAW16: PolyDraw(R, true); break;

    case EMR_SETWINDOWEXTEX: case EMR_SETVIEWPORTEXTEX: {
      const double X = R.I32(), Y = R.I32();
      // Zero extents are refused, and extents only count in the two scalable modes.
      if (X == 0 || Y == 0 || (FState.MapMode != MM_ISOTROPIC && FState.MapMode != MM_ANISOTROPIC)) break;
      double* E = Type == EMR_SETWINDOWEXTEX ? FState.WinExt : FState.VpExt;
      E[0] = X;
      E[1] = Y;
      UpdateTransform();
      break;
    }
    case EMR_SETWINDOWORGEX: case EMR_SETVIEWPORTORGEX: {
      double* O = Type == EMR_SETWINDOWORGEX ? FState.WinOrg : FState.VpOrg;
      O[0] = R.I32();
      O[1] = R.I32();
      UpdateTransform();
      break;
    }
    case EMR_SCALEVIEWPORTEXTEX: case EMR_SCALEWINDOWEXTEX: {
      const double XN = R.I32(), XD = R.I32(), YN = R.I32(), YD = R.I32();
      if (XN == 0 || XD == 0 || YN == 0 || YD == 0) break;
      if (FState.MapMode != MM_ISOTROPIC && FState.MapMode != MM_ANISOTROPIC) break;
      double* E = Type == EMR_SCALEWINDOWEXTEX ? FState.WinExt : FState.VpExt;
      E[0] = E[0] * XN / XD;
      E[1] = E[1] * YN / YD;
      UpdateTransform();
      break;
    }
    case EMR_SETMAPMODE: SetMapMode(R.U32()); break;
    case EMR_SETBKMODE: FState.BkMode = R.U32(); break;
    case EMR_SETPOLYFILLMODE: FState.PolyFillMode = R.U32(); break;
    case EMR_SETROP2: FState.Rop2 = R.U32(); PaintChanged(); break;
    case EMR_SETTEXTALIGN: FState.TextAlign = R.U32(); break;
    case EMR_SETTEXTCOLOR: FState.TextColor = R.U32(); PaintChanged(); break;
    case EMR_SETBKCOLOR: FState.BkColor = R.U32(); PaintChanged(); break;
    case EMR_SETARCDIRECTION: FState.ArcDirection = R.U32(); break;
    case EMR_SETMITERLIMIT:
      FState.MiterLimit = std::clamp<double>(R.U32(), 1, 1000);
      PaintChanged();
      break;
    case EMR_MOVETOEX: FState.CurPos = ReadPoint(R, false); break;
    case EMR_LINETO: LineTo(ReadPoint(R, false)); break;
    case EMR_SETPIXELV: SetPixel(R); break;
    case EMR_SAVEDC: DoSaveDC(); break;
    case EMR_RESTOREDC: DoRestoreDC(R.I32()); break;
    case EMR_SETWORLDTRANSFORM: {
      const QTransform X = ReadXForm(R);
      if (Finite(X) && X.determinant() != 0) {
        FState.World = X;
        UpdateTransform();
      }
      break;
    }
    case EMR_MODIFYWORLDTRANSFORM: ModifyWorld(R); break;

    case EMR_CREATEPEN: CreatePen(R); break;
    case EMR_EXTCREATEPEN: ExtCreatePen(R); break;
    case EMR_CREATEBRUSHINDIRECT: CreateBrush(R); break;
    case EMR_CREATEMONOBRUSH: CreatePatternBrush(R, true); break;
    case EMR_CREATEDIBPATTERNBRUSHPT: CreatePatternBrush(R, false); break;
    case EMR_EXTCREATEFONTINDIRECTW: CreateFont(R); break;
    case EMR_CREATEPALETTE: CreatePalette(R); break;
    case EMR_SELECTOBJECT: case EMR_SELECTPALETTE: SelectObject(R.U32()); break;
    case EMR_DELETEOBJECT: DeleteObject(R.U32()); break;

    case EMR_RECTANGLE: case EMR_ELLIPSE: case EMR_ROUNDRECT: Box(R, Type); break;
    case EMR_ARC: case EMR_ARCTO: case EMR_CHORD: case EMR_PIE: ArcLike(R, Type); break;
    case EMR_ANGLEARC: AngleArc(R); break;

    case EMR_BEGINPATH:
      FInPath = true;
      FPath = QPainterPath();
      break;
    case EMR_ENDPATH: FInPath = false; break;
    case EMR_ABORTPATH:
      FInPath = false;
      FPath = QPainterPath();
      break;
    case EMR_CLOSEFIGURE:
      if (FInPath) FPath.closeSubpath();
      break;
    case EMR_FILLPATH: case EMR_STROKEANDFILLPATH: case EMR_STROKEPATH: case EMR_WIDENPATH:
    case EMR_FLATTENPATH:
      PathOutline(Type);
      break;
    case EMR_SELECTCLIPPATH: {
      const std::uint32_t Mode = R.U32();
      if (FInPath) break;
      QPainterPath P = FPath;
      P.setFillRule(FState.PolyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
      CombineClip(P, Mode);
      FPath = QPainterPath();
      break;
    }

    case EMR_INTERSECTCLIPRECT: ClipRect(R, false); break;
    case EMR_EXCLUDECLIPRECT: ClipRect(R, true); break;
    case EMR_EXTSELECTCLIPRGN: {
      const std::uint32_t Cb = R.U32();
      const std::uint32_t Mode = R.U32();
      if (Mode == RGN_COPY && Cb == 0) {
        FState.HasClip = false;
        FClipDirty = true;
        break;
      }
      if (auto Region = ReadRegion(R, Cb)) CombineClip(*Region, Mode);
      break;
    }
    case EMR_OFFSETCLIPRGN: {
      const QPointF Off = ReadPoint(R, false);
      if (!FState.HasClip) break;
      const QPointF D = FLogicalToDevice.map(Off) - FLogicalToDevice.map(QPointF(0, 0));
      FState.Clip.translate(D);
      FState.ClipRect.translate(D);
      FClipDirty = true;
      break;
    }
    case EMR_FILLRGN: case EMR_FRAMERGN: case EMR_INVERTRGN: case EMR_PAINTRGN: RegionRecord(R, Type); break;

    case EMR_EXTTEXTOUTW: ExtTextOut(R, true); break;
    case EMR_EXTTEXTOUTA: ExtTextOut(R, false); break;
    case EMR_POLYTEXTOUTW: PolyTextOut(R, true); break;
    case EMR_POLYTEXTOUTA: PolyTextOut(R, false); break;
    case EMR_SMALLTEXTOUT: SmallTextOut(R); break;

    case EMR_BITBLT: case EMR_STRETCHBLT: BitBlt(R, Type); break;
    case EMR_STRETCHDIBITS: StretchDIBits(R); break;
    case EMR_SETDIBITSTODEVICE: SetDIBitsToDevice(R); break;
    case EMR_MASKBLT: MaskBlt(R); break;
    case EMR_ALPHABLEND: AlphaBlend(R); break;
    case EMR_TRANSPARENTBLT: TransparentBlt(R); break;
    case EMR_GRADIENTFILL: GradientFill(R); break;

    default:
      // Records that change nothing visible here (comments, colour management,
      // palette realisation, mapper flags, stretch modes, escapes), and unknown ones.
      break;
  }
}

// ---------------------------------------------------------------------------
// State and transforms

void TEmfPlayer::DoSaveDC() {
  // Past the limit a save is ignored: a later restore then restores an older state.
  if (FSaved.size() < MaxSavedStates) FSaved.push_back(FState);
}

void TEmfPlayer::DoRestoreDC(std::int32_t Relative) {
  // Negative: counted back from the newest save; positive: the n-th save. A
  // restore past the bottom of the stack changes nothing.
  const std::int64_t N = static_cast<std::int64_t>(FSaved.size());
  const std::int64_t Target = Relative < 0 ? N + Relative : static_cast<std::int64_t>(Relative) - 1;
  if (Target < 0 || Target >= N) return;
  FState = std::move(FSaved[static_cast<std::size_t>(Target)]);
  FSaved.resize(static_cast<std::size_t>(Target));
  UpdateTransform();
  PaintChanged();
  FClipDirty = true;
}

void TEmfPlayer::SetMapMode(std::uint32_t Mode) {
  if (Mode < MM_TEXT || Mode > MM_ANISOTROPIC || Mode == FState.MapMode) return;
  const bool Scalable = Mode == MM_ISOTROPIC || Mode == MM_ANISOTROPIC;
  const bool WasScalable = FState.MapMode == MM_ISOTROPIC || FState.MapMode == MM_ANISOTROPIC;
  if (Scalable && !WasScalable) {
    // The scalable modes start from the scale that the previous mode implied.
    const QTransform Old = PageToDevice();
    FState.WinExt[0] = FState.WinExt[1] = 1;
    FState.VpExt[0] = Old.m11();
    FState.VpExt[1] = Old.m22();
  }
  FState.MapMode = Mode;
  UpdateTransform();
}

QTransform TEmfPlayer::PageToDevice() const {
  double SX = 1, SY = 1;
  auto Metric = [&](double MMPerUnit) {
    SX = MMPerUnit * FDevicePerMM[0];
    SY = -MMPerUnit * FDevicePerMM[1];
  };
  switch (FState.MapMode) {
    case MM_LOMETRIC: Metric(0.1); break;
    case MM_HIMETRIC: Metric(0.01); break;
    case MM_LOENGLISH: Metric(0.254); break;
    case MM_HIENGLISH: Metric(0.0254); break;
    case MM_TWIPS: Metric(25.4 / 1440); break;
    case MM_ISOTROPIC: case MM_ANISOTROPIC:
      SX = FState.VpExt[0] / FState.WinExt[0];
      SY = FState.VpExt[1] / FState.WinExt[1];
      if (FState.MapMode == MM_ISOTROPIC) {
        const double S = std::min(std::abs(SX), std::abs(SY));
        SX = std::copysign(S, SX);
        SY = std::copysign(S, SY);
      }
      break;
    default: break;
  }
  return QTransform(SX, 0, 0, SY, FState.VpOrg[0] - FState.WinOrg[0] * SX, FState.VpOrg[1] - FState.WinOrg[1] * SY);
}

void TEmfPlayer::UpdateTransform() {
  FLogicalToDevice = FState.World * PageToDevice();
  FFull = FLogicalToDevice * FDeviceToSurface;
  // Extents and transforms multiplied past the range of numbers draw nothing
  // until a later record brings them back.
  FFullValid = Finite(FFull) && FFull.determinant() != 0 && std::isfinite(FFull.determinant());
  if (!FFullValid) FLogicalToDevice = FFull = QTransform();
  FTransformDirty = true;
  PaintChanged();  // pen widths and pattern placement follow the scale
}

void TEmfPlayer::ModifyWorld(TByteReader& R) {
  const QTransform X = ReadXForm(R);
  const std::uint32_t Mode = R.U32();
  QTransform W = FState.World;
  switch (Mode) {
    case MWT_IDENTITY: W = QTransform(); break;
    case MWT_LEFTMULTIPLY: W = X * W; break;
    case MWT_RIGHTMULTIPLY: W = W * X; break;
    case MWT_SET: W = X; break;
    default: return;
  }
  if (!Finite(W) || W.determinant() == 0) return;
  FState.World = W;
  UpdateTransform();
}

// ---------------------------------------------------------------------------
// Objects

TEmfPlayer::TObjectSlot* TEmfPlayer::Slot(std::uint32_t Index, bool ForCreation) {
  // Index 0 stands for the metafile itself and never holds an object.
  if (Index == 0 || Index >= FObjects.size()) return nullptr;
  TObjectSlot* S = &FObjects[Index];
  if (!ForCreation && std::holds_alternative<std::monostate>(*S)) return nullptr;
  return S;
}

void TEmfPlayer::CreatePen(TByteReader& R) {
  const std::uint32_t Index = R.U32();
  TEmfPen P;
  P.Style = R.U32();
  P.Width = R.I32();
  R.Skip(4);
  P.Color = R.U32();
  // Pens of the old kind are geometric when wider than one unit.
  P.Width = std::abs(P.Width);
  P.Cosmetic = P.Width <= 1;
  if (P.Cosmetic) P.Width = 0;
  if (TObjectSlot* S = Slot(Index, true)) *S = std::move(P);
}

void TEmfPlayer::ExtCreatePen(TByteReader& R) {
  const std::uint32_t Index = R.U32();
  R.Skip(16);  // a pattern bitmap of the pen is not used: the pen's colour stands for it
  TEmfPen P;
  P.Style = R.U32();
  P.Width = R.U32();
  R.Skip(4);  // brush style
  P.Color = R.U32();
  R.Skip(4);  // hatch
  const std::uint32_t NumEntries = R.U32();
  P.Cosmetic = !(P.Style & PS_GEOMETRIC);
  if (P.Cosmetic) P.Width = 0;
  if ((P.Style & PS_STYLE_MASK) == PS_USERSTYLE) {
    if (NumEntries > R.Remaining() / 4 || NumEntries > 64) return;
    for (std::uint32_t I = 0; I < NumEntries; ++I) P.Dashes.push_back(R.U32());
  }
  if (TObjectSlot* S = Slot(Index, true)) *S = std::move(P);
}

void TEmfPlayer::CreateBrush(TByteReader& R) {
  const std::uint32_t Index = R.U32();
  TEmfBrush B;
  B.Style = R.U32();
  B.Color = R.U32();
  B.Hatch = R.U32();
  if (B.Style != BS_SOLID && B.Style != BS_NULL && B.Style != BS_HATCHED) B.Style = BS_SOLID;
  if (TObjectSlot* S = Slot(Index, true)) *S = std::move(B);
}

void TEmfPlayer::CreatePatternBrush(TByteReader& R, bool Mono) {
  const std::uint32_t Index = R.U32();
  const std::uint32_t Usage = R.U32();
  const std::uint32_t OffBmi = R.U32(), CbBmi = R.U32(), OffBits = R.U32(), CbBits = R.U32();
  TEmfBrush B;
  B.Style = BS_DIBPATTERNPT;
  QImage Image = DecodeBitmap(R, OffBmi, CbBmi, OffBits, CbBits, Usage);
  if (Image.isNull()) return;
  if (static_cast<std::uint64_t>(Image.width()) * Image.height() > MaxPatternPixels) return;
  if (Mono) {
    // Kept as two colour indexes, so that drawing can give them the text and background colours.
    QImage Two(Image.size(), QImage::Format_Indexed8);
    if (Two.isNull()) return;
    Two.setColorCount(2);
    for (int Y = 0; Y < Image.height(); ++Y) {
      const auto* Src = reinterpret_cast<const QRgb*>(Image.constScanLine(Y));
      std::uint8_t* Dst = Two.scanLine(Y);
      for (int X = 0; X < Image.width(); ++X) Dst[X] = qGray(Src[X]) > 127 ? 1 : 0;
    }
    Image = std::move(Two);
  }
  B.Monochrome = Mono;
  B.Pattern = std::make_shared<const QImage>(std::move(Image));
  if (TObjectSlot* S = Slot(Index, true)) *S = std::move(B);
}

void TEmfPlayer::CreatePalette(TByteReader& R) {
  const std::uint32_t Index = R.U32();
  R.Skip(2);  // version
  const std::uint32_t Count = R.U16();
  auto Pal = std::make_shared<TEmfPaletteObject>();
  for (std::uint32_t I = 0; I < Count && R.Remaining() >= 4; ++I) {
    const std::uint8_t Red = R.U8(), Green = R.U8(), Blue = R.U8();
    R.Skip(1);
    Pal->Entries.push_back(std::uint32_t{Red} << 16 | std::uint32_t{Green} << 8 | Blue);
  }
  if (TObjectSlot* S = Slot(Index, true)) *S = std::shared_ptr<const TEmfPaletteObject>(std::move(Pal));
}

void TEmfPlayer::SelectObject(std::uint32_t Index) {
  PaintChanged();
  if (Index & StockObjectFlag) {
    switch (Index & ~StockObjectFlag) {
      case WHITE_BRUSH: case DC_BRUSH: FState.Brush = StockBrush(0xFFFFFF); break;
      case LTGRAY_BRUSH: FState.Brush = StockBrush(0xC0C0C0); break;
      case GRAY_BRUSH: FState.Brush = StockBrush(0x808080); break;
      case DKGRAY_BRUSH: FState.Brush = StockBrush(0x404040); break;
      case BLACK_BRUSH: FState.Brush = StockBrush(0); break;
      case NULL_BRUSH: FState.Brush = StockBrush(0, BS_NULL); break;
      case WHITE_PEN: FState.Pen = StockPen(0xFFFFFF); break;
      case BLACK_PEN: case DC_PEN: FState.Pen = StockPen(0); break;
      case NULL_PEN: FState.Pen = StockPen(0, PS_NULL); break;
      case OEM_FIXED_FONT: case ANSI_FIXED_FONT: case SYSTEM_FIXED_FONT: FState.Font = StockFont(true); break;
      case ANSI_VAR_FONT: case SYSTEM_FONT: case DEVICE_DEFAULT_FONT: case DEFAULT_GUI_FONT:
        FState.Font = StockFont(false);
        break;
      case DEFAULT_PALETTE: FState.Palette.reset(); break;
      default: break;
    }
    return;
  }
  TObjectSlot* S = Slot(Index, false);
  if (!S) return;
  if (auto* P = std::get_if<TEmfPen>(S)) FState.Pen = *P;
  else if (auto* B = std::get_if<TEmfBrush>(S)) FState.Brush = *B;
  else if (auto* F = std::get_if<TEmfFont>(S)) FState.Font = *F;
  else if (auto* Pal = std::get_if<std::shared_ptr<const TEmfPaletteObject>>(S)) FState.Palette = *Pal;
}

void TEmfPlayer::DeleteObject(std::uint32_t Index) {
  if (TObjectSlot* S = Slot(Index, false)) *S = std::monostate{};
}

// ---------------------------------------------------------------------------
// Pens, brushes and the painter's state

QPen TEmfPlayer::MakePen() const {
  const TEmfPen& P = FState.Pen;
  const std::uint32_t Style = P.Style & PS_STYLE_MASK;
  if (Style == PS_NULL) return QPen(Qt::NoPen);
  QPen Q(Color(P.Color));
  // Narrower than one pixel on the surface is drawn one pixel wide.
  const double Width = P.Cosmetic || P.Width * LogicalScale() < 1 ? 0 : P.Width;
  Q.setWidthF(Width);
  if (Width > 0) {
    switch (P.Style & PS_ENDCAP_MASK) {
      case PS_ENDCAP_SQUARE: Q.setCapStyle(Qt::SquareCap); break;
      case PS_ENDCAP_FLAT: Q.setCapStyle(Qt::FlatCap); break;
      default: Q.setCapStyle(Qt::RoundCap); break;
    }
    switch (P.Style & PS_JOIN_MASK) {
      case PS_JOIN_BEVEL: Q.setJoinStyle(Qt::BevelJoin); break;
      case PS_JOIN_MITER:
        Q.setJoinStyle(Qt::MiterJoin);
        Q.setMiterLimit(FState.MiterLimit);
        break;
      default: Q.setJoinStyle(Qt::RoundJoin); break;
    }
  } else {
    Q.setCapStyle(Qt::FlatCap);
  }
  // Dash lengths: the cosmetic ones in pixels, the geometric ones in pen widths.
  switch (Style) {
    case PS_DASH: Q.setDashPattern(Width > 0 ? QList<qreal>{3, 1} : QList<qreal>{18, 6}); break;
    case PS_DOT: Q.setDashPattern(Width > 0 ? QList<qreal>{1, 1} : QList<qreal>{3, 3}); break;
    case PS_DASHDOT: Q.setDashPattern(Width > 0 ? QList<qreal>{3, 1, 1, 1} : QList<qreal>{9, 6, 3, 6}); break;
    case PS_DASHDOTDOT:
      Q.setDashPattern(Width > 0 ? QList<qreal>{3, 1, 1, 1, 1, 1} : QList<qreal>{9, 3, 3, 3, 3, 3});
      break;
    case PS_ALTERNATE: Q.setDashPattern(QList<qreal>{1, 1}); break;
    case PS_USERSTYLE: {
      QList<qreal> D;
      const double Unit = Width > 0 ? Width : 1;
      bool Any = false;
      for (double E : P.Dashes) {
        D.push_back(std::max(E / Unit, 0.0));
        Any = Any || E > 0;
      }
      if (D.size() % 2) D.push_back(D.back());
      if (Any && !D.empty()) Q.setDashPattern(D);
      break;
    }
    default: break;
  }
  return Q;
}

QBrush TEmfPlayer::MakeBrush(const TEmfBrush& B) const {
  switch (B.Style) {
    case BS_NULL: return QBrush(Qt::NoBrush);
    case BS_HATCHED: {
      static const Qt::BrushStyle Hatches[] = {Qt::HorPattern,   Qt::VerPattern,   Qt::FDiagPattern,
                                               Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
      return QBrush(Color(B.Color), B.Hatch < 6 ? Hatches[B.Hatch] : Qt::SolidPattern);
    }
    case BS_DIBPATTERNPT: {
      if (!B.Pattern) return QBrush(Qt::NoBrush);
      QImage Tile = *B.Pattern;
      if (B.Monochrome && Tile.colorCount() == 2) {
        // A monochrome pattern is drawn in the text colour (0 bits) and the background colour (1 bits).
        Tile.setColor(0, Color(FState.TextColor).rgb());
        Tile.setColor(1, Color(FState.BkColor).rgb());
      }
      QBrush Q(Tile);
      // The pattern is laid in surface pixels from the device origin, as a device lays it.
      bool Invertible = false;
      const QTransform Inv = FFull.inverted(&Invertible);
      if (Invertible) Q.setTransform(QTransform::fromTranslate(FDeviceToSurface.dx(), FDeviceToSurface.dy()) * Inv);
      return Q;
    }
    default: return QBrush(Color(B.Color));
  }
}

namespace {

QPainter::CompositionMode Rop2Mode(std::uint32_t Rop2) {
  switch (Rop2) {
    case R2_NOTMERGEPEN: return QPainter::RasterOp_NotSourceAndNotDestination;
    case R2_MASKNOTPEN: return QPainter::RasterOp_NotSourceAndDestination;
    case R2_NOTCOPYPEN: return QPainter::RasterOp_NotSource;
    case R2_MASKPENNOT: return QPainter::RasterOp_SourceAndNotDestination;
    case R2_NOT: return QPainter::RasterOp_NotDestination;
    case R2_XORPEN: return QPainter::RasterOp_SourceXorDestination;
    case R2_NOTMASKPEN: return QPainter::RasterOp_NotSourceOrNotDestination;
    case R2_MASKPEN: return QPainter::RasterOp_SourceAndDestination;
    case R2_NOTXORPEN: return QPainter::RasterOp_NotSourceXorDestination;
    case R2_MERGENOTPEN: return QPainter::RasterOp_NotSourceOrDestination;
    case R2_MERGEPENNOT: return QPainter::RasterOp_SourceOrNotDestination;
    case R2_MERGEPEN: return QPainter::RasterOp_SourceOrDestination;
    case R2_BLACK: return QPainter::RasterOp_ClearDestination;
    case R2_WHITE: return QPainter::RasterOp_SetDestination;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

}  // namespace

void TEmfPlayer::ApplyDrawingState(bool Stroke, bool Fill) {
  if (FClipDirty) ApplyClip();
  if (FTransformDirty) {
    FPainter.setWorldTransform(FFull);
    FTransformDirty = false;
  }
  if (FApplied.Valid && FApplied.Stroke == Stroke && FApplied.Fill == Fill && FApplied.Version == FPaintVersion)
    return;
  FPainter.setPen(Stroke ? MakePen() : QPen(Qt::NoPen));
  FPainter.setBrush(Fill ? MakeBrush(FState.Brush) : QBrush(Qt::NoBrush));
  FPainter.setCompositionMode(Rop2Mode(FState.Rop2));
  FApplied = {true, Stroke, Fill, FPaintVersion};
}

bool TEmfPlayer::Visible(bool& Stroke, bool& Fill) const {
  if (FState.Rop2 == R2_NOP || !FFullValid) return false;
  Stroke = Stroke && (FState.Pen.Style & PS_STYLE_MASK) != PS_NULL;
  Fill = Fill && FState.Brush.Style != BS_NULL;
  return Stroke || Fill;
}

void TEmfPlayer::DrawShape(const QPainterPath& Logical, bool Stroke, bool Fill) {
  if (FInPath) {
    AddToPath(Logical);
    return;
  }
  bool HasPen = Stroke, HasBrush = Fill;
  if (!Visible(HasPen, HasBrush)) return;
  if (HasBrush && FState.Brush.Style == BS_HATCHED && FState.BkMode == OPAQUE) {
    // An opaque hatch first lays the background colour under its lines.
    ApplyDrawingState(false, false);
    FPainter.setBrush(Color(FState.BkColor));
    FApplied.Valid = false;
    FPainter.drawPath(Logical);
  }
  ApplyDrawingState(HasPen, HasBrush);
  FPainter.drawPath(Logical);
}

void TEmfPlayer::AddToPath(const QPainterPath& Logical) {
  if (static_cast<std::uint64_t>(FPath.elementCount()) + Logical.elementCount() > MaxPathElements) return;
  FPath.addPath(FLogicalToDevice.map(Logical));
}

// ---------------------------------------------------------------------------
// Shapes

void TEmfPlayer::Poly(TByteReader& R, std::uint32_t Type, bool Short) {
  R.Skip(16);  // bounds
  const std::uint32_t Count = R.U32();
  // The points must lie inside the record.
  if (Count > R.Remaining() / (Short ? 4 : 8)) return;
  FPoints.resize(Count);
  for (std::uint32_t I = 0; I < Count; ++I) FPoints[I] = ReadPoint(R, Short);
  if (Count == 0) return;
  const bool To = Type == EMR_POLYLINETO || Type == EMR_POLYBEZIERTO;
  const bool Bezier = Type == EMR_POLYBEZIER || Type == EMR_POLYBEZIERTO;
  QPainterPath P;
  std::uint32_t I = 0;
  if (To) {
    P.moveTo(FState.CurPos);
  } else {
    P.moveTo(FPoints[0]);
    I = 1;
  }
  if (Bezier) {
    for (; I + 3 <= Count; I += 3) P.cubicTo(FPoints[I], FPoints[I + 1], FPoints[I + 2]);
  } else {
    for (; I < Count; ++I) P.lineTo(FPoints[I]);
  }
  if (To) FState.CurPos = P.currentPosition();
  if (Type == EMR_POLYGON) {
    P.closeSubpath();
    P.setFillRule(FState.PolyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
  }
  if (FInPath && To) {
    // A figure continues from the current position of the path.
    const QPointF Start = FLogicalToDevice.map(P.elementAt(0));
    if (FPath.elementCount() == 0 || FPath.currentPosition() != Start) FPath.moveTo(Start);
    QPainterPath Rest = FLogicalToDevice.map(P);
    for (int E = 1; E < Rest.elementCount(); ++E) {
      const QPainterPath::Element El = Rest.elementAt(E);
      if (El.isLineTo()) {
        FPath.lineTo(El);
      } else if (El.type == QPainterPath::CurveToElement && E + 2 < Rest.elementCount()) {
        FPath.cubicTo(El, Rest.elementAt(E + 1), Rest.elementAt(E + 2));
        E += 2;
      }
    }
    return;
  }
  if (!FInPath && Type == EMR_POLYLINE && !Bezier) {
    // The common case without building a path.
    bool HasPen = true, HasBrush = false;
    if (!Visible(HasPen, HasBrush)) return;
    ApplyDrawingState(true, false);
    FPainter.drawPolyline(FPoints.data(), static_cast<int>(Count));
    return;
  }
  if (!FInPath && Type == EMR_POLYGON && FState.Brush.Style != BS_HATCHED) {
    bool HasPen = true, HasBrush = true;
    if (!Visible(HasPen, HasBrush)) return;
    ApplyDrawingState(HasPen, HasBrush);
    FPainter.drawPolygon(FPoints.data(), static_cast<int>(Count),
                         FState.PolyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    return;
  }
  DrawShape(P, true, Type == EMR_POLYGON);
}

void TEmfPlayer::PolyPoly(TByteReader& R, bool Polygon, bool Short) {
  R.Skip(16);
  const std::uint32_t NPolys = R.U32();
  const std::uint32_t Total = R.U32();
  // The counts and the points must all lie inside the record, and add up.
  if (NPolys > R.Remaining() / 4) return;
  std::vector<std::uint32_t> Counts(NPolys);
  std::uint64_t Sum = 0;
  for (auto& C : Counts) {
    C = R.U32();
    Sum += C;
  }
  if (Sum != Total || Total > R.Remaining() / (Short ? 4 : 8)) return;
  QPainterPath P;
  P.setFillRule(FState.PolyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
  for (std::uint32_t C : Counts) {
    for (std::uint32_t I = 0; I < C; ++I) {
      const QPointF Pt = ReadPoint(R, Short);
      if (I == 0)
        P.moveTo(Pt);
      else
        P.lineTo(Pt);
    }
    if (Polygon && C > 0) P.closeSubpath();
  }
  DrawShape(P, true, Polygon);
}

void TEmfPlayer::PolyDraw(TByteReader& R, bool Short) {
  R.Skip(16);
  const std::uint32_t Count = R.U32();
  if (Count > R.Remaining() / ((Short ? 4 : 8) + 1)) return;
  FPoints.resize(Count);
  for (std::uint32_t I = 0; I < Count; ++I) FPoints[I] = ReadPoint(R, Short);
  const auto Types = R.Bytes(Count);
  QPainterPath P;
  P.moveTo(FState.CurPos);
  for (std::uint32_t I = 0; I < Count; ++I) {
    const std::uint8_t T = Types[I] & ~PT_CLOSEFIGURE;
    if (T == PT_MOVETO) {
      P.moveTo(FPoints[I]);
    } else if (T == PT_LINETO) {
      P.lineTo(FPoints[I]);
    } else if (T == PT_BEZIERTO && I + 2 < Count) {
      P.cubicTo(FPoints[I], FPoints[I + 1], FPoints[I + 2]);
      I += 2;
    } else {
      return;  // a malformed point type draws nothing
    }
    if (Types[I] & PT_CLOSEFIGURE) P.closeSubpath();
  }
  FState.CurPos = P.currentPosition();
  DrawShape(P, true, false);
}

void TEmfPlayer::Box(TByteReader& R, std::uint32_t Type) {
  QRectF B = ReadRectL(R);
  QPainterPath P;
  // A pen drawn inside the frame shrinks the figure by half its width.
  if ((FState.Pen.Style & PS_STYLE_MASK) == PS_INSIDEFRAME && FState.Pen.Width > 1) {
    const double H = FState.Pen.Width / 2;
    if (B.width() > 2 * H && B.height() > 2 * H) B.adjust(H, H, -H, -H);
  }
  if (!FInPath && FFull.m12() == 0 && FFull.m21() == 0 && FFull.m11() != 0 && FFull.m22() != 0) {
    // Boxed figures leave out their right and bottom pixel row on the surface,
    // as metafiles expect: a frame around a whole picture stays inside it.
    const double DX = 1 / std::abs(FFull.m11()), DY = 1 / std::abs(FFull.m22());
    if (B.width() > DX && B.height() > DY) B.adjust(0, 0, -DX, -DY);
  }
  if (!FInPath && FState.Brush.Style != BS_HATCHED && Type != EMR_ROUNDRECT) {
    // The common figures go to the painter without building a path.
    bool HasPen = true, HasBrush = true;
    if (!Visible(HasPen, HasBrush)) return;
    ApplyDrawingState(HasPen, HasBrush);
    if (Type == EMR_RECTANGLE)
      FPainter.drawRect(B);
    else
      FPainter.drawEllipse(B);
    return;
  }
  if (Type == EMR_RECTANGLE) {
    P.addRect(B);
  } else if (Type == EMR_ELLIPSE) {
    P.addEllipse(B);
  } else {
    const double W = std::abs(static_cast<double>(R.I32())), H = std::abs(static_cast<double>(R.I32()));
    P.addRoundedRect(B, std::min(W, B.width()) / 2, std::min(H, B.height()) / 2);
  }
  DrawShape(P, true, true);
}

void TEmfPlayer::ArcLike(TByteReader& R, std::uint32_t Type) {
  const QRectF B = ReadRectL(R);
  const QPointF Start = ReadPoint(R, false), End = ReadPoint(R, false);
  if (B.width() <= 0 || B.height() <= 0) return;
  const QPointF C = B.center();
  const double RX = B.width() / 2, RY = B.height() / 2;
  // Angles of the radials through the two points, counter-clockwise as seen with y down.
  auto Angle = [&](QPointF P) { return std::atan2(-(P.y() - C.y()) / RY, (P.x() - C.x()) / RX) * 180 / std::numbers::pi; };
  const double A0 = Angle(Start), A1 = Angle(End);
  double Sweep;
  if (FState.ArcDirection == AD_CLOCKWISE) {
    Sweep = -std::fmod(A0 - A1 + 720, 360);
    if (Sweep == 0) Sweep = -360;
  } else {
    Sweep = std::fmod(A1 - A0 + 720, 360);
    if (Sweep == 0) Sweep = 360;
  }
  QPainterPath P;
  if (Type == EMR_PIE) {
    P.moveTo(C);
    P.arcTo(B, A0, Sweep);
    P.closeSubpath();
  } else {
    P.arcMoveTo(B, A0);
    if (Type == EMR_ARCTO) {
      QPainterPath L;
      L.moveTo(FState.CurPos);
      L.lineTo(P.currentPosition());
      L.arcTo(B, A0, Sweep);
      P = L;
    } else {
      P.arcTo(B, A0, Sweep);
    }
    if (Type == EMR_CHORD) P.closeSubpath();
  }
  if (Type == EMR_ARCTO) FState.CurPos = P.currentPosition();
  DrawShape(P, true, Type == EMR_CHORD || Type == EMR_PIE);
}

void TEmfPlayer::AngleArc(TByteReader& R) {
  const QPointF C = ReadPoint(R, false);
  const double Radius = R.U32();
  const double Start = R.F32(), Sweep = R.F32();
  if (!std::isfinite(Start) || !std::isfinite(Sweep)) return;
  const QRectF B(C.x() - Radius, C.y() - Radius, 2 * Radius, 2 * Radius);
  QPainterPath P;
  P.moveTo(FState.CurPos);
  QPainterPath A;
  A.arcMoveTo(B, Start);
  P.lineTo(A.currentPosition());
  P.arcTo(B, Start, std::clamp(Sweep, -3600.0, 3600.0));
  FState.CurPos = P.currentPosition();
  DrawShape(P, true, false);
}

void TEmfPlayer::LineTo(QPointF Pt) {
  QPainterPath P;
  P.moveTo(FState.CurPos);
  P.lineTo(Pt);
  const QPointF From = FState.CurPos;
  FState.CurPos = Pt;
  if (FInPath) {
    const QPointF Start = FLogicalToDevice.map(From);
    if (FPath.elementCount() == 0 || FPath.currentPosition() != Start) FPath.moveTo(Start);
    if (FPath.elementCount() < static_cast<int>(MaxPathElements)) FPath.lineTo(FLogicalToDevice.map(Pt));
    return;
  }
  bool HasPen = true, HasBrush = false;
  if (!Visible(HasPen, HasBrush)) return;
  ApplyDrawingState(true, false);
  FPainter.drawLine(From, Pt);
}

void TEmfPlayer::SetPixel(TByteReader& R) {
  const QPointF P = ReadPoint(R, false);
  const QColor C = Color(R.U32());
  if (FInPath) return;
  ApplyDrawingState(false, false);
  // One pixel of the surface at the point's place.
  const QPointF S = FFull.map(P);
  FPainter.setWorldTransform(QTransform());
  FTransformDirty = true;
  FPainter.fillRect(QRectF(std::floor(S.x()), std::floor(S.y()), 1, 1), C);
}

// ---------------------------------------------------------------------------
// Paths

void TEmfPlayer::PathOutline(std::uint32_t Type) {
  if (FInPath) return;
  FPath.setFillRule(FState.PolyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
  if (Type == EMR_FLATTENPATH) return;  // curves are drawn as exactly as lines
  if (Type == EMR_WIDENPATH) {
    QPainterPathStroker S;
    S.setWidth(std::max(1.0, FState.Pen.Width * std::sqrt(std::abs(FLogicalToDevice.determinant()))));
    FPath = S.createStroke(FPath);
    return;
  }
  // The path is in device units: it is drawn through the device mapping alone,
  // with the pen's width taken to device units.
  const QTransform Saved = FFull;
  const double Scale = std::sqrt(std::abs(FLogicalToDevice.determinant()));
  TEmfPen SavedPen = FState.Pen;
  FState.Pen.Width *= Scale;
  for (double& D : FState.Pen.Dashes) D *= Scale;
  FFull = FDeviceToSurface;
  FTransformDirty = true;
  PaintChanged();
  if (FState.Rop2 != R2_NOP) {
    const bool Stroke = Type != EMR_FILLPATH, Fill = Type != EMR_STROKEPATH;
    const QPainterPath Path = FPath;
    DrawShape(Path, Stroke, Fill);
  }
  FState.Pen = std::move(SavedPen);
  FFull = Saved;
  FTransformDirty = true;
  PaintChanged();
  FPath = QPainterPath();
}

// ---------------------------------------------------------------------------
// Clipping and regions

std::optional<QPainterPath> TEmfPlayer::ReadRegion(TByteReader& R, std::uint32_t Size) {
  if (Size < 32 || Size > R.Remaining()) return std::nullopt;
  TByteReader D = R.Sub(R.Position(), Size);
  D.Skip(8);  // header size, type
  const std::uint32_t Count = D.U32();
  D.Skip(4 + 16);  // region size, bounds
  if (Count > D.Remaining() / 16 || Count > MaxRegionRects) return std::nullopt;
  QPainterPath P;
  P.setFillRule(Qt::WindingFill);
  for (std::uint32_t I = 0; I < Count; ++I) P.addRect(ReadRectL(D));
  return P;
}

namespace {

// Whether the path is one axis-aligned rectangle: a figure of four edges back
// to its start, each edge along one axis, through four different corners of
// its bounding box. Points on the corners alone do not make a rectangle: a bow
// tie has them too.
bool IsRectPath(const QPainterPath& P, QRectF& Rect) {
  if (P.elementCount() != 5 || !P.elementAt(0).isMoveTo()) return false;
  Rect = P.boundingRect();
  for (int I = 0; I < 5; ++I) {
    const QPointF E = P.elementAt(I);
    if (I > 0 && !P.elementAt(I).isLineTo()) return false;
    if ((E.x() != Rect.left() && E.x() != Rect.right()) || (E.y() != Rect.top() && E.y() != Rect.bottom()))
      return false;
  }
  if (QPointF(P.elementAt(4)) != QPointF(P.elementAt(0))) return false;
  for (int I = 0; I < 4; ++I) {
    // Each edge moves along exactly one axis, turning at every corner: four
    // such edges through corners of a box visit all four of them.
    const QPointF A = P.elementAt(I), B = P.elementAt(I + 1), C = P.elementAt((I + 1) % 4 + 1);
    const bool Across = A.x() != B.x(), Turns = (B.x() != C.x()) != Across;
    if (Across == (A.y() != B.y()) || !Turns) return false;
  }
  return Rect.width() > 0 && Rect.height() > 0;
}

}  // namespace

void TEmfPlayer::CombineClip(const QPainterPath& Device, std::uint32_t Mode) {
  TDcState& S = FState;
  QRectF NewRect;
  const bool NewIsRect = IsRectPath(Device, NewRect);
  // "No clip" stands for the whole surface when a region is taken away from it.
  auto Everything = [&] {
    QPainterPath All;
    const QRectF Surface(0, 0, FPainter.device()->width(), FPainter.device()->height());
    All.addRect(FDeviceToSurface.inverted().mapRect(Surface).adjusted(-1, -1, 1, 1));
    return All;
  };
  switch (Mode) {
    case RGN_COPY:
      S.Clip = Device;
      S.ClipIsRect = NewIsRect;
      S.ClipRect = NewRect;
      S.HasClip = true;
      break;
    case RGN_AND:
      if (!S.HasClip) {
        S.Clip = Device;
        S.ClipIsRect = NewIsRect;
        S.ClipRect = NewRect;
      } else if (S.ClipIsRect && NewIsRect) {
        S.ClipRect = S.ClipRect.intersected(NewRect);
        S.Clip = QPainterPath();
        S.Clip.addRect(S.ClipRect);
      } else {
        S.Clip = S.Clip.intersected(Device);
        S.ClipIsRect = false;
      }
      S.HasClip = true;
      break;
    case RGN_OR:
      if (!S.HasClip) return;  // the whole surface stays the whole surface
      S.Clip = S.Clip.united(Device);
      S.ClipIsRect = false;
      break;
    case RGN_XOR: {
      const QPainterPath Old = S.HasClip ? S.Clip : Everything();
      S.Clip = Old.united(Device).subtracted(Old.intersected(Device));
      S.ClipIsRect = false;
      S.HasClip = true;
      break;
    }
    case RGN_DIFF:
      S.Clip = (S.HasClip ? S.Clip : Everything()).subtracted(Device);
      S.ClipIsRect = false;
      S.HasClip = true;
      break;
    default: return;
  }
  if (S.HasClip && !S.ClipIsRect) S.ClipIsRect = IsRectPath(S.Clip, S.ClipRect);
  FClipDirty = true;
}

void TEmfPlayer::ClipRect(TByteReader& R, bool Exclude) {
  const QRectF L = ReadRectL(R);
  QPainterPath P;
  P.addRect(L);
  P = FLogicalToDevice.map(P);
  CombineClip(P, Exclude ? RGN_DIFF : RGN_AND);
}

void TEmfPlayer::ApplyClip() {
  FClipDirty = false;
  FTransformDirty = true;
  FPainter.setWorldTransform(QTransform());
  if (FHasBaseClip)
    FPainter.setClipRegion(FBaseClip);
  else
    FPainter.setClipping(false);
  if (!FState.HasClip) return;
  FPainter.setWorldTransform(FDeviceToSurface);
  const Qt::ClipOperation Op = FHasBaseClip ? Qt::IntersectClip : Qt::ReplaceClip;
  if (FState.ClipIsRect)
    FPainter.setClipRect(FState.ClipRect, Op);
  else
    FPainter.setClipPath(FState.Clip, Op);
}

void TEmfPlayer::RegionRecord(TByteReader& R, std::uint32_t Type) {
  R.Skip(16);  // bounds
  const std::uint32_t Cb = R.U32();
  std::uint32_t BrushIndex = 0;
  double FrameW = 1, FrameH = 1;
  if (Type == EMR_FILLRGN || Type == EMR_FRAMERGN) BrushIndex = R.U32();
  if (Type == EMR_FRAMERGN) {
    FrameW = R.I32();
    FrameH = R.I32();
  }
  const auto Region = ReadRegion(R, Cb);
  if (!Region || FInPath) return;
  TEmfBrush Brush = FState.Brush;
  if (Type == EMR_FILLRGN || Type == EMR_FRAMERGN) {
    if (BrushIndex & StockObjectFlag) {
      const TEmfBrush Saved = FState.Brush;
      SelectObject(BrushIndex);
      Brush = FState.Brush;
      FState.Brush = Saved;
    } else if (TObjectSlot* S = Slot(BrushIndex, false); S && std::holds_alternative<TEmfBrush>(*S)) {
      Brush = std::get<TEmfBrush>(*S);
    } else {
      return;
    }
  }
  ApplyDrawingState(false, false);
  FPainter.setWorldTransform(FDeviceToSurface);
  FTransformDirty = true;
  FApplied.Valid = false;
  QPainterPath Area = *Region;
  if (Type == EMR_INVERTRGN) {
    FPainter.setCompositionMode(QPainter::RasterOp_NotDestination);
    FPainter.fillPath(Area, Qt::black);
    return;
  }
  if (Type == EMR_FRAMERGN) {
    QPainterPathStroker S;
    S.setWidth(std::clamp(std::max(std::abs(FrameW), std::abs(FrameH)) * 2, 1.0, MaxFrameWidth));
    Area = S.createStroke(Area).intersected(Area);
  }
  FPainter.fillPath(Area, MakeBrush(Brush));
}
