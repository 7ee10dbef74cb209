#include "platform/gui/picture/picture.h"

#include "platform/gui/picture/picture_internal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QRgb>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qelvaro::platform {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Fixture(const std::string& name) {
  std::ifstream in(std::string(QELVARO_PICTURE_TESTDATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Of(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void Put16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A 24-bit BMP; `rows` of pixel data are included only when `withPixels`.
Bytes Bmp24(std::int32_t width, std::int32_t height, bool withPixels, QRgb colour = 0) {
  const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(width) * 24 + 31) / 32) * 4;
  const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -std::int64_t{height} : height);
  Bytes b(54, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(width));
  Put32(b, 22, static_cast<std::uint32_t>(height));
  Put16(b, 26, 1);
  Put16(b, 28, 24);
  if (withPixels) {
    for (std::uint64_t y = 0; y < rows; ++y) {
      for (std::uint64_t x = 0; x < rowBytes; ++x) {
        const std::uint64_t c = x % 3;
        b.push_back(x >= static_cast<std::uint64_t>(width) * 3 ? 0
                    : c == 0                                   ? qBlue(colour)
                    : c == 1                                   ? qGreen(colour)
                                                               : qRed(colour));
      }
    }
  }
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  return b;
}

// An uncompressed 8-bit PCX with the palette trailer: colour i is (i, 0, 255 - i).
Bytes Pcx8(int width, int height, const Bytes& data) {
  Bytes b(128, 0);
  b[0] = 0x0A;
  b[1] = 5;
  b[2] = 1;
  b[3] = 8;
  Put16(b, 8, static_cast<unsigned>(width - 1));
  Put16(b, 10, static_cast<unsigned>(height - 1));
  b[65] = 1;
  Put16(b, 66, static_cast<unsigned>(width + (width & 1)));
  b.reserve(b.size() + data.size() + 1 + 768);
  b.insert(b.end(), data.begin(), data.end());
  b.push_back(0x0C);
  for (int i = 0; i < 256; ++i) {
    b.push_back(static_cast<std::uint8_t>(i));
    b.push_back(0);
    b.push_back(static_cast<std::uint8_t>(255 - i));
  }
  return b;
}

MATCHER_P2(IsNearColour, expected, tolerance, "") {
  const QRgb a = arg;
  return std::abs(qRed(a) - qRed(expected)) <= tolerance &&
         std::abs(qGreen(a) - qGreen(expected)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(expected)) <= tolerance &&
         std::abs(qAlpha(a) - qAlpha(expected)) <= tolerance;
}

QRgb PixelOf(const Picture& p, int x, int y, std::size_t frame = 0) {
  return p.frames.at(frame).image.pixel(x, y);
}

// ---- recognition ---------------------------------------------------------

struct SniffCase {
  const char* name;
  Bytes bytes;
  PictureFormat expected;
};

