#include "picture/metafile/EmfFile.h"

#include "picture/Limits.h"
#include "toolkit/ByteReader.h"
#include "picture/metafile/EmfRecords.h"
#include "toolkit/Exceptions.h"

namespace {

TRect ReadRect(TByteReader& R) {
  TRect T;
  T.Left = R.I32();
  T.Top = R.I32();
  T.Right = R.I32();
  T.Bottom = R.I32();
  return T;
}

// The smallest header record there is: the fields up to the reference device's millimetres.
constexpr std::uint32_t MinHeaderRecord = 88;

}  // namespace

bool LooksEnhanced(std::span<const std::uint8_t> Bytes) {
  if (Bytes.size() <= emf::EmfHeaderSize) return false;
  TByteReader R(Bytes);
  if (R.U32() != emf::EMR_HEADER) return false;
  R.Seek(40);
  return R.U32() == emf::EmfSignature;
}

TEmfHeader ReadEmfHeader(std::span<const std::uint8_t> Bytes) {
  TByteReader R(Bytes);
  R.Skip(4);
  const std::uint32_t RecordSize = R.U32();
  TEmfHeader H;
  H.Bounds = ReadRect(R);
  H.Frame = ReadRect(R);
  R.Skip(8);  // signature, version
  H.Bytes = R.U32();
  H.Records = R.U32();
  H.Handles = R.U16();
  R.Skip(2 + 8);  // reserved, description
  H.PalEntries = R.U32();
  H.DevicePx[0] = R.I32();
  H.DevicePx[1] = R.I32();
  H.DeviceMM[0] = R.I32();
  H.DeviceMM[1] = R.I32();
  if (H.Bytes > Bytes.size()) TByteReader::Fail();
  if (RecordSize < MinHeaderRecord || RecordSize > H.Bytes || H.Bytes < emf::EmfHeaderSize)
    throw EInvalidGraphic("Metafile is not valid");
  return H;
}

std::optional<TEmfRecord> TEmfRecordWalker::Next() {
  if (FBytes.size() - FPos < 8) return std::nullopt;
  TByteReader R(FBytes.subspan(FPos, 8));
  const std::uint32_t Type = R.U32();
  const std::uint32_t Size = R.U32();
  if (Size < 8 || Size > FBytes.size() - FPos) return std::nullopt;
  TEmfRecord Rec{Type, FBytes.subspan(FPos, Size)};
  FPos += Size;
  return Rec;
}

std::vector<std::uint32_t> ReadEmfPalette(std::span<const std::uint8_t> Bytes) {
  std::vector<std::uint32_t> Entries;
  TEmfRecordWalker W(Bytes);
  while (auto Rec = W.Next()) {
    if (Rec->Type != emf::EMR_EOF) continue;
    TByteReader R(Rec->Data);
    if (R.Size() < 16) break;
    R.Skip(8);
    const std::uint32_t Count = R.U32();
    const std::uint32_t Offset = R.U32();
    // Entries that do not lie inside the record are not read; more than the limit are cut.
    if (Offset < 16 || Offset > R.Size()) break;
    const std::uint64_t Fit = (R.Size() - Offset) / 4;
    const std::uint64_t N = std::min<std::uint64_t>({Count, Fit, MaxPaletteEntries});
    R.Seek(Offset);
    for (std::uint64_t I = 0; I < N; ++I) {
      const std::uint8_t Red = R.U8(), Green = R.U8(), Blue = R.U8();
      R.Skip(1);
      Entries.push_back(std::uint32_t{Red} << 16 | std::uint32_t{Green} << 8 | Blue);
    }
    break;
  }
  return Entries;
}
