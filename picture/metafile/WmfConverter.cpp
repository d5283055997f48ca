#include "picture/metafile/WmfConverter.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <queue>
#include <variant>

#include <QString>

#include "picture/Dib.h"
#include "picture/Limits.h"
#include "toolkit/ByteReader.h"
#include "picture/metafile/Charsets.h"
#include "picture/metafile/EmfRecords.h"
#include "picture/metafile/EmfWriter.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Types.h"

using namespace emf;

namespace {

// Windows metafile functions.
enum : std::uint16_t {
  META_EOF = 0x0000, META_SETBKCOLOR = 0x0201, META_SETBKMODE = 0x0102, META_SETMAPMODE = 0x0103,
  META_SETROP2 = 0x0104, META_SETPOLYFILLMODE = 0x0106, META_SETSTRETCHBLTMODE = 0x0107,
  META_SETTEXTCHAREXTRA = 0x0108, META_SETTEXTCOLOR = 0x0209, META_SETWINDOWORG = 0x020B,
  META_SETWINDOWEXT = 0x020C, META_OFFSETWINDOWORG = 0x020F, META_SCALEWINDOWEXT = 0x0410,
  META_LINETO = 0x0213, META_MOVETO = 0x0214, META_EXCLUDECLIPRECT = 0x0415, META_INTERSECTCLIPRECT = 0x0416,
  META_ARC = 0x0817, META_ELLIPSE = 0x0418, META_PIE = 0x081A, META_RECTANGLE = 0x041B,
  META_ROUNDRECT = 0x061C, META_PATBLT = 0x061D, META_SAVEDC = 0x001E, META_SETPIXEL = 0x041F,
  META_OFFSETCLIPRGN = 0x0220, META_TEXTOUT = 0x0521, META_BITBLT = 0x0922, META_STRETCHBLT = 0x0B23,
  META_POLYGON = 0x0324, META_POLYLINE = 0x0325, META_ESCAPE = 0x0626, META_RESTOREDC = 0x0127,
  META_FILLREGION = 0x0228, META_FRAMEREGION = 0x0429, META_INVERTREGION = 0x012A, META_PAINTREGION = 0x012B,
  META_SELECTCLIPREGION = 0x012C, META_SELECTOBJECT = 0x012D, META_SETTEXTALIGN = 0x012E, META_CHORD = 0x0830,
  META_EXTTEXTOUT = 0x0A32, META_SETDIBTODEV = 0x0D33, META_SELECTPALETTE = 0x0234,
  META_REALIZEPALETTE = 0x0035, META_POLYPOLYGON = 0x0538, META_DIBBITBLT = 0x0940,
  META_DIBSTRETCHBLT = 0x0B41, META_DIBCREATEPATTERNBRUSH = 0x0142, META_STRETCHDIB = 0x0F43,
  META_DELETEOBJECT = 0x01F0, META_CREATEPALETTE = 0x00F7, META_CREATEPATTERNBRUSH = 0x01F9,
  META_CREATEPENINDIRECT = 0x02FA, META_CREATEFONTINDIRECT = 0x02FB, META_CREATEBRUSHINDIRECT = 0x02FC,
  META_CREATEREGION = 0x06FF,
};

struct TRegionObj {
  std::vector<TRect> Rects;  // logical units
};
struct TFontObj {
  std::uint8_t Charset = DEFAULT_CHARSET;
};
struct TOtherObj {};
using TWmfObject = std::variant<std::monostate, TRegionObj, TFontObj, TOtherObj>;

// What the conversion must know of the device context as it goes.
struct TTracked {
  std::int32_t WinOrg[2] = {0, 0};
  std::uint8_t Charset = DEFAULT_CHARSET;
};

class TWmfConverter {
 public:
  TWmfConverter(const TPlaceableHeader& H, std::int32_t MMW, std::int32_t MMH) : FHeader(H), FMMW(MMW), FMMH(MMH) {}
  std::vector<std::uint8_t> Convert(std::span<const std::uint8_t> Wmf);