TEST(SniffPictureTest, RecognisesByTheFirstSixBytes) {
  const SniffCase cases[] = {
      {"jpeg", Of({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10}), PictureFormat::kJpeg},
      {"bmp", Of({'B', 'M', 0x36, 0, 0, 0}), PictureFormat::kBmp},
      {"gif87a", Text("GIF87a"), PictureFormat::kGif},
      {"gif89a", Text("GIF89a\x01"), PictureFormat::kGif},
      {"icon", Of({0, 0, 1, 0, 1, 0}), PictureFormat::kIcon},
      {"cursor", Of({0, 0, 2, 0, 3, 0}), PictureFormat::kCursor},
      {"icon count above 255", Of({0, 0, 1, 0, 0, 1}), PictureFormat::kIcon},
      {"pcx 8 bit version 5", Of({0x0A, 5, 1, 8, 0, 0}), PictureFormat::kPcx},
      {"pcx 8 bit version 0", Of({0x0A, 0, 1, 8, 0, 0}), PictureFormat::kPcx},
      {"pcx 1 bit version 3", Of({0x0A, 3, 1, 1, 0, 0}), PictureFormat::kPcx},
      // Near misses.
      {"gif88a", Text("GIF88a"), PictureFormat::kNone},
      {"gif lower case", Text("gif89a"), PictureFormat::kNone},
      {"gif89b", Text("GIF89b"), PictureFormat::kNone},
      {"icon count 0", Of({0, 0, 1, 0, 0, 0}), PictureFormat::kNone},
      {"icon type 3", Of({0, 0, 3, 0, 1, 0}), PictureFormat::kNone},
      {"icon reserved 1", Of({1, 0, 1, 0, 1, 0}), PictureFormat::kNone},
      {"pcx version 6", Of({0x0A, 6, 1, 8, 0, 0}), PictureFormat::kNone},
      {"pcx 1 bit version 5", Of({0x0A, 5, 1, 1, 0, 0}), PictureFormat::kNone},
      {"pcx 4 bits", Of({0x0A, 5, 1, 4, 0, 0}), PictureFormat::kNone},
      {"pcx not encoded", Of({0x0A, 5, 0, 8, 0, 0}), PictureFormat::kNone},
      {"five bytes of jpeg", Of({0xFF, 0xD8, 0xFF, 0xE0, 0}), PictureFormat::kNone},
      {"five bytes of bmp", Of({'B', 'M', 0, 0, 0}), PictureFormat::kNone},
      {"empty", Bytes{}, PictureFormat::kNone},
      {"png", Of({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), PictureFormat::kNone},
      {"html", Text("<!DOCTYPE html><html>"), PictureFormat::kNone},
      {"jpeg marker second", Of({0x00, 0xFF, 0xD8, 0xFF, 0xE0, 0}), PictureFormat::kNone},
  };
  for (const SniffCase& c : cases) {
    EXPECT_EQ(SniffPicture(c.bytes), c.expected) << c.name;
  }
}

// ---- decoding the fixtures -----------------------------------------------

struct PixelCheck {
  int x, y;
  QRgb colour;
};

struct FixtureCase {
  const char* file;
  QSize size;
  int tolerance;  // per channel; JPEG is lossy
  std::vector<PixelCheck> pixels;
};

TEST(DecodePictureTest, DecodesEachFixtureToItsSizeAndColours) {
  const QRgb yellow = qRgb(255, 255, 0);
  const FixtureCase cases[] = {
      {"photo.jpg", {48, 32}, 16, {{8, 16, qRgb(255, 0, 0)}, {40, 16, qRgb(0, 0, 255)}}},
      {"gray.jpg", {24, 16}, 3, {{5, 5, qRgb(200, 200, 200)}}},
      {"cmyk.jpg", {16, 16}, 8, {{8, 8, qRgb(0, 255, 255)}}},
      {"progressive.jpg", {32, 32}, 16, {{16, 16, qRgb(0, 255, 8)}}},
      {"still.gif",
       {13, 7},
       0,
       {{2, 0, qRgb(255, 0, 0)}, {10, 0, qRgb(0, 255, 0)}, {3, 3, qRgb(255, 255, 255)}}},
      {"rgb24.bmp", {13, 5}, 0, {{0, 0, qRgb(0, 0, 128)}, {12, 4, qRgb(228, 200, 128)}}},
      {"pal8.bmp", {13, 5}, 0, {{5, 2, qRgb(248, 7, 64)}, {0, 0, qRgb(0, 255, 64)}}},
      // Rows 0 and 1 and the end of row 2 are never written by the run-length
      // data: they keep index 0 (yellow).
      {"rle8.bmp",
       {8, 4},
       0,
       {{0, 3, qRgb(255, 0, 0)}, {4, 2, qRgb(0, 0, 255)}, {7, 2, yellow}, {0, 0, yellow}}},
      {"icon.ico", {16, 16}, 0, {{2, 2, qRgba(255, 0, 0, 255)}, {12, 2, qRgba(0, 0, 0, 0)}}},
      {"cursor.cur", {16, 16}, 0, {{5, 5, qRgb(0, 0, 255)}}},
      {"pal8.pcx", {13, 6}, 0, {{2, 1, qRgb(5, 250, 2)}, {9, 2, qRgb(203, 52, 101)}}},
      {"rgb24.pcx", {9, 4}, 0, {{8, 3, qRgb(224, 180, 200)}, {0, 0, qRgb(0, 0, 200)}}},
      {"mono.pcx",
       {20, 5},
       0,
       {{0, 0, qRgb(255, 255, 255)}, {4, 0, qRgb(0, 0, 0)}, {4, 1, qRgb(255, 255, 255)}}},
      {"ega16.pcx", {16, 3}, 0, {{1, 0, qRgb(0, 0, 0xAA)}, {14, 2, qRgb(0xFF, 0xFF, 0x55)}}},
  };
  for (const FixtureCase& c : cases) {
    SCOPED_TRACE(c.file);
    const Picture p = DecodePicture(Fixture(c.file));
    ASSERT_EQ(p.frames.size(), 1u);
    EXPECT_EQ(p.size(), c.size);
    EXPECT_FALSE(p.animated());
    EXPECT_EQ(p.frames[0].delay, 0ms);
    const QImage::Format format = p.frames[0].image.format();
    EXPECT_TRUE(format == QImage::Format_RGB32 || format == QImage::Format_ARGB32) << format;
    for (const PixelCheck& px : c.pixels) {
      EXPECT_THAT(PixelOf(p, px.x, px.y), IsNearColour(px.colour, c.tolerance))
          << "at " << px.x << "," << px.y << ": " << std::hex << PixelOf(p, px.x, px.y);
    }
  }
}

TEST(DecodePictureTest, PlaysTheFramesOfAnAnimatedGif) {
  const Picture p = DecodePicture(Fixture("anim.gif"));
  ASSERT_EQ(p.frames.size(), 3u);
  EXPECT_TRUE(p.animated());
  EXPECT_EQ(p.loopCount, -1);  // the loop extension says 0: for ever
  EXPECT_EQ(p.frames[0].delay, 100ms);
  EXPECT_EQ(p.frames[1].delay, 200ms);
  EXPECT_EQ(p.frames[2].delay, 300ms);
  for (const PictureFrame& f : p.frames) EXPECT_EQ(f.image.size(), QSize(8, 8));
  EXPECT_EQ(PixelOf(p, 0, 0, 0), qRgb(255, 0, 0));
  // The second frame is a 4 x 4 square drawn over the first.
  EXPECT_EQ(PixelOf(p, 3, 3, 1), qRgb(0, 255, 0));
  EXPECT_EQ(PixelOf(p, 0, 0, 1), qRgb(255, 0, 0));
  EXPECT_EQ(PixelOf(p, 7, 7, 2), qRgb(0, 0, 255));
}

TEST(DecodePictureTest, StillGifHasNoTiming) {
  const Picture p = DecodePicture(Fixture("still.gif"));
  ASSERT_EQ(p.frames.size(), 1u);
  EXPECT_EQ(p.loopCount, 0);
  EXPECT_EQ(PictureFrameAt(p, 5s).untilNext, std::nullopt);
}

TEST(DecodePictureTest, GivesNoPictureForOtherData) {
  EXPECT_TRUE(DecodePicture({}).empty());
  EXPECT_TRUE(DecodePicture(Fixture("image.png")).empty());
  EXPECT_TRUE(DecodePicture(Fixture("png-entry.ico")).empty());  // an icon holding a PNG
  EXPECT_TRUE(DecodePicture(Text("<html><body>Not found</body></html>")).empty());
  EXPECT_TRUE(DecodePicture(Text("GIF89a")).empty());
  EXPECT_TRUE(DecodePicture(Of({0xFF, 0xD8, 0xFF, 0xD9, 0, 0})).empty());
}

std::vector<std::string> g_messages;
void RecordMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
  g_messages.push_back(text.toStdString());
}

