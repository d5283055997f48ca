#include "picture/decoding/ColorProfile.h"

#include <algorithm>
#include <limits>

#include <lcms2.h>

namespace {

// Little CMS reports a bad profile through a log handler; ours keeps it
// quiet, since a profile that cannot be used is simply not applied. One
// context for the process, made on first use.
void IgnoreError(cmsContext, cmsUInt32Number, const char*) {}

cmsContext Context() {
  static const cmsContext C = [] {
    cmsContext N = cmsCreateContext(nullptr, nullptr);
    cmsSetLogErrorHandlerTHR(N, IgnoreError);
    return N;
  }();
  return C;
}

struct TProfileCloser {
  void operator()(void* P) const { cmsCloseProfile(P); }
};
using TProfile = std::unique_ptr<void, TProfileCloser>;

cmsColorSpaceSignature SpaceOf(TProfilePixels P) {
  switch (P) {
    case ppGray8: return cmsSigGrayData;
    case ppCMYK8:
    case ppCMYK8Inverted: return cmsSigCmykData;
    default: return cmsSigRgbData;
  }
}

cmsUInt32Number InputFormat(TProfilePixels P) {
  switch (P) {
    case ppBGRA8: return TYPE_BGRA_8;
    case ppGray8: return TYPE_GRAY_8;
    case ppCMYK8: return TYPE_CMYK_8;
    case ppCMYK8Inverted: return TYPE_CMYK_8_REV;
    default: return TYPE_BGR_8;
  }
}

std::uint8_t Channel(std::uint32_t Ink, std::uint32_t Black) {
  return static_cast<std::uint8_t>(((255 - Ink) * (255 - Black) + 127) / 255);
}

}  // namespace

TColorTransform::~TColorTransform() {
  if (FTransform) cmsDeleteTransform(FTransform);
  if (FTableTransform) cmsDeleteTransform(FTableTransform);
}

std::unique_ptr<TColorTransform> TColorTransform::ToSrgb(std::span<const std::uint8_t> Icc, TProfilePixels Input) {
  if (Icc.empty() || Icc.size() > std::numeric_limits<cmsUInt32Number>::max()) return nullptr;
  const TProfile In(cmsOpenProfileFromMemTHR(Context(), Icc.data(), static_cast<cmsUInt32Number>(Icc.size())));
  if (!In || cmsGetColorSpace(In.get()) != SpaceOf(Input)) return nullptr;
  const TProfile Out(cmsCreate_sRGBProfileTHR(Context()));
  if (!Out) return nullptr;
  const bool Alpha = Input == ppBGRA8;
  cmsHTRANSFORM T = cmsCreateTransformTHR(Context(), In.get(), InputFormat(Input), Out.get(),
                                          Alpha ? TYPE_BGRA_8 : TYPE_BGR_8, INTENT_PERCEPTUAL,
                                          Alpha ? cmsFLAGS_COPY_ALPHA : 0);
  if (!T) return nullptr;
  // Colour tables of 8-bit pictures are converted as blue, green, red triples,
  // gray tables as their gray levels.
  cmsHTRANSFORM Table = nullptr;
  if (Input == ppBGRA8) {
    Table = cmsCreateTransformTHR(Context(), In.get(), TYPE_BGR_8, Out.get(), TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    if (!Table) {
      cmsDeleteTransform(T);
      return nullptr;
    }
  }
  return std::unique_ptr<TColorTransform>(new TColorTransform(T, Table, Input));
}

void TColorTransform::Convert(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count) const {
  constexpr std::size_t Chunk = std::size_t{1} << 24;
  const std::size_t InBytes = FInput == ppGray8 ? 1 : (FInput == ppBGR8 ? 3 : 4);
  const std::size_t OutBytes = static_cast<std::size_t>(OutputBytes());
  while (Count > 0) {
    const std::size_t N = std::min(Count, Chunk);
    cmsDoTransform(FTransform, In, Out, static_cast<cmsUInt32Number>(N));
    In += N * InBytes;
    Out += N * OutBytes;
    Count -= N;
  }
}

void TColorTransform::ConvertTable(std::vector<std::uint32_t>& Table) const {
  if (Table.empty() || FInput == ppCMYK8 || FInput == ppCMYK8Inverted) return;
  const std::size_t N = Table.size();
  std::vector<std::uint8_t> In(N * 3), Out(N * 3);
  for (std::size_t I = 0; I < N; ++I) {
    In[3 * I] = static_cast<std::uint8_t>(Table[I]);
    In[3 * I + 1] = static_cast<std::uint8_t>(Table[I] >> 8);
    In[3 * I + 2] = static_cast<std::uint8_t>(Table[I] >> 16);
  }
  if (FInput == ppGray8) {
    // The gray level of each entry (its red part; gray entries are equal in all three).
    for (std::size_t I = 0; I < N; ++I) In[I] = In[3 * I + 2];
    cmsDoTransform(FTransform, In.data(), Out.data(), static_cast<cmsUInt32Number>(N));
  } else {
    cmsDoTransform(FTableTransform ? FTableTransform : FTransform, In.data(), Out.data(),
                   static_cast<cmsUInt32Number>(N));
  }
  for (std::size_t I = 0; I < N; ++I)
    Table[I] = std::uint32_t{Out[3 * I + 2]} << 16 | std::uint32_t{Out[3 * I + 1]} << 8 | Out[3 * I];
}

void CmykToBgr(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count, bool Inverted) {
  const std::uint32_t Flip = Inverted ? 255 : 0;
  for (std::size_t I = 0; I < Count; ++I, In += 4, Out += 3) {
    const std::uint32_t C = In[0] ^ Flip, M = In[1] ^ Flip, Y = In[2] ^ Flip, K = In[3] ^ Flip;
    Out[0] = Channel(Y, K);
    Out[1] = Channel(M, K);
    Out[2] = Channel(C, K);
  }
}