 private:
  void Record(std::uint16_t Function, TByteReader& R);
  int NewSlot();
  void Create(TWmfObject Obj, int& Slot);
  void Polys(std::uint32_t EmfType, TByteReader& R);
  void PolyPolygon(TByteReader& R);
  void BoxRecord(std::uint32_t EmfType, TByteReader& R);
  void ArcRecord(std::uint32_t EmfType, TByteReader& R);
  void Text(std::int32_t X, std::int32_t Y, std::uint16_t Options, const TRect* Rect,
            std::span<const std::uint8_t> Chars, const std::vector<std::int32_t>& Dx);
  void ExtTextOut(TByteReader& R);
  void Font(TByteReader& R);
  void Region(TByteReader& R);
  void RegionPath(const TRegionObj& Region);
  void RegionOp(std::uint16_t Function, TByteReader& R);
  void SelectObject(std::uint16_t Index);
  bool SplitDib(std::span<const std::uint8_t> Dib, std::uint32_t Usage, std::span<const std::uint8_t>& Info,
                std::span<const std::uint8_t>& Bits);
  void Blt(std::uint16_t Function, TByteReader& R);
  void DibPatternBrush(TByteReader& R);
  void SetDibToDev(TByteReader& R);
  void RestoreDC(std::int16_t N);
  void Palette(TByteReader& R);
  std::vector<std::uint8_t> Assemble();

