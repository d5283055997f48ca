// Loading a 6000 x 4000 lossy WebP file and drawing it for the first time,
// set beside libwebp's own decode of the same bytes (already in memory) into a
// new buffer, and beside Qt's and gdk-pixbuf's readers of the same file, all
// timed in turn in the same run. Counters: "ratio" is our time / libwebp's;
// "qt_ratio" and "pixbuf_ratio" their time / ours (0: that reader cannot read
// WebP on this machine).
// glib's headers first: they use a member name that Qt defines as a keyword.
#include "support/ReaderTimes.h"

#include <benchmark/benchmark.h>

#include <webp/decode.h>

#include "../tests/support/PngFiles.h"
#include "../tests/support/WebpFiles.h"
#include "picture/webp/Webp.h"

namespace {

const std::vector<std::uint8_t>& BenchBytes() {
  static std::vector<std::uint8_t> Bytes;
  if (Bytes.empty()) {
    Bytes = MakeWebp(
        6000, 4000,
        [](int X, int Y) {
          return 0xFF000000u | PngPhotoSample(6000, 4000, X, Y, 0) << 16 | PngPhotoSample(6000, 4000, X, Y, 1) << 8 |
                 PngPhotoSample(6000, 4000, X, Y, 2);
        },
        80, false);
  }
  return Bytes;
}

std::unique_ptr<TPicture> LoadAndDraw(const std::string& Path, TBitmap& Target) {
  auto P = std::make_unique<TPicture>();
  P->LoadFile(Path);
  Target.Canvas().StretchDraw(Rect(0, 0, 1, 1), P->Graphic());
  return P;
}

void BM_WebpLoadAndFirstDraw(benchmark::State& State) {
  InitializeWebpSupport();
  const std::vector<std::uint8_t>& Bytes = BenchBytes();
  const TBenchFile File(Bytes, "kest_webp_bench.webp");
  TBitmap Target(1, 1);
  {
    const auto P = LoadAndDraw(File.Path(), Target);
    const TBitmap* B = static_cast<TWebPImage*>(P->Graphic())->Bitmap();
    int W = 0, H = 0;
    std::uint8_t* Plain = WebPDecodeBGR(Bytes.data(), Bytes.size(), &W, &H);
    bool Same = B->Width() == W && B->Height() == H;
    for (int Y = 0; Same && Y < H; Y += 997) Same = std::memcmp(B->ScanLine(Y), Plain + std::size_t(Y) * W * 3, std::size_t(W) * 3) == 0;
    WebPFree(Plain);
    if (!Same) {
      State.SkipWithError("pixels differ from libwebp's decode");
      return;
    }
  }
  const bool QtReads = QtRead(File.Path()), PixbufReads = PixbufRead(File.Path());
  double Ours = 0, Plain = 0, Qt = 0, Pixbuf = 0;
  for (auto _ : State) {
    const double T = TimeOf([&] { benchmark::DoNotOptimize(LoadAndDraw(File.Path(), Target)); });
    Ours += T;
    State.SetIterationTime(T);
    Plain += TimeOf([&] {
      int W = 0, H = 0;
      std::uint8_t* P = WebPDecodeBGR(Bytes.data(), Bytes.size(), &W, &H);
      benchmark::DoNotOptimize(P);
      WebPFree(P);
    });
    if (QtReads) Qt += TimeOf([&] { benchmark::DoNotOptimize(QtRead(File.Path())); });
    if (PixbufReads) Pixbuf += TimeOf([&] { benchmark::DoNotOptimize(PixbufRead(File.Path())); });
  }
  const double N = static_cast<double>(State.iterations());
  State.counters["libwebp_ms"] = Plain * 1000 / N;
  State.counters["qt_ms"] = Qt * 1000 / N;
  State.counters["pixbuf_ms"] = Pixbuf * 1000 / N;
  State.counters["ratio"] = Ours / Plain;
  State.counters["qt_ratio"] = Qt / Ours;
  State.counters["pixbuf_ratio"] = Pixbuf / Ours;
}

BENCHMARK(BM_WebpLoadAndFirstDraw)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
