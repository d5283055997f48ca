#include "picture/decoding/BackgroundDecode.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "picture/Limits.h"
#include "picture/jpeg/Jpeg.h"
#include "support/BackgroundTesting.h"
#include "support/JpegFiles.h"
#include "support/JpegSettingsTest.h"

namespace {

class BackgroundDecodeTest : public TJpegSettingsTest {
 protected:
  void TearDown() override {
    TJpegSettingsTest::TearDown();
    SetExceptionHandler(nullptr);
  }

  // A loaded graphic whose notifications and change notifications are recorded.
  std::unique_ptr<TJPEGImage> Load(const std::vector<std::uint8_t>& Bytes, TClock& Clock,
                                   std::vector<TNoteRecord>& Notes) {
    auto J = std::make_unique<TJPEGImage>();
    auto S = TMemoryStream::Over(Bytes);
    J->LoadFromStream(*S);
    J->SetTickSource([&Clock] { return Clock.Read(); });
    J->OnProgress = [&Notes](TObject*, TProgressStage Stage, std::uint8_t Percent, bool Redraw, const TRect& R,
                             const std::string&) { Notes.push_back({Stage, Percent, Redraw, R}); };
    J->OnChange = [this](TObject*) { ++FChanges; };
    return J;
  }

  int FChanges = 0;
};

// The marker FF D8 put into the entropy-coded data of the last scan: a fatal
// error half-way through the decode.
std::vector<std::uint8_t> Broken(std::vector<std::uint8_t> Bytes) {
  std::size_t Sos = 0;
  for (std::size_t I = 0; I + 1 < Bytes.size(); ++I)
    if (Bytes[I] == 0xFF && Bytes[I + 1] == 0xDA) Sos = I;
  const std::size_t Data = Sos + 2 + (Bytes[Sos + 2] << 8 | Bytes[Sos + 3]);
  Bytes.insert(Bytes.begin() + static_cast<std::ptrdiff_t>(Data + (Bytes.size() - 2 - Data) / 2), {0xFF, 0xD8});
  return Bytes;
}

struct TCase {
  const char* Name;
  TJpegFileOptions File;
  bool ProgressiveDisplay;
  TJPEGPixelFormat PixelFormat;
};

const TCase Cases[] = {
    {"baseline", {64, 400}, false, jf24Bit},
    {"progressive", {64, 400, false, 2, 2, true}, false, jf24Bit},
    {"progressive shown scan by scan", {64, 400, false, 2, 2, true}, true, jf24Bit},
    {"quantised", {64, 400, false, 1, 1, true}, true, jf8Bit},
    {"gray", {64, 400, true}, false, jf24Bit},
};

TEST_F(BackgroundDecodeTest, GivesThePixelsAndNotificationsOfTheDecodeAtDrawing) {
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const auto Bytes = MakeJpeg(C.File);
    TClock SyncClock, BackClock;
    std::vector<TNoteRecord> SyncNotes, BackNotes;
    auto Sync = Load(Bytes, SyncClock, SyncNotes);
    auto Back = Load(Bytes, BackClock, BackNotes);
    for (TJPEGImage* J : {Sync.get(), Back.get()}) {
      J->SetProgressiveDisplay(C.ProgressiveDisplay);
      J->SetPixelFormat(C.PixelFormat);
    }
    const TBitmap* Expected = Sync->Bitmap();
    FChanges = 0;
    ExpectBackgroundDecodeGives(*Back, *Expected);
    if (HasFatalFailure()) return;
    ASSERT_GT(SyncNotes.size(), 3u);
    EXPECT_EQ(BackNotes, SyncNotes);
    // A change notification would make a view start its layout afresh.
    EXPECT_EQ(FChanges, 0);
  }
}

