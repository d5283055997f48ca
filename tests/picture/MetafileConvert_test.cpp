// The conversion of Windows metafile records: each family is played in both
// forms, the Windows record and the enhanced record it stands for, and the
// pixels must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <span>

#include "MetafileBuilder.h"
#include "MetafileRender.h"
#include "picture/metafile/EmfFile.h"
#include "picture/metafile/WmfConverter.h"

namespace {

// Both forms use a 254-unit square: the Windows one at 254 units per inch, the
// enhanced one at 10 device pixels per millimetre, so a unit is a device pixel in each.
TWmfBuilder Wmf() { return TWmfBuilder(0, 0, 254, 254, 254); }
TEmfBuilder Emf() { return TEmfBuilder(2540, 2540); }

std::int32_t Lo(std::uint32_t C) { return static_cast<std::int32_t>(C & 0xFFFF); }
std::int32_t Hi(std::uint32_t C) { return static_cast<std::int32_t>(C >> 16); }

// Pen slot 0 and brush slot 1 in both forms, selected.
TWmfBuilder WmfPenBrush(std::uint32_t Pen, std::int32_t Width, std::uint32_t Brush, std::int32_t Style = 0, std::int32_t Hatch = 0) {
  TWmfBuilder B = Wmf();
  B.Rec(0x02FA, {0, Width, 0, Lo(Pen), Hi(Pen)}).Rec(0x012D, {0});
  B.Rec(0x02FC, {Style, Lo(Brush), Hi(Brush), Hatch}).Rec(0x012D, {1});
  return B;
}
TEmfBuilder EmfPenBrush(std::uint32_t Pen, std::int32_t Width, std::uint32_t Brush, std::int32_t Style = 0, std::int32_t Hatch = 0) {
  TEmfBuilder B = Emf();
  B.Rec(38, {1, 0, Width, 0, static_cast<std::int32_t>(Pen)}).Rec(37, {1});
  B.Rec(39, {2, Style, static_cast<std::int32_t>(Brush), Hatch}).Rec(37, {2});
  return B;
}

std::vector<std::uint8_t> WmfFont(std::int16_t Height, std::uint8_t Charset = 0) {
  TBytes P;
  P.I16(Height).I16(0).I16(0).I16(0).I16(400).U8(0).U8(0).U8(0).U8(Charset).U8(0).U8(0).U8(0).U8(0);
  for (char C : std::string("Arial")) P.U8(static_cast<std::uint8_t>(C));
  P.U8(0);
  return P.B;
}
std::vector<std::uint8_t> EmfFont(std::int32_t Index, std::int32_t Height) {
  TBytes P;
  P.I32(Index).I32(Height).I32(0).I32(0).I32(0).I32(400).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0);
  for (char16_t C : std::u16string(u"Arial")) P.U16(C);
  for (int I = 5; I < 32; ++I) P.U16(0);
  return P.B;
}

std::vector<std::uint8_t> Checker(std::vector<std::uint8_t>& Bits) {
  std::vector<std::uint8_t> Info;
  Dib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00}, Info, Bits);
  return Info;
}
std::vector<std::uint8_t> Joined(std::vector<std::uint8_t> A, const std::vector<std::uint8_t>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}
std::vector<std::uint8_t> Words(std::initializer_list<std::int32_t> W, const std::vector<std::uint8_t>& Tail = {}) {
  TBytes P;
  for (std::int32_t V : W) P.U16(static_cast<std::uint16_t>(V));
  return Joined(P.B, Tail);
}

// A filled four-cornered polygon: it covers exactly the pixels from L to R - 1 and T to B - 1.
std::vector<std::uint8_t> Square(std::int16_t L, std::int16_t T, std::int16_t R, std::int16_t B) {
  TBytes P;
  P.I32(0).I32(0).I32(0).I32(0).U32(4).I16(L).I16(T).I16(R).I16(T).I16(R).I16(B).I16(L).I16(B);
  return P.B;
}

