// Every limit that the picture loaders and the metafile player put on what a
// file may ask for, each with the reason for its number. A file that goes past
// one is refused, or the part that goes past it is left out, so that no file
// can make the program allocate far more than a picture could need, recurse
// without bound or spend minutes on a few bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Pixels of any one picture or image inside a picture: 2^28 is a 16384 x 16384
// picture, beyond what a camera or scanner of today produces, and at 4 bytes a
// pixel the 1 GB that a desktop machine can still hold.
constexpr std::uint64_t MaxPicturePixels = std::uint64_t{1} << 28;

// A bitmap inside a metafile record is decoded each time the metafile is
// played, so a few bytes must not claim a huge image: it may claim at most
// this many pixels per byte of its pixel data (plus one run's worth for the
// tiniest bitmaps). Run-length encoding of 8 bits packs at most 255 pixels in
// two bytes; 1024 leaves room for long jumps over untouched areas.
constexpr std::uint64_t MaxEmbeddedPixelsPerByte = 1024;

// Saved device-context states of a metafile: real metafiles nest saves a few
// levels deep; 4096 states of a few hundred bytes stay below 2 MB.
constexpr std::size_t MaxSavedStates = 4096;

// The object table of a metafile: the enhanced header counts its slots in 16
// bits with index 0 reserved, so a Windows metafile's 65,535 objects need
// indices 1 to 65,535 once converted: one slot more than the count can say.
constexpr std::size_t MaxObjectTable = std::size_t{1} << 16;

// Elements of the path being recorded: 2^22 points are more than any drawing
// program writes and keep the path below 100 MB.
constexpr std::uint64_t MaxPathElements = std::uint64_t{1} << 22;

// Rectangles of one region record: clip regions of real metafiles have at
// most a few thousand; uniting each costs time that grows with the count.
constexpr std::uint32_t MaxRegionRects = std::uint32_t{1} << 14;

// Characters of one text record: a page of text is a few thousand; laying out
// more at once is slow and shows nothing more.
constexpr std::uint32_t MaxTextChars = std::uint32_t{1} << 16;

// Pixels of a metafile's pattern brush: a pattern is a small tile repeated
// over an area; a million pixels is far more than any tile and keeps each
// pattern brush, which the object table may hold thousands of, below 4 MB.
constexpr std::uint64_t MaxPatternPixels = std::uint64_t{1} << 20;

// What the JPEG library may take for its whole-image buffers (the coefficients
// of a multi-scan file, kept until its last scan). Beyond it the library raises
// its "backing store" error rather than allocating: four bytes per pixel of the
// largest picture allowed, enough for any sampling of such a picture but one
// that is both progressive and unsubsampled at full size.
constexpr std::uint64_t MaxDecoderMemory = MaxPicturePixels * 4;

// Entries of a metafile's palette: a palette serves screens of 8 bits per
// pixel, which show at most 256 colours at once.
constexpr std::uint64_t MaxPaletteEntries = 256;

// Positions and sizes in a bitmap's pixels that come from a file are kept
// within plus or minus 10^9: the sum or difference of two still fits a 32-bit int.
constexpr std::int64_t MaxPixelCoordinate = 1000000000;

// A character's height in pixels at the drawing's scale: 100,000 pixels is
// far beyond any surface, and the font engine's sizes run out soon after.
constexpr double MaxFontPixels = 1e5;

// Width in pixels of the frame drawn around a region: wider than any surface.
constexpr double MaxFrameWidth = 1e4;

// Pixels of an animation's canvas for it to play: 2^24 is a 4096 x 4096 canvas,
// beyond the screen recordings and stickers animations are made for. Playing
// keeps three canvases (the frame shown, the next one waiting, the one being
// composed) besides the frame being decoded and the area a frame restores, so
// at most about 320 MB, a third of what the largest still picture may take. A
// larger animation shows its first frame as a still picture: its file is
// valid and the picture is within the still-picture cap, but no frame of it
// could be composed in the time a frame is shown.
constexpr std::uint64_t MaxAnimationPixels = MaxPicturePixels / 16;

// Pixels of an animation's canvas whose frames are composed on the
// user-interface thread when they are due: a 512 x 512 frame decodes and is
// composed in a few milliseconds, within the 10 ms a timer step may take.
// Larger canvases are composed a frame ahead on a worker thread.
constexpr std::uint64_t MaxTimerStepPixels = std::uint64_t{1} << 18;

// Worker threads of decodes at first drawing, running or set aside (a decode
// abandoned while its format library decodes in one call runs on to its end,
// apart): a decode asked for while this many exist waits, its picture drawn
// as while it decodes, until one of them ends. So a viewer that moves on from
// picture to picture keeps at most two abandoned decodes besides the one it
// shows. Each holds at most a picture of MaxPicturePixels and its decoder's
// buffers, about 2 GB: about 6 GB at worst, for as long as the slowest runs.
constexpr int MaxDecodeWorkers = 3;