TEST(DecodePictureTest, WritesNoMessagesAndKeepsTheApplicationsHandler) {
  g_messages.clear();
  const QtMessageHandler before = qInstallMessageHandler(RecordMessage);
  testing::internal::CaptureStderr();
  Bytes bmp = Fixture("rle8.bmp");
  Put32(bmp, 10, 1u << 30);  // pixel data far past the end: Qt's reader complains
  DecodePicture(bmp);
  Bytes jpeg = Fixture("photo.jpg");
  jpeg.resize(jpeg.size() - 100);  // libjpeg warns of the early end
  DecodePicture(jpeg);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(g_messages.empty());
  qWarning("after");
  qInstallMessageHandler(before);
  EXPECT_THAT(g_messages, testing::ElementsAre("after"));
}

// ---- limits ----------------------------------------------------------------

TEST(PictureLimitsTest, HugeBmpIsRefusedByItsHeader) {
  const Bytes huge = Bmp24(100000, 100000, false);
  EXPECT_EQ(picture_internal::CheckBmpHeader(huge), std::nullopt);
  EXPECT_TRUE(DecodePicture(huge).empty());
  // Each side within the limit, the area above it.
  EXPECT_EQ(picture_internal::CheckBmpHeader(Bmp24(4097, 4097, false)), std::nullopt);
  // A top-down picture counts its rows the same way.
  EXPECT_EQ(picture_internal::CheckBmpHeader(Bmp24(100, -100000, false)), std::nullopt);
  EXPECT_EQ(picture_internal::CheckBmpHeader(Bmp24(100, INT32_MIN, false)), std::nullopt);
}

