#include "picture/Icon.h"

#include "toolkit/Exceptions.h"

KEST_CLASS_IMPL(TIcon, TGraphic)

TIcon::TIcon() = default;
TIcon::~TIcon() = default;

std::int32_t TIcon::Width() const { return FDecoded ? FWidth : 32; }
std::int32_t TIcon::Height() const { return FDecoded ? FHeight : 32; }
void TIcon::SetWidth(std::int32_t) {}
void TIcon::SetHeight(std::int32_t) {}

void TIcon::DrawInto(TCanvas&, const TRect&) {}

void TIcon::LoadFromStream(TStream& Stream) {
  FData = Stream.ReadRest();
  if (FData.size() < 6) throw EReadError("Stream read error");
  const int Type = FData[2] | (FData[3] << 8);
  if (Type >= 2) throw EInvalidGraphic("Icon image is not valid");
  FDecoded = false;
  Changed(this);
}

void TIcon::SaveToStream(TStream& Stream) const { Stream.WriteBuffer(FData.data(), FData.size()); }
void TIcon::ReadData(TStream& Stream) { LoadFromStream(Stream); }
void TIcon::WriteData(TStream& Stream) const { SaveToStream(Stream); }

void TIcon::Assign(const TPersistent* Source) {
  if (const auto* I = dynamic_cast<const TIcon*>(Source)) {
    FData = I->FData;
    FDecoded = false;
    Changed(this);
    return;
  }
  TGraphic::Assign(Source);
}