TEST_F(BackgroundDecodeTest, AbandonedDecodeStopsAndDeliversNothing) {
  const auto Bytes = MakeJpeg({64, 400, false, 2, 2, true});
  int Readings = 0;
  {
    TClock Clock;
    std::vector<TNoteRecord> Notes;
    Load(Bytes, Clock, Notes)->Bitmap();
    Readings = Clock.Readings;
  }
  ASSERT_GT(Readings, 10);
  // Before the worker starts, at its first reading, mid-way, near the end of the final pass.
  for (int HoldAt : {0, 1, Readings / 2, Readings - 1}) {
    for (TCancelBy By : {cbFree, cbCancel, cbSetting, cbLoad}) {
      SCOPED_TRACE(testing::Message() << "held at " << HoldAt << ", by " << By);
      TClock Clock;
      Clock.HoldAt = HoldAt;
      std::vector<TNoteRecord> Notes;
      auto J = Load(Bytes, Clock, Notes);
      StartHeld(*J, Clock);
      ExpectAbandoned(J, By, Bytes, [](TJPEGImage& G) { G.SetScale(jsHalf); }, Notes);
    }
  }
}

TEST_F(BackgroundDecodeTest, FailureReachesTheHandlerOnceAndIsKept) {
  const auto Bytes = Broken(MakeJpeg({64, 400}));
  std::string Expected;
  {
    TClock Clock;
    std::vector<TNoteRecord> Notes;
    auto Sync = Load(Bytes, Clock, Notes);
    try {
      Sync->Bitmap();
    } catch (const Exception& E) {
      Expected = E.Message();
    }
  }
  ASSERT_FALSE(Expected.empty());
  std::vector<std::string> Shown;
  SetExceptionHandler([&](const Exception& E) { Shown.push_back(E.Message()); });
  TClock Clock;
  std::vector<TNoteRecord> Notes;
  auto J = Load(Bytes, Clock, Notes);
  J->StartBackgroundDecode();
  RunEventsUntil([&] { return !J->BackgroundDecoding(); });
  RunEventsAWhile();
  EXPECT_EQ(Shown, std::vector<std::string>{Expected});
  ASSERT_FALSE(Notes.empty());
  EXPECT_EQ(Notes.back().Stage, psEnding);
  EXPECT_EQ(Notes.back().Percent, 0);
  // As after a failed decode at drawing: what decoded is drawn, without another error or decode.
  EXPECT_TRUE(J->Decoded());
  EXPECT_FALSE(J->NeedsDecode());
  TBitmap Target(2, 2);
  EXPECT_NO_THROW(J->DrawInto(Target.Canvas(), Rect(0, 0, 2, 2)));
  J->StartBackgroundDecode();
  EXPECT_FALSE(J->BackgroundDecoding());
}

TEST_F(BackgroundDecodeTest, FullResolutionReadDuringTheDecodeGetsTheWholePicture) {
  const auto Bytes = MakeJpeg({64, 400, false, 2, 2, true});
  TClock SyncClock, Clock;
  std::vector<TNoteRecord> SyncNotes, Notes;
  auto Sync = Load(Bytes, SyncClock, SyncNotes);
  const TBitmap* Expected = Sync->Bitmap();
  Clock.HoldAt = SyncClock.Readings / 2;
  auto J = Load(Bytes, Clock, Notes);
  StartHeld(*J, Clock);
  const TBitmap* B = J->Bitmap();
  ASSERT_NE(B, nullptr);
  EXPECT_TRUE(SamePixels(*Expected, *B));
  EXPECT_EQ(Notes, SyncNotes);
  RunEventsAWhile();
  EXPECT_EQ(Notes, SyncNotes);
  // The stored form is the file, whatever the decode's state.
  TMemoryStream Saved;
  J->SaveToStream(Saved);
  EXPECT_EQ(Saved.Size(), static_cast<std::int64_t>(Bytes.size()));
}


