#include "toolkit/Graphics.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include <QFont>
#include <QFontDatabase>
#include <QSet>
#include <QImage>
#include <QPainter>

TDisplayInfo& DisplayInfo() {
  static TDisplayInfo Info;
  return Info;
}

std::unique_ptr<TPalette> CreateHalftonePalette() {
  // The 20 static colours, then a 6 x 6 x 6 colour cube and a gray ramp.
  std::vector<std::uint32_t> E = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080,
                                  0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
  for (int R = 0; R < 6; ++R)
    for (int G = 0; G < 6; ++G)
      for (int B = 0; B < 6; ++B)
        E.push_back(static_cast<std::uint32_t>((R * 51) << 16 | (G * 51) << 8 | (B * 51)));
  for (int I = 1; E.size() < 246; ++I) E.push_back(static_cast<std::uint32_t>(I * 0x0B0B0B & 0xFFFFFF));
  for (std::uint32_t C : {0xFFFBF0u, 0xA0A0A4u, 0x808080u, 0xFF0000u, 0x00FF00u, 0xFFFF00u, 0x0000FFu, 0xFF00FFu,
                          0x00FFFFu, 0xFFFFFFu})
    E.push_back(C);
  return std::make_unique<TPalette>(std::move(E));
}

TColor ColorToRGB(TColor Color) {
  if ((static_cast<std::uint32_t>(Color) & 0xFF000000u) != 0xFF000000u) return Color & 0xFFFFFF;
  switch (Color & 0xFF) {
    case 0: return RGB(200, 200, 200);      // scroll bar
    case 1: return RGB(0, 0, 0);            // desktop
    case 5: return RGB(255, 255, 255);      // window
    case 6: return RGB(100, 100, 100);      // window frame
    case 8: return RGB(0, 0, 0);            // window text
    case 13: return RGB(0, 120, 215);       // highlight
    case 14: return RGB(255, 255, 255);     // highlight text
    case 15: return RGB(240, 240, 240);     // button face
    case 16: return RGB(160, 160, 160);     // button shadow
    case 17: return RGB(109, 109, 109);     // gray text
    case 18: return RGB(0, 0, 0);           // button text
    case 20: return RGB(255, 255, 255);     // button highlight
    case 23: return RGB(0, 0, 0);           // tool-tip text
    case 24: return RGB(255, 255, 225);     // tool-tip background
    case 26: return RGB(0, 102, 204);       // hot-track link
    default: return RGB(0, 0, 0);
  }
}

// ---------------------------------------------------------------------------
// TFont

int TFont::Size() const {
  const int Ppi = DisplayInfo().PixelsPerInch;
  return static_cast<int>(std::lround(-static_cast<double>(Height) * 72.0 / Ppi));
}

void TFont::SetSize(int Points) {
  Height = -static_cast<int>(std::lround(Points * DisplayInfo().PixelsPerInch / 72.0));
}

void TFont::Assign(const TPersistent* Source) {
  if (const auto* F = dynamic_cast<const TFont*>(Source)) {
    Name = F->Name;
    Height = F->Height;
    Color = F->Color;
    Style = F->Style;
    Charset = F->Charset;
    return;
  }
  TPersistent::Assign(Source);
}

namespace {

// The installed family that shows a font name: the name itself, else a
// sans-serif face of similar widths (so that captions fit the places laid out
// for them), else empty for the general sans-serif face. Looking a family up
// asks the system's font configuration, so each name is looked up once.
// A family is found among the installed ones first; only a name that is not
// installed is given to the font configuration, whose alias rules (one pass
// over all of them per name) may still know it.
bool FamilyKnown(const QString& Family) {
  static const QSet<QString> Installed = [] {
    QSet<QString> S;
    for (const QString& F : QFontDatabase::families()) S.insert(F.toCaseFolded());
    return S;
  }();
  return Installed.contains(Family.toCaseFolded()) || QFontDatabase::hasFamily(Family);
}

const QString& ResolveFamily(const std::string& Name) {
  static std::unordered_map<std::string, QString> Resolved;
  if (auto It = Resolved.find(Name); It != Resolved.end()) return It->second;
  QString Family = QString::fromStdString(Name);
  if (!FamilyKnown(Family)) {
    Family.clear();
    for (const char* Similar : {"Liberation Sans", "Arimo", "Nimbus Sans", "FreeSans"})
      if (FamilyKnown(QString::fromLatin1(Similar))) {
        Family = QString::fromLatin1(Similar);
        break;
      }
  }
  return Resolved.emplace(Name, std::move(Family)).first->second;
}

}  // namespace

QFont TFont::ToQFont() const {
  const QString& Family = ResolveFamily(Name);
  static const QFont General = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  QFont F = Family.isEmpty() ? General : QFont(Family);
  F.setStyleHint(QFont::SansSerif);
  // Heights from stored layouts may be anything: text stays within what a
  // screen can show.
  constexpr std::int64_t MaxPixelSize = 4096;
  const std::int64_t H = Height;
  if (H < 0)
    F.setPixelSize(static_cast<int>(std::min(-H, MaxPixelSize)));
  else if (H > 0)
    F.setPixelSize(static_cast<int>(std::clamp<std::int64_t>(H * 4 / 5, 1, MaxPixelSize)));  // cell height: about a fifth is internal leading
  F.setBold(Style.Contains(fsBold));
  F.setItalic(Style.Contains(fsItalic));
  F.setUnderline(Style.Contains(fsUnderline));
  F.setStrikeOut(Style.Contains(fsStrikeOut));
  return F;
}

// ---------------------------------------------------------------------------
// TCanvas

