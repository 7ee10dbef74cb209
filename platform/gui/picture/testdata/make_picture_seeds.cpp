// Writes the small pictures the picture tests and fuzz targets start from.
// Built and run by make-picture-seeds.sh; the output is deterministic.
//
//   make_picture_seeds OUTDIR
//
// JPEG files come from libjpeg's encoder, BMP and PNG files from Qt's
// writers. GIF, PCX, run-length BMP, icon and cursor files are put together
// here byte by byte (GIF with a real LZW encoder).
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string g_outDir;

void Save(const std::string& name, const Bytes& bytes) {
  const std::string path = g_outDir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::printf("%-18s %5zu bytes\n", name.c_str(), bytes.size());
}

void Put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Append(Bytes& b, const char* s) {
  while (*s) b.push_back(static_cast<std::uint8_t>(*s++));
}

Bytes FromQt(const QImage& image, const char* format) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(image)) {
    std::fprintf(stderr, "Qt cannot write %s: %s\n", format,
                 writer.errorString().toLocal8Bit().constData());
    std::exit(1);
  }
  return Bytes(data.begin(), data.end());
}

// ---- JPEG, through libjpeg's encoder --------------------------------------

// `pixel(x, y, out)` fills `components` samples.
template <typename Pixel>
Bytes Jpeg(int width, int height, int components, J_COLOR_SPACE space, bool progressive,
           Pixel pixel) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width * components));
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < width; ++x) pixel(x, static_cast<int>(cinfo.next_scanline), &row[x * components]);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  Bytes bytes(out, out + outSize);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return bytes;
}

void MakeJpegs() {
  // Left half red, right half blue.
  Save("photo.jpg", Jpeg(48, 32, 3, JCS_RGB, false, [](int x, int, JSAMPLE* p) {
         p[0] = x < 24 ? 255 : 0;
         p[1] = 0;
         p[2] = x < 24 ? 0 : 255;
       }));
  Save("gray.jpg", Jpeg(24, 16, 1, JCS_GRAYSCALE, false, [](int, int, JSAMPLE* p) { p[0] = 200; }));
  // Adobe CMYK stores the inks inverted: this is full cyan, no other ink.
  Save("cmyk.jpg", Jpeg(16, 16, 4, JCS_CMYK, false, [](int, int, JSAMPLE* p) {
         p[0] = 0;
         p[1] = 255;
         p[2] = 255;
         p[3] = 255;
       }));
  Save("progressive.jpg", Jpeg(32, 32, 3, JCS_RGB, true, [](int x, int y, JSAMPLE* p) {
         p[0] = 0;
         p[1] = 255;
         p[2] = static_cast<JSAMPLE>((x + y) & 0x0F);
       }));
}

// ---- GIF, with an LZW encoder of its own ------------------------------------

class BitWriter {
 public:
  void Write(int code, int width) {
    accum_ |= static_cast<std::uint32_t>(code) << bits_;
    bits_ += width;
    while (bits_ >= 8) {
      out_.push_back(static_cast<std::uint8_t>(accum_ & 0xFF));
      accum_ >>= 8;
      bits_ -= 8;
    }
  }
  Bytes Finish() {
    if (bits_ > 0) out_.push_back(static_cast<std::uint8_t>(accum_ & 0xFF));
    return out_;
  }

 private:
  Bytes out_;
  std::uint32_t accum_ = 0;
  int bits_ = 0;
};

// GIF's LZW: codes grow from minCodeSize + 1 bits as the table fills (the
// decoder adds each entry one code later than the encoder, hence `next - 1`).
Bytes Lzw(const std::vector<std::uint8_t>& pixels, int minCodeSize) {
  const int clear = 1 << minCodeSize, end = clear + 1;
  std::map<std::pair<int, int>, int> table;
  int next = clear + 2, width = minCodeSize + 1;
  BitWriter out;
  out.Write(clear, width);
  int prefix = pixels[0];
  for (std::size_t i = 1; i < pixels.size(); ++i) {
    const int p = pixels[i];
    auto found = table.find({prefix, p});
    if (found != table.end()) {
      prefix = found->second;
      continue;
    }
    out.Write(prefix, width);
    if (next < 4095) {
      table[{prefix, p}] = next++;
      if (next - 1 == (1 << width) && width < 12) ++width;
    } else {
      out.Write(clear, width);
      table.clear();
      next = clear + 2;
      width = minCodeSize + 1;
    }
    prefix = p;
  }
  out.Write(prefix, width);
  // The decoder adds an entry for this last code too before it reads the end.
  if (next == (1 << width) && width < 12) ++width;
  out.Write(end, width);
  return out.Finish();
}

