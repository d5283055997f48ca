// Loading pictures from files and the stored picture form.
#include <filesystem>

#include "picture/FileFormats.h"
#include "toolkit/Exceptions.h"
#include "toolkit/SysUtils.h"

namespace {

std::unique_ptr<TGraphic> CreateGraphic(TGraphicClass C) {
  std::unique_ptr<TObject> O = C->Create(nullptr);
  return std::unique_ptr<TGraphic>(static_cast<TGraphic*>(O.release()));
}

std::string FullPath(const std::string& FileName) {
  std::error_code Ec;
  const auto P = std::filesystem::absolute(FileName, Ec);
  return Ec ? FileName : P.string();
}

[[noreturn]] void UnknownExtension(const std::string& Ext) {
  throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", {Ext}));
}

}  // namespace

void TPicture::LoadFile(const std::string& FileName) {
  const std::string Ext = FileNameExtension(FileName);
  const TGraphicClass C = TFileFormatsList::Instance().FindByExtension(Ext);
  if (!C) UnknownExtension(Ext);
  LoadFileAs(C, FileName);
}

void TPicture::LoadFileByContent(const std::string& FileName) {
  const TGraphicClass C = FindClassOfFile(FileName);
  if (!C) UnknownExtension(FileNameExtension(FileName));
  LoadFileAs(C, FileName);
}

void TPicture::LoadFileAs(TGraphicClass C, const std::string& FileName) {
  std::unique_ptr<TGraphic> G = CreateGraphic(C);
  // Progress reaches the owner while loading; changes do not.
  G->OnProgress = [this](TObject* Sender, TProgressStage Stage, std::uint8_t Percent, bool Redraw, const TRect& R,
                         const std::string& Msg) {
    if (OnProgress) OnProgress(Sender, Stage, Percent, Redraw, R, Msg);
  };
  // The graphic reads the file: a graphic that decodes later may read only its header now.
  G->LoadFromFile(FullPath(FileName));
  SetGraphic(std::move(G));
}

void TPicture::ReadStored(TStream& Stream) {
  const std::uint8_t N = Stream.ReadByte();
  std::string Name(N, '\0');
  Stream.ReadBuffer(Name.data(), N);
  std::unique_ptr<TGraphic> G;
  if (const TGraphicClass C = TFileFormatsList::Instance().FindByClassName(Name)) {
    G = CreateGraphic(C);
    ReportingMemory([&] { G->ReadData(Stream); });
  }
  SetGraphic(std::move(G));
}

void TPicture::WriteStored(TStream& Stream) const {
  if (!FGraphic) {
    const std::uint8_t Zero = 0;
    Stream.WriteBuffer(&Zero, 1);
    return;
  }
  std::string Name = FGraphic->ClassName();
  if (Name.size() > 63) Name.resize(63);
  const auto N = static_cast<std::uint8_t>(Name.size());
  Stream.WriteBuffer(&N, 1);
  Stream.WriteBuffer(Name.data(), N);
  FGraphic->WriteData(Stream);
}
