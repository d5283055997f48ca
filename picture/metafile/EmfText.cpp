// Text records of the player: fonts mapped to installed families, reference
// point and alignment, spacing arrays, background and clipping rectangles.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include "toolkit/ByteReader.h"
#include "picture/metafile/Charsets.h"
#include "picture/metafile/EmfPlayer.h"
#include "picture/metafile/EmfRecords.h"

using namespace emf;

namespace {

enum TGeneric : std::uint8_t { gnSans, gnSerif, gnMono };

// Faces that are seldom installed here, by the kind of face they are.
TGeneric KnownFace(const QString& Lower, std::uint8_t PitchAndFamily, bool& Known) {
  static const std::unordered_map<std::u16string, TGeneric> Faces = {
      {u"arial", gnSans},          {u"helvetica", gnSans},        {u"verdana", gnSans},
      {u"tahoma", gnSans},         {u"segoe ui", gnSans},         {u"calibri", gnSans},
      {u"ms sans serif", gnSans},  {u"microsoft sans serif", gnSans}, {u"ms shell dlg", gnSans},
      {u"ms shell dlg 2", gnSans}, {u"arial narrow", gnSans},     {u"trebuchet ms", gnSans},
      {u"system", gnSans},         {u"liberation sans", gnSans},  {u"open sans", gnSans},
      {u"times new roman", gnSerif}, {u"times", gnSerif},         {u"georgia", gnSerif},
      {u"cambria", gnSerif},       {u"garamond", gnSerif},        {u"book antiqua", gnSerif},
      {u"palatino linotype", gnSerif}, {u"ms serif", gnSerif},    {u"liberation serif", gnSerif},
      {u"courier new", gnMono},    {u"courier", gnMono},          {u"consolas", gnMono},
      {u"lucida console", gnMono}, {u"fixedsys", gnMono},         {u"terminal", gnMono},
      {u"liberation mono", gnMono},
  };
  const auto It = Faces.find(Lower.toStdU16String());
  Known = It != Faces.end();
  if (Known) return It->second;
  // Otherwise the family bits of the font tell: roman faces have serifs, modern ones a fixed pitch.
  const std::uint8_t Family = PitchAndFamily & 0xF0;
  if (Family == 0x10) return gnSerif;
  if (Family == 0x30 || (PitchAndFamily & 0x03) == 1) return gnMono;
  return gnSans;
}

// The installed family that shows a face.
QString MapFamily(const QString& Face, std::uint8_t PitchAndFamily) {
  static std::unordered_map<std::u16string, QString> Cache;
  const std::u16string Key = Face.toLower().toStdU16String() + char16_t(PitchAndFamily);
  if (auto It = Cache.find(Key); It != Cache.end()) return It->second;
  QString Result;
  bool Known = false;
  const TGeneric G = KnownFace(Face.toLower(), PitchAndFamily, Known);
  if (!Known && !Face.isEmpty() && QFontDatabase::hasFamily(Face)) {
    Result = Face;
  } else {
    // Faces with the common faces' letter widths first, where installed.
    static const char* const Preferred[3][3] = {{"Liberation Sans", "DejaVu Sans", "sans-serif"},
                                                {"Liberation Serif", "DejaVu Serif", "serif"},
                                                {"Liberation Mono", "DejaVu Sans Mono", "monospace"}};
    for (const char* Name : Preferred[G]) {
      Result = QString::fromLatin1(Name);
      if (QFontDatabase::hasFamily(Result)) break;
    }
  }
  Cache.emplace(Key, Result);
  return Result;
}

QString ReadUtf16(TByteReader R, std::size_t Count) {
  QString S;
  S.reserve(static_cast<qsizetype>(Count));
  for (std::size_t I = 0; I < Count; ++I) S.append(QChar(R.U16()));
  return S;
}

}  // namespace

