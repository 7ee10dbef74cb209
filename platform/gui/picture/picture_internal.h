// Internals of the picture decoding, shared by its source files and its test:
// the per-format decoders and the header checks that run before any decoder
// allocates. Not for use outside platform/gui/picture.
#pragma once

#include "platform/gui/picture/picture.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <optional>
#include <span>

namespace qelvaro::platform::picture_internal {

using Bytes = std::span<const std::uint8_t>;

// True when a width * height picture is within kMaxPictureSide and
// kMaxPicturePixels (and both are at least 1).
bool WithinPictureLimits(std::int64_t width, std::int64_t height);

// What the BMP header declares, once it has passed the checks: the size and
// the pixel format Qt's reader decodes it into.
struct BmpLayout {
  QSize size;
  QImage::Format format = QImage::Format_Invalid;
};
// Checks a BMP file header and info header; nullopt refuses the data.
std::optional<BmpLayout> CheckBmpHeader(Bytes bytes);

// The canvas a GIF is drawn on (the logical screen, or the first frame's
// extent where the screen says 0); nullopt refuses the data.
std::optional<QSize> CheckGifHeader(Bytes bytes);

// Checks the icon or cursor directory and its first image (the directory
// inside the file, the image's bytes inside the file, a BMP header of an
// acceptable size, bit depth and palette; images stored as PNG are refused);
// nullopt refuses the data.
std::optional<QSize> CheckIconHeader(Bytes bytes);

// The decoders; each gives the empty Picture on any failure.
Picture DecodeJpeg(Bytes bytes);
Picture DecodePcx(Bytes bytes);
Picture DecodeBmp(Bytes bytes);
Picture DecodeGif(Bytes bytes);
Picture DecodeIcon(Bytes bytes, PictureFormat format);  // kIcon or kCursor

// The frame delay an animation plays: GIF delays of 10 ms or less become
// 100 ms.
std::chrono::milliseconds PlayableDelay(int delayMs);

// Converts a decoded image to the formats frames carry (ARGB32 with
// transparency, else RGB32); a null image stays null.
QImage ToFrameFormat(const QImage& image);

}  // namespace qelvaro::platform::picture_internal
