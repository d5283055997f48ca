// Reading two-colour cursors from .cur files into Qt cursors.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <QCursor>

// The first image of a cursor file (1 bit per pixel with its AND mask) as a
// cursor with the file's hot spot; nothing when the bytes are not such a file.
// "Invert" pixels, which the X11 cursor cannot show, are drawn black.
std::optional<QCursor> ReadCursorFile(std::span<const std::uint8_t> Bytes);
