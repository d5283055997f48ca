#include "toolkit/ImgList.h"

#include <QBuffer>

#include "toolkit/Exceptions.h"

KEST_CLASS_IMPL(TImageList, TComponent)

TImageList::TImageList(TComponent* AOwner) : TComponent(AOwner) {}

QImage TImageList::Image(int Index) const {
  if (Index < 0 || Index >= Count()) return {};
  return FImages[static_cast<std::size_t>(Index)];
}

void TImageList::Add(const QImage& Image) {
  QImage I = Image.convertToFormat(QImage::Format_ARGB32);
  if (I.width() != FWidth || I.height() != FHeight)
    I = I.scaled(FWidth, FHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  FImages.push_back(std::move(I));
}

std::vector<std::uint8_t> TImageList::StripPng() const {
  QImage Strip(FWidth * Count(), FHeight, QImage::Format_ARGB32);
  Strip.fill(Qt::transparent);
  for (int I = 0; I < Count(); ++I)
    for (int Y = 0; Y < FHeight; ++Y)
      std::copy_n(reinterpret_cast<const std::uint32_t*>(FImages[static_cast<std::size_t>(I)].constScanLine(Y)), FWidth,
                  reinterpret_cast<std::uint32_t*>(Strip.scanLine(Y)) + I * FWidth);
  QByteArray Bytes;
  QBuffer Buffer(&Bytes);
  Buffer.open(QIODevice::WriteOnly);
  Strip.save(&Buffer, "PNG");
  return std::vector<std::uint8_t>(Bytes.begin(), Bytes.end());
}

void TImageList::SetStripPng(const std::vector<std::uint8_t>& Bytes) {
  QImage Strip;
  if (!Strip.loadFromData(Bytes.data(), static_cast<int>(Bytes.size())) || Strip.height() < FHeight)
    throw EReadError("Image list data is not a valid image");
  FImages.clear();
  for (int X = 0; X + FWidth <= Strip.width(); X += FWidth) Add(Strip.copy(X, 0, FWidth, FHeight));
}

void TImageList::DefineProperties(TPropList& L) const {
  TComponent::DefineProperties(L);
  L.push_back(prop::Int<TImageList, int>("Height", &TImageList::Height, &TImageList::SetHeight, 16));
  L.push_back(prop::Int<TImageList, int>("Width", &TImageList::Width, &TImageList::SetWidth, 16));
  L.push_back({"Bitmap",
               [](const TComponent& O) -> std::optional<TPropValue> {
                 const auto& I = static_cast<const TImageList&>(O);
                 if (I.Count() == 0) return std::nullopt;
                 return TPropValue::OfBinary(I.StripPng());
               },
               [](TComponent& O, const TPropValue& P) { static_cast<TImageList&>(O).SetStripPng(P.Bytes); }});
}

void RegisterImgListClasses() { RegisterClass(TImageList::StaticClass()); }
