// Playing a metafile of 10,000 drawing records into a 1024 x 768 bitmap, against
// issuing the same drawing calls to QPainter directly, in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <QImage>
#include <QPainter>

#include "picture/Bitmap.h"
#include "picture/metafile/Metafile.h"

namespace {

constexpr int Records = 10000;
constexpr int Width = 1024, Height = 768;

struct TShape {
  int Kind;  // 0 rectangle, 1 ellipse, 2 triangle, 3 line
  int X0, Y0, X1, Y1, X2, Y2;
  int Style;  // which of the pens and brushes
};

std::vector<TShape> Shapes() {
  std::vector<TShape> S;
  std::uint32_t Seed = 12345;
  auto Next = [&](int N) {
    Seed = Seed * 1103515245u + 12345u;
    return static_cast<int>((Seed >> 8) % static_cast<std::uint32_t>(N));
  };
  for (int I = 0; I < Records; ++I) {
    TShape T;
    T.Kind = Next(4);
    T.X0 = Next(Width - 60);
    T.Y0 = Next(Height - 60);
    T.X1 = T.X0 + 10 + Next(50);
    T.Y1 = T.Y0 + 10 + Next(50);
    T.X2 = T.X0 + Next(60);
    T.Y2 = T.Y1;
    T.Style = Next(4);
    S.push_back(T);
  }
  return S;
}

const std::uint32_t Colors[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF};

struct TWriter {
  std::vector<std::uint8_t> B;
  void U32(std::uint32_t V) {
    for (int I = 0; I < 4; ++I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
  }
  void U16(std::uint16_t V) {
    B.push_back(static_cast<std::uint8_t>(V));
    B.push_back(static_cast<std::uint8_t>(V >> 8));
  }
  void Rec(std::uint32_t Type, std::initializer_list<std::uint32_t> V) {
    U32(Type);
    U32(static_cast<std::uint32_t>(8 + 4 * V.size()));
    for (std::uint32_t X : V) U32(X);
  }
};

// An enhanced metafile whose device pixels are the bitmap's pixels: 1024 x 768
// pixels on a reference device of 1 pixel per 0.1 mm, frame 0..1023 x 0..767.
std::vector<std::uint8_t> BuildEmf(const std::vector<TShape>& S) {
  TWriter W;
  for (int I = 0; I < 4; ++I) {
    W.Rec(38, {static_cast<std::uint32_t>(1 + I), 0, static_cast<std::uint32_t>(I), 0, Colors[3 - I]});
    W.Rec(39, {static_cast<std::uint32_t>(5 + I), 0, Colors[I], 0});
  }
  int Current = -1;
  for (const TShape& T : S) {
    if (T.Style != Current) {
      W.Rec(37, {static_cast<std::uint32_t>(1 + T.Style)});
      W.Rec(37, {static_cast<std::uint32_t>(5 + T.Style)});
      Current = T.Style;
    }
    switch (T.Kind) {
      case 0: W.Rec(43, {std::uint32_t(T.X0), std::uint32_t(T.Y0), std::uint32_t(T.X1), std::uint32_t(T.Y1)}); break;
      case 1: W.Rec(42, {std::uint32_t(T.X0), std::uint32_t(T.Y0), std::uint32_t(T.X1), std::uint32_t(T.Y1)}); break;
      case 2:
        W.U32(86);
        W.U32(8 + 16 + 4 + 12);
        for (int I = 0; I < 4; ++I) W.U32(0);
        W.U32(3);
        for (int V : {T.X0, T.Y0, T.X1, T.Y0, T.X2, T.Y2}) W.U16(static_cast<std::uint16_t>(V));
        break;
      default:
        W.Rec(27, {std::uint32_t(T.X0), std::uint32_t(T.Y0)});
        W.Rec(54, {std::uint32_t(T.X1), std::uint32_t(T.Y1)});
        break;
    }
  }
  W.Rec(14, {0, 16, 20});
  TWriter H;
  const std::uint32_t Total = static_cast<std::uint32_t>(108 + W.B.size());
  H.U32(1);
  H.U32(108);
  for (std::uint32_t V : {0u, 0u, 1023u, 767u, 0u, 0u, 10230u, 7670u}) H.U32(V);
  H.U32(0x464D4520);
  H.U32(0x10000);
  H.U32(Total);
  H.U32(static_cast<std::uint32_t>(S.size() + 10));
  H.U16(9);
  H.U16(0);
  for (std::uint32_t V : {0u, 0u, 0u, 1000u, 1000u, 100u, 100u, 0u, 0u, 0u, 100000u, 100000u}) H.U32(V);
  H.B.insert(H.B.end(), W.B.begin(), W.B.end());
  return H.B;
}

QColor Q(std::uint32_t C) { return QColor(C & 0xFF, (C >> 8) & 0xFF, (C >> 16) & 0xFF); }

void BM_PlayMetafile(benchmark::State& State) {
  const auto Bytes = BuildEmf(Shapes());
  TMetafile M;
  M.LoadFromBytes(Bytes);
  TBitmap B(Width, Height);
  for (auto _ : State) B.Canvas().StretchDraw(TRect{0, 0, Width, Height}, &M);
}

void BM_DirectQPainter(benchmark::State& State) {
  const auto S = Shapes();
  TBitmap B(Width, Height);
  QPen Pens[4];
  QBrush Brushes[4];
  for (int I = 0; I < 4; ++I) {
    // As the metafile's pens: one pixel wide with flat ends, or wider with round ends and joins.
    Pens[I] = I <= 1 ? QPen(Q(Colors[3 - I]), 0, Qt::SolidLine, Qt::FlatCap)
                     : QPen(Q(Colors[3 - I]), I, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    Brushes[I] = QBrush(Q(Colors[I]));
  }
  for (auto _ : State) {
    B.Canvas().WithPainter([&](QPainter& P) {
      int Current = -1;
      for (const TShape& T : S) {
        if (T.Style != Current) {
          P.setPen(Pens[T.Style]);
          P.setBrush(Brushes[T.Style]);
          Current = T.Style;
        }
        switch (T.Kind) {
          case 0: P.drawRect(QRectF(QPointF(T.X0, T.Y0), QPointF(T.X1, T.Y1))); break;
          case 1: P.drawEllipse(QRectF(QPointF(T.X0, T.Y0), QPointF(T.X1, T.Y1))); break;
          case 2: {
            const QPointF Pts[3] = {QPointF(T.X0, T.Y0), QPointF(T.X1, T.Y0), QPointF(T.X2, T.Y2)};
            P.drawPolygon(Pts, 3);
            break;
          }
          default: P.drawLine(QPointF(T.X0, T.Y0), QPointF(T.X1, T.Y1)); break;
        }
      }
    });
  }
}

}  // namespace

BENCHMARK(BM_PlayMetafile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectQPainter)->Unit(benchmark::kMillisecond);