TEST(PictureLimitsTest, WideBmpStopsAtTheLimitThatQtWouldNotEnforce) {
  const QRgb colour = qRgb(10, 20, 30);
  const Picture widest = DecodePicture(Bmp24(kMaxPictureSide, 1, true, colour));
  ASSERT_EQ(widest.size(), QSize(kMaxPictureSide, 1));
  EXPECT_EQ(PixelOf(widest, kMaxPictureSide - 1, 0), colour);
  EXPECT_TRUE(DecodePicture(Bmp24(kMaxPictureSide + 1, 1, true, colour)).empty());
}

Bytes WithJpegSize(Bytes jpeg, int width, int height) {
  for (std::size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // baseline frame header
      jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<std::uint8_t>(height & 0xFF);
      jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<std::uint8_t>(width & 0xFF);
      return jpeg;
    }
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

TEST(PictureLimitsTest, JpegSizeIsCheckedBeforeDecoding) {
  const Bytes photo = Fixture("photo.jpg");
  // The data are too short for the declared size; libjpeg fills the rest.
  EXPECT_EQ(DecodePicture(WithJpegSize(photo, kMaxPictureSide, 32)).size(),
            QSize(kMaxPictureSide, 32));
  EXPECT_TRUE(DecodePicture(WithJpegSize(photo, kMaxPictureSide + 1, 32)).empty());
  EXPECT_TRUE(DecodePicture(WithJpegSize(photo, 65535, 65535)).empty());
  EXPECT_TRUE(DecodePicture(WithJpegSize(photo, 4097, 4097)).empty());
}

TEST(PictureLimitsTest, GifCanvasIsCheckedBeforeDecoding) {
  Bytes gif = Fixture("still.gif");
  Put16(gif, 6, kMaxPictureSide + 1);
  EXPECT_EQ(picture_internal::CheckGifHeader(gif), std::nullopt);
  EXPECT_TRUE(DecodePicture(gif).empty());

  // A screen of 0 x 0 takes the first frame's extent.
  Bytes zero = Fixture("still.gif");
  Put16(zero, 6, 0);
  Put16(zero, 8, 0);
  EXPECT_EQ(picture_internal::CheckGifHeader(zero), QSize(13, 7));
  const std::size_t descriptor = 13 + 4 * 3 + 8;  // after the colour table and the control block
  ASSERT_EQ(zero[descriptor], 0x2C);
  Put16(zero, descriptor + 1, 60000);  // left
  EXPECT_EQ(picture_internal::CheckGifHeader(zero), std::nullopt);
  EXPECT_TRUE(DecodePicture(zero).empty());
}

TEST(PictureLimitsTest, IconEntriesAreChecked) {
  const Bytes icon = Fixture("icon.ico");
  ASSERT_TRUE(picture_internal::CheckIconHeader(icon).has_value());

  Bytes wide = icon;  // entry width 0 defers to the header's width
  wide[6] = 0;
  Put32(wide, 22 + 4, 100000);
  EXPECT_EQ(picture_internal::CheckIconHeader(wide), std::nullopt);

  Bytes outside = icon;  // the image starts past the end of the file
  Put32(outside, 18, static_cast<std::uint32_t>(icon.size()));
  EXPECT_EQ(picture_internal::CheckIconHeader(outside), std::nullopt);
  EXPECT_TRUE(DecodePicture(outside).empty());

  Bytes longer = icon;  // the image runs past the end of the file
  Put32(longer, 14, static_cast<std::uint32_t>(icon.size()));
  EXPECT_TRUE(DecodePicture(longer).empty());

  Bytes directory = icon;  // more entries than the file holds
  Put16(directory, 4, 1000);
  EXPECT_TRUE(DecodePicture(directory).empty());

  Bytes bits = icon;  // a bit depth Qt's reader does not decode
  Put16(bits, 22 + 14, 2);
  EXPECT_TRUE(DecodePicture(bits).empty());
}

TEST(PictureLimitsTest, PcxSizeIsChecked) {
  // Each line 8192 literal bytes of index 1 would decode; one more is refused.
  Bytes line(kMaxPictureSide, 1);
  EXPECT_EQ(DecodePicture(Pcx8(kMaxPictureSide, 1, line)).size(), QSize(kMaxPictureSide, 1));
  line.resize(kMaxPictureSide + 2, 1);  // 8193 wide, lines padded to even
  EXPECT_TRUE(DecodePicture(Pcx8(kMaxPictureSide + 1, 1, line)).empty());

  Bytes huge = Pcx8(2, 1, Of({1, 1}));
  Put16(huge, 8, 4096);   // x max: 4097 wide
  Put16(huge, 10, 4096);  // y max: 4097 high
  EXPECT_TRUE(DecodePicture(huge).empty());
  Bytes inverted = Pcx8(2, 1, Of({1, 1}));
  Put16(inverted, 4, 5);  // x min past x max
  EXPECT_TRUE(DecodePicture(inverted).empty());
}

// ---- damaged data ------------------------------------------------------------

TEST(DamagedPictureTest, TruncatedJpegKeepsThePictureOnceTheImageDataStarted) {
  const Bytes photo = Fixture("photo.jpg");
  std::size_t sos = 0;
  for (std::size_t i = 0; i + 1 < photo.size(); ++i) {
    if (photo[i] == 0xFF && photo[i + 1] == 0xDA) {
      sos = i;
      break;
    }
  }
  ASSERT_GT(sos, 0u);
  const std::size_t dataStart = sos + 2 + (photo[sos + 2] << 8 | photo[sos + 3]);
  EXPECT_TRUE(DecodePicture(Bytes(photo.begin(), photo.begin() + sos)).empty());
  const Picture partial =
      DecodePicture(Bytes(photo.begin(), photo.begin() + static_cast<long>(dataStart) + 8));
  EXPECT_EQ(partial.size(), QSize(48, 32));
}

TEST(DamagedPictureTest, TruncatedGifKeepsTheFramesItHas) {
  const Bytes anim = Fixture("anim.gif");
  // Cut inside the third frame's image data: the first two frames are whole,
  // the third is as far as it got.
  const Picture p = DecodePicture(Bytes(anim.begin(), anim.end() - 4));
  ASSERT_EQ(p.frames.size(), 3u);
  EXPECT_EQ(PixelOf(p, 3, 3, 1), qRgb(0, 255, 0));
}

TEST(DamagedPictureTest, TruncatedBmpIconAndPcxGiveNoPicture) {
  for (const char* file :
       {"rgb24.bmp", "pal8.bmp", "icon.ico", "cursor.cur", "rgb24.pcx", "mono.pcx", "ega16.pcx"}) {
    const Bytes whole = Fixture(file);
    EXPECT_TRUE(DecodePicture(Bytes(whole.begin(), whole.end() - 1)).empty()) << file;
  }
  // Cut inside the scan lines (the palette, which follows them, is lost too).
  const Bytes pcx = Fixture("pal8.pcx");
  EXPECT_TRUE(DecodePicture(Bytes(pcx.begin(), pcx.begin() + 160)).empty());
}

TEST(DamagedPictureTest, RunLengthBmpThatEndsEarlyLeavesTheRestAtIndexZero) {
  const Bytes rle = Fixture("rle8.bmp");
  // Without its end-of-bitmap code, and then without the last row's data too.
  for (std::size_t cut : {2u, 10u}) {
    const Picture p = DecodePicture(Bytes(rle.begin(), rle.end() - static_cast<long>(cut)));
    ASSERT_EQ(p.size(), QSize(8, 4)) << cut;
    EXPECT_EQ(PixelOf(p, 0, 3), qRgb(255, 0, 0));
    EXPECT_EQ(PixelOf(p, 0, 0), qRgb(255, 255, 0));
  }
}

TEST(DamagedPictureTest, PcxRunPastTheLineIsCutAtTheLineEnd) {
  // Line 0: a run of six 7s into a 4-byte line; line 1: literals 1 2 3 4.
  const Picture p = DecodePicture(Pcx8(4, 2, Of({0xC6, 7, 1, 2, 3, 4})));
  ASSERT_EQ(p.size(), QSize(4, 2));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelOf(p, x, 0), qRgb(7, 0, 248));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelOf(p, x, 1), qRgb(x + 1, 0, 254 - x));
}