void TEmfPlayer::CreateFont(TByteReader& R) {
  const std::uint32_t Index = R.U32();
  TEmfFont F;
  F.Height = R.I32();
  F.Width = R.I32();
  F.Escapement = R.I32();
  F.Orientation = R.I32();
  F.Weight = R.I32();
  F.Italic = R.U8() != 0;
  F.Underline = R.U8() != 0;
  F.StrikeOut = R.U8() != 0;
  F.Charset = R.U8();
  R.Skip(3);  // precision and quality
  F.PitchAndFamily = R.U8();
  const std::size_t Chars = std::min<std::size_t>(32, R.Remaining() / 2);
  QString Face = ReadUtf16(R, Chars);
  if (const qsizetype Nul = Face.indexOf(QChar(0)); Nul >= 0) Face.truncate(Nul);
  F.Face = Face;
  if (TObjectSlot* S = Slot(Index, true)) *S = std::move(F);
}

void TEmfPlayer::ExtTextOut(TByteReader& R, bool Wide) {
  const TByteReader Record = R.Sub(0, R.Size());
  R.Skip(16);  // bounds
  const std::uint32_t GraphicsMode = R.U32();
  R.Skip(8);  // scales of the compatible graphics mode, not needed here
  const QPointF Ref = ReadPoint(R, false);
  const std::uint32_t NChars = R.U32(), OffString = R.U32(), Options = R.U32();
  const QRectF Rect = ReadRectL(R);
  const std::uint32_t OffDx = R.U32();
  if (NChars > R.Size()) return;
  QString Text;
  if (Wide) {
    Text = ReadUtf16(Record.Sub(OffString, std::size_t{NChars} * 2), NChars);
  } else {
    Text = DecodeCharsetText(Record.Sub(OffString, NChars).Rest(), FState.Font.Charset);
  }
  // The spacing array is used when it lies whole inside the record.
  std::vector<double> Dx;
  const std::size_t DxStride = Options & ETO_PDY ? 8 : 4;
  if (OffDx != 0 && OffDx <= R.Size() && (R.Size() - OffDx) / DxStride >= NChars) {
    TByteReader D = Record.Sub(OffDx, NChars * DxStride);
    for (std::uint32_t I = 0; I < NChars; ++I) {
      Dx.push_back(D.I32());
      if (DxStride == 8) D.Skip(4);
    }
  }
  std::optional<QRectF> Box;
  if ((Options & (ETO_OPAQUE | ETO_CLIPPED)) && !Rect.isEmpty()) Box = Rect;
  DrawText(Ref, Text, Dx, Options, Box, GraphicsMode);
}

void TEmfPlayer::SmallTextOut(TByteReader& R) {
  const QPointF Ref = ReadPoint(R, false);
  const std::uint32_t NChars = R.U32(), Options = R.U32(), GraphicsMode = R.U32();
  R.Skip(8);  // scales of the compatible graphics mode, not needed here
  std::optional<QRectF> Box;
  if (!(Options & ETO_NO_RECT)) {
    const QRectF Rect = ReadRectL(R);
    if ((Options & (ETO_OPAQUE | ETO_CLIPPED)) && !Rect.isEmpty()) Box = Rect;
  }
  if (NChars > R.Remaining()) return;
  const QString Text = Options & ETO_SMALL_CHARS ? DecodeCharsetText(R.Bytes(NChars), FState.Font.Charset)
                                                 : ReadUtf16(R.Sub(R.Position(), std::size_t{NChars} * 2), NChars);
  DrawText(Ref, Text, {}, Options, Box, GraphicsMode);
}

void TEmfPlayer::PolyTextOut(TByteReader& R, bool Wide) {
  const TByteReader Record = R.Sub(0, R.Size());
  R.Skip(16);
  const std::uint32_t GraphicsMode = R.U32();
  R.Skip(8);  // scales of the compatible graphics mode, not needed here
  const std::uint32_t Count = R.U32();
  if (Count > R.Remaining() / 40) return;
  for (std::uint32_t I = 0; I < Count; ++I) {
    const QPointF Ref = ReadPoint(R, false);
    const std::uint32_t NChars = R.U32(), OffString = R.U32(), Options = R.U32();
    const QRectF Rect = ReadRectL(R);
    const std::uint32_t OffDx = R.U32();
    if (NChars > R.Size()) continue;
    const QString Text = Wide ? ReadUtf16(Record.Sub(OffString, std::size_t{NChars} * 2), NChars)
                              : DecodeCharsetText(Record.Sub(OffString, NChars).Rest(), FState.Font.Charset);
    std::vector<double> Dx;
    if (OffDx != 0 && OffDx <= R.Size() && (R.Size() - OffDx) / 4 >= NChars) {
      TByteReader D = Record.Sub(OffDx, std::size_t{NChars} * 4);
      for (std::uint32_t K = 0; K < NChars; ++K) Dx.push_back(D.I32());
    }
    std::optional<QRectF> Box;
    if ((Options & (ETO_OPAQUE | ETO_CLIPPED)) && !Rect.isEmpty()) Box = Rect;
    DrawText(Ref, Text, Dx, Options, Box, GraphicsMode);
  }
}

