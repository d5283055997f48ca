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
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "../tests/support/JpegFiles.h"
#include "picture/jpeg/Jpeg.h"
#include "picture/jpeg/JpegBytes_p.h"
#include "picture/jpeg/JpegDecoder_p.h"
#include "picture/jpeg/JpegSplitDecode_p.h"

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

// Processor time of the calling thread, in seconds.
double ThreadSeconds() {
  timespec T{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

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

// The reduced decode alone, bytes in memory, into a buffer made once: on one
// thread (split 0) or two (split 50 %), against the plain decode at 1/4.
void BM_JpegQuarterDecode(benchmark::State& State) {
  const std::vector<std::uint8_t>& Bytes = BenchBytes(false);
  const TJpegSplitSettings Saved = JpegSplitSettings();
  JpegSplitSettings().Enabled = true;
  JpegSplitSettings().SplitAt = static_cast<double>(State.range(0)) / 100;
  const TJpegBytes Held{std::vector<std::uint8_t>(Bytes)};
  std::vector<std::uint8_t> Rows;
  double Ours = 0, Plain = 0, OursCpu = 0, PlainCpu = 0;
  bool PlainFirst = false;
  std::size_t Taken = 0;
  for (auto _ : State) {
    PlainFirst = !PlainFirst;
    for (int Side = 0; Side < 2; ++Side) {
      const auto T0 = std::chrono::steady_clock::now();
      const double C0 = ThreadSeconds();
      if ((Side == 0) == PlainFirst) {
        benchmark::DoNotOptimize(PlainDecodeAt(Bytes, 4).Bits);
        Plain += Seconds(std::chrono::steady_clock::now() - T0);
        PlainCpu += ThreadSeconds() - C0;
        continue;
      }
      TJpegDecoder D;
      D.Open(Held);
      D.Info().scale_num = 1;
      D.Info().scale_denom = 4;
      D.Info().out_color_space = JCS_EXT_BGR;
      D.CalcOutputDimensions();
      const std::ptrdiff_t Stride = (D.Info().output_width * 3 + 3) / 4 * 4;
      Rows.resize(static_cast<std::size_t>(Stride) * D.Info().output_height);
      if (!JpegSplitDecode(D.Info(), D.ScanData(), Rows.data(), Stride, [](std::uint32_t) {})) {
        State.SkipWithError("the split decode gave up");
        break;
      }
      Taken += JpegSplitLastTakenFromSecond();
      OursCpu += ThreadSeconds() - C0;
      const double T = Seconds(std::chrono::steady_clock::now() - T0);
      Ours += T;
      State.SetIterationTime(T);
    }
  }
  JpegSplitSettings() = Saved;
  State.counters["plain_ms"] = benchmark::Counter(Plain * 1000 / static_cast<double>(State.iterations()));
  State.counters["ratio"] = benchmark::Counter(Ours / Plain);
  // The calling thread's processor time: on one thread, the work itself.
  State.counters["cpu_ratio"] = benchmark::Counter(OursCpu / PlainCpu);
  State.counters["second_share"] = benchmark::Counter(static_cast<double>(Taken) / static_cast<double>(State.iterations()) / 93750);
}

BENCHMARK(BM_JpegQuarterDecode)->ArgName("split_percent")->Arg(0)->Arg(50)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
