// BMP, GIF, icon and cursor files through Qt's image readers, each with its
// format forced and only after our own header check has accepted the data.
#include "platform/gui/picture/picture_internal.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QString>
#include <QtGlobal>

#include <algorithm>

namespace qelvaro::platform::picture_internal {

namespace {

void DiscardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// Qt's readers write their complaints about damaged data (libpng's among
// them) through Qt's message handler; while one of ours runs they go nowhere,
// and the handler that was installed before is put back afterwards.
class QuietQtMessages {
 public:
  QuietQtMessages() : previous_(qInstallMessageHandler(DiscardMessage)) {}
  ~QuietQtMessages() { qInstallMessageHandler(previous_); }
  QuietQtMessages(const QuietQtMessages&) = delete;
  QuietQtMessages& operator=(const QuietQtMessages&) = delete;

 private:
  QtMessageHandler previous_;
};

// A reader over the caller's bytes, without copying them, with Qt's messages
// silenced for its whole life.
class BytesReader {
 public:
  BytesReader(Bytes bytes, const char* format)
      : data_(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                      static_cast<qsizetype>(bytes.size()))),
        buffer_(&data_) {
    buffer_.open(QIODevice::ReadOnly);
    reader_.setDevice(&buffer_);
    reader_.setFormat(format);
    reader_.setDecideFormatFromContent(false);
    reader_.setAutoTransform(false);
  }
  BytesReader(const BytesReader&) = delete;
  BytesReader& operator=(const BytesReader&) = delete;

  QImageReader& reader() { return reader_; }

 private:
  QuietQtMessages quiet_;  // first in, last out
  QByteArray data_;
  QBuffer buffer_;
  QImageReader reader_;
};

Picture StillPicture(const QImage& image) {
  if (image.isNull() || !WithinPictureLimits(image.width(), image.height())) return Picture{};
  Picture picture;
  picture.frames.push_back(PictureFrame{ToFrameFormat(image), std::chrono::milliseconds(0)});
  return picture;
}

}  // namespace

Picture DecodeBmp(Bytes bytes) {
  const std::optional<BmpLayout> layout = CheckBmpHeader(bytes);
  if (!layout) return Picture{};
  // Qt's reader decodes into a picture of the size and format it wants when it
  // is handed one; a zeroed one leaves nothing of the allocator's where
  // run-length data skip pixels or end early.
  QImage image(layout->size, layout->format);
  if (image.isNull()) return Picture{};
  image.fill(0);
  BytesReader source(bytes, "bmp");
  if (!source.reader().read(&image)) return Picture{};
  return StillPicture(image);
}

Picture DecodeGif(Bytes bytes) {
  const std::optional<QSize> canvas = CheckGifHeader(bytes);
  if (!canvas) return Picture{};
  const std::int64_t framePixels = static_cast<std::int64_t>(canvas->width()) * canvas->height();
  const std::int64_t maxFrames =
      std::min<std::int64_t>(kMaxAnimationFrames, kMaxAnimationPixels / framePixels);

  BytesReader source(bytes, "gif");
  QImageReader& reader = source.reader();
  Picture picture;
  picture.loopCount = std::max(reader.loopCount(), -1);
  while (static_cast<std::int64_t>(picture.frames.size()) < maxFrames) {
    QImage frame;
    if (!reader.read(&frame) || frame.size() != *canvas) break;
    picture.frames.push_back(
        PictureFrame{ToFrameFormat(frame), PlayableDelay(reader.nextImageDelay())});
  }
  if (picture.frames.size() <= 1) {
    picture.loopCount = 0;
    if (!picture.frames.empty()) picture.frames.front().delay = std::chrono::milliseconds(0);
  }
  return picture;
}

Picture DecodeIcon(Bytes bytes, PictureFormat format) {
  if (!CheckIconHeader(bytes)) return Picture{};
  BytesReader source(bytes, format == PictureFormat::kCursor ? "cur" : "ico");
  QImage image;
  if (!source.reader().read(&image)) return Picture{};
  return StillPicture(image);
}

}  // namespace qelvaro::platform::picture_internal
