// The images inside icon files, turned into premultiplied ARGB images that are
// drawn through their transparency.
#pragma once

#include <cstdint>
#include <span>

#include <QImage>

// Decodes one icon image: a bitmap info header, its colour table, the colour
// bits (1, 4, 8, 16, 24 or 32 bits per pixel, bottom-up) and the 1-bit AND mask
// (set bits are transparent), or a PNG file. The height in the info header
// counts the colour bits and the mask together. A 32-bit image whose alpha
// bytes are not all zero, or whose bytes end with its colour bits, takes its
// transparency from them instead of the mask.
// Raises EOutOfResources "Out of system resources" when the bytes do not form
// an image that can be built (unsupported layout, more than MaxPicturePixels
// pixels, data cut short), and EOutOfResources with the system's text when
// memory runs out.
QImage DecodeIconImage(std::span<const std::uint8_t> Bytes);

// The application icon shown for an icon file of type 0: a small window, 32 x 32.
QImage DefaultApplicationIcon();
