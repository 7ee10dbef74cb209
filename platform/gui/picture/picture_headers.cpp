// The header checks that run before Qt's readers see the data: they refuse
// what is larger than the limits, what Qt would misread, and what points
// outside the data, so Qt's readers only ever allocate for pictures we accept.
#include "platform/gui/picture/picture_internal.h"

#include <algorithm>

namespace qelvaro::platform::picture_internal {

namespace {

// Little-endian readers; every caller checks the bounds first.
std::uint32_t U16(Bytes b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8);
}
std::uint32_t U32(Bytes b, std::size_t at) {
  return U16(b, at) | (U16(b, at + 2) << 16);
}
std::int32_t I32(Bytes b, std::size_t at) {
  return static_cast<std::int32_t>(U32(b, at));
}

bool Fits(Bytes b, std::uint64_t at, std::uint64_t count) {
  return at <= b.size() && count <= b.size() - at;
}

// BMP compression codes.
constexpr std::uint32_t kBmpRgb = 0;
constexpr std::uint32_t kBmpRle8 = 1;
constexpr std::uint32_t kBmpRle4 = 2;
constexpr std::uint32_t kBmpBitfields = 3;

constexpr std::size_t kBmpFileHeader = 14;

}  // namespace

std::optional<BmpLayout> CheckBmpHeader(Bytes b) {
  if (!Fits(b, 0, kBmpFileHeader + 4) || b[0] != 'B' || b[1] != 'M') return std::nullopt;
  const std::uint32_t infoSize = U32(b, 14);
  std::int64_t width = 0, height = 0;
  std::uint32_t planes = 0, bits = 0, compression = kBmpRgb, coloursUsed = 0;
  if (infoSize == 12) {  // the old core header: 16-bit signed sizes, RGB triples
    if (!Fits(b, kBmpFileHeader, 12)) return std::nullopt;
    width = static_cast<std::int16_t>(U16(b, 18));
    height = static_cast<std::int16_t>(U16(b, 20));
    planes = U16(b, 22);
    bits = U16(b, 24);
  } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 64 ||
             infoSize == 108 || infoSize == 124) {
    if (!Fits(b, kBmpFileHeader, infoSize)) return std::nullopt;
    width = I32(b, 18);
    height = I32(b, 22);
    planes = U16(b, 26);
    bits = U16(b, 28);
    compression = U32(b, 30);
    coloursUsed = U32(b, 46);
  } else {
    return std::nullopt;
  }
  const std::int64_t rows = height < 0 ? -height : height;
  if (!WithinPictureLimits(width, rows) || planes != 1) return std::nullopt;

  const bool rgbOk = compression == kBmpRgb &&
                     (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool rleOk = (compression == kBmpRle8 && bits == 8) || (compression == kBmpRle4 && bits == 4);
  const bool fieldsOk = compression == kBmpBitfields && (bits == 16 || bits == 32);
  if (!rgbOk && !rleOk && !fieldsOk) return std::nullopt;
  // Top-down pictures cannot be run-length encoded.
  if (rleOk && height < 0) return std::nullopt;

  std::uint64_t headerEnd = kBmpFileHeader + infoSize;
  if (bits <= 8) {
    const std::uint64_t colours = coloursUsed != 0 ? coloursUsed : (1u << bits);
    if (colours > (1u << bits)) return std::nullopt;
    headerEnd += colours * (infoSize == 12 ? 3 : 4);
  } else if (compression == kBmpBitfields && infoSize == 40) {
    headerEnd += 12;  // the three colour masks follow the header
  }
  if (!Fits(b, 0, headerEnd)) return std::nullopt;

  if (compression == kBmpRgb || compression == kBmpBitfields) {
    // Every pixel row must be in the data; Qt's reader would leave missing
    // rows as they came from the allocator.
    const std::uint64_t dataOffset = U32(b, 10);
    const std::uint64_t start = dataOffset > headerEnd ? dataOffset : headerEnd;
    const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
    if (!Fits(b, start, rowBytes * static_cast<std::uint64_t>(rows))) return std::nullopt;
  }

  BmpLayout layout;
  layout.size = QSize(static_cast<int>(width), static_cast<int>(rows));
  if (bits == 1) {
    layout.format = QImage::Format_Mono;
  } else if (bits <= 8) {
    layout.format = QImage::Format_Indexed8;
  } else {
    const bool alphaMask = compression == kBmpBitfields && infoSize >= 108 && U32(b, 66) != 0;
    layout.format = alphaMask ? QImage::Format_ARGB32 : QImage::Format_RGB32;
  }
  return layout;
}