struct TCase {
  const char* Name;
  std::function<std::vector<std::uint8_t>()> Windows, Enhanced;
};

int Differing(const QImage& A, const QImage& B) {
  int N = 0;
  for (int Y = 0; Y < A.height(); ++Y)
    for (int X = 0; X < A.width(); ++X) N += Px(A, X, Y) != Px(B, X, Y);
  return N;
}

int Inked(const QImage& I) {
  int N = 0;
  for (int Y = 0; Y < I.height(); ++Y)
    for (int X = 0; X < I.width(); ++X) N += Px(I, X, Y) != 0xFFFFFF;
  return N;
}

}  // namespace

TEST(TMetafileConvert, EachFamilyPlaysAsItsEnhancedRecord) {
  const std::uint32_t Red = 0x0000FF, Blue = 0xFF0000, Green = 0x00FF00;
  std::vector<std::uint8_t> Bits;
  const std::vector<std::uint8_t> Info = Checker(Bits);
  const std::vector<std::uint8_t> Dib = Joined(Info, Bits);
  TBytes Region;  // one scan of one rectangle: 40..200 x 60..180
  Region.U16(0).U16(6).U32(0).U16(34).U16(1).U16(4).I16(40).I16(60).I16(200).I16(180);
  Region.U16(2).U16(60).U16(180).U16(40).U16(200).U16(2);
  TBytes EmfClip;
  EmfClip.U32(48).U32(5).U32(32).U32(1).U32(1).U32(16).I32(40).I32(60).I32(200).I32(180);
  EmfClip.I32(40).I32(60).I32(200).I32(180);

  const TCase Cases[] = {
      {"rectangle", [&] { return WmfPenBrush(Red, 5, Blue).Rec(0x041B, {200, 220, 30, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 5, Blue).Rec(43, {20, 30, 220, 200}).Bytes(); }},
      {"ellipse", [&] { return WmfPenBrush(Red, 1, Green).Rec(0x0418, {200, 220, 30, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Green).Rec(42, {20, 30, 220, 200}).Bytes(); }},
      {"round rectangle", [&] { return WmfPenBrush(Red, 3, Green).Rec(0x061C, {40, 60, 200, 220, 30, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 3, Green).Rec(44, {20, 30, 220, 200, 60, 40}).Bytes(); }},
      {"arc", [&] { return WmfPenBrush(Red, 4, Green).Rec(0x0817, {20, 240, 240, 128, 220, 230, 20, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 4, Green).Rec(45, {20, 20, 230, 220, 128, 240, 240, 20}).Bytes(); }},
      {"pie", [&] { return WmfPenBrush(Red, 1, Green).Rec(0x081A, {20, 240, 240, 128, 220, 230, 20, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Green).Rec(47, {20, 20, 230, 220, 128, 240, 240, 20}).Bytes(); }},
      {"chord", [&] { return WmfPenBrush(Red, 1, Green).Rec(0x0830, {20, 240, 240, 128, 220, 230, 20, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Green).Rec(46, {20, 20, 230, 220, 128, 240, 240, 20}).Bytes(); }},
      {"polygon", [&] { return WmfPenBrush(Red, 1, Blue).Rec(0x0324, {3, 10, 10, 240, 40, 60, 230}).Bytes(); },
       [&] {
         TBytes P;
         P.I32(0).I32(0).I32(0).I32(0).U32(3).I16(10).I16(10).I16(240).I16(40).I16(60).I16(230);
         return EmfPenBrush(Red, 1, Blue).Raw(86, P.B).Bytes();
       }},
      {"polyline", [&] { return WmfPenBrush(Red, 6, Blue).Rec(0x0325, {3, 10, 10, 240, 40, 60, 230}).Bytes(); },
       [&] {
         TBytes P;
         P.I32(0).I32(0).I32(0).I32(0).U32(3).I16(10).I16(10).I16(240).I16(40).I16(60).I16(230);
         return EmfPenBrush(Red, 6, Blue).Raw(87, P.B).Bytes();
       }},
      {"poly-polygon",
       [&] { return WmfPenBrush(Red, 1, Blue).Rec(0x0538, {2, 3, 3, 10, 10, 120, 10, 10, 120, 240, 240, 130, 240, 240, 130}).Bytes(); },
       [&] {
         TBytes P;
         P.I32(0).I32(0).I32(0).I32(0).U32(2).U32(6).U32(3).U32(3);
         for (int V : {10, 10, 120, 10, 10, 120, 240, 240, 130, 240, 240, 130}) P.I16(static_cast<std::int16_t>(V));
         return EmfPenBrush(Red, 1, Blue).Raw(91, P.B).Bytes();
       }},
      {"lines", [&] { return WmfPenBrush(Blue, 7, Blue).Rec(0x0214, {20, 10}).Rec(0x0213, {200, 240}).Bytes(); },
       [&] { return EmfPenBrush(Blue, 7, Blue).Rec(27, {10, 20}).Rec(54, {240, 200}).Bytes(); }},
      {"hatched opaque",
       [&] { return WmfPenBrush(Red, 1, Blue, 2, 4).Rec(0x0201, {Lo(Green), Hi(Green)}).Rec(0x041B, {200, 220, 30, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Blue, 2, 4).Rec(25, {static_cast<std::int32_t>(Green)}).Rec(43, {20, 30, 220, 200}).Bytes(); }},
      {"clip rectangles",
       [&] { return WmfPenBrush(Red, 1, Blue).Rec(0x0416, {200, 200, 50, 50}).Rec(0x0415, {120, 120, 80, 80}).Rec(0x041B, {254, 254, 0, 0}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Blue).Rec(30, {50, 50, 200, 200}).Rec(29, {80, 80, 120, 120}).Rec(43, {0, 0, 254, 254}).Bytes(); }},
      {"clip region",
       [&] { return WmfPenBrush(Red, 1, Blue).Objects(4).Raw(0x06FF, Region.B).Rec(0x012C, {2}).Rec(0x041B, {254, 254, 0, 0}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Blue).Raw(75, EmfClip.B).Rec(43, {0, 0, 254, 254}).Bytes(); }},
      {"fill region",
       [&] { return WmfPenBrush(Red, 1, Blue).Objects(4).Raw(0x06FF, Region.B).Rec(0x0228, {2, 1}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Blue).Rec(37, {static_cast<std::int32_t>(0x80000008u)}).Raw(86, Square(40, 60, 200, 180)).Bytes(); }},
      {"save and restore",
       [&] { return WmfPenBrush(Red, 1, Blue).Rec(0x001E, {}).Rec(0x020B, {50, 50}).Rec(0x0127, {-1}).Rec(0x041B, {200, 200, 20, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Blue).Rec(43, {20, 20, 200, 200}).Bytes(); }},
      {"window",
       [&] { return WmfPenBrush(Red, 1, Blue).Rec(0x020B, {-100, -100}).Rec(0x020C, {508, 508}).Rec(0x041B, {300, 300, 0, 0}).Bytes(); },
       [&] {
         return EmfPenBrush(Red, 1, Blue).Rec(17, {8}).Rec(10, {-100, -100}).Rec(9, {508, 508}).Rec(11, {254, 254})
             .Rec(43, {0, 0, 300, 300}).Bytes();
       }},
      {"text",
       [&] {
         return Wmf().Raw(0x02FB, WmfFont(-40)).Rec(0x012D, {0}).Rec(0x0209, {Lo(Red), Hi(Red)}).Rec(0x0102, {1})
             .Raw(0x0521, Words({5}, {'H', 'e', 'l', 'l', 'o', 0, 100, 0, 20, 0})).Bytes();
       },
       [&] {
         return Emf().Raw(82, EmfFont(1, -40)).Rec(37, {1}).Rec(24, {static_cast<std::int32_t>(Red)}).Rec(18, {1})
             .Text(20, 100, u"Hello").Bytes();
       }},
      {"text in the font's code page",  // 0xC0 0xC1 in the Cyrillic code page
       [&] {
         return Wmf().Raw(0x02FB, WmfFont(-40, 204)).Rec(0x012D, {0}).Rec(0x0102, {1})
             .Raw(0x0521, Words({2}, {0xC0, 0xC1, 100, 0, 20, 0})).Bytes();
       },
       [&] { return Emf().Raw(82, EmfFont(1, -40)).Rec(37, {1}).Rec(18, {1}).Text(20, 100, u"\u0410\u0411").Bytes(); }},
      {"text with spacing and opaque box",
       [&] {
         return Wmf().Raw(0x02FB, WmfFont(-30)).Rec(0x012D, {0}).Rec(0x0201, {Lo(Green), Hi(Green)})
             .Raw(0x0A32, Words({100, 20, 3, 2, 10, 60, 200, 120}, {'a', 'b', 'c', 0, 40, 0, 40, 0, 40, 0})).Bytes();
       },
       [&] {
         return Emf().Raw(82, EmfFont(1, -30)).Rec(37, {1}).Rec(25, {static_cast<std::int32_t>(Green)})
             .Text(20, 100, u"abc", 2, {40, 40, 40}, {10, 60, 200, 120}).Bytes();
       }},
      {"stretched bitmap",
       [&] { return Wmf().Raw(0x0F43, Words({0x0020, 0x00CC, 0, 2, 2, 0, 0, 150, 200, 40, 20}, Dib)).Bytes(); },
       [&] { return Emf().StretchDib(20, 40, 200, 150, Info, Bits, 2, 2).Bytes(); }},
      {"block transfer",
       [&] { return Wmf().Raw(0x0940, Words({0x0020, 0x00CC, 0, 0, 2, 2, 40, 20}, Dib)).Bytes(); },
       [&] { return Emf().StretchDib(20, 40, 2, 2, Info, Bits, 2, 2).Bytes(); }},
      {"stretched block transfer",
       [&] { return Wmf().Raw(0x0B41, Words({0x0020, 0x00CC, 2, 2, 0, 0, 100, 100, 40, 20}, Dib)).Bytes(); },
       [&] { return Emf().StretchDib(20, 40, 100, 100, Info, Bits, 2, 2).Bytes(); }},
      {"pattern block", [&] { return WmfPenBrush(Red, 1, Blue).Rec(0x061D, {0x0021, 0x00F0, 100, 150, 40, 20}).Bytes(); },
       [&] { return EmfPenBrush(Red, 1, Blue).Rec(37, {static_cast<std::int32_t>(0x80000008u)}).Raw(86, Square(20, 40, 170, 140)).Bytes(); }},
      {"pixel", [&] { return Wmf().Rec(0x041F, {Lo(Red), Hi(Red), 100, 100}).Bytes(); },
       [&] { return Emf().Rec(15, {100, 100, static_cast<std::int32_t>(Red)}).Bytes(); }},
      {"pattern brush",
       [&] { return Wmf().Raw(0x0142, Words({5, 0}, Dib)).Rec(0x012D, {0}).Rec(0x041B, {200, 200, 20, 20}).Bytes(); },
       [&] {
         TBytes P;
         P.U32(1).U32(0).U32(32).U32(static_cast<std::uint32_t>(Info.size())).U32(static_cast<std::uint32_t>(32 + Info.size()))
             .U32(static_cast<std::uint32_t>(Bits.size())).Add(Info).Add(Bits);
         return Emf().Raw(94, P.B).Rec(37, {1}).Rec(43, {20, 20, 200, 200}).Bytes();
       }},
  };
  for (const auto& C : Cases) {
    const QImage W = Render(C.Windows(), 128, 128), E = Render(C.Enhanced(), 128, 128);
    EXPECT_GT(Inked(E), 0) << C.Name;
    EXPECT_EQ(Differing(W, E), 0) << C.Name;
  }
}

TEST(TMetafileConvert, DamagedRecordsEndTheConversionKeepingWhatCameBefore) {
  auto Bytes = TWmfBuilder(0, 0, 100, 100, 96)
                   .Rec(0x02FC, {0, 0xFF, 0, 0}).Rec(0x012D, {0}).Rec(0x041B, {40, 40, 10, 10})
                   .Rec(0x041B, {90, 90, 60, 60}).Bytes();
  // The second rectangle claims far more words than the file holds.
  const std::size_t Second = Bytes.size() - 6 - 14;
  Bytes[Second + 2] = 0x7F;
  const QImage I = Render(Bytes);
  EXPECT_EQ(Px(I, 20, 20), 0xFF0000u);
  EXPECT_EQ(Px(I, 75, 75), 0xFFFFFFu);
}

TEST(TMetafileConvert, ObjectsTakeTheLowestFreeSlot) {
  // Slot 0 is freed and the next brush takes it again; selecting slot 0 then selects that brush.
  const auto Bytes = TWmfBuilder(0, 0, 100, 100, 96)
                         .Objects(2)
                         .Rec(0x02FC, {0, 0xFF, 0, 0})      // red brush, slot 0
                         .Rec(0x02FC, {0, 0xFF00, 0, 0})    // green brush, slot 1
                         .Rec(0x01F0, {0})                  // delete slot 0
                         .Rec(0x02FC, {0, 0, 0xFF, 0})      // blue brush, slot 0
                         .Rec(0x02FC, {0, 0xFF, 0xFF, 0})   // no free slot: not created
                         .Rec(0x012D, {0})
                         .Rec(0x041B, {90, 90, 10, 10})
                         .Bytes();
  EXPECT_EQ(Px(Render(Bytes), 50, 50), 0x0000FFu);
}

namespace {

// A 100-unit box at 96 units per inch plays one unit onto about one pixel of a
// 100 x 100 surface. A solid blue brush is selected, from slot 0, and no pen.
TWmfBuilder Blue100() {
  TWmfBuilder B(0, 0, 100, 100, 96);
  B.Rec(0x02FC, {0, 0, 0xFF, 0}).Rec(0x012D, {0}).Rec(0x02FA, {5, 0, 0, 0, 0}).Rec(0x012D, {1});
  return B;
}

// The device-context records that a Windows metafile keeps, each checked at
// pixels that a mistake in it (an axis swapped, a sign, a lost record) would change.
struct TFamilyCase {
  const char* Name;
  std::vector<std::uint8_t> Bytes;
  std::vector<std::pair<int, int>> Blue, White;
};

}  // namespace

TEST(TMetafileConvert, DeviceContextRecordsMoveAndShapeWhatFollows) {
  TBytes Region;  // one scan of one rectangle: 20..40 x 30..50
  Region.U16(0).U16(6).U32(0).U16(34).U16(1).U16(4).I16(20).I16(30).I16(40).I16(50);
  Region.U16(2).U16(30).U16(50).U16(20).U16(40).U16(2);
  const TFamilyCase Cases[] = {
      // Origin offset by 20 across and 60 down: the square 40..60 lands on 20..40 x -20..0, so a
      // second square 100..120 x 100..120 lands on 80..100 x 40..60.
      {"offset window origin",
       Blue100().Rec(0x020F, {60, 20}).Rec(0x041B, {120, 120, 100, 100}).Bytes(), {{90, 50}}, {{50, 90}, {10, 10}}},
      {"scale window extent", Blue100().Rec(0x0410, {2, 1, 1, 2}).Rec(0x041B, {30, 60, 10, 20}).Bytes(),
       {{20, 40}}, {{40, 20}}},  // x halved, y doubled: 10..30 x 20..60
      {"window origin and extent",
       Blue100().Rec(0x020B, {-50, 0}).Rec(0x020C, {200, 50}).Rec(0x041B, {-30, 20, -50, 0}).Bytes(),
       {{20, 5}}, {{5, 20}, {50, 5}}},  // x doubled, y halved, from -50 down: 0..40 x 0..10
      {"winding fill", Blue100().Rec(0x0106, {2}).Rec(0x0538, {2, 4, 4, 10, 10, 90, 10, 90, 90, 10, 90,
                                                                 30, 30, 70, 30, 70, 70, 30, 70}).Bytes(),
       {{20, 20}, {50, 50}}, {}},
      {"alternate fill", Blue100().Rec(0x0106, {1}).Rec(0x0538, {2, 4, 4, 10, 10, 90, 10, 90, 90, 10, 90,
                                                                   30, 30, 70, 30, 70, 70, 30, 70}).Bytes(),
       {{20, 20}}, {{50, 50}}},
      {"raster operation", Blue100().Rec(0x0104, {11}).Rec(0x041B, {60, 60, 20, 20}).Bytes(), {}, {{40, 40}}},
      {"paint region", Blue100().Objects(4).Raw(0x06FF, Region.B).Rec(0x012B, {2}).Bytes(), {{30, 40}}, {{30, 60}}},
      {"frame region", Blue100().Objects(4).Raw(0x06FF, Region.B).Rec(0x0429, {2, 0, 1, 1}).Bytes(), {{30, 40}},
       {{50, 40}}},
      {"offset clip region",
       Blue100().Rec(0x0416, {40, 40, 20, 20}).Rec(0x0220, {40, 10}).Rec(0x041B, {100, 100, 0, 0}).Bytes(),
       {{40, 70}}, {{30, 30}}},  // the clip 20..40 moved 10 across and 40 down
      {"map mode of fixed units ignored", Blue100().Rec(0x0103, {2}).Rec(0x041B, {60, 60, 20, 20}).Bytes(), {{40, 40}},
       {{70, 70}}},
      {"restore by a relative level",
       Blue100().Rec(0x001E, {}).Rec(0x020F, {50, 50}).Rec(0x001E, {}).Rec(0x020F, {10, 10}).Rec(0x0127, {-2})
           .Rec(0x041B, {40, 40, 20, 20}).Bytes(),
       {{30, 30}}, {{5, 5}}},
  };
  for (const auto& C : Cases) {
    const QImage I = Render(C.Bytes);
    for (auto [X, Y] : C.Blue) EXPECT_EQ(Px(I, X, Y), 0x0000FFu) << C.Name << " " << X << "," << Y;
    for (auto [X, Y] : C.White) EXPECT_EQ(Px(I, X, Y), 0xFFFFFFu) << C.Name << " " << X << "," << Y;
  }
}

TEST(TMetafileConvert, PalettesAndBitmapsSentToTheDevice) {
  TBytes Pal;  // start 0, two entries: red, green
  Pal.U16(0x300).U16(2).U8(255).U8(0).U8(0).U8(0).U8(0).U8(255).U8(0).U8(0);
  TBytes Dib;  // 1 x 1 at 8 bits, one colour entry given as palette index 1
  Dib.U32(40).I32(1).I32(1).U16(1).U16(8).U32(0).U32(0).U32(0).U32(0).U32(1).U32(0).U16(1).U16(0).U32(0);
  const auto Palette = TWmfBuilder(0, 0, 100, 100, 96).Raw(0x00F7, Pal.B).Rec(0x0234, {0}).Rec(0x0035, {})
                           .Raw(0x0F43, Words({0x0020, 0x00CC, 1, 1, 1, 0, 0, 60, 60, 20, 20}, Dib.B)).Bytes();
  EXPECT_EQ(Px(Render(Palette), 50, 50), 0x00FF00u);

  std::vector<std::uint8_t> Bits;
  const std::vector<std::uint8_t> Info = Checker(Bits);  // red green / blue yellow
  // Usage, scans, first scan, source y and x, height, width, destination y and x.
  const auto ToDevice = TWmfBuilder(0, 0, 100, 100, 96).Raw(0x0D33, Words({0, 2, 0, 0, 0, 2, 2, 30, 10}, Joined(Info, Bits))).Bytes();
  const QImage I = Render(ToDevice);
  EXPECT_EQ(Px(I, 10, 30), 0xFF0000u);
  EXPECT_EQ(Px(I, 11, 31), 0xFFFF00u);
  EXPECT_EQ(Px(I, 12, 32), 0xFFFFFFu);
}

TEST(TMetafileConvert, AHundredThousandObjectRecordsFillTheWholeTable) {
  // 65,535 brushes fill every slot (the last one red); then a red brush is
  // deleted from and created again in the last slot 17,000 times, each time
  // the lowest free slot; selecting the last slot draws red.
  TWmfBuilder B(0, 0, 100, 100, 96);
  B.Objects(0xFFFF);
  for (int I = 0; I < 0xFFFF; ++I) B.Rec(0x02FC, {0, I == 0xFFFE ? 0xFF : 0, I == 0xFFFE ? 0 : 0xFF, 0});
  for (int I = 0; I < 17000; ++I) B.Rec(0x01F0, {0xFFFE}).Rec(0x02FC, {0, 0xFF, 0, 0});
  const auto Bytes = B.Rec(0x012D, {0xFFFE}).Rec(0x041B, {60, 60, 20, 20}).Bytes();
  EXPECT_GT(Bytes.size(), 1200000u);
  const QImage I = Render(Bytes);
  EXPECT_EQ(Px(I, 40, 40), 0xFF0000u);
  EXPECT_EQ(Px(I, 70, 70), 0xFFFFFFu);
}

TEST(TMetafileConvert, WindowOriginOffsetsSaturate) {
  TWmfBuilder B(0, 0, 100, 100, 96);
  for (int I = 0; I < 70000; ++I) B.Rec(0x020F, {-32768, 32767});
  const auto Bytes = B.Bytes();
  TPlaceableHeader H;
  H.Right = H.Bottom = 100;
  H.Inch = 96;
  const auto Emf = ConvertWmfToEmf(std::span(Bytes).subspan(22), H, 2646, 2646);
  TEmfRecordWalker Walker(Emf);
  std::int32_t X = 0, Y = 0;
  while (const auto R = Walker.Next())
    if (R->Type == 10) {  // the window origin
      std::memcpy(&X, R->Data.data() + 8, 4);
      std::memcpy(&Y, R->Data.data() + 12, 4);
    }
  EXPECT_EQ(X, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(Y, std::numeric_limits<std::int32_t>::min());
}

TEST(TMetafileConvert, AnInvertedBoundingBoxPlaysIntoTheRectangle) {
  // The box runs from 100 to 0 across: the picture is as wide as the box the
  // right way round, and its records land inside the rectangle, mirrored.
  const auto M = LoadMetafile(TWmfBuilder(100, 0, 0, 100, 96).Rec(0x02FC, {0, 0, 0xFF, 0}).Rec(0x012D, {0})
                                  .Rec(0x041B, {30, 30, 10, 10}).Bytes());
  EXPECT_EQ(M->Width(), 100);
  EXPECT_EQ(M->Height(), 100);
  const QImage I = RenderInto(*M, 100, 100, TRect{0, 0, M->Width(), M->Height()});
  EXPECT_EQ(Px(I, 80, 20), 0x0000FFu);
  EXPECT_EQ(Px(I, 20, 20), 0xFFFFFFu);
}
