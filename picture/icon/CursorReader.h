// Reading cursor files into Qt cursors. A cursor file is an icon file whose
// directory entries carry hot spots in place of planes and depth.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <QCursor>

// The first image of a cursor file as a cursor with the file's hot spot;
// nothing when the bytes are not such a file. A two-colour image with its AND
// mask becomes a bitmap cursor, whose "invert" pixels, which the X11 cursor
// cannot show, are drawn black; deeper images become colour cursors with
// their transparency, as icon images are decoded.
std::optional<QCursor> ReadCursorFile(std::span<const std::uint8_t> Bytes);
