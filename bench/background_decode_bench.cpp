// The image view in a shown window, offscreen, stepping to a large JPEG file
// with background decoding on, against the same step with the decode at first
// drawing. Counters, from the same run:
//   busy_ms    the longest time the event loop was kept from running while the
//              background decode ran (from the step to the full picture shown)
//   repaint_ms from asking for the file to the window's first repaint
//   total_ms   from asking for the file to the full picture shown
//   load_ms    of which loading the file (its header) took at most
//   read_ms    reading the whole file into memory, what loading took before it
//              read only the header (the longest of the same runs)
//   sync_ms    the same with the decode at first drawing (the window is busy all along)
//   ratio      total_ms / sync_ms
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "../tests/support/JpegFiles.h"
#include "KestImage/KestImage.h"
#include "picture/jpeg/Jpeg.h"
#include "toolkit/Forms.h"

namespace {

using TClock = std::chrono::steady_clock;

double Ms(TClock::duration D) { return std::chrono::duration<double, std::milli>(D).count(); }

// A photograph-like picture, 4:2:0, written once to a temporary file.
const std::string& BenchFile(int W, int H, bool Progressive) {
  static std::map<std::tuple<int, int, bool>, std::string> Files;
  std::string& Path = Files[{W, H, Progressive}];
  if (Path.empty()) {
    TJpegFileOptions O{W, H};
    O.Progressive = Progressive;
    O.Noise = true;
    const auto Bytes = MakeJpeg(O);
    Path = (std::filesystem::temp_directory_path() /
            ("kest_background_" + std::to_string(W) + "_" + std::to_string(Progressive) + ".jpg"))
               .string();
    std::ofstream(Path, std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  }
  return Path;
}

struct TStepTimes {
  double Busy = 0;
  double Repaint = 0;
  double Total = 0;
};

// Steps the view to Path from the event loop and runs the loop until the
// picture is decoded and shown, measuring the gaps between loop iterations.
TStepTimes Step(TKestImage& V, const std::string& Path) {
  TStepTimes T;
  const TClock::time_point Start = TClock::now();
  V.Picture()->LoadFile(Path);
  V.Update();  // the window's paint cycle, as the event loop runs it next
  T.Repaint = Ms(TClock::now() - Start);
  TClock::time_point Last = TClock::now();
  QTimer Probe;
  Probe.setInterval(0);
  QObject::connect(&Probe, &QTimer::timeout, [&] {
    const TClock::time_point Now = TClock::now();
    T.Busy = std::max(T.Busy, Ms(Now - Last));
    Last = Now;
  });
  Probe.start();
  while (V.Decoding()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  V.Update();
  const TClock::time_point End = TClock::now();
  T.Busy = std::max({T.Busy, Ms(End - Last), T.Repaint});
  T.Total = Ms(End - Start);
  return T;
}

void BM_StepToLargeJpeg(benchmark::State& State) {
  InitializeJpegSupport();
  const std::string& Path = BenchFile(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)),
                                      State.range(2) != 0);
  TForm Form(nullptr);
  Form.SetBounds(0, 0, 1200, 800);
  auto V = std::make_unique<TKestImage>(&Form);
  V->SetParent(&Form);
  V->SetBounds(0, 0, 1200, 800);
  Form.Show();
  TStepTimes Worst;
  double Sync = 0, Total = 0, Load = 0, Read = 0;
  for (auto _ : State) {
    V->SetBackgroundDecoding(false);
    const TClock::time_point S = TClock::now();
    V->Picture()->LoadFile(Path);
    Load = std::max(Load, Ms(TClock::now() - S));
    V->Update();
    const double SyncMs = Ms(TClock::now() - S);
    V->Picture()->SetGraphic(nullptr);
    V->SetBackgroundDecoding(true);
    const TStepTimes T = Step(*V, Path);
    V->Picture()->SetGraphic(nullptr);
    const TClock::time_point R = TClock::now();
    benchmark::DoNotOptimize(ReadWholeFile(Path).data());
    Read = std::max(Read, Ms(TClock::now() - R));
    Worst.Busy = std::max(Worst.Busy, T.Busy);
    Worst.Repaint = std::max(Worst.Repaint, T.Repaint);
    Sync += SyncMs;
    Total += T.Total;
    State.SetIterationTime(T.Total / 1000);
  }
  const double N = static_cast<double>(State.iterations());
  State.counters["busy_ms"] = Worst.Busy;
  State.counters["repaint_ms"] = Worst.Repaint;
  State.counters["load_ms"] = Load;
  State.counters["read_ms"] = Read;
  State.counters["total_ms"] = Total / N;
  State.counters["sync_ms"] = Sync / N;
  State.counters["ratio"] = Total / Sync;
}

}  // namespace

BENCHMARK(BM_StepToLargeJpeg)
    ->Args({6000, 4000, 1})
    ->Args({16384, 16384, 0})
    ->ArgNames({"w", "h", "progressive"})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
