// Makes the viewer's drawn resources from code, so that they can be remade:
//   the sample picture (a mountain lake at dusk) as a baseline JFIF 1.01 JPEG
//   with 2 x 2 luminance sampling, encoded by libjpeg's own compressor at the
//   quality that brings it closest to 86,446 bytes;
//   the eleven 16 x 16 tool-bar images as one PNG strip;
//   the program icon (128 x 128 PNG);
// and writes the sample picture (in the stored picture form) and the tool-bar
// strip into the window layout.
//
//   ninja -C build make_resources && build/viewer/make_resources resources
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <cstdio>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "JpegEncoder.h"

namespace {

// ---------------------------------------------------------------------------
// Noise

double Hash(int X, int Seed) {
  std::uint32_t H = static_cast<std::uint32_t>(X) * 374761393u + static_cast<std::uint32_t>(Seed) * 668265263u;
  H = (H ^ (H >> 13)) * 1274126177u;
  return ((H ^ (H >> 16)) & 0xFFFFFF) / double(0xFFFFFF);
}

double Hash2(int X, int Y, int Seed) {
  return Hash(static_cast<int>(static_cast<std::uint32_t>(X) * 73856093u ^ static_cast<std::uint32_t>(Y) * 19349663u), Seed);
}

double Smooth(double T) { return T * T * (3 - 2 * T); }

// One-dimensional fractal value noise in 0..1.
double Ridge(double X, int Seed, int Octaves) {
  double Sum = 0, Amp = 0.5, Freq = 1, Norm = 0;
  for (int O = 0; O < Octaves; ++O) {
    const double P = X * Freq;
    const int I = static_cast<int>(std::floor(P));
    const double F = Smooth(P - I);
    Sum += Amp * (Hash(I, Seed + O) * (1 - F) + Hash(I + 1, Seed + O) * F);
    Norm += Amp;
    Amp *= 0.5;
    Freq *= 2.1;
  }
  return Sum / Norm;
}

double Noise2(double X, double Y, int Seed) {
  const int Ix = static_cast<int>(std::floor(X)), Iy = static_cast<int>(std::floor(Y));
  const double Fx = Smooth(X - Ix), Fy = Smooth(Y - Iy);
  const double A = Hash2(Ix, Iy, Seed), B = Hash2(Ix + 1, Iy, Seed);
  const double C = Hash2(Ix, Iy + 1, Seed), D = Hash2(Ix + 1, Iy + 1, Seed);
  return (A * (1 - Fx) + B * Fx) * (1 - Fy) + (C * (1 - Fx) + D * Fx) * Fy;
}

struct TRgb {
  double R, G, B;
};
TRgb Mix(TRgb A, TRgb B, double T) { return {A.R + (B.R - A.R) * T, A.G + (B.G - A.G) * T, A.B + (B.B - A.B) * T}; }

// ---------------------------------------------------------------------------
// The sample picture: a lake between mountain ridges under a dusk sky.

QImage SampleLandscape(int W, int H) {
  QImage Img(W, H, QImage::Format_RGB32);
  const double Horizon = H * 0.60;
  const double SunX = W * 0.68, SunY = Horizon - H * 0.10;
  // Ridges from far to near: height above the horizon, roughness, colour.
  struct TLayer {
    double Base, Height, Scale;
    int Seed;
    TRgb Colour;
  };
  const TLayer Layers[] = {
      {0.05, 0.30, 2.5, 11, {150, 120, 160}},
      {0.02, 0.22, 4.0, 23, {95, 80, 125}},
      {-0.01, 0.16, 6.0, 37, {55, 55, 90}},
      {-0.03, 0.10, 9.0, 51, {30, 38, 60}},
  };
  for (int Y = 0; Y < H; ++Y) {
    auto* Row = reinterpret_cast<QRgb*>(Img.scanLine(Y));
    for (int X = 0; X < W; ++X) {
      // The scene point this pixel shows: above the horizon itself, below it its mirror image.
      const bool Water = Y >= Horizon;
      double Sy = Y;
      double Sx = X;
      if (Water) {
        const double Depth = (Y - Horizon) / (H - Horizon);
        Sx += (Noise2(X * 0.02, Y * 0.35, 5) - 0.5) * 10 * Depth;
        Sy = Horizon - (Y - Horizon) * 1.0;
      }
      // Sky: deep blue at the top to a warm glow at the horizon, with the sun's halo.
      const double T = std::clamp(Sy / Horizon, 0.0, 1.0);
      TRgb C = Mix(Mix({28, 40, 92}, {120, 90, 150}, Smooth(std::min(1.0, T * 1.3))), {250, 170, 110}, std::pow(T, 3));
      const double Dx = (Sx - SunX) / W, Dy = (Sy - SunY) / H;
      const double Dist = std::sqrt(Dx * Dx + Dy * Dy);
      C = Mix(C, {255, 225, 170}, std::exp(-Dist * 9) * 0.75);
      if (Dist < 0.028) C = Mix(C, {255, 245, 215}, Smooth(std::clamp((0.028 - Dist) / 0.004, 0.0, 1.0)));
      // Thin clouds lit from below.
      const double Cloud = Noise2(Sx * 0.006, Sy * 0.03, 77) * 0.7 + Noise2(Sx * 0.02, Sy * 0.08, 78) * 0.3;
      if (Sy < Horizon * 0.75) C = Mix(C, {240, 150, 140}, std::clamp((Cloud - 0.58) * 2.5, 0.0, 0.55) * T);
      // Ridges, near ones last.
      for (const TLayer& L : Layers) {
        const double Top = Horizon - H * (L.Base + L.Height * Ridge(Sx / W * L.Scale, L.Seed, 6));
        if (Sy >= Top) {
          const double Shade = std::clamp((Sy - Top) / (H * 0.25), 0.0, 1.0);
          TRgb R = Mix(L.Colour, {L.Colour.R * 0.7, L.Colour.G * 0.7, L.Colour.B * 0.8}, Shade);
          R = Mix(R, {250, 180, 130}, 0.12 * (1 - Shade));
          C = R;
        }
      }
      if (Water) {
        const double Depth = (Y - Horizon) / (H - Horizon);
        C = Mix(C, {20, 30, 55}, 0.25 + 0.45 * Depth);
        // Glints of the sun on the ripples.
        const double Glint = Noise2(X * 0.08, Y * 0.9, 9);
        if (std::abs(X - SunX) < W * 0.08 * (1 + Depth) && Glint > 0.72)
          C = Mix(C, {255, 220, 170}, (Glint - 0.72) * 2.2 * (1 - Depth * 0.6));
      }
      // A little grain keeps the gradients from banding.
      const double Grain = (Hash2(X, Y, 3) - 0.5) * 4;
      Row[X] = qRgb(std::clamp(int(C.R + Grain), 0, 255), std::clamp(int(C.G + Grain), 0, 255),
                    std::clamp(int(C.B + Grain), 0, 255));
    }
  }
  // Pines on the near shore, dark against the water.
  QPainter P(&Img);
  P.setRenderHint(QPainter::Antialiasing);
  P.setPen(Qt::NoPen);
  P.setBrush(QColor(14, 20, 30));
  QPainterPath Shore;
  Shore.moveTo(0, H);
  for (int X = 0; X <= W * 0.42; X += 4) Shore.lineTo(X, H - H * 0.06 - H * 0.05 * Ridge(X * 0.01, 91, 4));
  Shore.lineTo(W * 0.42, H);
  Shore.closeSubpath();
  P.drawPath(Shore);
  for (int I = 0; I < 14; ++I) {
    const double X = W * 0.02 + I * W * 0.028 + Hash(I, 41) * 12;
    const double Base = H - H * 0.07;
    const double Tall = H * (0.14 + 0.16 * Hash(I, 42)) * (1 - I * 0.035);
    QPainterPath Tree;
    const int Tiers = 6;
    for (int K = 0; K < Tiers; ++K) {
      const double Y0 = Base - Tall * K / Tiers, Y1 = Base - Tall * (K + 1.6) / Tiers;
      const double Half = Tall * 0.22 * (1 - double(K) / Tiers);
      Tree.moveTo(X - Half, Y0);
      Tree.lineTo(X, Y1);
      Tree.lineTo(X + Half, Y0);
      Tree.closeSubpath();
    }
    P.drawPath(Tree);
    P.drawRect(QRectF(X - 1.5, Base - 4, 3, 10));
  }
  return Img;
}

// Baseline JFIF with libjpeg's defaults (JFIF 1.01, 2 x 2 luminance sampling).
std::vector<std::uint8_t> EncodeJpeg(const QImage& Img, int Quality) {
  TJpegEncoding E;
  E.Width = Img.width();
  E.Height = Img.height();
  E.Quality = Quality;
  return CompressJpeg(E, [&](int Y, JSAMPLE* Line) {
    const auto* Src = reinterpret_cast<const QRgb*>(Img.constScanLine(Y));
    for (int X = 0; X < Img.width(); ++X) {
      Line[3 * X] = static_cast<JSAMPLE>(qRed(Src[X]));
      Line[3 * X + 1] = static_cast<JSAMPLE>(qGreen(Src[X]));
      Line[3 * X + 2] = static_cast<JSAMPLE>(qBlue(Src[X]));
    }
  });
}

// ---------------------------------------------------------------------------
// Tool-bar images: one palette and one line weight for all twelve.

const QColor Ink(45, 62, 90), Blue(60, 120, 200), LightBlue(200, 225, 250), Gold(235, 185, 60), Paper(250, 250, 245);

QImage Glyph(const std::function<void(QPainter&)>& Draw) {
  QImage G(16, 16, QImage::Format_ARGB32_Premultiplied);
  G.fill(Qt::transparent);
  QPainter P(&G);
  P.setRenderHint(QPainter::Antialiasing);
  Draw(P);
  return G;
}

QPen InkPen(double W = 1.2) { return QPen(Ink, W, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void Magnifier(QPainter& P, bool Plus) {
  P.setPen(InkPen(1.4));
  P.setBrush(LightBlue);
  P.drawEllipse(QRectF(1.5, 1.5, 9.5, 9.5));
  P.setPen(QPen(Ink, 1.4));
  P.drawLine(QPointF(4, 6.25), QPointF(8.5, 6.25));
  if (Plus) P.drawLine(QPointF(6.25, 4), QPointF(6.25, 8.5));
  P.setPen(QPen(QColor(120, 80, 40), 3, Qt::SolidLine, Qt::RoundCap));
  P.drawLine(QPointF(11, 11), QPointF(14.2, 14.2));
}

void Frame(QPainter& P, QRectF R) {
  P.setPen(InkPen(1));
  P.setBrush(Paper);
  P.drawRect(R);
  // A small landscape inside, as in every picture frame of the set.
  P.setPen(Qt::NoPen);
  P.setBrush(Blue);
  QPolygonF Hill;
  Hill << QPointF(R.left() + 1, R.bottom() - 0.5) << QPointF(R.left() + R.width() * 0.4, R.top() + R.height() * 0.45)
       << QPointF(R.left() + R.width() * 0.65, R.top() + R.height() * 0.7)
       << QPointF(R.right() - 1, R.top() + R.height() * 0.4) << QPointF(R.right() - 0.5, R.bottom() - 0.5);
  P.drawPolygon(Hill);
}

void Arrow(QPainter& P, QPointF From, QPointF To) {
  P.setPen(QPen(Blue.darker(130), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  P.drawLine(From, To);
  const QPointF D = To - From;
  const double L = std::hypot(D.x(), D.y());
  const QPointF U = D / L, N(-U.y(), U.x());
  P.drawLine(To, To - U * 3 + N * 2.2);
  P.drawLine(To, To - U * 3 - N * 2.2);
}

void Triangle(QPainter& P, double X, bool Right) {
  P.setPen(QPen(Ink, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  P.setBrush(Blue);
  QPolygonF T;
  if (Right)
    T << QPointF(X, 3.5) << QPointF(X + 7, 8) << QPointF(X, 12.5);
  else
    T << QPointF(X + 7, 3.5) << QPointF(X, 8) << QPointF(X + 7, 12.5);
  P.drawPolygon(T);
}

void Bar(QPainter& P, double X) {
  P.setPen(Qt::NoPen);
  P.setBrush(Ink);
  P.drawRoundedRect(QRectF(X, 3.5, 2, 9), 0.6, 0.6);
}

std::vector<QImage> ToolbarImages() {
  std::vector<QImage> L;
  // 0 open: a folder with its flap open.
  L.push_back(Glyph([](QPainter& P) {
    P.setPen(InkPen(1));
    P.setBrush(Gold.darker(115));
    QPolygonF Back;
    Back << QPointF(1.5, 3.5) << QPointF(6, 3.5) << QPointF(7.5, 5) << QPointF(13.5, 5) << QPointF(13.5, 13.5)
         << QPointF(1.5, 13.5);
    P.drawPolygon(Back);
    P.setBrush(Gold);
    QPolygonF Flap;
    Flap << QPointF(1.5, 13.5) << QPointF(4, 7.5) << QPointF(15, 7.5) << QPointF(13.5, 13.5);
    P.drawPolygon(Flap);
  }));
  // 1 best fit: a picture with arrows out to the four corners.
  L.push_back(Glyph([](QPainter& P) {
    Frame(P, QRectF(4.5, 4.5, 7, 7));
    P.setPen(QPen(Blue.darker(130), 1.3, Qt::SolidLine, Qt::RoundCap));
    for (QPointF C : {QPointF(1.5, 1.5), QPointF(14.5, 1.5), QPointF(1.5, 14.5), QPointF(14.5, 14.5)}) {
      const double Sx = C.x() < 8 ? 1 : -1, Sy = C.y() < 8 ? 1 : -1;
      P.drawLine(C, C + QPointF(3 * Sx, 0));
      P.drawLine(C, C + QPointF(0, 3 * Sy));
    }
  }));
  L.push_back(Glyph([](QPainter& P) { Magnifier(P, true); }));   // 2 zoom in
  L.push_back(Glyph([](QPainter& P) { Magnifier(P, false); }));  // 3 zoom out
  // 4 stretch: a picture pulled wide by arrows on both sides.
  L.push_back(Glyph([](QPainter& P) {
    Frame(P, QRectF(4.5, 3.5, 7, 9));
    Arrow(P, QPointF(3.5, 8), QPointF(0.8, 8));
    Arrow(P, QPointF(12.5, 8), QPointF(15.2, 8));
  }));
  // 5 resize: a picture fitted to a window, with a diagonal arrow.
  L.push_back(Glyph([](QPainter& P) {
    P.setPen(QPen(Ink, 1, Qt::DashLine));
    P.setBrush(Qt::NoBrush);
    P.drawRect(QRectF(0.5, 0.5, 15, 15));
    Frame(P, QRectF(2.5, 5.5, 8, 8));
    Arrow(P, QPointF(9, 7), QPointF(14, 2));
  }));
  // 6 lock: a padlock.
  L.push_back(Glyph([](QPainter& P) {
    P.setPen(QPen(QColor(110, 110, 120), 1.8));
    P.setBrush(Qt::NoBrush);
    P.drawArc(QRectF(4.5, 1.5, 7, 9), 0, 180 * 16);
    P.drawLine(QPointF(4.5, 6), QPointF(4.5, 7.5));
    P.drawLine(QPointF(11.5, 6), QPointF(11.5, 7.5));
    P.setPen(InkPen(1));
    P.setBrush(Gold);
    P.drawRoundedRect(QRectF(2.5, 7.5, 11, 7), 1.2, 1.2);
    P.setPen(Qt::NoPen);
    P.setBrush(Ink);
    P.drawEllipse(QRectF(7, 9.5, 2, 2));
    P.drawRect(QRectF(7.6, 10.5, 0.8, 2.5));
  }));
  // 7 to 10: first, prior, next, last.
  L.push_back(Glyph([](QPainter& P) {
    Bar(P, 3);
    Triangle(P, 6, false);
  }));
  L.push_back(Glyph([](QPainter& P) { Triangle(P, 4.5, false); }));
  L.push_back(Glyph([](QPainter& P) { Triangle(P, 4.5, true); }));
  L.push_back(Glyph([](QPainter& P) {
    Triangle(P, 3, true);
    Bar(P, 11);
  }));
  // 11 smooth: fine black and white squares that become an even grey.
  L.push_back(Glyph([](QPainter& P) {
    P.setPen(Qt::NoPen);
    for (int Y = 0; Y < 10; ++Y)
      for (int X = 0; X < 6; ++X) P.fillRect(QRectF(1 + X, 3 + Y, 1, 1), (X + Y) % 2 ? Paper : Ink);
    QLinearGradient G(QPointF(7, 0), QPointF(15, 0));
    G.setColorAt(0, QColor(140, 145, 150));
    G.setColorAt(1, LightBlue);
    P.fillRect(QRectF(7, 3, 8, 10), G);
    P.setPen(InkPen(1));
    P.setBrush(Qt::NoBrush);
    P.drawRect(QRectF(0.5, 2.5, 15, 11));
  }));
  return L;
}

// The program icon: a framed dusk landscape with a magnifying glass.
QImage ProgramIcon() {
  const int S = 128;
  QImage Icon(S, S, QImage::Format_ARGB32_Premultiplied);
  Icon.fill(Qt::transparent);
  QPainter P(&Icon);
  P.setRenderHint(QPainter::Antialiasing);
  const QRectF Outer(8, 14, 104, 84);
  P.setPen(Qt::NoPen);
  P.setBrush(QColor(0, 0, 0, 50));
  P.drawRoundedRect(Outer.translated(3, 4), 8, 8);
  P.setBrush(QColor(245, 242, 232));
  P.setPen(QPen(QColor(70, 80, 100), 2));
  P.drawRoundedRect(Outer, 8, 8);
  const QRectF Inner = Outer.adjusted(8, 8, -8, -8);
  const QImage Scene = SampleLandscape(176, 120).scaled(Inner.size().toSize(), Qt::IgnoreAspectRatio,
                                                       Qt::SmoothTransformation);
  P.drawImage(Inner.topLeft(), Scene);
  P.setPen(QPen(QColor(70, 80, 100), 1.5));
  P.setBrush(Qt::NoBrush);
  P.drawRect(Inner);
  // The glass.
  P.setPen(QPen(QColor(40, 50, 70), 7, Qt::SolidLine, Qt::RoundCap));
  P.drawLine(QPointF(98, 98), QPointF(118, 118));
  P.setPen(QPen(QColor(40, 50, 70), 5));
  P.setBrush(QColor(200, 225, 250, 120));
  P.drawEllipse(QPointF(84, 84), 19, 19);
  return Icon;
}

// ---------------------------------------------------------------------------
// Writing

std::string Hex(const std::vector<std::uint8_t>& Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string S;
  S.reserve(Bytes.size() * 2);
  for (std::uint8_t B : Bytes) {
    S += Digits[B >> 4];
    S += Digits[B & 15];
  }
  return S;
}

std::vector<std::uint8_t> Png(const QImage& Img) {
  QByteArray A;
  QBuffer B(&A);
  B.open(QIODevice::WriteOnly);
  Img.save(&B, "PNG");
  return std::vector<std::uint8_t>(A.begin(), A.end());
}

void WriteFile(const std::string& Path, const std::vector<std::uint8_t>& Bytes) {
  std::ofstream F(Path, std::ios::binary);
  F.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

// Replaces the value of every line "<Name> = {...}" in the layout.
void SetBinaryProperty(std::string& Layout, const std::string& Name, const std::vector<std::uint8_t>& Bytes) {
  const std::string Key = Name + " = {";
  const auto P = Layout.find(Key);
  if (P == std::string::npos) throw std::runtime_error("layout has no " + Name);
  const auto End = Layout.find('}', P);
  Layout.replace(P + Key.size(), End - P - Key.size(), Hex(Bytes));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_resources <resources folder>\n";
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication App(argc, argv);
  const std::string Dir = argv[1];

  const QImage Sample = SampleLandscape(1073, 653);
  constexpr std::size_t Wanted = 86446;
  std::vector<std::uint8_t> Jpeg;
  for (int Q = 40; Q <= 98; ++Q) {
    std::vector<std::uint8_t> J = EncodeJpeg(Sample, Q);
    const auto Off = [](std::size_t N) { return N > Wanted ? N - Wanted : Wanted - N; };
    if (Jpeg.empty() || Off(J.size()) < Off(Jpeg.size())) Jpeg = std::move(J);
  }
  WriteFile(Dir + "/sample.jpg", Jpeg);

  const auto Images = ToolbarImages();
  QImage Strip(16 * static_cast<int>(Images.size()), 16, QImage::Format_ARGB32);
  Strip.fill(Qt::transparent);
  {
    QPainter P(&Strip);
    for (std::size_t I = 0; I < Images.size(); ++I) P.drawImage(static_cast<int>(I) * 16, 0, Images[I]);
  }
  const std::vector<std::uint8_t> StripPng = Png(Strip);
  WriteFile(Dir + "/toolbar.png", StripPng);
  WriteFile(Dir + "/KestImageDemo.png", Png(ProgramIcon()));

  // The stored picture form: the class name with its length, then the
  // graphic's data (a 32-bit length and the JPEG file).
  std::vector<std::uint8_t> Stored = {10};
  for (char C : std::string("TJPEGImage")) Stored.push_back(static_cast<std::uint8_t>(C));
  for (int Shift = 0; Shift < 32; Shift += 8) Stored.push_back(static_cast<std::uint8_t>(Jpeg.size() >> Shift));
  Stored.insert(Stored.end(), Jpeg.begin(), Jpeg.end());

  const std::string LayoutPath = Dir + "/Unit1.layout";
  std::stringstream In;
  In << std::ifstream(LayoutPath).rdbuf();
  std::string Layout = In.str();
  SetBinaryProperty(Layout, "Picture.Data", Stored);
  SetBinaryProperty(Layout, "Bitmap", StripPng);
  std::ofstream(LayoutPath) << Layout;
  std::printf("sample.jpg: %zu bytes (stored form %zu bytes)\n", Jpeg.size(), Stored.size());
  return 0;
}
