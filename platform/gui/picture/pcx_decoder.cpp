// PCX, our own decoder.
//
// The 128-byte header is followed by run-length encoded scan lines; each scan
// line holds its planes one after the other, bytesPerLine bytes each. A byte
// with its two top bits set is a run: the low six bits count the copies of the
// byte after it; any other byte is a literal. Supported layouts:
//   8 bits, 1 plane: palette indexes; the 256-colour palette is the 769 bytes
//     at the end of a version 5 file (0x0C, then 256 RGB triples). A file
//     without it is shown in grey levels.
//   8 bits, 3 planes: red, green and blue planes (24-bit colour).
//   1 bit, 1 plane: monochrome, 1 is white.
//   1 bit, 4 planes: 16 colours, the plane bits giving the index (plane 0 the
//     lowest bit); version 3 files carry no palette and get the standard EGA
//     colours, others use the 16-colour palette of the header.
// Everything is bounds-checked: a run that goes past the end of its scan line
// is cut there and the rest of the run is dropped; data that end before the
// last scan line is complete give no picture.
#include "platform/gui/picture/picture_internal.h"

#include <QImage>
#include <QRgb>

#include <algorithm>
#include <array>
#include <vector>

namespace qelvaro::platform::picture_internal {

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kPaletteTrailer = 1 + 256 * 3;

constexpr std::array<QRgb, 16> kEgaColours = {
    0xFF000000, 0xFF0000AA, 0xFF00AA00, 0xFF00AAAA, 0xFFAA0000, 0xFFAA00AA,
    0xFFAA5500, 0xFFAAAAAA, 0xFF555555, 0xFF5555FF, 0xFF55FF55, 0xFF55FFFF,
    0xFFFF5555, 0xFFFF55FF, 0xFFFFFF55, 0xFFFFFFFF,
};

std::uint16_t Word(Bytes bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

Picture DecodePcx(Bytes bytes) {
  if (bytes.size() < kHeaderSize || bytes[0] != 0x0A || bytes[2] != 1) return Picture{};
  const int version = bytes[1];
  const int bitsPerPixel = bytes[3];
  const int xMin = Word(bytes, 4), yMin = Word(bytes, 6);
  const int xMax = Word(bytes, 8), yMax = Word(bytes, 10);
  const int planes = bytes[65];
  const std::size_t bytesPerLine = Word(bytes, 66);
  if (xMax < xMin || yMax < yMin) return Picture{};
  const int width = xMax - xMin + 1;
  const int height = yMax - yMin + 1;
  if (!WithinPictureLimits(width, height)) return Picture{};

  const bool indexed8 = bitsPerPixel == 8 && planes == 1;
  const bool rgb24 = bitsPerPixel == 8 && planes == 3;
  const bool mono = bitsPerPixel == 1 && planes == 1;
  const bool ega16 = bitsPerPixel == 1 && planes == 4;
  if (!indexed8 && !rgb24 && !mono && !ega16) return Picture{};
  if (bytesPerLine < (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8) return Picture{};

  std::array<QRgb, 256> palette{};
  std::size_t dataEnd = bytes.size();
  if (indexed8) {
    if (version == 5 && bytes.size() >= kHeaderSize + kPaletteTrailer &&
        bytes[bytes.size() - kPaletteTrailer] == 0x0C) {
      dataEnd = bytes.size() - kPaletteTrailer;
      const std::size_t at = dataEnd + 1;
      for (std::size_t i = 0; i < 256; ++i) {
        palette[i] = qRgb(bytes[at + 3 * i], bytes[at + 3 * i + 1], bytes[at + 3 * i + 2]);
      }
    } else {
      for (int i = 0; i < 256; ++i) palette[i] = qRgb(i, i, i);
    }
  } else if (ega16) {
    for (std::size_t i = 0; i < 16; ++i) {
      palette[i] = version == 3 ? kEgaColours[i]
                                : qRgb(bytes[16 + 3 * i], bytes[17 + 3 * i], bytes[18 + 3 * i]);
    }
  }

  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return Picture{};
  const std::size_t lineSize = bytesPerLine * static_cast<std::size_t>(planes);
  std::vector<std::uint8_t> line(lineSize);
  std::size_t pos = kHeaderSize;

  for (int y = 0; y < height; ++y) {
    std::size_t filled = 0;
    while (filled < lineSize) {
      if (pos >= dataEnd) return Picture{};
      const std::uint8_t b = bytes[pos++];
      if ((b & 0xC0) == 0xC0) {
        if (pos >= dataEnd) return Picture{};
        const std::uint8_t value = bytes[pos++];
        const std::size_t run = std::min<std::size_t>(b & 0x3F, lineSize - filled);
        std::fill_n(line.begin() + static_cast<std::ptrdiff_t>(filled), run, value);
        filled += run;
      } else {
        line[filled++] = b;
      }
    }

    QRgb* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    const std::uint8_t* src = line.data();
    for (int x = 0; x < width; ++x) {
      if (indexed8) {
        dst[x] = palette[src[x]];
      } else if (rgb24) {
        dst[x] = qRgb(src[x], src[bytesPerLine + x], src[2 * bytesPerLine + x]);
      } else {
        const int shift = 7 - (x & 7);
        const std::size_t at = static_cast<std::size_t>(x >> 3);
        if (mono) {
          dst[x] = ((src[at] >> shift) & 1) ? 0xFFFFFFFFu : 0xFF000000u;
        } else {
          int index = 0;
          for (int p = 0; p < 4; ++p) index |= ((src[p * bytesPerLine + at] >> shift) & 1) << p;
          dst[x] = palette[static_cast<std::size_t>(index)];
        }
      }
    }
  }

  Picture picture;
  picture.frames.push_back(PictureFrame{std::move(image), std::chrono::milliseconds(0)});
  return picture;
}

}  // namespace qelvaro::platform::picture_internal
