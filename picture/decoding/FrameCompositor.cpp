#include "picture/decoding/FrameCompositor.h"

#include <algorithm>
#include <cstring>

namespace {

TRect Union(const TRect& A, const TRect& B) {
  if (A.IsEmpty()) return B;
  if (B.IsEmpty()) return A;
  return TRect{std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
               std::max(A.Bottom, B.Bottom)};
}

// Premultiplied source over destination.
inline std::uint32_t Over(std::uint32_t S, std::uint32_t D) {
  const std::uint32_t A = S >> 24;
  if (A == 255) return S;
  if (A == 0) return D;
  const std::uint32_t K = 255 - A;
  auto Scale = [K](std::uint32_t V) {
    const std::uint32_t X = V * K + 128;
    return (X + (X >> 8)) >> 8;
  };
  const std::uint32_t Rb = Scale(D & 0xFF) | Scale((D >> 16) & 0xFF) << 16;
  const std::uint32_t Ag = Scale((D >> 8) & 0xFF) << 8 | Scale(D >> 24) << 24;
  return S + (Rb | Ag);
}

}  // namespace

std::uint32_t EffectiveFrameDelay(std::uint32_t Milliseconds) { return Milliseconds < 20 ? 100 : Milliseconds; }

void TFrameCompositor::Start(TBitmap& Canvas, std::int32_t W, std::int32_t H) {
  FCanvas = &Canvas;
  if (Canvas.Width() == W && Canvas.Height() == H && Canvas.BitsPerPixel() == 32 && W > 0 && H > 0)
    std::memset(Canvas.ScanLine(0), 0, static_cast<std::size_t>(Canvas.Stride()) * static_cast<std::size_t>(H));
  else
    Canvas.AllocateImage(W, H, 32, true);
  FDisposal = fdKeep;
  FDisposeRect = {};
  FSaved.clear();
  FOpaque = false;
  FRect = {};
  FClear = true;
}

void TFrameCompositor::Fill(const TRect& R, std::uint32_t Pixel) {
  for (std::int32_t Y = R.Top; Y < R.Bottom; ++Y) std::fill(CanvasRow(Y) + R.Left, CanvasRow(Y) + R.Right, Pixel);
}

void TFrameCompositor::BeginFrame(const TFrameInfo& F) {
  FChanged = {};
  if (FDisposal == fdBackground && !FDisposeRect.IsEmpty()) {
    Fill(FDisposeRect, 0);
    FChanged = FDisposeRect;
    FOpaque = false;
  } else if (FDisposal == fdPrevious && !FDisposeRect.IsEmpty()) {
    const std::int32_t W = FDisposeRect.Width();
    for (std::int32_t Y = FDisposeRect.Top; Y < FDisposeRect.Bottom; ++Y)
      std::memcpy(CanvasRow(Y) + FDisposeRect.Left, FSaved.data() + std::size_t(Y - FDisposeRect.Top) * W, W * 4u);
    FChanged = FDisposeRect;
  }
  const TRect Whole{0, 0, FCanvas->Width(), FCanvas->Height()};
  FRect = IntersectRect(F.Rect, Whole);
  FLeftSkip = FRect.IsEmpty() ? 0 : FRect.Left - F.Rect.Left;
  FTopSkip = FRect.IsEmpty() ? 0 : FRect.Top - F.Rect.Top;
  FBlend = F.Blend;
  // Blending over the clear canvas gives the frame's own pixels.
  FDirect = FRect == F.Rect && !FRect.IsEmpty() && (!F.Blend || FClear);
  FClear = false;
  FDisposal = F.Disposal;
  FDisposeRect = FRect;
  if (F.Disposal == fdPrevious && !FRect.IsEmpty()) {
    const std::int32_t W = FRect.Width();
    FSaved.resize(std::size_t(W) * FRect.Height());
    for (std::int32_t Y = FRect.Top; Y < FRect.Bottom; ++Y)
      std::memcpy(FSaved.data() + std::size_t(Y - FRect.Top) * W, CanvasRow(Y) + FRect.Left, W * 4u);
  }
  // The first frame that covers the whole canvas with opaque pixels makes it opaque.
  FRowsOpaque = FRect == Whole;
  FRowsPut = 0;
}

void TFrameCompositor::PutRow(std::int32_t Y, const std::uint32_t* Pixels, bool AnyTransparent) {
  const std::int32_t CanvasY = Y - FTopSkip + FRect.Top;
  if (FRect.IsEmpty() || CanvasY < FRect.Top || CanvasY >= FRect.Bottom) return;
  const std::uint32_t* S = Pixels + FLeftSkip;
  std::uint32_t* D = CanvasRow(CanvasY) + FRect.Left;
  const std::int32_t W = FRect.Width();
  ++FRowsPut;
  if (!AnyTransparent || !FBlend) std::memcpy(D, S, W * 4u);
  if (!AnyTransparent) return;
  std::uint32_t All = 0xFF000000u;
  for (std::int32_t X = 0; X < W; ++X) All &= S[X];
  if (FBlend)
    for (std::int32_t X = 0; X < W; ++X) D[X] = Over(S[X], D[X]);
  // Replacing with partly transparent pixels loses opacity; blending keeps it.
  const bool RowOpaque = (All >> 24) == 0xFF;
  if (!FBlend && !RowOpaque) FOpaque = false;
  FRowsOpaque = FRowsOpaque && RowOpaque;
}

std::uint32_t* TFrameCompositor::DirectRows(std::ptrdiff_t& Stride) {
  if (!FDirect) return nullptr;
  Stride = FCanvas->Stride();
  return CanvasRow(FRect.Top) + FRect.Left;
}

void TFrameCompositor::PutDirect() {
  if (!FDirect) return;
  std::uint32_t All = 0xFF000000u;
  for (std::int32_t Y = FRect.Top; Y < FRect.Bottom; ++Y) {
    const std::uint32_t* Row = CanvasRow(Y) + FRect.Left;
    for (std::int32_t X = 0; X < FRect.Width(); ++X) All &= Row[X];
  }
  const bool Opaque = (All >> 24) == 0xFF;
  if (!FBlend && !Opaque) FOpaque = false;
  FRowsOpaque = FRowsOpaque && Opaque;
  FRowsPut = FRect.Height();
}

TRect TFrameCompositor::EndFrame() {
  if (FRowsOpaque && !FRect.IsEmpty() && FRowsPut >= FRect.Height()) FOpaque = true;
  FChanged = Union(FChanged, FRect);
  return FChanged;
}
