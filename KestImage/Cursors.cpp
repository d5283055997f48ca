#include "KestImage/Cursors.h"

#include <cstddef>
#include <span>

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

void RegisterKestImageCursors() {
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
    if (const auto Cursor = ReadCursorFile(C.Bytes)) Screen().SetCursor(C.Id, *Cursor);
}
