#include "picture/jpeg/JpegDecoder_p.h"

#include <algorithm>
#include <utility>

#include <jerror.h>

#include "toolkit/ByteReader.h"
#include "picture/Limits.h"
#include "picture/jpeg/JpegBytes_p.h"
#include "picture/jpeg/Jpeg.h"
#include "picture/jpeg/JpegPhoto_p.h"
#include "toolkit/SysUtils.h"

TJpegDecoder::TJpegDecoder() {
  jpeg_std_error(&FError);
  FError.error_exit = ErrorExit;
  FError.emit_message = EmitMessage;
  FError.output_message = OutputMessage;
  FError.reset_error_mgr = ResetErrorManager;
  FInfo.err = &FError;
  FInfo.client_data = this;
}

// Safe also when the decompressor was never created or its creation failed:
// the library then has no memory manager and destroys nothing.
TJpegDecoder::~TJpegDecoder() { jpeg_destroy_decompress(&FInfo); }

bool TJpegDecoder::Attempt(TStep Step, void* Arg) {
  if (setjmp(FJump) != 0) return false;
  Step(*this, Arg);
  return true;
}

void TJpegDecoder::Run(TStep Step, void* Arg) {
  if (!Attempt(Step, Arg)) Raise();
}

void TJpegDecoder::Raise() {
  if (FPending) std::rethrow_exception(std::exchange(FPending, nullptr));
  throw EJPEG(Format("JPEG error #%d", {FError.msg_code}));
}

void TJpegDecoder::ErrorExit(j_common_ptr Info) {
  std::longjmp(static_cast<TJpegDecoder*>(Info->client_data)->FJump, 1);
}

// Warnings (a file that ends early, damaged entropy data) let the library go
// on with what it can still decode; neither they nor trace messages are shown.
void TJpegDecoder::EmitMessage(j_common_ptr Info, int Level) {
  if (Level < 0) ++Info->err->num_warnings;
}

void TJpegDecoder::OutputMessage(j_common_ptr) {}

void TJpegDecoder::ResetErrorManager(j_common_ptr Info) {
  Info->err->num_warnings = 0;
  Info->err->msg_code = 0;
}

void TJpegDecoder::ProgressMonitor(j_common_ptr Info) {
  auto* D = static_cast<TJpegDecoder*>(Info->client_data);
  if (!D->NotifyProgress()) std::longjmp(D->FJump, 1);
}

bool TJpegDecoder::NotifyProgress() noexcept {
  try {
    FProgressFn(FProgressContext, FInfo);
    return true;
  } catch (...) {
    FPending = std::current_exception();
    return false;
  }
}

void TJpegDecoder::Open(std::span<const std::uint8_t> Data) {
  FMemory = Data;
  OpenWith([](TJpegDecoder& D) {
    jpeg_mem_src(&D.FInfo, D.FMemory.data(), static_cast<unsigned long>(D.FMemory.size()));
  });
}

namespace {

// Pieces of a file read at a time.
constexpr std::size_t FilePiece = 64 * 1024;
// What a source puts in place of data beyond the end: an end of image.
const JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};

}  // namespace

void TJpegDecoder::Open(const TJpegBytes& Bytes) {
  if (Bytes.Complete()) {
    Open(Bytes.All());
    return;
  }
  Bytes.CheckUnchanged();
  FFile.Bytes = &Bytes;
  FFile.Offset = 0;
  FFile.Buffer.resize(FilePiece);
  OpenWith([](TJpegDecoder& D) {
    jpeg_source_mgr& S = D.FFile.Pub;
    S.next_input_byte = nullptr;
    S.bytes_in_buffer = 0;
    S.init_source = [](j_decompress_ptr) {};
    S.term_source = [](j_decompress_ptr) {};
    S.resync_to_restart = jpeg_resync_to_restart;
    // As the library's source over memory: past the end, a warning and an
    // end of image.
    S.fill_input_buffer = [](j_decompress_ptr I) -> boolean {
      auto* Self = static_cast<TJpegDecoder*>(I->client_data);
      if (!Self->ReadPiece()) std::longjmp(Self->FJump, 1);
      return TRUE;
    };
    S.skip_input_data = [](j_decompress_ptr I, long N) {
      if (N <= 0) return;
      auto* Self = static_cast<TJpegDecoder*>(I->client_data);
      jpeg_source_mgr& Src = Self->FFile.Pub;
      const auto Skip = static_cast<std::size_t>(N);
      if (Skip <= Src.bytes_in_buffer) {
        Src.next_input_byte += Skip;
        Src.bytes_in_buffer -= Skip;
        return;
      }
      Self->FFile.Offset += Skip - Src.bytes_in_buffer;
      Src.bytes_in_buffer = 0;
      if (!Self->ReadPiece()) std::longjmp(Self->FJump, 1);
    };
    D.FInfo.src = &S;
  });
}

