#include "KestImage/Cursors.h"

#include <cstddef>
#include <cmath>
#include <span>

#include <QBitmap>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include "KestImage/KestImage.h"
#include "picture/icon/CursorReader.h"

// The cursor files, embedded at build time.
namespace kest_cursor_data {
extern const unsigned char zoomin_cur[];
extern const std::size_t zoomin_cur_size;
extern const unsigned char zoomout_cur[];
extern const std::size_t zoomout_cur_size;
extern const unsigned char hand_cur[];
extern const std::size_t hand_cur_size;
extern const unsigned char handgrab_cur[];
extern const std::size_t handgrab_cur_size;
}  // namespace kest_cursor_data

namespace {

// The cursor at a whole device scale: every pixel of its shape, mask or
// colours becomes N x N pixels, with no smoothing, and the hot spot moves with it.
QCursor ScaledCursor(const QCursor& C, int N) {
  const QPoint Hot = C.hotSpot() * N;
  const QBitmap Shape = C.bitmap();
  if (!Shape.isNull()) {
    auto Scale = [N](const QBitmap& B) {
      const QImage I = B.toImage();
      return QBitmap::fromImage(I.scaled(I.size() * N, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    };
    return QCursor(Scale(Shape), Scale(C.mask()), Hot.x(), Hot.y());
  }
  const QImage I = C.pixmap().toImage();
  if (I.isNull()) return C;
  return QCursor(QPixmap::fromImage(I.scaled(I.size() * N, Qt::IgnoreAspectRatio, Qt::FastTransformation)), Hot.x(),
                 Hot.y());
}

}  // namespace

int CursorScale() {
  // The densest screen decides: a cursor drawn too large is better than one too small.
  const double Ratio = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? qGuiApp->devicePixelRatio() : 1.0;
  return std::max(1, static_cast<int>(std::lround(Ratio)));
}

void RegisterKestImageCursors() {
  const int Scale = CursorScale();
  using namespace kest_cursor_data;
  const struct {
    TCursor Id;
    std::span<const unsigned char> Bytes;
  } Cursors[] = {
      {crZoomIn, {zoomin_cur, zoomin_cur_size}},
      {crZoomOut, {zoomout_cur, zoomout_cur_size}},
      {crHand, {hand_cur, hand_cur_size}},
      {crHandGrab, {handgrab_cur, handgrab_cur_size}},
  };
  for (const auto& C : Cursors)
    if (const auto Cursor = ReadCursorFile(C.Bytes)) Screen().SetCursor(C.Id, Scale == 1 ? *Cursor : ScaledCursor(*Cursor, Scale));
}