TCanvas::TCanvas(TSurfaceProvider Provider, int BitsPerPixel)
    : FProvider(std::move(Provider)), FBitsPerPixel(BitsPerPixel) {}

TCanvas::~TCanvas() = default;

TRect TCanvas::ClipRect() const {
  TRect All{};
  if (FSizeProvider) {
    const QSize Size = FSizeProvider();
    All = TRect{0, 0, Size.width(), Size.height()};
  } else if (const QImage* S = Surface()) {
    All = TRect{0, 0, S->width(), S->height()};
  }
  if (!FHasClip) return All;
  const QRect B = FClip.boundingRect();
  return IntersectRect(All, TRect{B.left(), B.top(), B.right() + 1, B.bottom() + 1});
}

void TCanvas::SetClipRegion(const QRegion* Region) {
  FHasClip = Region != nullptr;
  FClip = Region ? *Region : QRegion();
}

void TCanvas::FillRect(const TRect& R) {
  if (FBrush.Style == bsClear) return;
  if (QImage* S = Surface()) {
    if (FBrush.Style == bsSolid) {
      FillPixels(*S, R, ClipRegion(), ColorToPixel(FBrush.Color));
      return;
    }
    WithPainter([&](QPainter& P) {
      const TColor C = ColorToRGB(FBrush.Color);
      static const Qt::BrushStyle Styles[] = {Qt::SolidPattern, Qt::NoBrush,   Qt::HorPattern,   Qt::VerPattern,
                                              Qt::FDiagPattern, Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
      P.fillRect(QRect(R.Left, R.Top, R.Width(), R.Height()),
                 QBrush(QColor(GetRValue(C), GetGValue(C), GetBValue(C)), Styles[FBrush.Style]));
    });
  }
}

void TCanvas::Rectangle(const TRect& R) {
  WithPainter([&](QPainter& P) {
    const TColor Pc = ColorToRGB(FPen.Color), Bc = ColorToRGB(FBrush.Color);
    P.setPen(FPen.Style == psClear ? QPen(Qt::NoPen)
                                   : QPen(QColor(GetRValue(Pc), GetGValue(Pc), GetBValue(Pc)), FPen.Width));
    P.setBrush(FBrush.Style == bsClear ? QBrush(Qt::NoBrush) : QBrush(QColor(GetRValue(Bc), GetGValue(Bc), GetBValue(Bc))));
    P.drawRect(QRect(R.Left, R.Top, R.Width() - 1, R.Height() - 1));
  });
}

void TCanvas::MoveTo(int X, int Y) { FPenPos = {X, Y}; }

void TCanvas::LineTo(int X, int Y) {
  WithPainter([&](QPainter& P) {
    const TColor Pc = ColorToRGB(FPen.Color);
    P.setPen(QPen(QColor(GetRValue(Pc), GetGValue(Pc), GetBValue(Pc)), FPen.Width));
    P.drawLine(FPenPos.X, FPenPos.Y, X, Y);
  });
  FPenPos = {X, Y};
}

void TCanvas::TextOut(int X, int Y, const std::string& Text) {
  WithPainter([&](QPainter& P) {
    const QFont F = FFont.ToQFont();
    P.setFont(F);
    const QFontMetrics M(F);
    const QString T = QString::fromStdString(Text);
    if (FBrush.Style != bsClear) {
      const TColor B = ColorToRGB(FBrush.Color);
      P.fillRect(QRect(X, Y, M.horizontalAdvance(T), M.height()), QColor(GetRValue(B), GetGValue(B), GetBValue(B)));
    }
    const TColor C = ColorToRGB(FFont.Color);
    P.setPen(QColor(GetRValue(C), GetGValue(C), GetBValue(C)));
    P.drawText(X, Y + M.ascent(), T);
  });
}

void TCanvas::Draw(int X, int Y, TCanvasDrawable* Graphic) {
  if (!Graphic || Graphic->Empty()) return;
  FBkColor = FBrush.Color;
  FTextColor = FFont.Color;
  Graphic->DrawInto(*this, TRect{X, Y, X + Graphic->Width(), Y + Graphic->Height()});
}

void TCanvas::StretchDraw(const TRect& R, TCanvasDrawable* Graphic) {
  if (Graphic) Graphic->DrawInto(*this, R);
}

void TCanvas::CopyRect(const TRect& Dest, TCanvas& Src, const TRect& SrcRect) {
  const QImage* S = Src.Surface();
  if (!S) return;
  TPixelView V = ViewOf(*S);
  StretchBltFrom(Dest, V, SrcRect);
}

void TCanvas::StretchBltFrom(const TRect& Dest, const TPixelView& Src, const TRect& SrcRect, const TBlitOptions& O) {
  if (QImage* D = Surface()) StretchBlt(*D, Dest, ClipRegion(), Src, SrcRect, O);
}

TColor TCanvas::Pixels(int X, int Y) {
  const QImage* S = Surface();
  if (!S || X < 0 || Y < 0 || X >= S->width() || Y >= S->height()) return -1;
  return PixelToColor(reinterpret_cast<const std::uint32_t*>(S->constScanLine(Y))[X]);
}

void TCanvas::SetPixels(int X, int Y, TColor C) {
  QImage* S = Surface();
  if (!S || X < 0 || Y < 0 || X >= S->width() || Y >= S->height()) return;
  if (FHasClip && !FClip.contains(QPoint(X, Y))) return;
  reinterpret_cast<std::uint32_t*>(S->scanLine(Y))[X] = ColorToPixel(C);
}

void TCanvas::WithPainter(const std::function<void(QPainter&)>& Fn) {
  QImage* S = Surface();
  if (!S || S->isNull()) return;
  QPainter P(S);
  if (FHasClip) P.setClipRegion(FClip);
  Fn(P);
}