struct GifFrame {
  int left, top, width, height;
  std::vector<std::uint8_t> pixels;  // indexes
  int delayCs;                       // hundredths of a second
  int transparent;                   // index, or -1
};

Bytes Gif(int width, int height, const std::vector<QRgb>& colours, const std::vector<GifFrame>& frames,
          int loops /* -1: no loop extension */) {
  int sizeBits = 1;
  while ((1 << sizeBits) < static_cast<int>(colours.size())) ++sizeBits;
  Bytes b;
  Append(b, "GIF89a");
  Put16(b, width);
  Put16(b, height);
  b.push_back(static_cast<std::uint8_t>(0x80 | 0x70 | (sizeBits - 1)));
  b.push_back(0);  // background colour
  b.push_back(0);  // aspect
  for (int i = 0; i < (1 << sizeBits); ++i) {
    const QRgb c = i < static_cast<int>(colours.size()) ? colours[i] : 0;
    b.push_back(static_cast<std::uint8_t>(qRed(c)));
    b.push_back(static_cast<std::uint8_t>(qGreen(c)));
    b.push_back(static_cast<std::uint8_t>(qBlue(c)));
  }
  if (loops >= 0) {
    b.push_back(0x21);
    b.push_back(0xFF);
    b.push_back(11);
    Append(b, "NETSCAPE2.0");
    b.push_back(3);
    b.push_back(1);
    Put16(b, static_cast<unsigned>(loops));
    b.push_back(0);
  }
  for (const GifFrame& f : frames) {
    b.push_back(0x21);
    b.push_back(0xF9);
    b.push_back(4);
    b.push_back(static_cast<std::uint8_t>((1 << 2) | (f.transparent >= 0 ? 1 : 0)));  // keep
    Put16(b, static_cast<unsigned>(f.delayCs));
    b.push_back(static_cast<std::uint8_t>(f.transparent >= 0 ? f.transparent : 0));
    b.push_back(0);

    b.push_back(0x2C);
    Put16(b, f.left);
    Put16(b, f.top);
    Put16(b, f.width);
    Put16(b, f.height);
    b.push_back(0);  // no local colour table, not interlaced
    const int minCodeSize = sizeBits < 2 ? 2 : sizeBits;
    b.push_back(static_cast<std::uint8_t>(minCodeSize));
    const Bytes data = Lzw(f.pixels, minCodeSize);
    for (std::size_t at = 0; at < data.size(); at += 255) {
      const std::size_t n = std::min<std::size_t>(255, data.size() - at);
      b.push_back(static_cast<std::uint8_t>(n));
      b.insert(b.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    b.push_back(0);
  }
  b.push_back(0x3B);
  return b;
}

void MakeGifs() {
  const std::vector<QRgb> colours = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255),
                                     qRgb(255, 255, 255)};
  // 13 x 7: columns 0-5 red, the rest green, with a white diagonal.
  GifFrame still{0, 0, 13, 7, {}, 0, -1};
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 13; ++x) still.pixels.push_back(x == y ? 3 : (x < 6 ? 0 : 1));
  }
  Save("still.gif", Gif(13, 7, colours, {still}, -1));

  // 8 x 8, three frames: all red; a green 4 x 4 square at (2, 2) over it; all
  // blue. Delays 100, 200 and 300 ms; loops for ever.
  GifFrame red{0, 0, 8, 8, std::vector<std::uint8_t>(64, 0), 10, -1};
  GifFrame green{2, 2, 4, 4, std::vector<std::uint8_t>(16, 1), 20, -1};
  GifFrame blue{0, 0, 8, 8, std::vector<std::uint8_t>(64, 2), 30, -1};
  Save("anim.gif", Gif(8, 8, colours, {red, green, blue}, 0));
}

// ---- BMP, icon, cursor and PNG ----------------------------------------------------