bool TJpegDecoder::ReadPiece() noexcept {
  jpeg_source_mgr& S = FFile.Pub;
  try {
    const std::size_t N = FFile.Bytes->Read(FFile.Offset, FFile.Buffer.data(), FFile.Buffer.size());
    FFile.Offset += N;
    if (N == 0) {
      WARNMS(&FInfo, JWRN_JPEG_EOF);
      S.next_input_byte = EndOfImage;
      S.bytes_in_buffer = sizeof EndOfImage;
    } else {
      S.next_input_byte = FFile.Buffer.data();
      S.bytes_in_buffer = N;
    }
    return true;
  } catch (...) {
    FPending = std::current_exception();
    return false;
  }
}

void TJpegDecoder::OpenWith(void (*SetSource)(TJpegDecoder& D)) {
  Run(
      [](TJpegDecoder& D, void* A) {
        jpeg_create_decompress(&D.FInfo);
        D.FInfo.mem->max_memory_to_use = static_cast<long>(MaxDecoderMemory);
        reinterpret_cast<void (*)(TJpegDecoder&)>(A)(D);
        if (D.FKeepPhotoMarkers) SaveJpegPhotoMarkers(D.FInfo);
        jpeg_read_header(&D.FInfo, TRUE);
        // A file of several scans has all its coefficients held until its
        // last scan, whatever the output size: it may not pass the limit. A
        // single-scan file is decoded a band of rows at a time; its output is
        // checked when decompression starts.
        const std::uint64_t Pixels = std::uint64_t{D.FInfo.image_width} * D.FInfo.image_height;
        if (Pixels > JpegPixelLimit() && jpeg_has_multiple_scans(&D.FInfo))
          ERREXIT1(&D.FInfo, JERR_IMAGE_TOO_BIG, JPEG_MAX_DIMENSION);
      },
      reinterpret_cast<void*>(SetSource));
}

TJpegScanData TJpegDecoder::ScanData() const {
  TJpegScanData Data;
  const jpeg_source_mgr* S = FInfo.src;
  if (FFile.Bytes) {
    Data.File = FFile.Bytes;
    Data.End = FFile.Bytes->Size();
    const std::uint8_t* Buffer = FFile.Buffer.data();
    const bool InBuffer = S && S->next_input_byte >= Buffer && S->next_input_byte <= Buffer + FFile.Buffer.size();
    Data.Begin = InBuffer && S->bytes_in_buffer <= FFile.Offset ? FFile.Offset - S->bytes_in_buffer : Data.End;
  } else {
    Data.Memory = FMemory;
    Data.End = FMemory.size();
    const bool InMemory =
        S && FMemory.data() && S->next_input_byte >= FMemory.data() && S->next_input_byte <= FMemory.data() + FMemory.size();
    Data.Begin = InMemory ? static_cast<std::size_t>(S->next_input_byte - FMemory.data()) : Data.End;
  }
  return Data;
}

void TJpegDecoder::AttachProgress(TProgressFn Fn, void* Context) {
  FProgressFn = Fn;
  FProgressContext = Context;
  FProgress = {};
  FProgress.progress_monitor = ProgressMonitor;
  FInfo.progress = &FProgress;
}

bool TJpegDecoder::HasMultipleScans() {
  bool Multiple = false;
  Run([](TJpegDecoder& D, void* A) { *static_cast<bool*>(A) = jpeg_has_multiple_scans(&D.FInfo); }, &Multiple);
  return Multiple;
}

void TJpegDecoder::CalcOutputDimensions() {
  Run([](TJpegDecoder& D, void*) { jpeg_calc_output_dimensions(&D.FInfo); });
}

void TJpegDecoder::SetColorMap(std::span<const std::uint32_t> Entries) {
  struct TArg {
    const std::uint32_t* Colors;
    JDIMENSION Count;
  } Arg{Entries.data(), static_cast<JDIMENSION>(std::min<std::size_t>(Entries.size(), 256))};
  Run(
      [](TJpegDecoder& D, void* A) {
        const auto& M = *static_cast<const TArg*>(A);
        JSAMPARRAY Map = (*D.FInfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&D.FInfo), JPOOL_IMAGE,
                                                      std::max<JDIMENSION>(M.Count, 1), 3);
        for (JDIMENSION I = 0; I < M.Count; ++I) {
          Map[0][I] = static_cast<JSAMPLE>(M.Colors[I] >> 16);
          Map[1][I] = static_cast<JSAMPLE>(M.Colors[I] >> 8);
          Map[2][I] = static_cast<JSAMPLE>(M.Colors[I]);
        }
        D.FInfo.colormap = Map;
        D.FInfo.actual_number_of_colors = static_cast<int>(M.Count);
      },
      &Arg);
}

