// The common body of the picture fuzz targets: the input, with its first six
// bytes adjusted so that it is recognised as the target's format, goes through
// DecodePicture, and whatever comes out is checked and drawn.
#pragma once

#include "platform/gui/picture/picture.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace qelvaro::fuzz {

// `makeFormat` rewrites the first six bytes (the input has at least six).
template <typename MakeFormat>
int RunPictureInput(const std::uint8_t* data, std::size_t size, platform::PictureFormat format,
                    MakeFormat makeFormat) {
  using namespace platform;
  std::vector<std::uint8_t> bytes(data, data + size);
  if (bytes.size() >= 6) {
    makeFormat(bytes);
    if (SniffPicture(bytes) != format) std::abort();
  }
  const Picture picture = DecodePicture(bytes);
  if (picture.empty()) return 0;

  const QSize size0 = picture.size();
  if (size0.width() < 1 || size0.height() < 1 || size0.width() > kMaxPictureSide ||
      size0.height() > kMaxPictureSide ||
      static_cast<std::int64_t>(size0.width()) * size0.height() > kMaxPicturePixels ||
      picture.frames.size() > static_cast<std::size_t>(kMaxAnimationFrames)) {
    std::abort();
  }
  for (const PictureFrame& frame : picture.frames) {
    const QImage::Format f = frame.image.format();
    if (frame.image.size() != size0 || (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32)) {
      std::abort();
    }
  }
  const PicturePlayback at = PictureFrameAt(picture, std::chrono::milliseconds(12345));
  const QImage shown = RenderPictureFrame(picture, at.frame, QSize(64, 48), QColor(240, 240, 240));
  if (shown.size() != QSize(64, 48)) std::abort();
  return 0;
}

}  // namespace qelvaro::fuzz
