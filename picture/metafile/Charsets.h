// 8-bit text of metafiles: decoded by the code page of the font's character set.
#pragma once

#include <cstdint>
#include <span>

#include <QString>

// Decodes 8-bit text written in the code page of a font character set. The
// symbol character set keeps the byte values as they are.
QString DecodeCharsetText(std::span<const std::uint8_t> Bytes, std::uint8_t Charset);
