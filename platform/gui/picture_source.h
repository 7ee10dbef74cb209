// Where the picture box gets its frames from: bytes of an image file in,
// decoded frames out.
//
// Owns: the small interface between the picture box and a picture decoder,
// and the decoder in use. Does not own: any decoding (the picture library,
// platform/gui/picture/, is the default decoder) or the drawing and playing
// of frames (the picture box).
//
// Example (a test decoding BMP files with Qt's reader):
//   SetPictureSource([](std::span<const std::uint8_t> b) {
//     PictureFrames p;
//     QImage image;
//     if (image.loadFromData(b.data(), int(b.size()), "BMP")) p.frames.push_back({image, 0});
//     return p;
//   });
#pragma once

#include <QImage>

#include <cstdint>
#include <span>
#include <vector>

namespace qelvaro::gui {

struct PictureFrame {
  QImage image;       // every frame has the picture's natural size
  int delayMs = 0;    // how long it stays before the next one; 0 for a still
};

struct PictureFrames {
  std::vector<PictureFrame> frames;  // empty: no picture
  int loopCount = 0;                 // repeats after the first play; -1 for ever
};

// Decodes any bytes; whatever cannot be decoded gives no frames.
using PictureSource = PictureFrames (*)(std::span<const std::uint8_t> bytes);

// Installs a decoder; null restores the default (the picture library).
// Returns the previous one.
PictureSource SetPictureSource(PictureSource source);

// Decodes with the decoder in use.
PictureFrames DecodePictureFrames(std::span<const std::uint8_t> bytes);

}  // namespace qelvaro::gui
