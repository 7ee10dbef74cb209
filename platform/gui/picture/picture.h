// The picture decoding of the GUI run time's picture box: which image formats
// the box recognises, decoding their bytes into frames, and where an animated
// picture stands at a given time.
//
// Owns: recognising a format by the first six bytes of the data, decoding it
// (JPEG through libjpeg; GIF, BMP, icon and cursor files through Qt's image
// readers after our own header checks; PCX by our own decoder), the size
// limits every decoder enforces before it allocates, the playback timing of
// animated GIFs, and drawing one frame the way the box shows it. Does not
// own: any widget, timer or event (the picture box control of the GUI run time
// does that), nor fetching the bytes.
//
// Every routine takes any bytes. A format that is not recognised, data that
// fail to decode, a picture larger than the limits below: all give the empty
// Picture, and nothing is reported or written anywhere: libjpeg's messages
// are swallowed, and while one of Qt's readers runs, Qt's message handler is
// replaced by one that discards (the one installed before is put back).
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qelvaro::platform {

// The formats the picture box recognises.
enum class PictureFormat {
  kNone,    // not recognised: no picture
  kJpeg,    // FF D8
  kBmp,     // "BM"
  kGif,     // "GIF87a" or "GIF89a"
  kIcon,    // 16-bit little-endian words 0, 1, count != 0
  kCursor,  // 16-bit little-endian words 0, 2, count != 0
  kPcx,     // 0A, version <= 5, encoding 1, 8 bits per pixel;
            // or 0A, version 3, encoding 1, 1 bit per pixel
};

// Recognises the format from the first six bytes alone; fewer than six bytes
// are never recognised. PNG, HTML and everything else give kNone.
//
//   SniffPicture(bytes of "GIF89a...")  // kGif
//   SniffPicture(bytes of "GIF88a...")  // kNone
//   SniffPicture({0xFF, 0xD8, 0xFF})    // kNone: only three bytes
PictureFormat SniffPicture(std::span<const std::uint8_t> bytes);

// Limits on what a decoder accepts. A header that declares more is refused
// before any pixel memory is allocated.
inline constexpr int kMaxPictureSide = 8192;                      // pixels, each side
inline constexpr std::int64_t kMaxPicturePixels = 16 * 1024 * 1024;  // width * height
// An animation keeps one full picture per frame: at most this many frames, and
// at most this many pixels over all frames together. Frames past either limit
// are dropped; the animation plays the frames before them.
inline constexpr int kMaxAnimationFrames = 1000;
inline constexpr std::int64_t kMaxAnimationPixels = 64 * 1024 * 1024;

struct PictureFrame {
  // Format_ARGB32 when the picture has transparency, else Format_RGB32; every
  // frame of a picture has the picture's natural size.
  QImage image;
  // How long the frame stays before the next one: 0 for a still picture. GIF
  // frames that ask for 10 ms or less get 100 ms, as browsers do, so a
  // careless animation cannot busy the GUI thread.
  std::chrono::milliseconds delay{0};
};

struct Picture {
  std::vector<PictureFrame> frames;  // empty: no picture
  // How many times an animation repeats after playing once; -1 for ever.
  int loopCount = 0;

  bool empty() const { return frames.empty(); }
  bool animated() const { return frames.size() > 1; }
  // The natural size, the empty size without a picture.
  QSize size() const { return frames.empty() ? QSize() : frames.front().image.size(); }
};

// Decodes the bytes of an image file in the format SniffPicture recognises.
// Empty bytes, an unknown format or a failed decode give the empty Picture.
//
// Partial data: a JPEG whose data end after the start of the image data gives
// the picture with the missing rest filled the way libjpeg fills it (grey for
// a baseline JPEG); a JPEG that ends before that gives no picture. An
// uncompressed BMP must hold all its pixel rows, else no picture; in a
// run-length BMP, pixels the data never reach (early end, skips) have palette
// index 0. A GIF gives the frames complete before the data ended, the last one
// as far as it got. Icon and cursor files that end early, and PCX files whose
// scan lines end early, give no picture; an 8-bit PCX without its palette at
// the end is shown in grey levels.
//
// Icon and cursor files show their first image; one stored as PNG inside the
// file gives no picture, as PNG files do.
Picture DecodePicture(std::span<const std::uint8_t> bytes);

// Where playback stands after `elapsed` time since the picture was set.
struct PicturePlayback {
  std::size_t frame = 0;  // the frame to show
  // Time until the next frame is due; nullopt when the picture no longer
  // changes (a still picture, or an animation that has played all its loops
  // and stays on its last frame).
  std::optional<std::chrono::milliseconds> untilNext;
};

// The frame to show after `elapsed` (negative counts as 0). An animation plays
// 1 + loopCount times, for ever when loopCount is -1, and then stays on its
// last frame. The empty picture gives frame 0 and no next frame.
//
//   Picture gif with delays 100, 200 ms and loopCount 0:
//   PictureFrameAt(gif, 0ms)    // {0, 100ms}
//   PictureFrameAt(gif, 150ms)  // {1, 150ms}
//   PictureFrameAt(gif, 300ms)  // {1, nullopt}
PicturePlayback PictureFrameAt(const Picture& picture, std::chrono::milliseconds elapsed);

// Draws frame `frame` as the picture box shows it: a `box`-sized image
// (Format_ARGB32_Premultiplied, ready to be drawn on a widget) filled
// with `background`, the frame drawn over it at its natural size from the
// top-left corner and cut off at the edges. Without a picture, or with a frame
// index past the last frame, the result is the background alone. An empty or
// negative box gives the null QImage.
QImage RenderPictureFrame(const Picture& picture, std::size_t frame, QSize box,
                          const QColor& background);

}  // namespace qelvaro::platform
