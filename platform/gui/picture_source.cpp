// The decoder the picture box uses.
#include "platform/gui/picture_source.h"

#include <atomic>

#include "platform/gui/picture/picture.h"

namespace qelvaro::gui {

namespace {

PictureFrames DefaultSource(std::span<const std::uint8_t> bytes) {
  const platform::Picture picture = platform::DecodePicture(bytes);
  PictureFrames out;
  out.loopCount = picture.loopCount;
  out.frames.reserve(picture.frames.size());
  for (const platform::PictureFrame& frame : picture.frames) {
    out.frames.push_back({frame.image, static_cast<int>(frame.delay.count())});
  }
  return out;
}

std::atomic<PictureSource> g_source{nullptr};

}  // namespace

PictureSource SetPictureSource(PictureSource source) { return g_source.exchange(source); }

PictureFrames DecodePictureFrames(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  PictureSource source = g_source.load();
  return (source != nullptr ? source : DefaultSource)(bytes);
}

}  // namespace qelvaro::gui
