#include "picture/icon/Icon.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include <QPainter>

#include "picture/FileFormats.h"
#include "toolkit/ByteReader.h"
#include "picture/icon/IcoImage.h"
#include "toolkit/Exceptions.h"

KEST_CLASS_IMPL(TIcon, TGraphic)

bool TIcon::HasSignature(std::span<const std::uint8_t> Head) {
  // Reserved 0, type 1 (icon), at least one image.
  return HeadHas(Head, 0, std::string_view("\0\0\1\0", 4)) && Head.size() >= 6 && (Head[4] | Head[5]) != 0;
}

namespace {

// The standard icon size of the screen, the size the image choice aims for.
constexpr std::int64_t StandardIconSize = 32;
// Colour counts: 0 in a directory entry means more than a byte can count.
constexpr std::uint64_t UnlimitedColors = std::numeric_limits<std::uint64_t>::max();

struct TIconEntry {
  std::int64_t Width = 0;
  std::int64_t Height = 0;
  std::uint64_t Colors = 0;
  std::uint32_t Size = 0;
  std::uint32_t Offset = 0;
};

// Reads Count 16-byte entries; raises "Stream read error", before allocating
// anything, when the file ends inside the directory.
std::vector<TIconEntry> ReadDirectory(TByteReader& R, std::uint16_t Count) {
  if (R.Remaining() < std::size_t{16} * Count) TByteReader::Fail();
  std::vector<TIconEntry> Entries(Count);
  for (TIconEntry& E : Entries) {
    // A width or height byte of 0 stands for 256, the largest size.
    E.Width = R.U8();
    E.Height = R.U8();
    if (E.Width == 0) E.Width = 256;
    if (E.Height == 0) E.Height = 256;
    // The colour count and the reserved byte together form a 16-bit count.
    E.Colors = R.U16();
    if (E.Colors == 0) E.Colors = UnlimitedColors;
    R.Skip(4);  // planes, bits per pixel
    E.Size = R.U32();
    E.Offset = R.U32();
  }
  return Entries;
}

// Whether an entry New is sized at least as well as the current choice Old on
// one axis, D being the difference to the wanted size: no farther off, and
// never larger than wanted where the choice is smaller than wanted.
bool AxisAtLeastAsGood(std::int64_t DNew, std::int64_t DOld) {
  return std::abs(DNew) <= std::abs(DOld) && (DNew <= 0 || DNew <= DOld);
}

// The entry that suits the screen: the first entry, replaced by every later one
// that the screen can show, that has at least as many colours and that is sized
// at least as well; so of equally good entries the later one wins.
std::size_t ChooseEntry(const std::vector<TIconEntry>& Entries, std::uint64_t DisplayColors) {
  std::size_t Choice = 0;
  for (std::size_t I = 1; I < Entries.size(); ++I) {
    const TIconEntry& E = Entries[I];
    const TIconEntry& C = Entries[Choice];
    if (E.Colors <= DisplayColors && E.Colors >= C.Colors &&
        AxisAtLeastAsGood(E.Width - StandardIconSize, C.Width - StandardIconSize) &&
        AxisAtLeastAsGood(E.Height - StandardIconSize, C.Height - StandardIconSize))
      Choice = I;
  }
  return Choice;
}

// Colours the screen can show: 2^b for b bits per pixel up to 8, unlimited beyond.
std::uint64_t DisplayColors() {
  const std::int64_t Bits = std::int64_t{DisplayInfo().BitsPerPixel} * DisplayInfo().Planes;
  return Bits <= 8 ? std::uint64_t{1} << std::max<std::int64_t>(Bits, 0) : UnlimitedColors;
}

}  // namespace

TIcon::TIcon() = default;
TIcon::~TIcon() = default;

std::int32_t TIcon::Width() const { return FImage.isNull() ? StandardIconSize : FImage.width(); }
std::int32_t TIcon::Height() const { return FImage.isNull() ? StandardIconSize : FImage.height(); }
void TIcon::SetWidth(std::int32_t) {}
void TIcon::SetHeight(std::int32_t) {}

void TIcon::Decode() {
  TByteReader R(FData);
  R.Skip(2);
  const std::uint16_t Type = R.U16();
  const std::uint16_t Count = R.U16();
  if (Type == 0) {
    FImage = DefaultApplicationIcon();
    return;
  }
  if (Count == 0) throw EInvalidGraphic("Icon image is not valid");
  const std::vector<TIconEntry> Entries = ReadDirectory(R, Count);
  const TIconEntry& E = Entries[ChooseEntry(Entries, DisplayColors())];
  // An image that does not lie inside the file cannot be built, like one whose data is damaged.
  if (std::uint64_t{E.Offset} + E.Size > FData.size()) throw EOutOfResources("Out of system resources");
  FImage = DecodeIconImage(R.Sub(E.Offset, E.Size).Rest());
}

void TIcon::DrawInto(TCanvas& ACanvas, const TRect& R) {
  if (Empty() || FBroken) return;
  if (FImage.isNull()) {
    try {
      Decode();
    } catch (...) {
      FBroken = true;
      throw;
    }
  }
  ACanvas.WithPainter([&](QPainter& P) { P.drawImage(QPoint(R.Left, R.Top), FImage); });
}

void TIcon::LoadFromStream(TStream& Stream) {
  // Read straight into memory that is not cleared first.
  const std::int64_t Left = Stream.Remaining();
  TFileBytes Data(Left > 0 ? static_cast<std::size_t>(Left) : 0);
  Stream.ReadBuffer(Data.data(), Data.size());
  Hold(std::move(Data));
}

void TIcon::LoadFromFileBytes(TFileBytes&& Bytes) { Hold(std::move(Bytes)); }

void TIcon::Hold(TFileBytes&& Data) {
  TByteReader R(Data);
  R.Skip(2);
  const std::uint16_t Type = R.U16();
  R.Skip(2);  // the image count is read at the first drawing
  if (Type >= 2) throw EInvalidGraphic("Icon image is not valid");
  FData = std::move(Data);
  FImage = QImage();
  FBroken = false;
  Changed(this);
}

void TIcon::SaveToStream(TStream& Stream) const { Stream.WriteBuffer(FData.data(), FData.size()); }

void TIcon::ReadData(TStream& Stream) {
  if (Stream.Remaining() > 0) {
    LoadFromStream(Stream);
    return;
  }
  // An empty icon writes no data; reading it back gives the empty icon again.
  FData.clear();
  FImage = QImage();
  FBroken = false;
  Changed(this);
}

void TIcon::WriteData(TStream& Stream) const { SaveToStream(Stream); }

void TIcon::Assign(const TPersistent* Source) {
  if (const auto* I = dynamic_cast<const TIcon*>(Source)) {
    // The decoded image is shared, not copied.
    FData = I->FData;
    FImage = I->FImage;
    FBroken = I->FBroken;
    Changed(this);
    return;
  }
  TGraphic::Assign(Source);
}