  TPlaceableHeader FHeader;
  std::int32_t FMMW, FMMH;
  TEmfWriter W;
  std::vector<TWmfObject> FObjects;
  // Freed slots, lowest first; every slot from FUnused on has never been used.
  // So the lowest free slot is found at once, however full the table.
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> FFreed;
  std::size_t FUnused = 0;
  TTracked FState;
  std::vector<TTracked> FSaved;
  std::vector<std::uint32_t> FPalette;  // the first palette, for the end-of-file record
};

// A sum kept inside the 32-bit range: many offsets in a row must not wrap around.
std::int32_t SaturatedAdd(std::int32_t A, std::int32_t B) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{A} + B, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

TRect ReadBox(TByteReader& R) {  // bottom, right, top, left
  TRect B;
  B.Bottom = R.I16();
  B.Right = R.I16();
  B.Top = R.I16();
  B.Left = R.I16();
  return B;
}

std::vector<std::uint8_t> TWmfConverter::Convert(std::span<const std::uint8_t> Wmf) {
  TByteReader H(Wmf);
  std::uint16_t Type, HeaderWords, Objects;
  try {
    Type = H.U16();
    HeaderWords = H.U16();
    H.Skip(2 + 4);  // version, size
    Objects = H.U16();
    H.Skip(4 + 2);  // largest record, parameter count
  } catch (const EReadError&) {
    throw EInvalidGraphic("Metafile is not valid");
  }
  if ((Type != 1 && Type != 2) || HeaderWords != 9) throw EInvalidGraphic("Metafile is not valid");
  FObjects.assign(Objects, TWmfObject{});

  // The window is the bounding box; the device is the metafile's own units.
  const std::int32_t BW = FHeader.Right - FHeader.Left, BH = FHeader.Bottom - FHeader.Top;
  W.Record(EMR_SETMAPMODE, {static_cast<std::int32_t>(MM_ANISOTROPIC)});
  FState.WinOrg[0] = FHeader.Left;
  FState.WinOrg[1] = FHeader.Top;
  W.Record(EMR_SETWINDOWORGEX, {FHeader.Left, FHeader.Top});
  W.Record(EMR_SETWINDOWEXTEX, {BW, BH});
  W.Record(EMR_SETVIEWPORTORGEX, {0, 0});
  W.Record(EMR_SETVIEWPORTEXTEX, {BW, BH});

  std::size_t Pos = 18;
  while (Wmf.size() - Pos >= 6) {
    TByteReader P(Wmf.subspan(Pos));
    const std::uint64_t Words = P.U32();
    const std::uint16_t Function = P.U16();
    // A record smaller than its prefix or larger than what remains ends the metafile.
    if (Words < 3 || Words * 2 > Wmf.size() - Pos) break;
    if (Function == META_EOF) break;
    TByteReader R(Wmf.subspan(Pos + 6, static_cast<std::size_t>(Words * 2 - 6)));
    try {
      Record(Function, R);
    } catch (const EReadError&) {
      // A record shorter than its fields is left out.
    }
    Pos += static_cast<std::size_t>(Words * 2);
  }
  return Assemble();
}

std::vector<std::uint8_t> TWmfConverter::Assemble() {
  TEmfWriter Out;
  const std::int32_t Inch = FHeader.Inch ? FHeader.Inch : 96;
  // A reference device whose pixel is one metafile unit: Inch * 5 pixels in 127 mm.
  Out.Begin(EMR_HEADER);
  Out.I32(0);
  Out.I32(0);
  Out.I32(FHeader.Right - FHeader.Left);
  Out.I32(FHeader.Bottom - FHeader.Top);
  Out.I32(0);
  Out.I32(0);
  Out.I32(FMMW);
  Out.I32(FMMH);
  Out.U32(EmfSignature);
  Out.U32(0x10000);
  const std::uint32_t BytesAt = Out.Offset();
  Out.U32(0);  // total size, filled in below
  Out.U32(W.Records() + 2);
  Out.U16(static_cast<std::uint16_t>(std::min<std::size_t>(FObjects.size() + 1, 0xFFFF)));
  Out.U16(0);
  Out.U32(0);
  Out.U32(0);
  Out.U32(static_cast<std::uint32_t>(FPalette.size()));
  Out.I32(Inch * 5);
  Out.I32(Inch * 5);
  Out.I32(127);
  Out.I32(127);
  Out.U32(0);
  Out.U32(0);
  Out.U32(0);
  Out.U32(127000);
  Out.U32(127000);
  Out.End();
  Out.Bytes(W.Data());
  Out.Begin(EMR_EOF);
  Out.U32(static_cast<std::uint32_t>(FPalette.size()));
  Out.U32(16);
  for (std::uint32_t E : FPalette) {
    Out.U8(static_cast<std::uint8_t>(E >> 16));
    Out.U8(static_cast<std::uint8_t>(E >> 8));
    Out.U8(static_cast<std::uint8_t>(E));
    Out.U8(0);
  }
  Out.U32(Out.Offset() + 4);
  Out.End();
  std::vector<std::uint8_t> Bytes = std::move(Out.Data());
  const std::uint32_t Total = static_cast<std::uint32_t>(Bytes.size());
  std::memcpy(Bytes.data() + BytesAt, &Total, 4);
  return Bytes;
}

int TWmfConverter::NewSlot() {
  // The lowest free slot, as the system numbers them.
  if (!FFreed.empty()) {
    const std::size_t Slot = FFreed.top();
    FFreed.pop();
    return static_cast<int>(Slot);
  }
  return FUnused < FObjects.size() ? static_cast<int>(FUnused++) : -1;
}

void TWmfConverter::Create(TWmfObject Obj, int& Slot) {
  Slot = NewSlot();
  if (Slot >= 0) FObjects[static_cast<std::size_t>(Slot)] = std::move(Obj);
}

void TWmfConverter::Record(std::uint16_t Function, TByteReader& R) {
  switch (Function) {
    case META_SETBKCOLOR: W.Record(EMR_SETBKCOLOR, {R.I32()}); break;
    case META_SETBKMODE: W.Record(EMR_SETBKMODE, {R.U16()}); break;
    case META_SETMAPMODE: {
      // Only the scalable modes are kept: the fixed ones would undo the mapping onto the bounding box.
      const std::uint16_t Mode = R.U16();
      if (Mode == MM_ISOTROPIC || Mode == MM_ANISOTROPIC) W.Record(EMR_SETMAPMODE, {Mode});
      break;
    }
    case META_SETROP2: W.Record(EMR_SETROP2, {R.U16()}); break;
    case META_SETPOLYFILLMODE: W.Record(EMR_SETPOLYFILLMODE, {R.U16()}); break;
    case META_SETSTRETCHBLTMODE: W.Record(EMR_SETSTRETCHBLTMODE, {R.U16()}); break;
    case META_SETTEXTCOLOR: W.Record(EMR_SETTEXTCOLOR, {R.I32()}); break;
    case META_SETTEXTALIGN: W.Record(EMR_SETTEXTALIGN, {R.U16()}); break;
    case META_SETWINDOWORG: case META_OFFSETWINDOWORG: {
      const std::int32_t Y = R.I16(), X = R.I16();
      if (Function == META_SETWINDOWORG) {
        FState.WinOrg[0] = X;
        FState.WinOrg[1] = Y;
      } else {
        FState.WinOrg[0] = SaturatedAdd(FState.WinOrg[0], X);
        FState.WinOrg[1] = SaturatedAdd(FState.WinOrg[1], Y);
      }
      W.Record(EMR_SETWINDOWORGEX, {FState.WinOrg[0], FState.WinOrg[1]});
      break;
    }
    case META_SETWINDOWEXT: {
      const std::int32_t Y = R.I16(), X = R.I16();
      W.Record(EMR_SETWINDOWEXTEX, {X, Y});
      break;
    }
    case META_SCALEWINDOWEXT: {
      const std::int32_t YD = R.I16(), YN = R.I16(), XD = R.I16(), XN = R.I16();
      W.Record(EMR_SCALEWINDOWEXTEX, {XN, XD, YN, YD});
      break;
    }
    case META_LINETO: case META_MOVETO: case META_OFFSETCLIPRGN: {
      const std::int32_t Y = R.I16(), X = R.I16();
      W.Record(Function == META_LINETO ? EMR_LINETO : Function == META_MOVETO ? EMR_MOVETOEX : EMR_OFFSETCLIPRGN,
               {X, Y});
      break;
    }
    case META_EXCLUDECLIPRECT: case META_INTERSECTCLIPRECT: {
      const TRect B = ReadBox(R);
      W.Record(Function == META_EXCLUDECLIPRECT ? EMR_EXCLUDECLIPRECT : EMR_INTERSECTCLIPRECT,
               {B.Left, B.Top, B.Right, B.Bottom});
      break;
    }
    case META_RECTANGLE: BoxRecord(EMR_RECTANGLE, R); break;
    case META_ELLIPSE: BoxRecord(EMR_ELLIPSE, R); break;
    case META_ROUNDRECT: {
      const std::int32_t H = R.I16(), Wd = R.I16();
      const TRect B = ReadBox(R);
      W.Record(EMR_ROUNDRECT, {B.Left, B.Top, B.Right, B.Bottom, Wd, H});
      break;
    }
    case META_ARC: ArcRecord(EMR_ARC, R); break;
    case META_PIE: ArcRecord(EMR_PIE, R); break;
    case META_CHORD: ArcRecord(EMR_CHORD, R); break;
    case META_POLYGON: Polys(EMR_POLYGON16, R); break;
    case META_POLYLINE: Polys(EMR_POLYLINE16, R); break;
    case META_POLYPOLYGON: PolyPolygon(R); break;
    case META_SETPIXEL: {
      const std::int32_t C = R.I32();
      const std::int32_t Y = R.I16(), X = R.I16();
      W.Record(EMR_SETPIXELV, {X, Y, C});
      break;
    }
    case META_SAVEDC:
      if (FSaved.size() < MaxSavedStates) FSaved.push_back(FState);
      W.Record(EMR_SAVEDC, {});
      break;
    case META_RESTOREDC: RestoreDC(R.I16()); break;
    case META_TEXTOUT: {
      const std::uint16_t Count = R.U16();
      const auto Chars = R.Bytes(Count);
      R.Skip(Count & 1);
      const std::int32_t Y = R.I16(), X = R.I16();
      Text(X, Y, 0, nullptr, Chars, {});
      break;
    }
    case META_EXTTEXTOUT: ExtTextOut(R); break;
    case META_CREATEPENINDIRECT: {
      const std::uint16_t Style = R.U16();
      const std::int32_t Width = R.I16();
      R.Skip(2);
      const std::int32_t Color = R.I32();
      int Slot;
      Create(TOtherObj{}, Slot);
      if (Slot >= 0) W.Record(EMR_CREATEPEN, {Slot + 1, Style, Width, 0, Color});
      break;
    }
    case META_CREATEBRUSHINDIRECT: {
      std::uint16_t Style = R.U16();
      const std::int32_t Color = R.I32();
      const std::uint16_t Hatch = R.U16();
      if (Style != BS_SOLID && Style != BS_NULL && Style != BS_HATCHED) Style = BS_SOLID;
      int Slot;
      Create(TOtherObj{}, Slot);
      if (Slot >= 0) W.Record(EMR_CREATEBRUSHINDIRECT, {Slot + 1, Style, Color, Hatch});
      break;
    }
    case META_CREATEPATTERNBRUSH: {
      // Device-dependent pattern bitmaps are not read; a middle gray stands for the pattern.
      int Slot;
      Create(TOtherObj{}, Slot);
      if (Slot >= 0) W.Record(EMR_CREATEBRUSHINDIRECT, {Slot + 1, BS_SOLID, 0x808080, 0});
      break;
    }
    case META_DIBCREATEPATTERNBRUSH: DibPatternBrush(R); break;
    case META_CREATEFONTINDIRECT: Font(R); break;
    case META_CREATEPALETTE: Palette(R); break;
    case META_CREATEREGION: Region(R); break;
    case META_SELECTOBJECT: SelectObject(R.U16()); break;
    case META_SELECTPALETTE: {
      const std::uint16_t I = R.U16();
      if (I < FObjects.size() && std::holds_alternative<TOtherObj>(FObjects[I])) W.Record(EMR_SELECTPALETTE, {I + 1});
      break;
    }
    case META_REALIZEPALETTE: W.Record(EMR_REALIZEPALETTE, {}); break;
    case META_DELETEOBJECT: {
      const std::uint16_t I = R.U16();
      if (I >= FObjects.size() || std::holds_alternative<std::monostate>(FObjects[I])) break;
      if (!std::holds_alternative<TRegionObj>(FObjects[I])) W.Record(EMR_DELETEOBJECT, {I + 1});
      FObjects[I] = std::monostate{};
      FFreed.push(I);
      break;
    }
    case META_FILLREGION: case META_INVERTREGION: case META_PAINTREGION: case META_SELECTCLIPREGION:
    case META_FRAMEREGION:
      RegionOp(Function, R);
      break;
    case META_PATBLT: {
      const std::int32_t Rop = R.I32();
      const std::int32_t H = R.I16(), Wd = R.I16(), Y = R.I16(), X = R.I16();
      W.Record(EMR_BITBLT, {0, 0, -1, -1, X, Y, Wd, H, Rop, 0, 0, 0x3F800000, 0, 0, 0x3F800000, 0, 0, 0, 0, 0, 0, 0, 0});
      break;
    }
    case META_DIBBITBLT: case META_DIBSTRETCHBLT: case META_STRETCHDIB: case META_BITBLT: case META_STRETCHBLT:
      Blt(Function, R);
      break;
    case META_SETDIBTODEV: SetDibToDev(R); break;
    default:
      // Escapes, flood fills, text justification, palette animation and the
      // like have no effect on the picture here.
      break;
  }
}

void TWmfConverter::BoxRecord(std::uint32_t EmfType, TByteReader& R) {
  const TRect B = ReadBox(R);
  W.Record(EmfType, {B.Left, B.Top, B.Right, B.Bottom});
}

void TWmfConverter::ArcRecord(std::uint32_t EmfType, TByteReader& R) {
  const std::int32_t YE = R.I16(), XE = R.I16(), YS = R.I16(), XS = R.I16();
  const TRect B = ReadBox(R);
  W.Record(EmfType, {B.Left, B.Top, B.Right, B.Bottom, XS, YS, XE, YE});
}

void TWmfConverter::Polys(std::uint32_t EmfType, TByteReader& R) {
  const std::uint16_t Count = R.U16();
  if (Count > R.Remaining() / 4) return;
  W.Begin(EmfType);
  for (int I = 0; I < 4; ++I) W.I32(0);  // bounds, not used in playback
  W.U32(Count);
  W.Bytes(R.Bytes(std::size_t{Count} * 4));
  W.End();
}

void TWmfConverter::PolyPolygon(TByteReader& R) {
  const std::uint16_t N = R.U16();
  if (N > R.Remaining() / 2) return;
  std::vector<std::uint16_t> Counts(N);
  std::uint64_t Total = 0;
  for (auto& C : Counts) {
    C = R.U16();
    Total += C;
  }
  if (Total > R.Remaining() / 4) return;
  W.Begin(EMR_POLYPOLYGON16);
  for (int I = 0; I < 4; ++I) W.I32(0);
  W.U32(N);
  W.U32(static_cast<std::uint32_t>(Total));
  for (std::uint16_t C : Counts) W.U32(C);
  W.Bytes(R.Bytes(static_cast<std::size_t>(Total) * 4));
  W.End();
}

void TWmfConverter::Text(std::int32_t X, std::int32_t Y, std::uint16_t Options, const TRect* Rect,
                         std::span<const std::uint8_t> Chars, const std::vector<std::int32_t>& Dx) {
  const QString S = DecodeCharsetText(Chars, FState.Charset);
  const std::uint32_t N = static_cast<std::uint32_t>(S.size());
  // Spacing given per byte only fits text whose characters are single bytes.
  const bool UseDx = !Dx.empty() && Dx.size() == N;
  W.Begin(EMR_EXTTEXTOUTW);
  for (int I = 0; I < 4; ++I) W.I32(0);
  W.U32(GM_COMPATIBLE);
  W.F32(1);
  W.F32(1);
  W.I32(X);
  W.I32(Y);
  W.U32(N);
  const std::uint32_t OffString = 76;
  W.U32(OffString);
  W.U32(Options);
  if (Rect) {
    W.I32(Rect->Left);
    W.I32(Rect->Top);
    W.I32(Rect->Right);
    W.I32(Rect->Bottom);
  } else {
    for (int I = 0; I < 4; ++I) W.I32(0);
  }
  const std::uint32_t OffDxAt = W.Offset();
  W.U32(0);
  for (QChar C : S) W.U16(C.unicode());
  W.Align4();
  if (UseDx) {
    W.Patch(OffDxAt, W.Offset());
    for (std::int32_t D : Dx) W.I32(D);
  }
  W.End();
}

void TWmfConverter::ExtTextOut(TByteReader& R) {
  const std::int32_t Y = R.I16(), X = R.I16();
  const std::uint16_t Count = R.U16();
  const std::uint16_t Options = R.U16();
  TRect Box;
  const bool HasRect = Options & (ETO_OPAQUE | ETO_CLIPPED);
  if (HasRect) {
    Box.Left = R.I16();
    Box.Top = R.I16();
    Box.Right = R.I16();
    Box.Bottom = R.I16();
  }
  const auto Chars = R.Bytes(Count);
  R.Skip(std::min<std::size_t>(Count & 1, R.Remaining()));
  std::vector<std::int32_t> Dx;
  if (R.Remaining() >= std::size_t{Count} * 2)
    for (std::uint16_t I = 0; I < Count; ++I) Dx.push_back(R.I16());
  Text(X, Y, Options & (ETO_OPAQUE | ETO_CLIPPED), HasRect ? &Box : nullptr, Chars, Dx);
}

void TWmfConverter::Font(TByteReader& R) {
  const std::int32_t Height = R.I16(), Width = R.I16(), Esc = R.I16(), Orient = R.I16(), Weight = R.I16();
  const std::uint8_t Italic = R.U8(), Underline = R.U8(), StrikeOut = R.U8(), Charset = R.U8();
  const std::uint8_t OutPrec = R.U8(), ClipPrec = R.U8(), Quality = R.U8(), Pitch = R.U8();
  auto Face = R.BytesUpTo(32);
  const auto Nul = std::find(Face.begin(), Face.end(), 0);
  Face = Face.first(static_cast<std::size_t>(Nul - Face.begin()));
  int Slot;
  Create(TFontObj{Charset}, Slot);
  if (Slot < 0) return;
  const QString Name = DecodeCharsetText(Face, Charset == SYMBOL_CHARSET ? std::uint8_t{ANSI_CHARSET} : Charset);
  W.Begin(EMR_EXTCREATEFONTINDIRECTW);
  W.U32(static_cast<std::uint32_t>(Slot + 1));
  for (std::int32_t V : {Height, Width, Esc, Orient, Weight}) W.I32(V);
  for (std::uint8_t V : {Italic, Underline, StrikeOut, Charset, OutPrec, ClipPrec, Quality, Pitch}) W.U8(V);
  for (int I = 0; I < 32; ++I) W.U16(I < Name.size() ? Name.at(I).unicode() : 0);
  W.End();
}

void TWmfConverter::Palette(TByteReader& R) {
  R.Skip(2);  // start
  const std::uint16_t Count = R.U16();
  if (Count > R.Remaining() / 4) return;
  int Slot;
  Create(TOtherObj{}, Slot);
  const auto Entries = R.Bytes(std::size_t{Count} * 4);
  if (FPalette.empty())
    for (std::size_t I = 0; I < Count; ++I)
      FPalette.push_back(std::uint32_t{Entries[4 * I]} << 16 | std::uint32_t{Entries[4 * I + 1]} << 8 |
                         Entries[4 * I + 2]);
  if (Slot < 0) return;
  W.Begin(EMR_CREATEPALETTE);
  W.U32(static_cast<std::uint32_t>(Slot + 1));
  W.U16(0x300);
  W.U16(Count);
  W.Bytes(Entries);
  W.End();
}

void TWmfConverter::Region(TByteReader& R) {
  R.Skip(2 + 2 + 4 + 2);  // next in chain, object type, object count, region size
  const std::uint16_t Scans = R.U16();
  R.Skip(2);  // largest scan
  TRect Bound;
  Bound.Left = R.I16();
  Bound.Top = R.I16();
  Bound.Right = R.I16();
  Bound.Bottom = R.I16();
  TRegionObj Obj;
  for (std::uint16_t S = 0; S < Scans && R.Remaining() >= 6; ++S) {
    const std::uint16_t Count = R.U16();
    const std::int32_t Top = R.I16(), Bottom = R.I16();
    if (Count > R.Remaining() / 2) break;
    for (std::uint16_t I = 0; I + 1 < Count; I += 2) {
      const std::int32_t L = R.I16(), Rt = R.I16();
      Obj.Rects.push_back(TRect{L, Top, Rt, Bottom});
    }
    if (Count & 1) R.Skip(2);
    R.Skip(2);  // the count again
  }
  if (Scans == 0 && !Bound.IsEmpty()) Obj.Rects.push_back(Bound);
  int Slot;
  Create(std::move(Obj), Slot);
}

void TWmfConverter::RegionPath(const TRegionObj& Region) {
  W.Record(EMR_BEGINPATH, {});
  for (const TRect& B : Region.Rects)
    W.Record(EMR_POLYGON, {0, 0, 0, 0, 4, B.Left, B.Top, B.Right, B.Top, B.Right, B.Bottom, B.Left, B.Bottom});
  W.Record(EMR_ENDPATH, {});
}

void TWmfConverter::RegionOp(std::uint16_t Function, TByteReader& R) {
  const std::uint16_t RegionIndex = R.U16();
  if (RegionIndex >= FObjects.size()) return;
  const auto* Region = std::get_if<TRegionObj>(&FObjects[RegionIndex]);
  if (!Region) return;
  switch (Function) {
    case META_SELECTCLIPREGION:
      RegionPath(*Region);
      W.Record(EMR_SELECTCLIPPATH, {static_cast<std::int32_t>(RGN_COPY)});
      break;
    case META_PAINTREGION:
      RegionPath(*Region);
      W.Record(EMR_FILLPATH, {0, 0, -1, -1});
      break;
    case META_INVERTREGION:
      W.Record(EMR_SAVEDC, {});
      W.Record(EMR_SETROP2, {static_cast<std::int32_t>(R2_NOT)});
      RegionPath(*Region);
      W.Record(EMR_FILLPATH, {0, 0, -1, -1});
      W.Record(EMR_RESTOREDC, {-1});
      break;
    case META_FILLREGION: case META_FRAMEREGION: {
      // Filled with the given brush; a frame is drawn as the region's outline with that brush's colour.
      const std::uint16_t Brush = R.U16();
      if (Brush >= FObjects.size() || !std::holds_alternative<TOtherObj>(FObjects[Brush])) return;
      W.Record(EMR_SAVEDC, {});
      W.Record(EMR_SELECTOBJECT, {Brush + 1});
      RegionPath(*Region);
      W.Record(EMR_FILLPATH, {0, 0, -1, -1});
      W.Record(EMR_RESTOREDC, {-1});
      break;
    }
    default: break;
  }
}

void TWmfConverter::SelectObject(std::uint16_t Index) {
  if (Index >= FObjects.size()) return;
  const TWmfObject& O = FObjects[Index];
  if (const auto* Region = std::get_if<TRegionObj>(&O)) {
    // Selecting a region makes it the clip region.
    RegionPath(*Region);
    W.Record(EMR_SELECTCLIPPATH, {static_cast<std::int32_t>(RGN_COPY)});
    return;
  }
  if (std::holds_alternative<std::monostate>(O)) return;
  if (const auto* F = std::get_if<TFontObj>(&O)) FState.Charset = F->Charset;
  W.Record(EMR_SELECTOBJECT, {Index + 1});
}

void TWmfConverter::RestoreDC(std::int16_t N) {
  const std::int64_t Count = static_cast<std::int64_t>(FSaved.size());
  const std::int64_t Target = N < 0 ? Count + N : std::int64_t{N} - 1;
  if (Target >= 0 && Target < Count) {
    FState = FSaved[static_cast<std::size_t>(Target)];
    FSaved.resize(static_cast<std::size_t>(Target));
  }
  W.Record(EMR_RESTOREDC, {N});
}

bool TWmfConverter::SplitDib(std::span<const std::uint8_t> Dib, std::uint32_t Usage,
                             std::span<const std::uint8_t>& Info, std::span<const std::uint8_t>& Bits) {
  // The info part is the header, its masks and the colour table, as the
  // bitmap reader counts them.
  try {
    TByteReader R(Dib);
    const TBmpInfo Header = ReadBmpInfo(R);
    TColorEntries Form;
    Form.PaletteIndices = Usage == DIB_PAL_COLORS;
    R.Skip(static_cast<std::size_t>(BmpColorCount(Header) * BmpColorEntrySize(Header, Form)));
    Info = Dib.first(R.Position());
    Bits = Dib.subspan(R.Position());
    return true;
  } catch (const EReadError&) {
    return false;
  }
}

// Writes a bitmap record: the fixed fields given, then the header and the bits.
void WriteDibRecord(TEmfWriter& W, std::uint32_t Type, std::initializer_list<std::int32_t> Before,
                    std::span<const std::uint8_t> Info, std::span<const std::uint8_t> Bits, std::uint32_t OffBmiAt,
                    std::initializer_list<std::int32_t> After) {
  W.Begin(Type);
  for (std::int32_t V : Before) W.I32(V);
  for (std::int32_t V : After) W.I32(V);
  const std::uint32_t OffBmi = W.Offset();
  W.Bytes(Info);
  W.Align4();
  const std::uint32_t OffBits = W.Offset();
  W.Bytes(Bits);
  W.Patch(OffBmiAt, OffBmi);
  W.Patch(OffBmiAt + 4, static_cast<std::uint32_t>(Info.size()));
  W.Patch(OffBmiAt + 8, OffBits);
  W.Patch(OffBmiAt + 12, static_cast<std::uint32_t>(Bits.size()));
  W.End();
}

void TWmfConverter::Blt(std::uint16_t Function, TByteReader& R) {
  // The record carries a bitmap when it is longer than the fields without one.
  const std::size_t Words = R.Remaining() / 2;
  const std::int32_t Rop = R.I32();
  std::int32_t Usage = DIB_RGB_COLORS;
  if (Function == META_STRETCHDIB) Usage = R.U16();
  std::int32_t SH = 0, SW = 0;
  if (Function == META_DIBSTRETCHBLT || Function == META_STRETCHDIB || Function == META_STRETCHBLT) {
    SH = R.I16();
    SW = R.I16();
  }
  const std::int32_t YS = R.I16(), XS = R.I16();
  const std::size_t FixedWords = (Function == META_DIBBITBLT || Function == META_BITBLT) ? 8 : 10;
  const bool HasBitmap = Function == META_STRETCHDIB || Words > FixedWords + 1;
  if (!HasBitmap) R.Skip(2);
  const std::int32_t DH = R.I16(), DW = R.I16(), YD = R.I16(), XD = R.I16();
  if (Function == META_DIBBITBLT || Function == META_BITBLT) {
    SW = DW;
    SH = DH;
  }
  const std::int32_t One = 0x3F800000;  // 1.0f
  if (!HasBitmap) {
    W.Record(EMR_BITBLT, {0, 0, -1, -1, XD, YD, DW, DH, Rop, 0, 0, One, 0, 0, One, 0, 0, 0, 0, 0, 0, 0, 0});
    return;
  }
  if (Function == META_BITBLT || Function == META_STRETCHBLT) return;  // device-dependent bitmaps are not read
  std::span<const std::uint8_t> Info, Bits;
  if (!SplitDib(R.Rest(), static_cast<std::uint32_t>(Usage), Info, Bits)) return;
  if (Function == META_STRETCHDIB) {
    // Fixed part: bounds, dest, source, offsets (filled in), usage, rop, dest size.
    WriteDibRecord(W, EMR_STRETCHDIBITS, {0, 0, -1, -1, XD, YD, XS, YS, SW, SH, 0, 0, 0, 0}, Info, Bits, 48,
                   {Usage, Rop, DW, DH});
    return;
  }
  const std::uint32_t Type = Function == META_DIBBITBLT ? EMR_BITBLT : EMR_STRETCHBLT;
  if (Type == EMR_BITBLT)
    WriteDibRecord(W, Type, {0, 0, -1, -1, XD, YD, DW, DH, Rop, XS, YS, One, 0, 0, One, 0, 0, 0, DIB_RGB_COLORS},
                   Info, Bits, 84, {0, 0, 0, 0});
  else
    WriteDibRecord(W, Type, {0, 0, -1, -1, XD, YD, DW, DH, Rop, XS, YS, One, 0, 0, One, 0, 0, 0, DIB_RGB_COLORS},
                   Info, Bits, 84, {0, 0, 0, 0, SW, SH});
}

void TWmfConverter::SetDibToDev(TByteReader& R) {
  const std::int32_t Usage = R.U16(), Scans = R.U16(), Start = R.U16();
  const std::int32_t YS = R.I16(), XS = R.I16(), H = R.I16(), Wd = R.I16(), YD = R.I16(), XD = R.I16();
  std::span<const std::uint8_t> Info, Bits;
  if (!SplitDib(R.Rest(), static_cast<std::uint32_t>(Usage), Info, Bits)) return;
  WriteDibRecord(W, EMR_SETDIBITSTODEVICE, {0, 0, -1, -1, XD, YD, XS, YS, Wd, H, 0, 0, 0, 0}, Info, Bits, 48,
                 {Usage, Start, Scans});
}

void TWmfConverter::DibPatternBrush(TByteReader& R) {
  R.Skip(2);  // style: the pattern is a device-independent bitmap either way
  const std::uint32_t Usage = R.U16();
  std::span<const std::uint8_t> Info, Bits;
  int Slot;
  Create(TOtherObj{}, Slot);
  if (Slot < 0) return;
  if (!SplitDib(R.Rest(), Usage, Info, Bits)) {
    W.Record(EMR_CREATEBRUSHINDIRECT, {Slot + 1, BS_SOLID, 0x808080, 0});
    return;
  }
  WriteDibRecord(W, EMR_CREATEDIBPATTERNBRUSHPT, {Slot + 1, static_cast<std::int32_t>(Usage), 0, 0, 0, 0}, Info, Bits,
                 16, {});
}

}  // namespace

std::vector<std::uint8_t> ConvertWmfToEmf(std::span<const std::uint8_t> Wmf, const TPlaceableHeader& Header,
                                          std::int32_t MMWidth, std::int32_t MMHeight) {
  TWmfConverter C(Header, MMWidth, MMHeight);
  return C.Convert(Wmf);
}
