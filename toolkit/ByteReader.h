// The one way picture loaders read untrusted bytes: a cursor over a byte span
// where every read is checked against the end. A read past the end raises
// EReadError "Stream read error" (the loaders' "file ends too early").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>

#include "toolkit/Exceptions.h"

class TByteReader {
 public:
  explicit TByteReader(std::span<const std::uint8_t> Bytes) : FBytes(Bytes) {}

  std::size_t Size() const { return FBytes.size(); }
  std::size_t Position() const { return FPos; }
  std::size_t Remaining() const { return FBytes.size() - FPos; }
  bool AtEnd() const { return FPos >= FBytes.size(); }

  // Moves to an absolute position; raises when it lies past the end.
  void Seek(std::size_t Pos) {
    if (Pos > FBytes.size()) Fail();
    FPos = Pos;
  }
  void Skip(std::size_t N) {
    if (N > Remaining()) Fail();
    FPos += N;
  }

  std::uint8_t U8() {
    Need(1);
    return FBytes[FPos++];
  }
  std::uint16_t U16() {
    Need(2);
    const std::uint16_t V = static_cast<std::uint16_t>(FBytes[FPos] | (FBytes[FPos + 1] << 8));
    FPos += 2;
    return V;
  }
  std::uint32_t U32() {
    Need(4);
    const std::uint32_t V = FBytes[FPos] | (FBytes[FPos + 1] << 8) | (FBytes[FPos + 2] << 16) |
                            (std::uint32_t{FBytes[FPos + 3]} << 24);
    FPos += 4;
    return V;
  }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  float F32() {
    const std::uint32_t B = U32();
    float F;
    std::memcpy(&F, &B, 4);
    return F;
  }

  // The next N bytes, without copying.
  std::span<const std::uint8_t> Bytes(std::size_t N) {
    Need(N);
    const auto S = FBytes.subspan(FPos, N);
    FPos += N;
    return S;
  }
  // Up to N bytes: what is there when fewer remain.
  std::span<const std::uint8_t> BytesUpTo(std::size_t N) { return Bytes(N < Remaining() ? N : Remaining()); }
  std::span<const std::uint8_t> Rest() { return Bytes(Remaining()); }

  // A reader over Length bytes at Offset of the same span; raises when they do not lie inside it.
  TByteReader Sub(std::size_t Offset, std::size_t Length) const {
    if (Offset > FBytes.size() || Length > FBytes.size() - Offset) Fail();
    return TByteReader(FBytes.subspan(Offset, Length));
  }

  [[noreturn]] static void Fail() { throw EReadError("Stream read error"); }

 private:
  void Need(std::size_t N) const {
    if (N > Remaining()) Fail();
  }

  std::span<const std::uint8_t> FBytes;
  std::size_t FPos = 0;
};

// Checked arithmetic for sizes from files: nullopt on overflow.
inline std::optional<std::uint64_t> CheckedMul(std::uint64_t A, std::uint64_t B) {
  if (A != 0 && B > std::numeric_limits<std::uint64_t>::max() / A) return std::nullopt;
  return A * B;
}
