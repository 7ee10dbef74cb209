#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTest>

#include <string_view>

#include "platform/gui/controls.h"
#include "platform/gui/gui_test_support.h"
#include "platform/gui/picture_source.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/widgets_internal.h"

namespace qelvaro::gui {
namespace {

using testing::TestWindow;

// A pattern in which every pixel differs from its neighbours, so a scaled or
// shifted drawing shows.
QImage Pattern(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y) % 256));
  }
  return image;
}

Bytes AsBmp(const QImage& image) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "BMP");
  return Bytes(data.toStdString());
}

QImage Filled(QColor colour) {
  QImage image(8, 8, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

// Stands in for the picture library: BMP through Qt's reader, and one
// animation of two frames.
PictureFrames TestDecoder(std::span<const std::uint8_t> bytes) {
  PictureFrames out;
  const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (data == "two frames") {
    out.frames = {{Filled(Qt::red), 20}, {Filled(Qt::blue), 20}};
    out.loopCount = -1;
    return out;
  }
  QImage image;
  if (data.size() >= 6 && data.substr(0, 2) == "BM" &&
      image.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "BMP")) {
    out.frames.push_back({image.convertToFormat(QImage::Format_RGB32), 0});
  }
  return out;
}

class PicBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetPictureSource(TestDecoder);
    ASSERT_TRUE(window.Load());
  }
  void TearDown() override { SetPictureSource(previous_); }

  QImage Shown() { return testing::Picture(NativeWidget(box)); }
  QColor Background() { return NativeWidget(box)->palette().color(QPalette::Window); }

  窗口 window{"窗口", TestWindow()};
  PicBox box{window, "图片框1", {30, 161, 240, 240}, {}};
  PictureSource previous_ = nullptr;
};

TEST_F(PicBoxTest, DrawsAPictureAtItsNaturalSizeFromTheTopLeftCorner) {
  const QImage image = Pattern(30, 20);
  box.SetPicture(AsBmp(image));
  ASSERT_TRUE(box.HasPicture());
  const QImage shown = Shown();
  for (QPoint p : {QPoint(0, 0), QPoint(29, 0), QPoint(0, 19), QPoint(29, 19), QPoint(13, 7)}) {
    EXPECT_EQ(shown.pixel(p), image.pixel(p)) << p.x() << "," << p.y();
  }
  for (QPoint p : {QPoint(30, 0), QPoint(0, 20), QPoint(239, 239)}) {
    EXPECT_EQ(shown.pixelColor(p), Background()) << p.x() << "," << p.y();
  }
}

TEST_F(PicBoxTest, CutsALargerPictureOffAtTheBoxsEdges) {
  const QImage image = Pattern(300, 260);
  box.SetPicture(AsBmp(image));
  const QImage shown = Shown();
  ASSERT_EQ(shown.size(), QSize(240, 240));
  for (QPoint p : {QPoint(0, 0), QPoint(239, 0), QPoint(0, 239), QPoint(239, 239), QPoint(120, 77)}) {
    EXPECT_EQ(shown.pixel(p), image.pixel(p)) << p.x() << "," << p.y();
  }
}

TEST_F(PicBoxTest, EmptyOrUndecodableBytesLeaveTheBoxEmpty) {
  const Bytes cases[] = {
      Bytes(),
      Bytes(std::string_view("<html><body>404</body></html>")),
      Bytes(std::string_view("\x89PNG\r\n\x1a\n", 8)),
      Bytes(std::string_view("BM\0\0\0", 5)),  // five bytes are never a picture
      Bytes(std::string_view("BM\x10\0\0\0\0\0\0\0garbage", 17)),
  };
  for (const Bytes& bytes : cases) {
    box.SetPicture(AsBmp(Pattern(10, 10)));
    ASSERT_TRUE(box.HasPicture());
    box.SetPicture(bytes);
    EXPECT_FALSE(box.HasPicture());
    EXPECT_EQ(Shown().pixelColor(0, 0), Background());
  }
}

TEST_F(PicBoxTest, AnAnimatedPicturePlays) {
  box.SetPicture(Bytes(std::string_view("two frames")));
  auto* widget = static_cast<internal::PicWidget*>(NativeWidget(box));
  EXPECT_EQ(widget->CurrentFrame(), 0u);
  EXPECT_EQ(Shown().pixelColor(0, 0), QColor(Qt::red));
  // Frames follow one another (the wait is generous: the machine may be busy).
  EXPECT_TRUE(QTest::qWaitFor([&] { return widget->CurrentFrame() == 1; }, 10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return widget->CurrentFrame() == 0; }, 10000));
  box.SetPicture(Bytes());
  EXPECT_FALSE(box.HasPicture());
}

Bytes Fixture(const char* name) {
  QFile file(QStringLiteral(QELVARO_PICTURE_TESTDATA "/") + QString::fromUtf8(name));
  if (!file.open(QIODevice::ReadOnly)) return Bytes();
  return Bytes(file.readAll().toStdString());
}

TEST(PicBoxWithDecoders, ShowsEveryFormatItRecognisesAndNothingElse) {
  窗口 window("窗口", TestWindow());
  PicBox box(window, "图片框1", {30, 161, 240, 240}, {});
  struct Case {
    const char* fixture;
    bool shown;
  } cases[] = {
      {"photo.jpg", true},    {"gray.jpg", true},     {"progressive.jpg", true},
      {"cmyk.jpg", true},     {"pal8.bmp", true},     {"rgb24.bmp", true},
      {"rle8.bmp", true},     {"still.gif", true},    {"anim.gif", true},
      {"icon.ico", true},     {"cursor.cur", true},   {"pal8.pcx", true},
      {"rgb24.pcx", true},    {"ega16.pcx", true},    {"mono.pcx", true},
      {"image.png", false},   {"png-entry.ico", false},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Fixture(c.fixture);
    ASSERT_FALSE(bytes.empty()) << c.fixture;
    box.SetPicture(bytes);
    EXPECT_EQ(box.HasPicture(), c.shown) << c.fixture;
  }
  for (const Bytes& bytes : {Bytes(std::string_view("<html>not found</html>")),
                             Bytes(std::string_view("\xFF\xD8\xFF\xE0\0", 5))}) {
    box.SetPicture(bytes);
    EXPECT_FALSE(box.HasPicture());
  }
}

TEST(PicBoxWithDecoders, AnAnimatedGifPlaysItsFrames) {
  窗口 window("窗口", TestWindow());
  PicBox box(window, "图片框1", {30, 161, 240, 240}, {});
  ASSERT_TRUE(window.Load());
  box.SetPicture(Fixture("anim.gif"));
  ASSERT_TRUE(box.HasPicture());
  auto* widget = static_cast<internal::PicWidget*>(NativeWidget(box));
  EXPECT_TRUE(QTest::qWaitFor([&] { return widget->CurrentFrame() > 0; }, 10000));
}

}  // namespace
}  // namespace qelvaro::gui