void MakeBmps() {
  // 13 x 5 true colour: pixel (x, y) is (x * 19, y * 50, 128).
  QImage rgb(13, 5, QImage::Format_RGB32);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 13; ++x) rgb.setPixel(x, y, qRgb(x * 19, y * 50, 128));
  }
  Save("rgb24.bmp", FromQt(rgb, "bmp"));

  // 13 x 5 with a 32-colour palette (Qt writes 4 bits for 16 colours or
  // fewer): pixel (x, y) has index (x + 13 y) % 32, colour i is (8 i, 255 - 8 i, 64).
  QImage pal(13, 5, QImage::Format_Indexed8);
  pal.setColorCount(32);
  for (int i = 0; i < 32; ++i) pal.setColor(i, qRgb(8 * i, 255 - 8 * i, 64));
  pal.fill(0);  // Qt writes each line's padding as the picture holds it
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 13; ++x) pal.setPixel(x, y, static_cast<uint>((x + 13 * y) % 32));
  }
  Save("pal8.bmp", FromQt(pal, "bmp"));

  // 8 x 4 run-length encoded, palette yellow, red, green, blue. Bottom-up:
  // row 3 is 8 red; row 2 is 4 green, then blue, green, red given literally
  // and the last pixel skipped; then the bitmap ends, so rows 1 and 0 are
  // never written.
  Bytes rle = {8, 1, 0, 0, 4, 2, 0, 3, 3, 2, 1, 0, 0, 0, 0, 1};
  Bytes b;
  const std::uint32_t offset = 14 + 40 + 4 * 4;
  Append(b, "BM");
  Put32(b, offset + static_cast<std::uint32_t>(rle.size()));
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, 40);
  Put32(b, 8);
  Put32(b, 4);
  Put16(b, 1);
  Put16(b, 8);
  Put32(b, 1);  // RLE8
  Put32(b, static_cast<std::uint32_t>(rle.size()));
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, 4);
  Put32(b, 4);
  for (QRgb c : {qRgb(255, 255, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)}) {
    b.push_back(static_cast<std::uint8_t>(qBlue(c)));
    b.push_back(static_cast<std::uint8_t>(qGreen(c)));
    b.push_back(static_cast<std::uint8_t>(qRed(c)));
    b.push_back(0);
  }
  b.insert(b.end(), rle.begin(), rle.end());
  Save("rle8.bmp", b);
}

// An icon (type 1) or cursor (type 2) file with one 32-bit image: the BMP
// info header (height doubled for the mask), the BGRA rows bottom-up, then
// the AND mask (1 where transparent), rows padded to 4 bytes. Cursors carry
// their hot spot where icons have planes and bit count. (Qt's icon writer
// leaves the mask's padding bytes as the allocator had them, so its output
// would differ from run to run.)
Bytes Icon32(const QImage& image, int type, int hotX, int hotY) {
  const int w = image.width(), h = image.height();
  const int maskRow = ((w + 31) / 32) * 4;
  const std::uint32_t size = 40 + static_cast<std::uint32_t>(w * h * 4 + maskRow * h);
  Bytes b;
  Put16(b, 0);
  Put16(b, static_cast<unsigned>(type));
  Put16(b, 1);
  b.push_back(static_cast<std::uint8_t>(w));
  b.push_back(static_cast<std::uint8_t>(h));
  b.push_back(0);
  b.push_back(0);
  Put16(b, type == 2 ? static_cast<unsigned>(hotX) : 1);
  Put16(b, type == 2 ? static_cast<unsigned>(hotY) : 32);
  Put32(b, size);
  Put32(b, 6 + 16);
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(w));
  Put32(b, static_cast<std::uint32_t>(2 * h));
  Put16(b, 1);
  Put16(b, 32);
  for (int i = 0; i < 6; ++i) Put32(b, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const QRgb c = image.pixel(x, y);
      b.push_back(static_cast<std::uint8_t>(qBlue(c)));
      b.push_back(static_cast<std::uint8_t>(qGreen(c)));
      b.push_back(static_cast<std::uint8_t>(qRed(c)));
      b.push_back(static_cast<std::uint8_t>(qAlpha(c)));
    }
  }
  for (int y = h - 1; y >= 0; --y) {
    Bytes row(static_cast<std::size_t>(maskRow), 0);
    for (int x = 0; x < w; ++x) {
      if (qAlpha(image.pixel(x, y)) == 0) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

void MakeIcons() {
  // 16 x 16: left half opaque red, right half transparent.
  QImage icon(16, 16, QImage::Format_ARGB32);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) icon.setPixel(x, y, x < 8 ? qRgba(255, 0, 0, 255) : qRgba(0, 0, 0, 0));
  }
  Save("icon.ico", Icon32(icon, 1, 0, 0));

  // 16 x 16 blue, hot spot (3, 4).
  QImage arrow(16, 16, QImage::Format_ARGB32);
  arrow.fill(qRgba(0, 0, 255, 255));
  Save("cursor.cur", Icon32(arrow, 2, 3, 4));

  // 12 x 10 opaque green.
  QImage png(12, 10, QImage::Format_RGB32);
  png.fill(qRgb(0, 160, 0));
  const Bytes pngBytes = FromQt(png, "png");
  Save("image.png", pngBytes);

  // An icon whose one image is that PNG.
  Bytes ico;
  Put16(ico, 0);
  Put16(ico, 1);
  Put16(ico, 1);
  ico.push_back(12);
  ico.push_back(10);
  ico.push_back(0);
  ico.push_back(0);
  Put16(ico, 1);
  Put16(ico, 32);
  Put32(ico, static_cast<std::uint32_t>(pngBytes.size()));
  Put32(ico, 6 + 16);
  ico.insert(ico.end(), pngBytes.begin(), pngBytes.end());
  Save("png-entry.ico", ico);
}