std::optional<QFont> TEmfPlayer::TextFont(double SX, double SY) const {
  const TEmfFont& F = FState.Font;
  QFont Font(MapFamily(F.Face, F.PitchAndFamily));
  Font.setStyleHint(QFont::AnyStyle, QFont::PreferOutline);
  Font.setHintingPreference(QFont::PreferNoHinting);
  Font.setWeight(static_cast<QFont::Weight>(F.Weight <= 0 ? 400 : std::clamp(F.Weight, 1, 1000)));
  Font.setItalic(F.Italic);
  Font.setUnderline(F.Underline);
  Font.setStrikeOut(F.StrikeOut);
  const double Dpi = FPainter.device()->logicalDpiY() > 0 ? FPainter.device()->logicalDpiY() : 96;
  // A positive height is the cell height (ascent and descent); a negative one the character height.
  double Em = std::abs(static_cast<double>(F.Height)) * SY;
  if (F.Height == 0) Em = 12.0 * Dpi / 72;
  if (!(Em > 0.01) || Em > MaxFontPixels) return std::nullopt;
  Font.setPointSizeF(Em * 72 / Dpi);
  if (F.Height > 0) {
    const QFontMetricsF M(Font, FPainter.device());
    const double Cell = M.ascent() + M.descent();
    if (Cell > 0) Font.setPointSizeF(Em * Em / Cell * 72 / Dpi);
  }
  if (F.Width != 0) {
    // A given average character width stretches the face to it, within a
    // range that keeps the painter's cache of glyph images to a sensible size.
    const QFontMetricsF M(Font, FPainter.device());
    const double Natural = M.averageCharWidth();
    if (Natural > 0)
      Font.setStretch(static_cast<int>(std::clamp(std::abs(static_cast<double>(F.Width)) * SX / Natural * 100, 20.0, 500.0)));
  }
  return Font;
}

