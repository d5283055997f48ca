// Byte builders for enhanced and placeable Windows metafiles in tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

class TBytes {
 public:
  TBytes& U8(std::uint8_t V) {
    B.push_back(V);
    return *this;
  }
  TBytes& U16(std::uint16_t V) { return U8(static_cast<std::uint8_t>(V)).U8(static_cast<std::uint8_t>(V >> 8)); }
  TBytes& U32(std::uint32_t V) { return U16(static_cast<std::uint16_t>(V)).U16(static_cast<std::uint16_t>(V >> 16)); }
  TBytes& I32(std::int32_t V) { return U32(static_cast<std::uint32_t>(V)); }
  TBytes& I16(std::int16_t V) { return U16(static_cast<std::uint16_t>(V)); }
  TBytes& F32(float V) {
    std::uint32_t X;
    std::memcpy(&X, &V, 4);
    return U32(X);
  }
  TBytes& Add(const std::vector<std::uint8_t>& V) {
    B.insert(B.end(), V.begin(), V.end());
    return *this;
  }
  TBytes& Pad4() {
    while (B.size() % 4) B.push_back(0);
    return *this;
  }
  std::size_t Size() const { return B.size(); }
  std::vector<std::uint8_t> B;
};

// A bottom-up 24-bit bitmap header and bits, Colors given top row first as 0xRRGGBB.
inline void Dib24(int W, int H, const std::vector<std::uint32_t>& Colors, std::vector<std::uint8_t>& Info,
                  std::vector<std::uint8_t>& Bits) {
  TBytes I;
  I.U32(40).I32(W).I32(H).U16(1).U16(24).U32(0).U32(0).U32(0).U32(0).U32(0).U32(0);
  Info = I.B;
  TBytes P;
  for (int Y = H - 1; Y >= 0; --Y) {
    for (int X = 0; X < W; ++X) {
      const std::uint32_t C = Colors[static_cast<std::size_t>(Y * W + X)];
      P.U8(static_cast<std::uint8_t>(C)).U8(static_cast<std::uint8_t>(C >> 8)).U8(static_cast<std::uint8_t>(C >> 16));
    }
    P.Pad4();
  }
  Bits = P.B;
}

// An enhanced metafile. The reference device has 10 pixels per millimetre, so
// one device pixel is 10 units of the frame (0.01 mm); the default frame
// (0, 0, 990, 990) covers device pixels 0 to 99.
class TEmfBuilder {
 public:
  explicit TEmfBuilder(std::int32_t FrameR = 990, std::int32_t FrameB = 990) : FFrame{0, 0, FrameR, FrameB} {}

  TEmfBuilder& Frame(std::int32_t L, std::int32_t T, std::int32_t R, std::int32_t B) {
    FFrame[0] = L, FFrame[1] = T, FFrame[2] = R, FFrame[3] = B;
    return *this;
  }
  TEmfBuilder& Device(std::int32_t Px, std::int32_t Py, std::int32_t Mx, std::int32_t My) {
    FDev[0] = Px, FDev[1] = Py, FDev[2] = Mx, FDev[3] = My;
    return *this;
  }
  TEmfBuilder& Handles(std::uint16_t N) {
    FHandles = N;
    return *this;
  }
  TEmfBuilder& EofPalette(std::vector<std::uint32_t> P) {
    FPalette = std::move(P);
    return *this;
  }
  // A record of 32-bit values.
  TEmfBuilder& Rec(std::uint32_t Type, std::initializer_list<std::int32_t> Values) {
    TBytes P;
    for (std::int32_t V : Values) P.I32(V);
    return Raw(Type, P.B);
  }
  // A record with the given bytes after its type and size.
  TEmfBuilder& Raw(std::uint32_t Type, std::vector<std::uint8_t> Payload) {
    while ((Payload.size() + 8) % 4) Payload.push_back(0);
    TBytes R;
    R.U32(Type).U32(static_cast<std::uint32_t>(Payload.size() + 8)).Add(Payload);
    FRecords.push_back(R.B);
    return *this;
  }
  // Wide text at (X, Y) with options and optional spacing.
  TEmfBuilder& Text(std::int32_t X, std::int32_t Y, const std::u16string& S, std::uint32_t Options = 0,
                    std::vector<std::int32_t> Dx = {}, std::vector<std::int32_t> Rect = {0, 0, 0, 0}) {
    TBytes P;
    P.I32(0).I32(0).I32(-1).I32(-1).U32(1).F32(1).F32(1);
    P.I32(X).I32(Y).U32(static_cast<std::uint32_t>(S.size())).U32(76).U32(Options);
    for (std::int32_t V : Rect) P.I32(V);
    const std::uint32_t StringBytes = static_cast<std::uint32_t>((S.size() * 2 + 3) / 4 * 4);
    P.U32(Dx.empty() ? 0 : 76 + StringBytes);
    for (char16_t C : S) P.U16(C);
    P.Pad4();
    for (std::int32_t D : Dx) P.I32(D);
    return Raw(84, P.B);
  }
  // A StretchDIBits record drawing the whole bitmap into (X, Y, W, H).
  TEmfBuilder& StretchDib(std::int32_t X, std::int32_t Y, std::int32_t W, std::int32_t H,
                          const std::vector<std::uint8_t>& Info, const std::vector<std::uint8_t>& Bits,
                          std::int32_t SrcW, std::int32_t SrcH, std::uint32_t Rop = 0x00CC0020) {
    TBytes P;
    const std::uint32_t OffBmi = 80, OffBits = OffBmi + static_cast<std::uint32_t>(Info.size());
    P.I32(0).I32(0).I32(-1).I32(-1).I32(X).I32(Y).I32(0).I32(0).I32(SrcW).I32(SrcH);
    P.U32(OffBmi).U32(static_cast<std::uint32_t>(Info.size())).U32(OffBits).U32(static_cast<std::uint32_t>(Bits.size()));
    P.U32(0).U32(Rop).I32(W).I32(H).Add(Info).Add(Bits);
    return Raw(81, P.B);
  }