// ---- PCX --------------------------------------------------------------------

// Run-length encodes one scan line (all planes); runs never cross it.
void PcxEncodeLine(Bytes& out, const std::vector<std::uint8_t>& line) {
  for (std::size_t i = 0; i < line.size();) {
    std::size_t run = 1;
    while (i + run < line.size() && line[i + run] == line[i] && run < 63) ++run;
    if (run > 1 || (line[i] & 0xC0) == 0xC0) {
      out.push_back(static_cast<std::uint8_t>(0xC0 | run));
    }
    out.push_back(line[i]);
    i += run;
  }
}

Bytes PcxHeader(int version, int bits, int width, int height, int planes, int bytesPerLine) {
  Bytes h(128, 0);
  h[0] = 0x0A;
  h[1] = static_cast<std::uint8_t>(version);
  h[2] = 1;
  h[3] = static_cast<std::uint8_t>(bits);
  h[8] = static_cast<std::uint8_t>((width - 1) & 0xFF);
  h[9] = static_cast<std::uint8_t>((width - 1) >> 8);
  h[10] = static_cast<std::uint8_t>((height - 1) & 0xFF);
  h[11] = static_cast<std::uint8_t>((height - 1) >> 8);
  h[12] = 72;
  h[14] = 72;
  h[65] = static_cast<std::uint8_t>(planes);
  h[66] = static_cast<std::uint8_t>(bytesPerLine & 0xFF);
  h[67] = static_cast<std::uint8_t>(bytesPerLine >> 8);
  h[68] = 1;
  return h;
}

void MakePcxs() {
  {
    // 13 x 6, 8 bits: columns 0-6 index 5, column x >= 7 index 0xC0 + x + y
    // (literals that need the run form). Colour i is (i, 255 - i, i / 2).
    const int w = 13, h = 6, bpl = 14;
    Bytes b = PcxHeader(5, 8, w, h, 1, bpl);
    for (int y = 0; y < h; ++y) {
      std::vector<std::uint8_t> line(bpl, 0);
      for (int x = 0; x < w; ++x) line[x] = static_cast<std::uint8_t>(x < 7 ? 5 : 0xC0 + x + y);
      PcxEncodeLine(b, line);
    }
    b.push_back(0x0C);
    for (int i = 0; i < 256; ++i) {
      b.push_back(static_cast<std::uint8_t>(i));
      b.push_back(static_cast<std::uint8_t>(255 - i));
      b.push_back(static_cast<std::uint8_t>(i / 2));
    }
    Save("pal8.pcx", b);
  }
  {
    // 9 x 4, 24-bit in three planes: pixel (x, y) is (x * 28, y * 60, 200).
    const int w = 9, h = 4, bpl = 10;
    Bytes b = PcxHeader(5, 8, w, h, 3, bpl);
    for (int y = 0; y < h; ++y) {
      std::vector<std::uint8_t> line(3 * bpl, 0);
      for (int x = 0; x < w; ++x) {
        line[x] = static_cast<std::uint8_t>(x * 28);
        line[bpl + x] = static_cast<std::uint8_t>(y * 60);
        line[2 * bpl + x] = 200;
      }
      PcxEncodeLine(b, line);
    }
    Save("rgb24.pcx", b);
  }
  {
    // 20 x 5 monochrome: pixel (x, y) is white when (x / 4 + y) is even.
    const int w = 20, h = 5, bpl = 4;
    Bytes b = PcxHeader(3, 1, w, h, 1, bpl);
    for (int y = 0; y < h; ++y) {
      std::vector<std::uint8_t> line(bpl, 0);
      for (int x = 0; x < w; ++x) {
        if ((x / 4 + y) % 2 == 0) line[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
      PcxEncodeLine(b, line);
    }
    Save("mono.pcx", b);
  }
  {
    // 16 x 3, 16 colours in four planes: pixel (x, y) has index x.
    const int w = 16, h = 3, bpl = 2;
    Bytes b = PcxHeader(3, 1, w, h, 4, bpl);
    for (int y = 0; y < h; ++y) {
      std::vector<std::uint8_t> line(4 * bpl, 0);
      for (int x = 0; x < w; ++x) {
        for (int p = 0; p < 4; ++p) {
          if ((x >> p) & 1) line[p * bpl + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
      }
      PcxEncodeLine(b, line);
    }
    Save("ega16.pcx", b);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  g_outDir = argv[1];
  MakeJpegs();
  MakeGifs();
  MakeBmps();
  MakeIcons();
  MakePcxs();
  return 0;
}