void TEmfPlayer::DrawText(QPointF Ref, const QString& Text, const std::vector<double>& Dx, std::uint32_t Options,
                          const std::optional<QRectF>& Rect, std::uint32_t GraphicsMode) {
  // Text outlines in paths are not drawn, and text in glyph indexes cannot be
  // shown with the fonts that stand in for the metafile's.
  if (FInPath || !FFullValid || Text.size() > static_cast<qsizetype>(MaxTextChars)) return;
  if (Options & ETO_GLYPH_INDEX) {
    if (Rect && (Options & ETO_OPAQUE)) {
      ApplyDrawingState(false, false);
      FPainter.fillRect(*Rect, Color(FState.BkColor));
    }
    return;
  }
  const TEmfFont& F = FState.Font;
  const bool UpdateCP = FState.TextAlign & TA_UPDATECP;
  if (UpdateCP) Ref = FState.CurPos;
  ApplyDrawingState(false, false);
  FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  FApplied.Valid = false;
  FPainter.save();
  if (Rect && (Options & ETO_OPAQUE)) FPainter.fillRect(*Rect, Color(FState.BkColor));
  if (Rect && (Options & ETO_CLIPPED)) FPainter.setClipRect(*Rect, Qt::IntersectClip);

  // Scales of the logical axes on the surface, and the baseline's direction.
  const QPointF Origin = FFull.map(QPointF(0, 0));
  const QPointF XAxis = FFull.map(QPointF(1, 0)) - Origin, YAxis = FFull.map(QPointF(0, 1)) - Origin;
  const double SX = std::hypot(XAxis.x(), XAxis.y()), SY = std::hypot(YAxis.x(), YAxis.y());
  double Angle = -static_cast<double>(F.Escapement) / 10.0;
  if (GraphicsMode == GM_ADVANCED) Angle += std::atan2(XAxis.y(), XAxis.x()) * 180 / std::numbers::pi;

  const std::optional<QFont> Made = TextFont(SX, SY);
  if (!Made) {
    FPainter.restore();
    return;
  }
  QFont Font = *Made;
  // Positions along the baseline, in surface pixels.
  std::vector<double> Pos(static_cast<std::size_t>(Text.size()) + 1, 0);
  const bool HaveDx = Dx.size() >= static_cast<std::size_t>(Text.size()) && !Dx.empty();
  if (HaveDx) {
    for (qsizetype I = 0; I < Text.size(); ++I) Pos[I + 1] = Pos[I] + Dx[I] * SX;
    // A stand-in face wider than the metafile's is narrowed to the spacing the
    // metafile gives, so that its letters do not run into each other.
    const double Natural = QFontMetricsF(Font, FPainter.device()).horizontalAdvance(Text);
    if (Natural > Pos.back() * 1.02 && Pos.back() > 0 && Font.stretch() == 0)
      Font.setStretch(static_cast<int>(std::clamp(Pos.back() / Natural * 100, 50.0, 100.0)));
  }
  FPainter.setFont(Font);
  const QFontMetricsF M(Font, FPainter.device());
  if (!HaveDx) {
    for (qsizetype I = 0; I < Text.size(); ++I) Pos[I + 1] = Pos[I] + M.horizontalAdvance(Text.at(I));
    Pos.back() = M.horizontalAdvance(Text);
  }
  const double Total = Pos.back();
  double X0 = 0;
  switch (FState.TextAlign & TA_CENTER) {
    case TA_RIGHT: X0 = -Total; break;
    case TA_CENTER: X0 = -Total / 2; break;
    default: break;
  }
  double Baseline = M.ascent();
  switch (FState.TextAlign & TA_BASELINE) {
    case TA_BASELINE: Baseline = 0; break;
    case TA_BOTTOM: Baseline = -M.descent(); break;
    default: break;
  }
  FPainter.setWorldTransform(QTransform().rotate(Angle) * QTransform::fromTranslate(FFull.map(Ref).x(), FFull.map(Ref).y()));
  FTransformDirty = true;
  if (FState.BkMode == OPAQUE && !(Rect && (Options & ETO_OPAQUE)))
    FPainter.fillRect(QRectF(X0, Baseline - M.ascent(), Total, M.ascent() + M.descent()), Color(FState.BkColor));
  // Large glyphs are filled as outlines: the painter would keep an image of
  // each in its glyph cache, and that image grows with the glyph.
  const double Dpi = FPainter.device()->logicalDpiY() > 0 ? FPainter.device()->logicalDpiY() : 96;
  const bool Outlines = Font.pointSizeF() * Dpi / 72 > 256 || Font.stretch() > 200;
  QPainterPath Shapes;
  auto Put = [&](QPointF At, const QString& S) {
    if (Outlines)
      Shapes.addText(At, Font, S);
    else
      FPainter.drawText(At, S);
  };
  FPainter.setPen(Color(FState.TextColor));
  if (HaveDx) {
    for (qsizetype I = 0; I < Text.size(); ++I) {
      qsizetype N = 1;
      if (Text.at(I).isHighSurrogate() && I + 1 < Text.size()) N = 2;
      Put(QPointF(X0 + Pos[I], Baseline), Text.mid(I, N));
      I += N - 1;
    }
  } else {
    Put(QPointF(X0, Baseline), Text);
  }
  if (Outlines) FPainter.fillPath(Shapes, Color(FState.TextColor));
  FPainter.restore();
  if (UpdateCP && (FState.TextAlign & TA_CENTER) == 0 && SX > 0) {
    const QPointF Dir = XAxis / SX;
    FState.CurPos = FFull.inverted().map(FFull.map(Ref) + Dir * Total);
  }
}
