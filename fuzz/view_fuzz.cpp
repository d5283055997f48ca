// The whole view path from arbitrary bytes: a picture loaded by one of the
// registered formats, then laid out and painted by the image view into a small
// client area in every scale mode, at several scales, scrolled and zoomed.
//
// Input: byte 0 picks the format (its low bits) and whether the graphic is
// shown through a stand-in that reports another size (bit 7); byte 1 picks the
// view's settings; with the stand-in, byte 2 picks its width and height from a
// table of extreme values. The rest is the file.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "KestImage/KestImage.h"
#include "picture/FileFormats.h"
#include "picture/jpeg/Jpeg.h"
#include "toolkit/Exceptions.h"

namespace {

// A graphic that reports a size of its own, as a damaged file may make a
// graphic do (negative, zero or beyond any screen), and draws the loaded
// graphic into whatever rectangle it is given.
class TSizedGraphic : public TGraphic {
 public:
  TSizedGraphic(std::unique_ptr<TGraphic> Inner, std::int32_t W, std::int32_t H)
      : FInner(std::move(Inner)), FWidth(W), FHeight(H) {}
  void DrawInto(TCanvas& ACanvas, const TRect& R) override { FInner->DrawInto(ACanvas, R); }
  bool Empty() const override { return FInner->Empty(); }
  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void SetWidth(std::int32_t V) override { FWidth = V; }
  void SetHeight(std::int32_t V) override { FHeight = V; }
  void LoadFromStream(TStream& Stream) override { FInner->LoadFromStream(Stream); }
  void SaveToStream(TStream& Stream) const override { FInner->SaveToStream(Stream); }

 private:
  std::unique_ptr<TGraphic> FInner;
  std::int32_t FWidth, FHeight;
};

constexpr std::int32_t IntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t IntMax = std::numeric_limits<std::int32_t>::max();
const std::int32_t ReportedSizes[16] = {IntMin, -(1 << 30) - 1, -1500, -1, 0, 1, 7, 100,
                                        1500, 1 << 28, (1 << 30) + 1, IntMax, -7, 48, 65, 1 << 24};

std::int32_t ReadLE32(const std::uint8_t* P) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(P[0]) | (static_cast<std::uint32_t>(P[1]) << 8) |
                                   (static_cast<std::uint32_t>(P[2]) << 16) |
                                   (static_cast<std::uint32_t>(P[3]) << 24));
}

// Bitmaps of many pixels are zero-filled at load, which under the sanitizers
// costs seconds and reaches nothing a small one does not.
bool LargeBitmapFile(const std::uint8_t* File, std::size_t Size) {
  if (Size < 26 || File[0] != 'B' || File[1] != 'M') return false;
  const std::int64_t W = ReadLE32(File + 18), H = ReadLE32(File + 22);
  return (W < 0 ? -W : W) * (H < 0 ? -H : H) > (std::int64_t{1} << 16);
}

std::unique_ptr<TGraphic> Load(TGraphicClass C, const std::uint8_t* File, std::size_t Size) {
  std::unique_ptr<TObject> O = C->Create(nullptr);
  std::unique_ptr<TGraphic> G(static_cast<TGraphic*>(O.release()));
  auto S = TMemoryStream::Over({File, Size});
  G->LoadFromStream(*S);
  return G;
}

void Exercise(TKestImage& V) {
  const double Scales[] = {0.3, 1.0, 2.5, 1000.0};
  for (TScaleMode Mode : {smNormal, smStretch, smScale, smResize}) {
    Step([&] { V.SetScaleMode(Mode); });
    for (double S : Scales) {
      if (Mode != smScale && S != 1.0) continue;
      Step([&] { V.SetScale(S); });
      Step([&] { V.Update(); });
      Step([&] { V.ScrollTo(TPoint{IntMax, IntMax}); });
      Step([&] { V.Update(); });
      Step([&] { V.ScrollTo(TPoint{7, 3}); });
      Step([&] { V.Update(); });
      Step([&] { V.Perform(WM_HSCROLL, SB_PAGEDOWN, 0); });
      Step([&] { V.Perform(WM_VSCROLL, SB_BOTTOM, 0); });
      Step([&] { V.Update(); });
    }
    Step([&] { V.Zoom(zkIn, IntMax, IntMin); });
    Step([&] { V.Zoom(zkOut, -1, -1); });
    Step([&] { V.Zoom(zkBestFit, -1, -1); });
    Step([&] { V.Update(); });
    (void)V.GetImageRect();
    (void)V.GetViewCenter();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnsureFuzzApplication();
  InitializeJpegSupport();
  InitializeKestImageUnit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 3) return 0;
  const std::vector<TFileFormat>& Formats = TFileFormatsList::Instance().Entries();
  const TFileFormat& Format = Formats[(Data[0] & 0x7F) % Formats.size()];
  const bool Resized = Data[0] & 0x80;
  const std::uint8_t Settings = Data[1];
  const std::uint8_t Sizes = Data[2];
  const std::uint8_t* File = Data + 3;
  const std::size_t FileSize = Size - 3;
  if (LargeBitmapFile(File, FileSize)) return 0;

  std::unique_ptr<TGraphic> G;
  if (!Completes(TErrors<Exception>{}, [&] { G = Load(Format.GraphicClass, File, FileSize); })) return 0;
  // Large pictures cost seconds to decode and draw at every layout and teach
  // the view nothing new: extreme sizes come through the stand-in.
  if (std::int64_t{G->Width()} * G->Height() > (std::int64_t{1} << 16)) return 0;
  if (Resized) G = std::make_unique<TSizedGraphic>(std::move(G), ReportedSizes[Sizes & 15], ReportedSizes[Sizes >> 4]);

  TKestImage V(nullptr);
  V.SetBorderStyle(Settings & 1 ? bsSingle : bsNone);
  V.SetHideScrollBars(!(Settings & 2));
  V.SetImageAlignment(static_cast<TImageAlignment>(((Settings >> 2) & 3) % 3));
  V.SetBiDiMode(Settings & 16 ? bdRightToLeft : bdLeftToRight);
  V.SetTransparent(Settings & 32);
  V.SetIncrementalDisplay(Settings & 64);
  V.SetBounds(0, 0, 64 + 17, 48 + 17);
  Step([&] { V.Picture()->SetGraphic(std::move(G)); });
  Exercise(V);
  return 0;
}
