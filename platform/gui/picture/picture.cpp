// Format recognition, the decoder dispatch, playback timing and drawing.
#include "platform/gui/picture/picture.h"

#include "platform/gui/picture/picture_internal.h"

#include <QPainter>
#include <QPoint>

#include <algorithm>

namespace qelvaro::platform {

namespace picture_internal {

bool WithinPictureLimits(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

std::chrono::milliseconds PlayableDelay(int delayMs) {
  return std::chrono::milliseconds(delayMs <= 10 ? 100 : delayMs);
}

QImage ToFrameFormat(const QImage& image) {
  if (image.isNull()) return QImage();
  const QImage::Format wanted =
      image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
  if (image.format() == wanted) return image;
  return image.convertToFormat(wanted);
}

}  // namespace picture_internal

namespace {

std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

PictureFormat SniffPicture(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 6) return PictureFormat::kNone;
  const auto b = bytes.first(6);
  if (b[0] == 0xFF && b[1] == 0xD8) return PictureFormat::kJpeg;
  if (b[0] == 'B' && b[1] == 'M') return PictureFormat::kBmp;
  if (b[0] == 'G' && b[1] == 'I' && b[2] == 'F' && b[3] == '8' && (b[4] == '7' || b[4] == '9') &&
      b[5] == 'a') {
    return PictureFormat::kGif;
  }
  if (Word(b, 0) == 0 && Word(b, 4) != 0) {
    if (Word(b, 2) == 1) return PictureFormat::kIcon;
    if (Word(b, 2) == 2) return PictureFormat::kCursor;
  }
  if (b[0] == 0x0A && b[2] == 1 && ((b[1] <= 5 && b[3] == 8) || (b[1] == 3 && b[3] == 1))) {
    return PictureFormat::kPcx;
  }
  return PictureFormat::kNone;
}

Picture DecodePicture(std::span<const std::uint8_t> bytes) {
  using namespace picture_internal;
  switch (SniffPicture(bytes)) {
    case PictureFormat::kJpeg:
      return DecodeJpeg(bytes);
    case PictureFormat::kBmp:
      return DecodeBmp(bytes);
    case PictureFormat::kGif:
      return DecodeGif(bytes);
    case PictureFormat::kIcon:
      return DecodeIcon(bytes, PictureFormat::kIcon);
    case PictureFormat::kCursor:
      return DecodeIcon(bytes, PictureFormat::kCursor);
    case PictureFormat::kPcx:
      return DecodePcx(bytes);
    case PictureFormat::kNone:
      break;
  }
  return Picture{};
}

PicturePlayback PictureFrameAt(const Picture& picture, std::chrono::milliseconds elapsed) {
  using std::chrono::milliseconds;
  if (picture.frames.size() < 2) return {0, std::nullopt};

  std::int64_t cycle = 0;
  for (const PictureFrame& f : picture.frames) cycle += std::max<std::int64_t>(f.delay.count(), 0);
  const std::size_t last = picture.frames.size() - 1;
  if (cycle == 0) return {last, std::nullopt};

  const std::int64_t t = std::max<std::int64_t>(elapsed.count(), 0);
  if (picture.loopCount >= 0) {
    const std::int64_t runs = 1 + static_cast<std::int64_t>(picture.loopCount);
    if (t >= cycle * runs) return {last, std::nullopt};
  }
  std::int64_t pos = t % cycle;
  for (std::size_t i = 0; i < picture.frames.size(); ++i) {
    const std::int64_t d = std::max<std::int64_t>(picture.frames[i].delay.count(), 0);
    if (pos < d) return {i, milliseconds(d - pos)};
    pos -= d;
  }
  return {last, std::nullopt};  // not reached: pos < cycle
}

QImage RenderPictureFrame(const Picture& picture, std::size_t frame, QSize box,
                          const QColor& background) {
  if (box.width() <= 0 || box.height() <= 0) return QImage();
  QImage out(box, QImage::Format_ARGB32_Premultiplied);
  if (out.isNull()) return QImage();
  out.fill(background);
  if (frame < picture.frames.size() && !picture.frames[frame].image.isNull()) {
    QPainter painter(&out);
    painter.drawImage(QPoint(0, 0), picture.frames[frame].image);
  }
  return out;
}

}  // namespace qelvaro::platform