  std::vector<std::uint8_t> Bytes() const {
    TBytes Body;
    for (const auto& R : FRecords) Body.Add(R);
    TBytes Eof;
    Eof.U32(14).U32(static_cast<std::uint32_t>(20 + 4 * FPalette.size())).U32(static_cast<std::uint32_t>(FPalette.size())).U32(16);
    for (std::uint32_t C : FPalette) Eof.U8(static_cast<std::uint8_t>(C >> 16)).U8(static_cast<std::uint8_t>(C >> 8)).U8(static_cast<std::uint8_t>(C)).U8(0);
    Eof.U32(static_cast<std::uint32_t>(20 + 4 * FPalette.size()));
    const std::uint32_t HeaderSize = 108;
    const std::uint32_t Total = static_cast<std::uint32_t>(HeaderSize + Body.Size() + Eof.Size());
    TBytes H;
    H.U32(1).U32(HeaderSize);
    H.I32(0).I32(0).I32(99).I32(99);  // bounds
    for (std::int32_t V : FFrame) H.I32(V);
    H.U32(0x464D4520).U32(0x10000).U32(Total).U32(static_cast<std::uint32_t>(FRecords.size() + 2));
    H.U16(FHandles).U16(0).U32(0).U32(0).U32(static_cast<std::uint32_t>(FPalette.size()));
    for (std::int32_t V : FDev) H.I32(V);
    H.U32(0).U32(0).U32(0).U32(static_cast<std::uint32_t>(FDev[2] * 1000)).U32(static_cast<std::uint32_t>(FDev[3] * 1000));
    H.Add(Body.B).Add(Eof.B);
    return H.B;
  }

 private:
  std::int32_t FFrame[4];
  std::int32_t FDev[4] = {1000, 1000, 100, 100};
  std::uint16_t FHandles = 16;
  std::vector<std::uint32_t> FPalette;
  std::vector<std::vector<std::uint8_t>> FRecords;
};

// A placeable Windows metafile: the 22-byte placeable header, the 18-byte
// metafile header, the records and the end record.
class TWmfBuilder {
 public:
  TWmfBuilder(std::int16_t L, std::int16_t T, std::int16_t R, std::int16_t B, std::uint16_t Inch)
      : FBox{L, T, R, B}, FInch(Inch) {}

  TWmfBuilder& Objects(std::uint16_t N) {
    FObjects = N;
    return *this;
  }
  // A record of 16-bit parameters, in the order they are stored.
  TWmfBuilder& Rec(std::uint16_t Function, std::initializer_list<std::int32_t> Words) {
    TBytes P;
    for (std::int32_t V : Words) P.U16(static_cast<std::uint16_t>(V));
    return Raw(Function, P.B);
  }
  TWmfBuilder& Raw(std::uint16_t Function, std::vector<std::uint8_t> Params) {
    if (Params.size() % 2) Params.push_back(0);
    TBytes R;
    R.U32(static_cast<std::uint32_t>(3 + Params.size() / 2)).U16(Function).Add(Params);
    FRecords.push_back(R.B);
    return *this;
  }
  // Spoils the checksum or the key, for the tests of the header rules.
  TWmfBuilder& BadChecksum() {
    FBadSum = true;
    return *this;
  }

  std::vector<std::uint8_t> Bytes() const {
    TBytes Body;
    for (const auto& R : FRecords) Body.Add(R);
    Body.U32(3).U16(0);
    TBytes H;
    H.U32(0x9AC6CDD7).U16(0);
    for (std::int16_t V : FBox) H.I16(V);
    H.U16(FInch).U32(0);
    std::uint16_t Sum = 0;
    for (std::size_t I = 0; I < 20; I += 2) Sum ^= static_cast<std::uint16_t>(H.B[I] | (H.B[I + 1] << 8));
    H.U16(FBadSum ? static_cast<std::uint16_t>(Sum ^ 1) : Sum);
    std::uint32_t Largest = 3;
    for (const auto& R : FRecords) Largest = std::max<std::uint32_t>(Largest, static_cast<std::uint32_t>(R.size() / 2));
    H.U16(1).U16(9).U16(0x300).U32(static_cast<std::uint32_t>(9 + Body.Size() / 2)).U16(FObjects).U32(Largest).U16(0);
    H.Add(Body.B);
    return H.B;
  }

 private:
  std::int16_t FBox[4];
  std::uint16_t FInch;
  std::uint16_t FObjects = 8;
  bool FBadSum = false;
  std::vector<std::vector<std::uint8_t>> FRecords;
};