// A file loaded by its header: the worker reads the rest piece by piece while
// the user-interface thread saves the file (reading it whole), and a draft
// planned for a small drawing is what the worker decodes.
TEST_F(BackgroundDecodeTest, FileReadOnTheWorkerWhileTheFileIsSaved) {
  struct TKeepOpen {
    std::size_t Was = std::exchange(JpegReadWholeUpTo(), 0);
    ~TKeepOpen() { JpegReadWholeUpTo() = Was; }
  } KeepOpen;
  TJpegFileOptions O{1000, 800, false, 1, 1};
  O.Quality = 95;
  O.Noise = true;
  const auto Bytes = MakeJpeg(O);
  const auto Path = (std::filesystem::temp_directory_path() / "kest_background_file.jpg").string();
  std::ofstream(Path, std::ios::binary)
      .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  for (const bool Small : {false, true}) {
    SCOPED_TRACE(Small ? "draft" : "full");
    TJPEGImage J;
    J.LoadFromFile(Path);
    if (Small) J.PlanDrawing(Rect(0, 0, 250, 200));
    J.StartBackgroundDecode();
    ASSERT_TRUE(J.BackgroundDecoding());
    TMemoryStream Saved;
    J.SaveToStream(Saved);
    EXPECT_EQ(std::vector<std::uint8_t>(Saved.Bytes().begin(), Saved.Bytes().end()), Bytes);
    RunEventsUntil([&] { return !J.BackgroundDecoding(); });
    const TPlainImage Plain = PlainDecode(Bytes, [Small](jpeg_decompress_struct& D) {
      D.scale_num = 1;
      D.scale_denom = Small ? 4 : 1;
    });
    const TBitmap* B = Small ? J.Draft() : J.Bitmap();
    ASSERT_NE(B, nullptr);
    ASSERT_EQ(B->Width(), Plain.Width);
    bool Same = true;
    for (int Y = 0; Y < Plain.Height && Same; ++Y)
      Same = std::memcmp(B->ScanLine(Y), Plain.Bits.get() + Y * Plain.Stride, static_cast<std::size_t>(Plain.Width) * 3) == 0;
    EXPECT_TRUE(Same);
  }
  std::filesystem::remove(Path);
}

}  // namespace

namespace {

// A graphic whose background decode runs in one call that takes no notice of
// cancellation until the test lets it end, as a format library's does.
struct TLatch {
  std::atomic<bool> Start{true};  // the worker waits for it before it reports that it started
  std::atomic<bool> Stopped{false};  // the report of the start raised
  std::atomic<int> InDecode{0};  // decodes begun
  std::atomic<bool> Release{false};
  std::atomic<int> CopiesAlive{0};
};

class TOneCallDecode : public TGraphic {
 public:
  explicit TOneCallDecode(std::shared_ptr<TLatch> L, bool Copy = false) : FLatch(std::move(L)), FCopy(Copy) {
    if (FCopy) ++FLatch->CopiesAlive;
  }
  ~TOneCallDecode() override {
    if (FCopy) --FLatch->CopiesAlive;
  }
  void DrawInto(TCanvas&, const TRect&) override {}
  bool Empty() const override { return false; }
  std::int32_t Width() const override { return 10; }
  std::int32_t Height() const override { return 10; }
  void SetWidth(std::int32_t) override {}
  void SetHeight(std::int32_t) override {}
  void LoadFromStream(TStream&) override {}
  void SaveToStream(TStream&) const override {}
  bool NeedsDecode() const override { return true; }

