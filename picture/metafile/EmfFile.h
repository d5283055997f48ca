// The structure of an enhanced metafile in memory: its header and its records,
// walked with every record's size checked before it is handed on.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "toolkit/Types.h"

struct TEmfHeader {
  TRect Bounds;                   // device units, inclusive
  TRect Frame;                    // 0.01 mm, inclusive
  std::uint32_t Bytes = 0;        // size of the whole metafile
  std::uint32_t Records = 0;
  std::uint16_t Handles = 0;      // object table size, index 0 reserved
  std::uint32_t PalEntries = 0;
  std::int32_t DevicePx[2] = {0, 0};  // reference device in pixels
  std::int32_t DeviceMM[2] = {0, 0};  // and in millimetres
};

// Tells whether the bytes begin like an enhanced metafile: more than 100
// bytes, record type 1 and the signature at offset 40.
bool LooksEnhanced(std::span<const std::uint8_t> Bytes);

// Reads the header. Raises EReadError when the bytes end before the size the
// header gives, EInvalidGraphic "Metafile is not valid" when the header is not
// sound (a header record smaller than its fixed part or larger than the file).
TEmfHeader ReadEmfHeader(std::span<const std::uint8_t> Bytes);

struct TEmfRecord {
  std::uint32_t Type = 0;
  std::span<const std::uint8_t> Data;  // the whole record, its 8-byte prefix included
};

// Walks the records of a metafile of Size bytes. A record smaller than its
// prefix, or one that claims more bytes than remain, ends the walk.
class TEmfRecordWalker {
 public:
  explicit TEmfRecordWalker(std::span<const std::uint8_t> Bytes) : FBytes(Bytes) {}
  std::optional<TEmfRecord> Next();

 private:
  std::span<const std::uint8_t> FBytes;
  std::size_t FPos = 0;
};

// The palette entries (0x00RRGGBB) that the end-of-file record carries, at most 256.
std::vector<std::uint32_t> ReadEmfPalette(std::span<const std::uint8_t> Bytes);
