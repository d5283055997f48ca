#include "picture/heif/Heif.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <libheif/heif.h>

#include "picture/FileFormats.h"
#include "picture/Limits.h"
#include "toolkit/ByteReader.h"

KEST_CLASS_IMPL(THEIFImage, TDecodedGraphic)

bool THEIFImage::HasSignature(std::span<const std::uint8_t> Head) {
  // An AVIF file also names the general image brands; it is AVIF's.
  if (HasIsoBrand(Head, "avif") || HasIsoBrand(Head, "avis")) return false;
  for (const char* Brand : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
    if (HasIsoBrand(Head, Brand)) return true;
  return false;
}

void InitializeHeifSupport() {
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  Formats.UnregisterClass(THEIFImage::StaticClass());
  Formats.RegisterSignature(THEIFImage::StaticClass(), &THEIFImage::HasSignature);
  Formats.RegisterFormat("heif", "HEIF Image File", THEIFImage::StaticClass());
  Formats.RegisterFormat("heic", "HEIF Image File", THEIFImage::StaticClass());
}

void FinalizeHeifSupport() { TFileFormatsList::Instance().UnregisterClass(THEIFImage::StaticClass()); }

namespace {

// The widest or highest picture libheif is asked to decode: no picture it
// makes (a grid's or an overlay's canvas too, whose size the file states
// apart from the picture's) can have more than MaxPicturePixels pixels.
constexpr int MaxSide = 1 << 14;
static_assert(std::uint64_t{MaxSide} * MaxSide <= MaxPicturePixels);

struct THeifFree {
  void operator()(heif_context* C) const { heif_context_free(C); }
  void operator()(heif_image_handle* H) const { heif_image_handle_release(H); }
  void operator()(heif_image* I) const { heif_image_release(I); }
  void operator()(heif_decoding_options* O) const { heif_decoding_options_free(O); }
};
template <class T>
using THeif = std::unique_ptr<T, THeifFree>;

void Check(const heif_error& E) {
  if (E.code != heif_error_Ok)
    throw EHEIF("HEIF image is not valid (" + std::string(E.message ? E.message : "unknown error") + ")");
}

// The file's primary picture, its header read and nothing decoded yet.
struct TPrimary {
  THeif<heif_context> Context;
  THeif<heif_image_handle> Handle;
};

TPrimary Open(std::span<const std::uint8_t> Bytes) {
  TPrimary P;
  P.Context.reset(heif_context_alloc());
  if (!P.Context) throw std::bad_alloc();
  heif_context_set_maximum_image_size_limit(P.Context.get(), MaxSide);
  heif_context_set_max_decoding_threads(P.Context.get(), 0);
  Check(heif_context_read_from_memory_without_copy(P.Context.get(), Bytes.data(), Bytes.size(), nullptr));
  heif_image_handle* H = nullptr;
  Check(heif_context_get_primary_image_handle(P.Context.get(), &H));
  P.Handle.reset(H);
  const int W = heif_image_handle_get_width(H), Ht = heif_image_handle_get_height(H);
  if (W <= 0 || Ht <= 0 || static_cast<std::uint64_t>(W) * static_cast<std::uint64_t>(Ht) > MaxPicturePixels)
    throw EHEIF("HEIF image is not valid (picture too large)");
  return P;
}

// ---------------------------------------------------------------------------
// The primary item's rotation and mirror boxes, read from the file's box
// structure: libheif applies them but does not tell which they are.

// An orientation as a transpose followed by left-right and top-bottom flips.
struct TTurn {
  bool Swap = false, FlipX = false, FlipY = false;

  void RotateAnticlockwise() {
    *this = {!Swap, FlipY, !FlipX};
  }
  TOrientation Orientation() const {
    static constexpr std::uint8_t Values[2][2][2] = {{{1, 4}, {2, 3}}, {{5, 8}, {6, 7}}};
    return static_cast<TOrientation>(Values[Swap][FlipX][FlipY]);
  }
};

struct TBox {
  std::uint32_t Type = 0;
  std::span<const std::uint8_t> Body;
};

constexpr std::uint32_t FourCC(const char (&S)[5]) {
  return std::uint32_t{static_cast<std::uint8_t>(S[0])} << 24 | std::uint32_t{static_cast<std::uint8_t>(S[1])} << 16 |
         std::uint32_t{static_cast<std::uint8_t>(S[2])} << 8 | static_cast<std::uint8_t>(S[3]);
}

// The boxes that follow each other in Bytes.
std::vector<TBox> Boxes(std::span<const std::uint8_t> Bytes) {
  std::vector<TBox> Result;
  TByteReader R(Bytes);
  while (R.Remaining() >= 8) {
    const std::size_t Start = R.Position();
    std::uint64_t Size = R.U32BE();
    const std::uint32_t Type = R.U32BE();
    if (Size == 1) Size = std::uint64_t{R.U32BE()} << 32 | R.U32BE();
    const std::size_t Header = R.Position() - Start;
    if (Size == 0) Size = Bytes.size() - Start;
    if (Size < Header || Size > Bytes.size() - Start) TByteReader::Fail();
    Result.push_back({Type, Bytes.subspan(R.Position(), static_cast<std::size_t>(Size) - Header)});
    R.Seek(Start + static_cast<std::size_t>(Size));
  }
  return Result;
}

const TBox* Find(const std::vector<TBox>& List, std::uint32_t Type) {
  for (const TBox& B : List)
    if (B.Type == Type) return &B;
  return nullptr;
}

TOrientation ReadTurn(std::span<const std::uint8_t> File) {
  const std::vector<TBox> Top = Boxes(File);
  const TBox* Meta = Find(Top, FourCC("meta"));
  if (!Meta || Meta->Body.size() < 4) return orNormal;
  const std::vector<TBox> InMeta = Boxes(Meta->Body.subspan(4));  // after version and flags
  const TBox* Pitm = Find(InMeta, FourCC("pitm"));
  const TBox* Iprp = Find(InMeta, FourCC("iprp"));
  if (!Pitm || !Iprp) return orNormal;
  TByteReader P(Pitm->Body);
  const std::uint32_t PitmVersion = P.U8();
  P.Skip(3);
  const std::uint32_t Primary = PitmVersion == 0 ? P.U16BE() : P.U32BE();
  const std::vector<TBox> InIprp = Boxes(Iprp->Body);
  const TBox* Ipco = Find(InIprp, FourCC("ipco"));
  if (!Ipco) return orNormal;
  const std::vector<TBox> Properties = Boxes(Ipco->Body);
  TTurn Turn;
  for (const TBox& Ipma : InIprp) {
    if (Ipma.Type != FourCC("ipma")) continue;
    TByteReader A(Ipma.Body);
    const std::uint32_t Version = A.U8();
    A.Skip(2);
    const bool WideIndex = (A.U8() & 1) != 0;  // the lowest bit of the flags
    const std::uint32_t Entries = A.U32BE();
    for (std::uint32_t E = 0; E < Entries; ++E) {
      const std::uint32_t Item = Version < 1 ? A.U16BE() : A.U32BE();
      const std::uint32_t Count = A.U8();
      for (std::uint32_t K = 0; K < Count; ++K) {
        const std::uint32_t Index = WideIndex ? A.U16BE() & 0x7FFF : A.U8() & 0x7F;
        if (Item != Primary || Index == 0 || Index > Properties.size()) continue;
        const TBox& Property = Properties[Index - 1];
        if (Property.Type == FourCC("irot") && !Property.Body.empty()) {
          for (int Q = Property.Body[0] & 3; Q > 0; --Q) Turn.RotateAnticlockwise();
        } else if (Property.Type == FourCC("imir") && !Property.Body.empty()) {
          // 0: top and bottom exchanged; 1: left and right.
          if (Property.Body[0] & 1)
            Turn.FlipX = !Turn.FlipX;
          else
            Turn.FlipY = !Turn.FlipY;
        }
      }
    }
  }
  return Turn.Orientation();
}

TOrientation PrimaryTurn(std::span<const std::uint8_t> File) {
  try {
    return ReadTurn(File);
  } catch (const EReadError&) {
    return orNormal;  // boxes libheif accepted but this reader did not: shown unturned
  }
}

std::vector<std::uint8_t> Profile(const heif_image_handle* H) {
  const heif_color_profile_type T = heif_image_handle_get_color_profile_type(H);
  if (T != heif_color_profile_type_prof && T != heif_color_profile_type_rICC) return {};
  std::vector<std::uint8_t> Icc(heif_image_handle_get_raw_color_profile_size(H));
  if (Icc.empty() || heif_image_handle_get_raw_color_profile(H, Icc.data()).code != heif_error_Ok) return {};
  return Icc;
}

}  // namespace

THEIFImage::THEIFImage() = default;
THEIFImage::~THEIFImage() = default;

// libheif reports the size as shown, after the crop, rotation and mirror
// boxes; the stored size is that size before the turn.
TDecodedGraphic::THeader THEIFImage::ReadHeader(std::span<const std::uint8_t> Bytes) const {
  const TPrimary P = Open(Bytes);
  THeader H;
  H.Orientation = PrimaryTurn(Bytes);
  const std::int32_t W = heif_image_handle_get_width(P.Handle.get()), Ht = heif_image_handle_get_height(P.Handle.get());
  H.Width = SwapsAxes(H.Orientation) ? Ht : W;
  H.Height = SwapsAxes(H.Orientation) ? W : Ht;
  H.Alpha = heif_image_handle_has_alpha_channel(P.Handle.get()) != 0;
  return H;
}

void THEIFImage::DecodePixels(std::span<const std::uint8_t> Bytes, TDecodeSink& Sink) {
  const TPrimary P = Open(Bytes);
  const bool Alpha = heif_image_handle_has_alpha_channel(P.Handle.get()) != 0;
  THeif<heif_decoding_options> Options(heif_decoding_options_alloc());
  if (!Options) throw std::bad_alloc();
  // With the orientation applied, libheif applies every transformation the
  // file gives, in the file's order: the crop box, the rotation and the
  // mirror. Without, the coded picture is shown as stored.
  Options->ignore_transformations = AutoOrientation() ? 0 : 1;
  heif_image* Decoded = nullptr;
  Check(heif_decode_image(P.Handle.get(), &Decoded, heif_colorspace_RGB,
                          Alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, Options.get()));
  const THeif<heif_image> Image(Decoded);
  const int W = heif_image_get_width(Decoded, heif_channel_interleaved);
  const int H = heif_image_get_height(Decoded, heif_channel_interleaved);
  int Stride = 0;
  const std::uint8_t* Pixels = heif_image_get_plane_readonly(Decoded, heif_channel_interleaved, &Stride);
  if (!Pixels || W <= 0 || H <= 0 || Stride < W * (Alpha ? 4 : 3))
    throw EHEIF("HEIF image is not valid (no pixels)");
  if (AutoOrientation()) Sink.SetRowsTurned();
  Sink.SetProfile(Profile(P.Handle.get()));
  Sink.Start(W, H, Alpha ? TDecodeSink::rkBGRA8 : TDecodeSink::rkBGR8);
  // libheif gives red, green, blue (alpha): swapped into the bitmap's order.
  const int Bpp = Alpha ? 4 : 3;
  std::vector<std::uint8_t> Row(static_cast<std::size_t>(W) * Bpp);
  for (int Y = 0; Y < H; ++Y) {
    const std::uint8_t* Src = Pixels + static_cast<std::ptrdiff_t>(Y) * Stride;
    std::uint8_t* Direct = Sink.DirectRow(Y);
    std::uint8_t* Dst = Direct ? Direct : Row.data();
    for (int X = 0; X < W; ++X, Src += Bpp, Dst += Bpp) {
      Dst[0] = Src[2];
      Dst[1] = Src[1];
      Dst[2] = Src[0];
      if (Alpha) Dst[3] = Src[3];
    }
    if (Direct)
      Sink.Placed(Y);
    else
      Sink.Put(Y, Row.data());
  }
  Sink.RowsDone(H);
}