std::optional<QSize> CheckGifHeader(Bytes b) {
  if (!Fits(b, 0, 13)) return std::nullopt;
  const std::uint32_t screenWidth = U16(b, 6), screenHeight = U16(b, 8);
  const std::uint8_t flags = b[10];
  std::uint64_t pos = 13;
  if (flags & 0x80) pos += 3u * (2u << (flags & 7));

  auto skipSubBlocks = [&b](std::uint64_t at) {
    while (at < b.size()) {
      const std::uint8_t n = b[at++];
      if (n == 0) break;
      at += n;
    }
    return at;
  };

  while (pos < b.size()) {
    const std::uint8_t introducer = b[pos++];
    if (introducer == 0x21) {  // extension: label, then sub-blocks
      pos = skipSubBlocks(pos + 1);
    } else if (introducer == 0x2C) {  // the first image descriptor fixes the canvas
      if (!Fits(b, pos, 9)) return std::nullopt;
      const std::int64_t width = screenWidth != 0 ? screenWidth : U16(b, pos) + U16(b, pos + 4);
      const std::int64_t height = screenHeight != 0 ? screenHeight : U16(b, pos + 2) + U16(b, pos + 6);
      if (!WithinPictureLimits(width, height)) return std::nullopt;
      return QSize(static_cast<int>(width), static_cast<int>(height));
    } else {
      break;  // the trailer, or data Qt's reader would stop at
    }
  }
  return std::nullopt;  // no image in the data
}

std::optional<QSize> CheckIconHeader(Bytes b) {
  if (!Fits(b, 0, 6) || U16(b, 0) != 0 || (U16(b, 2) != 1 && U16(b, 2) != 2)) return std::nullopt;
  const std::uint32_t count = U16(b, 4);
  if (count == 0 || !Fits(b, 6, 16ull * count)) return std::nullopt;

  // The first entry is the image shown.
  const std::uint32_t entryWidth = b[6], entryHeight = b[7];
  const std::uint32_t entryBits = U16(b, 12);
  const std::uint64_t resourceSize = U32(b, 14);
  const std::uint64_t offset = U32(b, 18);
  if (resourceSize < 40 || !Fits(b, offset, resourceSize)) return std::nullopt;

  // An image stored as PNG is not shown, as PNG files are not: the box
  // decodes icons of BMP images only.
  static constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (std::equal(kPngSignature, kPngSignature + 8, b.begin() + static_cast<std::ptrdiff_t>(offset))) {
    return std::nullopt;
  }

  // A BMP info header without the file header; its height counts the colour
  // rows and the mask rows together. Qt's reader takes the entry's size where
  // it is not 0, the header's otherwise.
  const std::size_t at = static_cast<std::size_t>(offset);
  if (U32(b, at) < 40) return std::nullopt;
  const std::uint32_t headerWidth = U32(b, at + 4), headerHeight = U32(b, at + 8);
  const std::uint32_t headerBits = U16(b, at + 14);
  const std::uint32_t coloursUsed = U32(b, at + 32);
  const std::uint32_t bits = headerBits != 0 ? headerBits : entryBits;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
  if (bits <= 8) {
    const std::uint32_t colours = coloursUsed != 0 ? coloursUsed : (1u << bits);
    // A 1-bit image needs both colours; a short palette elsewhere is fine.
    if (colours > (1u << bits) || (bits == 1 && colours != 2)) return std::nullopt;
  }
  const std::int64_t width = entryWidth != 0 ? entryWidth : headerWidth;
  const std::int64_t height = entryHeight != 0 ? entryHeight : headerHeight / 2;
  if (!WithinPictureLimits(width, height)) return std::nullopt;
  return QSize(static_cast<int>(width), static_cast<int>(height));
}

}  // namespace qelvaro::platform::picture_internal
