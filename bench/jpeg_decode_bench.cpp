// Loading a large JPEG file and drawing it for the first time, against a plain
// libjpeg decode of the same bytes (already in memory) into a newly allocated
// buffer of the decoded bitmap's pixel format. The two are timed alternately
// in the same run; the counter "ratio" is graphic time / plain time.
//
// The drawing goes to a 1 x 1 bitmap, so the time is the decode's: copying one
// pixel costs nothing next to it. Drawn at the picture's size, the whole
// picture is decoded; drawn at fit in 1600 x 1000 (1500 x 1000), a draft at
// 1/4, held against the plain decode at 1/4.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "../tests/support/JpegFiles.h"
#include "picture/jpeg/Jpeg.h"

namespace {

// A 6000 x 4000 photograph-like picture, 4:2:0, made once.
const std::vector<std::uint8_t>& BenchBytes(bool Progressive) {
  static std::vector<std::uint8_t> Bytes[2];
  if (Bytes[Progressive].empty()) {
    TJpegFileOptions Options{6000, 4000};
    Options.Progressive = Progressive;
    Options.Noise = true;
    Bytes[Progressive] = MakeJpeg(Options);
  }
  return Bytes[Progressive];
}

// The bytes as a temporary file for as long as the benchmark runs.
class TTempFile {
 public:
  explicit TTempFile(const std::vector<std::uint8_t>& Bytes)
      : FPath((std::filesystem::temp_directory_path() / "kest_jpeg_bench.jpg").string()) {
    std::ofstream(FPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  }
  ~TTempFile() { std::filesystem::remove(FPath); }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

double Seconds(std::chrono::steady_clock::duration D) { return std::chrono::duration<double>(D).count(); }

// Loads the file into a picture and draws it at its size divided by Reduce;
// returns the picture.
std::unique_ptr<TPicture> LoadAndDraw(const std::string& Path, TBitmap& Target, int Reduce) {
  auto P = std::make_unique<TPicture>();
  P->LoadFile(Path);
  Target.Canvas().StretchDraw(Rect(0, 0, P->Width() / Reduce, P->Height() / Reduce), P->Graphic());
  return P;
}

TPlainImage PlainDecodeAt(const std::vector<std::uint8_t>& Bytes, int Reduce) {
  return PlainDecode(Bytes, [Reduce](jpeg_decompress_struct& D) {
    D.scale_num = 1;
    D.scale_denom = static_cast<unsigned>(Reduce);
  });
}

bool SamePixels(const TBitmap& B, const TPlainImage& Plain) {
  if (B.Width() != Plain.Width || B.Height() != Plain.Height || B.Stride() != Plain.Stride) return false;
  for (int Y = 0; Y < Plain.Height; ++Y)
    if (std::memcmp(B.ScanLine(Y), Plain.Bits.get() + Y * Plain.Stride, static_cast<std::size_t>(Plain.Width) * 3))
      return false;
  return true;
}

void BM_JpegLoadAndFirstDraw(benchmark::State& State) {
  InitializeJpegSupport();
  const std::vector<std::uint8_t>& Bytes = BenchBytes(State.range(0) != 0);
  const int Reduce = static_cast<int>(State.range(1));
  const TTempFile File(Bytes);
  TBitmap Target(1, 1);
  {
    const auto P = LoadAndDraw(File.Path(), Target, Reduce);
    auto* J = static_cast<TJPEGImage*>(P->Graphic());
    const TBitmap* Shown = Reduce == 1 ? J->Bitmap() : J->Draft();
    if (!Shown || Shown->BitsPerPixel() != 24 || !SamePixels(*Shown, PlainDecodeAt(Bytes, Reduce))) {
      State.SkipWithError("pixels differ from the plain decode");
      return;
    }
  }
  double Ours = 0, Plain = 0;
  bool PlainFirst = false;
  for (auto _ : State) {
    // Alternating the order keeps either side from always running on a warmer cache.
    PlainFirst = !PlainFirst;
    for (int Side = 0; Side < 2; ++Side) {
      const auto T0 = std::chrono::steady_clock::now();
      if ((Side == 0) == PlainFirst) {
        benchmark::DoNotOptimize(PlainDecodeAt(Bytes, Reduce).Bits);
        Plain += Seconds(std::chrono::steady_clock::now() - T0);
      } else {
        benchmark::DoNotOptimize(LoadAndDraw(File.Path(), Target, Reduce));
        const double T = Seconds(std::chrono::steady_clock::now() - T0);
        Ours += T;
        State.SetIterationTime(T);
      }
    }
  }
  State.counters["plain_ms"] = benchmark::Counter(Plain * 1000 / static_cast<double>(State.iterations()));
  State.counters["ratio"] = benchmark::Counter(Ours / Plain);
}

BENCHMARK(BM_JpegLoadAndFirstDraw)
    ->ArgNames({"progressive", "reduce"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 4})
    ->Args({1, 4})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(5);

}  // namespace
