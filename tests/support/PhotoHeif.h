// AVIF files made with libavif's encoder and HEIF files with libheif's, for
// the tests and benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include <avif/avif.h>
#include <libheif/heif.h>

struct TPhotoStill {
  std::uint32_t Width = 64;
  std::uint32_t Height = 48;
  bool Alpha = false;
  // EXIF-style orientation 1..8 written as rotation and mirror boxes; with 0,
  // AVIF files get the boxes below as they are.
  int Orientation = 1;
  int Rotation = 0;   // anticlockwise quarters
  int MirrorMode = -1;  // none, or the mirror box's mode
  std::vector<std::uint8_t> Profile;
  // HEIF: a size that the coding cannot take (odd, for 4:2:0) is cut from the
  // coded picture by a clean-aperture (crop) box rather than by a grid.
  bool CropBox = false;
  // Red, green, blue, alpha of each pixel.
  std::function<std::array<std::uint8_t, 4>(std::uint32_t X, std::uint32_t Y)> Pixel;
};

inline std::vector<std::uint8_t> MakeAvif(const TPhotoStill& P) {
  avifImage* Image = avifImageCreate(P.Width, P.Height, 8, AVIF_PIXEL_FORMAT_YUV444);
  avifRGBImage Rgb;
  avifRGBImageSetDefaults(&Rgb, Image);
  Rgb.format = P.Alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
  avifRGBImageAllocatePixels(&Rgb);
  const std::uint32_t Bpp = P.Alpha ? 4 : 3;
  for (std::uint32_t Y = 0; Y < P.Height; ++Y)
    for (std::uint32_t X = 0; X < P.Width; ++X) {
      const auto V = P.Pixel(X, Y);
      std::memcpy(Rgb.pixels + Y * Rgb.rowBytes + X * Bpp, V.data(), Bpp);
    }
  avifImageRGBToYUV(Image, &Rgb);
  avifRGBImageFreePixels(&Rgb);
  if (!P.Profile.empty()) avifImageSetProfileICC(Image, P.Profile.data(), P.Profile.size());
  // Orientation value to a rotation (anticlockwise quarters) and a mirror
  // (0: top and bottom exchanged, 1: left and right), mirror applied last.
  static constexpr int Angle[9] = {0, 0, 0, 2, 0, 1, 3, 1, 1};
  static constexpr int Mirror[9] = {-1, -1, 1, -1, 0, 0, -1, 1, -1};
  const int Rotation = P.Orientation ? Angle[P.Orientation] : P.Rotation;
  const int MirrorMode = P.Orientation ? Mirror[P.Orientation] : P.MirrorMode;
  if (Rotation) {
    Image->transformFlags |= AVIF_TRANSFORM_IROT;
    Image->irot.angle = static_cast<std::uint8_t>(Rotation);
  }
  if (MirrorMode >= 0) {
    Image->transformFlags |= AVIF_TRANSFORM_IMIR;
    Image->imir.mode = static_cast<std::uint8_t>(MirrorMode);
  }
  avifEncoder* Encoder = avifEncoderCreate();
  Encoder->speed = AVIF_SPEED_FASTEST;
  Encoder->minQuantizer = Encoder->maxQuantizer = 0;
  Encoder->minQuantizerAlpha = Encoder->maxQuantizerAlpha = 0;
  avifRWData Out = AVIF_DATA_EMPTY;
  avifEncoderWrite(Encoder, Image, &Out);
  std::vector<std::uint8_t> Bytes(Out.data, Out.data + Out.size);
  avifRWDataFree(&Out);
  avifEncoderDestroy(Encoder);
  avifImageDestroy(Image);
  return Bytes;
}

inline std::vector<std::uint8_t> MakeHeif(const TPhotoStill& P, heif_compression_format Coding = heif_compression_HEVC) {
  heif_context* Context = heif_context_alloc();
  heif_encoder* Encoder = nullptr;
  heif_context_get_encoder_for_format(Context, Coding, &Encoder);
  heif_encoder_set_lossy_quality(Encoder, 98);
  heif_image* Image = nullptr;
  heif_image_create(static_cast<int>(P.Width), static_cast<int>(P.Height), heif_colorspace_RGB,
                    P.Alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &Image);
  heif_image_add_plane(Image, heif_channel_interleaved, static_cast<int>(P.Width), static_cast<int>(P.Height), 8);
  int Stride = 0;
  std::uint8_t* Plane = heif_image_get_plane(Image, heif_channel_interleaved, &Stride);
  const std::uint32_t Bpp = P.Alpha ? 4 : 3;
  for (std::uint32_t Y = 0; Y < P.Height; ++Y)
    for (std::uint32_t X = 0; X < P.Width; ++X) {
      const auto V = P.Pixel(X, Y);
      std::memcpy(Plane + Y * static_cast<std::uint32_t>(Stride) + X * Bpp, V.data(), Bpp);
    }
  if (!P.Profile.empty()) heif_image_set_raw_color_profile(Image, "prof", P.Profile.data(), P.Profile.size());
  heif_encoding_options* Options = heif_encoding_options_alloc();
  Options->image_orientation = static_cast<heif_orientation>(P.Orientation);
  Options->macOS_compatibility_workaround = P.CropBox ? 0 : 1;
  heif_context_encode_image(Context, Image, Encoder, Options, nullptr);
  heif_encoding_options_free(Options);
  heif_encoder_release(Encoder);
  heif_image_release(Image);
  std::vector<std::uint8_t> Bytes;
  heif_writer Writer{};
  Writer.writer_api_version = 1;
  Writer.write = [](heif_context*, const void* Data, size_t Size, void* User) {
    auto& B = *static_cast<std::vector<std::uint8_t>*>(User);
    B.insert(B.end(), static_cast<const std::uint8_t*>(Data), static_cast<const std::uint8_t*>(Data) + Size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
  };
  heif_context_write(Context, &Writer, &Bytes);
  heif_context_free(Context);
  return Bytes;
}
