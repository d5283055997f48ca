// Writes enhanced metafile records into memory, for the conversion of Windows
// metafiles: each record's size is filled in when it ends.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

class TEmfWriter {
 public:
  void Begin(std::uint32_t Type) {
    FStart = FBytes.size();
    U32(Type);
    U32(0);
  }
  void End() {
    while ((FBytes.size() - FStart) % 4) FBytes.push_back(0);
    const std::uint32_t Size = static_cast<std::uint32_t>(FBytes.size() - FStart);
    std::memcpy(FBytes.data() + FStart + 4, &Size, 4);
    ++FRecords;
  }
  // A record of 32-bit values.
  void Record(std::uint32_t Type, std::initializer_list<std::int32_t> Values) {
    Begin(Type);
    for (std::int32_t V : Values) I32(V);
    End();
  }
  void U8(std::uint8_t V) { FBytes.push_back(V); }
  void U16(std::uint16_t V) {
    U8(static_cast<std::uint8_t>(V));
    U8(static_cast<std::uint8_t>(V >> 8));
  }
  void U32(std::uint32_t V) {
    U16(static_cast<std::uint16_t>(V));
    U16(static_cast<std::uint16_t>(V >> 16));
  }
  void I32(std::int32_t V) { U32(static_cast<std::uint32_t>(V)); }
  void F32(float V) {
    std::uint32_t B;
    std::memcpy(&B, &V, 4);
    U32(B);
  }
  void Bytes(std::span<const std::uint8_t> B) { FBytes.insert(FBytes.end(), B.begin(), B.end()); }
  void Align4() {
    while ((FBytes.size() - FStart) % 4) FBytes.push_back(0);
  }
  // Offset of the next byte from the start of the current record.
  std::uint32_t Offset() const { return static_cast<std::uint32_t>(FBytes.size() - FStart); }
  // Fills in a 32-bit value written earlier at an offset of the current record.
  void Patch(std::uint32_t RecordOffset, std::uint32_t V) { std::memcpy(FBytes.data() + FStart + RecordOffset, &V, 4); }

  std::vector<std::uint8_t>& Data() { return FBytes; }
  std::uint32_t Records() const { return FRecords; }

 private:
  std::vector<std::uint8_t> FBytes;
  std::size_t FStart = 0;
  std::uint32_t FRecords = 0;
};