TEST(DamagedPictureTest, PcxWithoutItsPaletteIsShownInGreyLevels) {
  const Bytes whole = Fixture("pal8.pcx");
  // Without the palette, or with it cut short so that its marker is not where
  // it belongs.
  for (long cut : {769, 1}) {
    const Picture p = DecodePicture(Bytes(whole.begin(), whole.end() - cut));
    ASSERT_EQ(p.size(), QSize(13, 6)) << cut;
    EXPECT_EQ(PixelOf(p, 2, 1), qRgb(5, 5, 5));
  }
}

TEST(DamagedPictureTest, PaletteIndexPastThePaletteGivesADefinedColour) {
  // An 8-bit BMP with a 2-colour palette whose pixels use index 200.
  Bytes b(54 + 8, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 10, 62);
  Put32(b, 14, 40);
  Put32(b, 18, 4);
  Put32(b, 22, 1);
  Put16(b, 26, 1);
  Put16(b, 28, 8);
  Put32(b, 46, 2);
  b[54 + 2] = 255;  // colour 0 red, colour 1 black
  for (int i = 0; i < 4; ++i) b.push_back(i == 0 ? 0 : 200);
  const Picture p = DecodePicture(b);
  ASSERT_EQ(p.size(), QSize(4, 1));
  EXPECT_EQ(PixelOf(p, 0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(qAlpha(PixelOf(p, 1, 0)), 255);
}

// Every prefix of every fixture decodes to a defined result: nothing, or
// pictures within the limits whose frames all have one size.
TEST(DamagedPictureTest, EveryPrefixOfEveryFixtureIsSafe) {
  for (const char* file : {"photo.jpg", "gray.jpg", "cmyk.jpg", "progressive.jpg", "still.gif",
                           "anim.gif", "rgb24.bmp", "pal8.bmp", "rle8.bmp", "icon.ico",
                           "cursor.cur", "png-entry.ico", "pal8.pcx", "rgb24.pcx", "mono.pcx",
                           "ega16.pcx"}) {
    const Bytes whole = Fixture(file);
    for (std::size_t n = 0; n <= whole.size(); ++n) {
      const Picture p = DecodePicture(std::span(whole).first(n));
      for (const PictureFrame& f : p.frames) {
        ASSERT_EQ(f.image.size(), p.size()) << file << " cut at " << n;
        ASSERT_TRUE(picture_internal::WithinPictureLimits(p.size().width(), p.size().height()));
      }
    }
  }
}

// ---- playback and drawing -------------------------------------------------------

Picture Animation(int loopCount) {
  Picture p;
  for (int ms : {100, 200, 300}) {
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(qRgb(ms, 0, 0));
    p.frames.push_back(PictureFrame{image, std::chrono::milliseconds(ms)});
  }
  p.loopCount = loopCount;
  return p;
}

struct PlaybackCase {
  int loopCount;
  std::chrono::milliseconds elapsed;
  std::size_t frame;
  std::optional<std::chrono::milliseconds> untilNext;
};

TEST(PictureFrameAtTest, WalksTheDelaysAndTheLoops) {
  const PlaybackCase cases[] = {
      {0, 0ms, 0, 100ms},        {0, 99ms, 0, 1ms},          {0, 100ms, 1, 200ms},
      {0, 599ms, 2, 1ms},        {0, 600ms, 2, std::nullopt}, {0, 1h, 2, std::nullopt},
      {0, -5ms, 0, 100ms},       {1, 600ms, 0, 100ms},        {1, 1150ms, 2, 50ms},
      {1, 1200ms, 2, std::nullopt}, {-1, 600ms * 1000 + 150ms, 1, 150ms},
  };
  for (const PlaybackCase& c : cases) {
    const PicturePlayback at = PictureFrameAt(Animation(c.loopCount), c.elapsed);
    EXPECT_EQ(at.frame, c.frame) << c.loopCount << " " << c.elapsed.count();
    EXPECT_EQ(at.untilNext, c.untilNext) << c.loopCount << " " << c.elapsed.count();
  }
  const PicturePlayback none = PictureFrameAt(Picture{}, 10ms);
  EXPECT_EQ(none.frame, 0u);
  EXPECT_EQ(none.untilNext, std::nullopt);
}

TEST(PlayableDelayTest, ShortGifDelaysBecomeATenthOfASecond) {
  EXPECT_EQ(picture_internal::PlayableDelay(0), 100ms);
  EXPECT_EQ(picture_internal::PlayableDelay(10), 100ms);
  EXPECT_EQ(picture_internal::PlayableDelay(20), 20ms);
}

TEST(RenderPictureFrameTest, DrawsAtNaturalSizeFromTheTopLeftCutAtTheEdges) {
  Picture p;
  QImage red(4, 3, QImage::Format_RGB32);
  red.fill(qRgb(255, 0, 0));
  p.frames.push_back(PictureFrame{red, 0ms});
  const QColor grey(200, 200, 200);

  const QImage out = RenderPictureFrame(p, 0, QSize(6, 2), grey);
  ASSERT_EQ(out.size(), QSize(6, 2));
  EXPECT_EQ(out.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(out.pixel(3, 1), qRgb(255, 0, 0));
  EXPECT_EQ(out.pixel(4, 0), grey.rgb());
  EXPECT_EQ(out.pixel(5, 1), grey.rgb());

  const QImage past = RenderPictureFrame(p, 1, QSize(3, 3), grey);
  EXPECT_EQ(past.pixel(0, 0), grey.rgb());
  EXPECT_EQ(RenderPictureFrame(Picture{}, 0, QSize(2, 2), grey).pixel(1, 1), grey.rgb());
  EXPECT_TRUE(RenderPictureFrame(p, 0, QSize(0, 5), grey).isNull());
}

TEST(RenderPictureFrameTest, TransparentPixelsShowTheBackground) {
  const Picture icon = DecodePicture(Fixture("icon.ico"));
  const QImage out = RenderPictureFrame(icon, 0, QSize(20, 20), Qt::white);
  EXPECT_EQ(out.pixel(2, 2), qRgb(255, 0, 0));
  EXPECT_EQ(out.pixel(12, 2), qRgb(255, 255, 255));
  EXPECT_EQ(out.pixel(18, 18), qRgb(255, 255, 255));
}

}  // namespace
}  // namespace qelvaro::platform