 protected:
  std::unique_ptr<TGraphic> CopyForBackground() const override {
    return std::make_unique<TOneCallDecode>(FLatch, true);
  }
  void DecodeForBackground(const std::atomic<bool>&) override {
    while (!FLatch->Start) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    try {
      Progress(this, psStarting, 0, false, TRect{}, "");
    } catch (...) {
      FLatch->Stopped = true;
      throw;
    }
    ++FLatch->InDecode;
    while (!FLatch->Release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Progress(this, psEnding, 100, false, TRect{}, "");
  }
  void TakeDecoded(TGraphic&) override {}

 private:
  std::shared_ptr<TLatch> FLatch;
  bool FCopy;
};

}  // namespace

// Abandoning a decode that cannot be interrupted does not wait for it: the
// worker is set aside, delivers nothing, and is joined when the program
// finishes the abandoned decodes; its copy is freed on this thread.
TEST(BackgroundDecodeAbandon, DecodeInOneCallIsSetAsideNotWaitedFor) {
  auto Latch = std::make_shared<TLatch>();
  TOneCallDecode G(Latch);
  int Notes = 0;
  G.OnProgress = [&Notes](TObject*, TProgressStage, std::uint8_t, bool, const TRect&, const std::string&) { ++Notes; };
  G.StartBackgroundDecode();
  ASSERT_TRUE(G.BackgroundDecoding());
  while (!Latch->InDecode) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  G.CancelBackgroundDecode();
  // Returned while the worker still decodes: its copy is alive.
  EXPECT_FALSE(G.BackgroundDecoding());
  EXPECT_EQ(Latch->CopiesAlive, 1);
  Latch->Release = true;
  FinishAbandonedDecodes();
  // The wake-ups it queued go by without a notification, and free the copy.
  QCoreApplication::processEvents();
  EXPECT_EQ(Notes, 0);
  EXPECT_EQ(Latch->CopiesAlive, 0);
}

// Cancelled before the worker reports that it started, a decode that reports
// no rows stops at that report rather than running to its end.
TEST(BackgroundDecodeAbandon, CancelledBeforeTheStartTheWorkerStopsAtOnce) {
  auto Latch = std::make_shared<TLatch>();
  Latch->Start = false;
  TOneCallDecode G(Latch);
  G.StartBackgroundDecode();
  G.CancelBackgroundDecode();
  Latch->Start = true;
  const auto Limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Latch->Stopped && !Latch->InDecode && std::chrono::steady_clock::now() < Limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(Latch->Stopped);
  EXPECT_EQ(Latch->InDecode, 0);
  Latch->Release = true;
  FinishAbandonedDecodes();
  QCoreApplication::processEvents();
}

// However many decodes are abandoned, at most MaxDecodeWorkers workers run or
// are set aside: a further decode waits, drawn as decoding, until one ends,
// and one that is waited for runs on the thread that waits.
TEST(BackgroundDecodeAbandon, WorkersAreCappedAndFurtherDecodesWait) {
  FinishAbandonedDecodes();
  auto Held = std::make_shared<TLatch>();
  auto Free = std::make_shared<TLatch>();
  Free->Release = true;
  std::vector<std::unique_ptr<TOneCallDecode>> Graphics;
  for (int I = 0; I < MaxDecodeWorkers; ++I) {
    Graphics.push_back(std::make_unique<TOneCallDecode>(Held));
    Graphics.back()->StartBackgroundDecode();
    while (Held->InDecode <= I) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (I + 1 < MaxDecodeWorkers) Graphics.back()->CancelBackgroundDecode();
  }
  TOneCallDecode Next(Free), Waited(Free);
  Next.StartBackgroundDecode();
  Waited.StartBackgroundDecode();
  RunEventsAWhile();
  EXPECT_TRUE(Next.BackgroundDecoding());
  EXPECT_EQ(Free->InDecode, 0);
  Waited.FinishBackgroundDecode();
  EXPECT_FALSE(Waited.BackgroundDecoding());
  EXPECT_EQ(Free->InDecode, 1);
  // The workers end: the waiting decode gets one.
  Held->Release = true;
  RunEventsUntil([&] { return !Next.BackgroundDecoding() && !Graphics.back()->BackgroundDecoding(); });
  EXPECT_EQ(Free->InDecode, 2);
  FinishAbandonedDecodes();
  QCoreApplication::processEvents();  // the wake-ups queued hold the copies
  EXPECT_EQ(Held->CopiesAlive, 0);
}
