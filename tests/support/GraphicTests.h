// Helpers of the tests of decoded graphics: loading bytes into a graphic,
// drawing it over a known background, and the message of a failure.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "picture/Bitmap.h"
#include "toolkit/Exceptions.h"

template <class G>
std::unique_ptr<G> LoadGraphic(const std::vector<std::uint8_t>& Bytes) {
  auto P = std::make_unique<G>();
  auto S = TMemoryStream::Over(Bytes);
  P->LoadFromStream(*S);
  return P;
}

// The graphic drawn at its own size over a bitmap filled with Background.
inline std::unique_ptr<TBitmap> DrawOver(TGraphic& G, TColor Background) {
  auto B = std::make_unique<TBitmap>(G.Width(), G.Height());
  B->Canvas().Brush().Color = Background;
  B->Canvas().FillRect(Rect(0, 0, G.Width(), G.Height()));
  G.DrawInto(B->Canvas(), Rect(0, 0, G.Width(), G.Height()));
  return B;
}

// The message of the exception Fn raises, or empty.
template <class F>
std::string ErrorOf(F&& Fn) {
  try {
    Fn();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "";
}