void TJpegDecoder::StartDecompress() {
  Run([](TJpegDecoder& D, void*) {
    // No output may make the program allocate more than the largest picture allowed.
    jpeg_calc_output_dimensions(&D.FInfo);
    if (std::uint64_t{D.FInfo.output_width} * D.FInfo.output_height > JpegPixelLimit())
      ERREXIT1(&D.FInfo, JERR_IMAGE_TOO_BIG, JPEG_MAX_DIMENSION);
    jpeg_start_decompress(&D.FInfo);
  });
}

std::uint64_t& JpegPixelLimit() {
  static std::uint64_t Limit = MaxPicturePixels;
  return Limit;
}

int TJpegDecoder::ConsumeInput() {
  int Result = 0;
  Run([](TJpegDecoder& D, void* A) { *static_cast<int*>(A) = jpeg_consume_input(&D.FInfo); }, &Result);
  return Result;
}

void TJpegDecoder::StartOutput(int ScanNumber) {
  Run([](TJpegDecoder& D, void* A) { jpeg_start_output(&D.FInfo, *static_cast<int*>(A)); }, &ScanNumber);
}

void TJpegDecoder::FinishOutput() {
  Run([](TJpegDecoder& D, void*) { jpeg_finish_output(&D.FInfo); });
}

void TJpegDecoder::ReadRows(std::uint8_t* First, std::ptrdiff_t Stride, int RowsPerCall) {
  struct TArg {
    std::uint8_t* First;
    std::ptrdiff_t Stride;
    JDIMENSION PerCall;
  } Arg{First, Stride, static_cast<JDIMENSION>(std::clamp(RowsPerCall, 1, MaxRowsPerCall))};
  Run(
      [](TJpegDecoder& D, void* A) {
        const auto& R = *static_cast<const TArg*>(A);
        jpeg_decompress_struct& I = D.FInfo;
        JSAMPROW Rows[MaxRowsPerCall];
        while (I.output_scanline < I.output_height) {
          const JDIMENSION Top = I.output_scanline;
          const JDIMENSION N = std::min(R.PerCall, I.output_height - Top);
          for (JDIMENSION K = 0; K < N; ++K) Rows[K] = R.First + static_cast<std::ptrdiff_t>(Top + K) * R.Stride;
          // A source in memory never suspends; a call that reads nothing would
          // otherwise loop for ever.
          if (jpeg_read_scanlines(&I, Rows, N) == 0) break;
        }
      },
      &Arg);
}

void TJpegDecoder::FinishDecompress() {
  Run([](TJpegDecoder& D, void*) { jpeg_finish_decompress(&D.FInfo); });
}

int TJpegDecoder::ReadStrip(std::uint8_t* Buffer, std::ptrdiff_t Stride, int MaxRows) {
  struct TArg {
    std::uint8_t* Buffer;
    std::ptrdiff_t Stride;
    JDIMENSION Max;
    JDIMENSION Read;
  } Arg{Buffer, Stride, static_cast<JDIMENSION>(std::clamp(MaxRows, 1, MaxRowsPerCall)), 0};
  Run(
      [](TJpegDecoder& D, void* A) {
        auto& R = *static_cast<TArg*>(A);
        jpeg_decompress_struct& I = D.FInfo;
        JSAMPROW Rows[MaxRowsPerCall];
        const JDIMENSION N = std::min(R.Max, I.output_height - I.output_scanline);
        for (JDIMENSION K = 0; K < N; ++K) Rows[K] = R.Buffer + static_cast<std::ptrdiff_t>(K) * R.Stride;
        while (R.Read < N) {
          const JDIMENSION Got = jpeg_read_scanlines(&I, Rows + R.Read, N - R.Read);
          if (Got == 0) break;  // a source in memory never suspends: nothing more will come
          R.Read += Got;
        }
      },
      &Arg);
  return static_cast<int>(Arg.Read);
}

std::vector<std::uint32_t> TJpegDecoder::ColorMap() const {
  std::vector<std::uint32_t> Table;
  if (!FInfo.colormap || FInfo.actual_number_of_colors <= 0) return Table;
  const int N = std::min(FInfo.actual_number_of_colors, 256);
  const bool Gray = FInfo.out_color_components == 1;
  Table.reserve(static_cast<std::size_t>(N));
  for (int I = 0; I < N; ++I) {
    const std::uint32_t R = FInfo.colormap[0][I];
    const std::uint32_t G = Gray ? R : FInfo.colormap[1][I];
    const std::uint32_t B = Gray ? R : FInfo.colormap[2][I];
    Table.push_back(R << 16 | G << 8 | B);
  }
  return Table;
}
