#include "picture/Graphic.h"

#include <cstdio>

#include "picture/decoding/BackgroundDecode.h"
#include "toolkit/Exceptions.h"

KEST_ABSTRACT_CLASS_IMPL(TGraphic, TPersistent)
KEST_CLASS_IMPL(TPicture, TPersistent)

// ---------------------------------------------------------------------------
// TGraphic

TGraphic::TGraphic() = default;
TGraphic::~TGraphic() = default;

// ---------------------------------------------------------------------------
// Background decoding

void TGraphic::DecodeForBackground(const std::atomic<bool>&) {}
void TGraphic::TakeDecoded(TGraphic&) {}
std::unique_ptr<TGraphic> TGraphic::CopyForBackground() const { return Clone(); }

void TGraphic::StartBackgroundDecode() {
  if (FBackground || !NeedsDecode()) return;
  FBackground = std::make_unique<TBackgroundDecode>(*this, CopyForBackground());
}

void TGraphic::CancelBackgroundDecode() { FBackground.reset(); }

TBitmap* TGraphic::BackgroundPreview() const { return FBackground ? FBackground->Preview() : nullptr; }

const TBitmap* TGraphic::PartialPicture() { return nullptr; }

void TGraphic::FinishBackgroundDecode() {
  if (!FBackground || !FBackground->WaitAndDeliver()) return;
  if (std::exception_ptr Failure = EndBackgroundDecode()) std::rethrow_exception(Failure);
}

std::exception_ptr TGraphic::EndBackgroundDecode() {
  const std::unique_ptr<TBackgroundDecode> Job = std::move(FBackground);
  return Job->Complete();
}

void TGraphic::Changed(TObject*) {
  if (OnChange) OnChange(this);
}

bool TGraphic::Equals(const TGraphic* Other) const {
  return Other && Other->ClassType() == ClassType() && Other->Empty() && Empty();
}

void TGraphic::ReadData(TStream& Stream) { LoadFromStream(Stream); }
void TGraphic::WriteData(TStream& Stream) const { SaveToStream(Stream); }

void TGraphic::SetPalette(HPALETTE) {}

void TGraphic::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  Changed(this);
}

void TGraphic::LoadFromFile(const std::string& FileName) {
  TFileBytes Bytes = ReadWholeFile(FileName);
  ReportingMemory([&] { LoadFromFileBytes(std::move(Bytes)); });
}

void TGraphic::LoadFromFileBytes(TFileBytes&& Bytes) {
  auto S = TMemoryStream::Over(Bytes);
  LoadFromStream(*S);
}

void TGraphic::SaveToFile(const std::string& FileName) const {
  TMemoryStream S;
  SaveToStream(S);
  std::FILE* F = std::fopen(FileName.c_str(), "wb");
  if (!F) throw EFOpenError("Cannot create file \"" + FileName + "\"");
  const auto B = S.Bytes();
  const bool Ok = std::fwrite(B.data(), 1, B.size(), F) == B.size();
  std::fclose(F);
  if (!Ok) throw EWriteError("Stream write error");
}

std::unique_ptr<TGraphic> TGraphic::Clone() const {
  const TMetaClass* C = ClassType();
  if (!C->Create) throw EInvalidGraphic("Cannot copy a " + ClassName());
  std::unique_ptr<TObject> O = C->Create(nullptr);
  std::unique_ptr<TGraphic> G(static_cast<TGraphic*>(O.release()));
  G->Assign(this);
  return G;
}

void TGraphic::Progress(TObject* Sender, TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow,
                        const TRect& R, const std::string& Msg) {
  if (OnProgress) OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

// ---------------------------------------------------------------------------
// TPicture

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::Hold(std::unique_ptr<TGraphic> G) {
  FGraphic = std::move(G);
  if (FGraphic) {
    FGraphic->OnChange = [this](TObject* Sender) { GraphicChanged(Sender); };
    FGraphic->OnProgress = [this](TObject* Sender, TProgressStage Stage, std::uint8_t Percent, bool Redraw,
                                  const TRect& R, const std::string& Msg) {
      if (OnProgress) OnProgress(Sender, Stage, Percent, Redraw, R, Msg);
    };
    FGraphic->OnFrame = [this](TObject* Sender, const TRect& R) {
      if (OnFrame) OnFrame(Sender, R);
    };
  }
}

void TPicture::GraphicChanged(TObject*) {
  if (OnChange) OnChange(this);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> G) {
  Hold(std::move(G));
  GraphicChanged(this);
}

void TPicture::CopyFrom(const TPicture* Source) { CopyFrom(Source ? Source->Graphic() : nullptr); }

void TPicture::CopyFrom(const TGraphic* Source) {
  SetGraphic(Source ? ReportingMemory([Source] { return Source->Clone(); }) : nullptr);
}

void TPicture::Assign(const TPersistent* Source) {
  if (!Source) {
    CopyFrom(static_cast<const TGraphic*>(nullptr));
  } else if (const auto* P = dynamic_cast<const TPicture*>(Source)) {
    CopyFrom(P);
  } else if (const auto* G = dynamic_cast<const TGraphic*>(Source)) {
    CopyFrom(G);
  } else {
    TPersistent::Assign(Source);
  }
}

// ---------------------------------------------------------------------------
// Drawing helpers

void DrawGraphic(TCanvas& Canvas, std::int32_t X, std::int32_t Y, TGraphic* Graphic) { Canvas.Draw(X, Y, Graphic); }

void StretchDrawGraphic(TCanvas& Canvas, const TRect& R, TGraphic* Graphic) { Canvas.StretchDraw(R, Graphic); }
