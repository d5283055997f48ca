// Helpers of the photographic formats' tests: loading a graphic from bytes,
// drawing it over white, the message of a failing call, colours within a tolerance.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "picture/decoding/DecodedGraphic.h"

template <class T>
std::unique_ptr<T> LoadPhoto(const std::vector<std::uint8_t>& Bytes) {
  auto G = std::make_unique<T>();
  G->LoadFromStream(*TMemoryStream::Over(Bytes));
  return G;
}

// The graphic drawn at its own size over white.
inline std::unique_ptr<TBitmap> DrawnOverWhite(TGraphic& G) {
  auto Target = std::make_unique<TBitmap>(G.Width(), G.Height());
  G.DrawInto(Target->Canvas(), Rect(0, 0, G.Width(), G.Height()));
  return Target;
}

// The message of the exception Fn raises, or empty.
inline std::string ErrorOf(const std::function<void()>& Fn) {
  try {
    Fn();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "";
}

// Colours (0x00RRGGBB) within Tolerance on each channel.
inline ::testing::AssertionResult Near(std::uint32_t Got, std::uint32_t Want, int Tolerance) {
  for (int Shift : {0, 8, 16})
    if (std::abs(static_cast<int>((Got >> Shift) & 0xFF) - static_cast<int>((Want >> Shift) & 0xFF)) > Tolerance)
      return ::testing::AssertionFailure() << "got " << ::testing::PrintToString(Got >> 16) << ","
                                           << ((Got >> 8) & 0xFF) << "," << (Got & 0xFF) << ", want "
                                           << (Want >> 16) << "," << ((Want >> 8) & 0xFF) << "," << (Want & 0xFF);
  return ::testing::AssertionSuccess();
}
