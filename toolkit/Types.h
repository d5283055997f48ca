// Basic value types shared by every layer: points, rectangles, colours, small
// sets, the root object with its run-time class information, and notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>

// ---------------------------------------------------------------------------
// Geometry. All positions and sizes are whole pixels; Right and Bottom lie one
// past the last pixel.

struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;

  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TPoint Point(std::int32_t X, std::int32_t Y) { return TPoint{X, Y}; }
inline TRect Rect(std::int32_t L, std::int32_t T, std::int32_t R, std::int32_t B) {
  return TRect{L, T, R, B};
}
inline TRect Bounds(std::int32_t L, std::int32_t T, std::int32_t W, std::int32_t H) {
  return TRect{L, T, L + W, T + H};
}
// Moves a rectangle by (DX, DY).
inline void OffsetRect(TRect& R, std::int32_t DX, std::int32_t DY) {
  R.Left += DX;
  R.Right += DX;
  R.Top += DY;
  R.Bottom += DY;
}
// The common part of two rectangles; empty (all zero) when they do not meet.
TRect IntersectRect(const TRect& A, const TRect& B);

// The largest position or size of a control (what a Qt widget can have): the
// sums and differences of a few of them never overflow 32 bits.
constexpr std::int32_t MaxControlExtent = 16777215;
inline std::int32_t ClampExtent(std::int64_t V, std::int64_t Min = -MaxControlExtent) {
  return static_cast<std::int32_t>(V < Min ? Min : V > MaxControlExtent ? MaxControlExtent : V);
}

// ---------------------------------------------------------------------------
// A set of the values of a small enumeration (at most 64 values).

template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> Items) {
    for (E I : Items) Include(I);
  }
  constexpr bool Contains(E I) const { return (FBits >> static_cast<unsigned>(I)) & 1u; }
  constexpr TSet& Include(E I) {
    FBits |= std::uint64_t{1} << static_cast<unsigned>(I);
    return *this;
  }
  constexpr TSet& Exclude(E I) {
    FBits &= ~(std::uint64_t{1} << static_cast<unsigned>(I));
    return *this;
  }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr std::uint64_t Bits() const { return FBits; }
  static constexpr TSet FromBits(std::uint64_t B) {
    TSet S;
    S.FBits = B;
    return S;
  }
  constexpr TSet operator|(TSet O) const { return FromBits(FBits | O.FBits); }
  constexpr TSet operator&(TSet O) const { return FromBits(FBits & O.FBits); }
  friend constexpr bool operator==(const TSet&, const TSet&) = default;

 private:
  std::uint64_t FBits = 0;
};

// ---------------------------------------------------------------------------
// Input state.

enum TShiftStateItem : std::uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateItem>;

enum TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };

// ---------------------------------------------------------------------------
// Colours: 0x00BBGGRR. Values with the top byte 0xFF name a system colour whose
// index is the low byte; ColorToRGB resolves them to this toolkit's fixed scheme.

using TColor = std::int32_t;

constexpr TColor RGB(std::uint8_t R, std::uint8_t G, std::uint8_t B) {
  return static_cast<TColor>(R | (G << 8) | (B << 16));
}
constexpr std::uint8_t GetRValue(TColor C) { return static_cast<std::uint8_t>(C & 0xFF); }
constexpr std::uint8_t GetGValue(TColor C) { return static_cast<std::uint8_t>((C >> 8) & 0xFF); }
constexpr std::uint8_t GetBValue(TColor C) { return static_cast<std::uint8_t>((C >> 16) & 0xFF); }

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;
constexpr TColor clHotLight = clSystemColor | 26;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// Resolves a system colour to its RGB value; other colours pass unchanged.
TColor ColorToRGB(TColor Color);
// 0x00BBGGRR to the 0xAARRGGBB form of 32-bit pixel buffers (alpha 0xFF).
inline std::uint32_t ColorToPixel(TColor Color) {
  const TColor C = ColorToRGB(Color);
  return 0xFF000000u | (std::uint32_t{GetRValue(C)} << 16) | (std::uint32_t{GetGValue(C)} << 8) |
         GetBValue(C);
}
inline TColor PixelToColor(std::uint32_t P) {
  return RGB(static_cast<std::uint8_t>(P >> 16), static_cast<std::uint8_t>(P >> 8),
             static_cast<std::uint8_t>(P));
}

// ---------------------------------------------------------------------------
// The root of the class tree with a small run-time class description: the
// class name (as stored in layouts and stored pictures), the parent class, and
// a factory for classes that can be created by name.

class TObject;
class TComponent;

struct TMetaClass {
  const char* Name;
  const TMetaClass* Parent;
  // Creates an object of the class; null for abstract classes.
  std::unique_ptr<TObject> (*Create)(TComponent* Owner);

  bool InheritsFrom(const TMetaClass* Other) const {
    for (const TMetaClass* C = this; C; C = C->Parent)
      if (C == Other) return true;
    return false;
  }
};

class TObject {
 public:
  virtual ~TObject() = default;
  static const TMetaClass* StaticClass();
  virtual const TMetaClass* ClassType() const { return StaticClass(); }
  std::string ClassName() const { return ClassType()->Name; }
  bool InheritsFrom(const TMetaClass* C) const { return ClassType()->InheritsFrom(C); }
  template <class T>
  bool Is() const {
    return InheritsFrom(T::StaticClass());
  }
};

namespace kest_detail {
template <class T>
std::unique_ptr<TObject> CreateOf(TComponent* Owner) {
  if constexpr (std::is_constructible_v<T, TComponent*>)
    return std::make_unique<T>(Owner);
  else
    return std::make_unique<T>();
}
}  // namespace kest_detail

// Declares the run-time class of T inside its class body.
#define KEST_CLASS(T)                                                        \
 public:                                                                     \
  static const TMetaClass* StaticClass();                                    \
  const TMetaClass* ClassType() const override { return StaticClass(); }     \
                                                                             \
 private:

// Defines the run-time class of a creatable T (in one source file).
#define KEST_CLASS_IMPL(T, Parent)                                                    \
  const TMetaClass* T::StaticClass() {                                                \
    static const TMetaClass M{#T, Parent::StaticClass(), &kest_detail::CreateOf<T>};  \
    return &M;                                                                        \
  }
// Defines the run-time class of an abstract T.
#define KEST_ABSTRACT_CLASS_IMPL(T, Parent)                          \
  const TMetaClass* T::StaticClass() {                               \
    static const TMetaClass M{#T, Parent::StaticClass(), nullptr};   \
    return &M;                                                       \
  }

// A notification with its sender; an empty function means "unassigned".
using TNotifyEvent = std::function<void(TObject* Sender)>;
