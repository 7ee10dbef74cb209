// The generator of the demo service's binary assets: singer pictures (JPEG,
// one animated GIF and one still GIF) and one short MP3 tone per song.
//
// Owns: drawing the pictures (Qt), the GIF writer (LZW, GIF89a with a loop
// extension) and a minimal MPEG-1 Layer III writer. Does not own: what the
// service does with the files (demo/catalogue.cpp maps songs to them).
//
// Built and run by make-assets.sh; its output is committed, so neither the
// build nor the tests need this program.
//
// The MP3 writer encodes a pure tone straight in the transform domain: the
// tone is a sinusoid inside one of the 32 subbands, its 18 MDCT lines per
// granule are computed exactly and quantised to 0 and +-1 with Huffman table
// 1. No psychoacoustics, no bit reservoir, no scalefactors: the result is a
// valid mono stream (32 kHz, 32 kbit/s, 144-byte frames) of a plain, slightly
// rough tone, which is all a demo download needs.

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using ByteString = std::vector<std::uint8_t>;

bool WriteFile(const std::string& path, const ByteString& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

// ---- pictures ----------------------------------------------------------------

// One singer's portrait: a gradient, a head-and-shoulders silhouette and the
// name along the bottom. Without antialiasing the colours stay few, which
// the GIF writer needs.
QImage Portrait(int size, int hue, const QString& name, bool antialias, int frame = 0) {
  QImage img(size, size, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, antialias);
  p.setRenderHint(QPainter::TextAntialiasing, antialias);
  QColor top = QColor::fromHsv(hue, 90, 235);
  QColor bottom = QColor::fromHsv((hue + 30) % 360, 200, 120);
  if (antialias) {
    QLinearGradient g(0, 0, 0, size);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(img.rect(), g);
  } else {
    // Banded background: a handful of flat colours.
    const int bands = 4;
    for (int b = 0; b < bands; ++b) {
      QColor c = QColor::fromHsv((hue + b * 8 + frame * 20) % 360, 90 + b * 30, 235 - b * 28);
      p.fillRect(0, b * size / bands, size, size / bands + 1, c);
    }
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor::fromHsv(hue, 40, 250));
  const double s = size / 240.0;
  const double bob = frame == 0 ? 0 : 6 * s * std::sin(frame * 3.14159265 / 2);
  p.drawEllipse(QRectF(80 * s, (48 - bob) * s, 80 * s, 88 * s));
  p.drawEllipse(QRectF(40 * s, (140 - bob) * s, 160 * s, 130 * s));
  QFont font("WenQuanYi Micro Hei");
  font.setPixelSize(static_cast<int>(24 * s));
  if (!antialias) font.setStyleStrategy(QFont::NoAntialias);
  p.setFont(font);
  p.setBrush(bottom.darker(160));
  p.drawRect(QRectF(0, 200 * s, size, 40 * s));
  p.setPen(Qt::white);
  p.drawText(QRectF(0, 200 * s, size, 40 * s), Qt::AlignCenter, name);
  p.end();
  return img;
}

ByteString Jpeg(const QImage& img) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!img.save(&buffer, "JPEG", 70)) return {};
  return ByteString(bytes.begin(), bytes.end());
}

// Variable-width LZW code output, least significant bit first.
class LzwBits {
 public:
  void Put(unsigned code, int width) {
    acc_ |= static_cast<std::uint32_t>(code) << n_;
    n_ += width;
    while (n_ >= 8) {
      out_.push_back(static_cast<std::uint8_t>(acc_ & 0xFF));
      acc_ >>= 8;
      n_ -= 8;
    }
  }
  ByteString Finish() {
    if (n_ > 0) out_.push_back(static_cast<std::uint8_t>(acc_ & 0xFF));
    acc_ = 0;
    n_ = 0;
    return std::move(out_);
  }

 private:
  ByteString out_;
  std::uint32_t acc_ = 0;
  int n_ = 0;
};

ByteString LzwEncode(const std::vector<std::uint8_t>& pixels, int minCodeSize) {
  const unsigned clear = 1u << minCodeSize;
  const unsigned eoi = clear + 1;
  LzwBits bits;
  std::map<std::uint32_t, unsigned> table;  // (prefix << 8 | byte) -> code
  unsigned next = eoi + 1;
  int width = minCodeSize + 1;
  bits.Put(clear, width);
  if (pixels.empty()) {
    bits.Put(eoi, width);
    return bits.Finish();
  }
  unsigned prefix = pixels[0];
  for (std::size_t i = 1; i < pixels.size(); ++i) {
    const std::uint32_t key = (prefix << 8) | pixels[i];
    auto it = table.find(key);
    if (it != table.end()) {
      prefix = it->second;
      continue;
    }
    bits.Put(prefix, width);
    if (next < 4096) {
      table[key] = next++;
      if (next > (1u << width) && width < 12) ++width;
    } else {
      bits.Put(clear, width);
      table.clear();
      next = eoi + 1;
      width = minCodeSize + 1;
    }
    prefix = pixels[i];
  }
  bits.Put(prefix, width);
  bits.Put(eoi, width);
  return bits.Finish();
}

void Put16(ByteString& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// A GIF89a of the frames (all the same size), one global palette built from
// their exact colours (at most 256), looping for ever when there are several.
ByteString Gif(const std::vector<QImage>& frames, int delayCentiseconds) {
  std::vector<QRgb> palette;
  std::map<QRgb, std::uint8_t> index;
  std::vector<std::vector<std::uint8_t>> indexed;
  for (const QImage& frame : frames) {
    std::vector<std::uint8_t> px;
    px.reserve(static_cast<std::size_t>(frame.width() * frame.height()));
    for (int y = 0; y < frame.height(); ++y) {
      for (int x = 0; x < frame.width(); ++x) {
        QRgb c = frame.pixel(x, y) & 0xFFFFFF;
        auto it = index.find(c);
        if (it == index.end()) {
          if (palette.size() == 256) return {};
          it = index.emplace(c, static_cast<std::uint8_t>(palette.size())).first;
          palette.push_back(c);
        }
        px.push_back(it->second);
      }
    }
    indexed.push_back(std::move(px));
  }
  int depth = 1;  // palette entries = 2^(depth)
  while ((1u << depth) < palette.size()) ++depth;
  const int minCodeSize = depth < 2 ? 2 : depth;

  ByteString out = {'G', 'I', 'F', '8', '9', 'a'};
  const int w = frames.front().width();
  const int h = frames.front().height();
  Put16(out, static_cast<unsigned>(w));
  Put16(out, static_cast<unsigned>(h));
  out.push_back(static_cast<std::uint8_t>(0x80 | ((depth - 1) << 4) | (depth - 1)));
  out.push_back(0);  // background colour
  out.push_back(0);  // aspect ratio
  for (unsigned i = 0; i < (1u << depth); ++i) {
    QRgb c = i < palette.size() ? palette[i] : 0;
    out.push_back(static_cast<std::uint8_t>(qRed(c)));
    out.push_back(static_cast<std::uint8_t>(qGreen(c)));
    out.push_back(static_cast<std::uint8_t>(qBlue(c)));
  }
  if (frames.size() > 1) {
    const char app[] = "NETSCAPE2.0";
    out.push_back(0x21);
    out.push_back(0xFF);
    out.push_back(11);
    out.insert(out.end(), app, app + 11);
    out.push_back(3);
    out.push_back(1);
    Put16(out, 0);  // loop for ever
    out.push_back(0);
  }
  for (const auto& px : indexed) {
    if (frames.size() > 1) {
      out.insert(out.end(), {0x21, 0xF9, 4, 0x04});  // graphic control, disposal 1
      Put16(out, static_cast<unsigned>(delayCentiseconds));
      out.push_back(0);  // transparent index (unused)
      out.push_back(0);
    }
    out.push_back(0x2C);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<unsigned>(w));
    Put16(out, static_cast<unsigned>(h));
    out.push_back(0);  // no local palette, not interlaced
    out.push_back(static_cast<std::uint8_t>(minCodeSize));
    ByteString lzw = LzwEncode(px, minCodeSize);
    for (std::size_t pos = 0; pos < lzw.size(); pos += 255) {
      std::size_t n = std::min<std::size_t>(255, lzw.size() - pos);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), lzw.begin() + static_cast<long>(pos),
                 lzw.begin() + static_cast<long>(pos + n));
    }
    out.push_back(0);
  }
  out.push_back(0x3B);
  return out;
}

// ---- MP3 ---------------------------------------------------------------------

constexpr int kSampleRate = 32000;
constexpr int kFrameBytes = 144;  // 144 * 32000 bit/s / 32000 Hz, no padding
constexpr int kLines = 18;        // MDCT lines per subband and granule
constexpr double kPi = 3.14159265358979323846;

// MSB-first bit writer for side information and main data.
class Bits {
 public:
  void Put(unsigned value, int width) {
    for (int i = width - 1; i >= 0; --i) {
      if (n_ % 8 == 0) out_.push_back(0);
      if ((value >> i) & 1u) out_.back() |= static_cast<std::uint8_t>(0x80 >> (n_ % 8));
      ++n_;
    }
  }
  int count() const { return n_; }
  const ByteString& bytes() const { return out_; }

 private:
  ByteString out_;
  int n_ = 0;
};

struct Granule {
  std::vector<int> q = std::vector<int>(576, 0);  // quantised lines, 0 or +-1
  int globalGain = 210;
};

// Huffman table 1 (pairs of 0/1): code and length by x*2 + y.
constexpr unsigned kTable1Code[4] = {1, 1, 1, 0};
constexpr int kTable1Len[4] = {1, 3, 2, 3};

int BigValues(const Granule& g) {
  int last = -1;
  for (int i = 0; i < 576; ++i) {
    if (g.q[static_cast<std::size_t>(i)] != 0) last = i;
  }
  return (last + 2) / 2;
}

void WriteHuffman(Bits& bits, const Granule& g) {
  const int pairs = BigValues(g);
  for (int i = 0; i < pairs; ++i) {
    const int x = g.q[static_cast<std::size_t>(2 * i)];
    const int y = g.q[static_cast<std::size_t>(2 * i + 1)];
    const int idx = (x != 0 ? 2 : 0) + (y != 0 ? 1 : 0);
    bits.Put(kTable1Code[idx], kTable1Len[idx]);
    if (x != 0) bits.Put(x < 0 ? 1 : 0, 1);
    if (y != 0) bits.Put(y < 0 ? 1 : 0, 1);
  }
}

ByteString Frame(const Granule& g0, const Granule& g1) {
  Bits main;
  WriteHuffman(main, g0);
  const int len0 = main.count();
  WriteHuffman(main, g1);
  const int len1 = main.count() - len0;

  Bits frame;
  frame.Put(0xFFFB, 16);  // sync, MPEG-1, Layer III, no CRC
  frame.Put(1, 4);        // 32 kbit/s
  frame.Put(2, 2);        // 32000 Hz
  frame.Put(0, 1);        // no padding
  frame.Put(0, 1);        // private
  frame.Put(3, 2);        // mono
  frame.Put(0, 2);        // mode extension
  frame.Put(0, 1);        // not copyrighted
  frame.Put(1, 1);        // original
  frame.Put(0, 2);        // no emphasis
  frame.Put(0, 9);        // main_data_begin: no bit reservoir
  frame.Put(0, 5);        // private bits
  frame.Put(0, 4);        // scfsi
  const Granule* gs[2] = {&g0, &g1};
  const int lens[2] = {len0, len1};
  for (int i = 0; i < 2; ++i) {
    frame.Put(static_cast<unsigned>(lens[i]), 12);  // part2_3_length
    frame.Put(static_cast<unsigned>(BigValues(*gs[i])), 9);
    frame.Put(static_cast<unsigned>(gs[i]->globalGain), 8);
    frame.Put(0, 4);  // scalefac_compress: no scalefactor bits
    frame.Put(0, 1);  // long blocks
    frame.Put(1, 5);  // table_select region 0..2: table 1
    frame.Put(1, 5);
    frame.Put(1, 5);
    frame.Put(7, 4);  // region0_count
    frame.Put(7, 3);  // region1_count
    frame.Put(0, 1);  // preflag
    frame.Put(0, 1);  // scalefac_scale
    frame.Put(0, 1);  // count1table_select
  }
  ByteString out = frame.bytes();
  out.insert(out.end(), main.bytes().begin(), main.bytes().end());
  if (out.size() > kFrameBytes) return {};
  out.resize(kFrameBytes, 0);
  return out;
}

// The decoder's alias-reduction butterflies, undone here so that the lines it
// reconstructs are the ones computed.
void UndoAliasReduction(std::vector<double>& xr) {
  static const double kC[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
  for (int sb = 1; sb < 32; ++sb) {
    for (int i = 0; i < 8; ++i) {
      const double cs = 1 / std::sqrt(1 + kC[i] * kC[i]);
      const double ca = kC[i] * cs;
      double& bu = xr[static_cast<std::size_t>(sb * kLines - 1 - i)];
      double& bd = xr[static_cast<std::size_t>(sb * kLines + i)];
      const double u = bu * cs + bd * ca;
      const double d = bd * cs - bu * ca;
      bu = u;
      bd = d;
    }
  }
}

// A tone of about `hz` (snapped to the centre of an MDCT line), `seconds`
// long, at `level` of full scale.
ByteString Mp3Tone(double hz, double seconds, double level) {
  const double bandHz = kSampleRate / 64.0;
  const int sb = static_cast<int>(hz / bandHz);
  // Frequency within the (inverted-where-odd) subband, in cycles per subband
  // sample, snapped to the centre of line m.
  const double cycles = (hz - sb * bandHz) / (kSampleRate / 32.0);
  const int m = static_cast<int>(std::lround(cycles * 2 * kLines - 0.5));
  const double f = (m + 0.5) / (2 * kLines);
  const int granules = static_cast<int>(std::ceil(seconds * kSampleRate / 576.0 / 2)) * 2;

  // The subband signal over all granules plus one block of lead-in, and its
  // MDCT (sine window, 36 samples, hop 18). The decoder's IMDCT has no
  // normalisation, so the forward transform carries 1/9.
  const int n = (granules + 1) * kLines;
  std::vector<double> s(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) s[static_cast<std::size_t>(i)] = level * std::cos(2 * kPi * f * i + kPi / 4);
  std::vector<Granule> out(static_cast<std::size_t>(granules));
  for (int g = 0; g < granules; ++g) {
    std::vector<double> xr(576, 0.0);
    for (int k = 0; k < kLines; ++k) {
      double sum = 0;
      for (int i = 0; i < 2 * kLines; ++i) {
        const double w = std::sin(kPi / 36 * (i + 0.5));
        sum += w * s[static_cast<std::size_t>(g * kLines + i)] *
               std::cos(kPi / 72 * (2 * i + 1 + 18) * (2 * k + 1));
      }
      xr[static_cast<std::size_t>(sb * kLines + k)] = sum / 9;
    }
    UndoAliasReduction(xr);
    double peak = 0;
    for (double v : xr) peak = std::max(peak, std::fabs(v));
    // Step so that the strong lines land on 1 and weak ones on 0.
    const int gain = static_cast<int>(std::lround(210 + 4 * std::log2(peak * 0.85)));
    Granule& gr = out[static_cast<std::size_t>(g)];
    gr.globalGain = std::clamp(gain, 0, 255);
    const double step = std::pow(2.0, (gr.globalGain - 210) / 4.0);
    for (int i = 0; i < 576; ++i) {
      const double v = xr[static_cast<std::size_t>(i)] / step;
      gr.q[static_cast<std::size_t>(i)] = std::fabs(v) < 0.55 ? 0 : (v < 0 ? -1 : 1);
    }
  }
  ByteString mp3;
  for (int g = 0; g < granules; g += 2) {
    ByteString frame = Frame(out[static_cast<std::size_t>(g)], out[static_cast<std::size_t>(g + 1)]);
    if (frame.empty()) return {};
    mp3.insert(mp3.end(), frame.begin(), frame.end());
  }
  return mp3;
}

// Reads the stream back: every frame in sync with the expected size, and
// each granule's Huffman data exactly as long as its side information says.
bool CheckMp3(const ByteString& mp3) {
  if (mp3.empty() || mp3.size() % kFrameBytes != 0) return false;
  for (std::size_t pos = 0; pos < mp3.size(); pos += kFrameBytes) {
    const std::uint8_t* f = mp3.data() + pos;
    if (f[0] != 0xFF || f[1] != 0xFB || f[2] != 0x18 || (f[3] >> 6) != 3) return false;
    auto bit = [&](int i) { return (f[4 + i / 8] >> (7 - i % 8)) & 1; };
    auto read = [&](int& at, int width) {
      unsigned v = 0;
      for (int i = 0; i < width; ++i) v = (v << 1) | static_cast<unsigned>(bit(at++));
      return v;
    };
    int at = 18;
    int total = 0;
    for (int g = 0; g < 2; ++g) {
      const unsigned len = read(at, 12);
      const unsigned big = read(at, 9);
      at += 8 + 4;
      if (read(at, 1) != 0) return false;
      at += 15 + 7 + 3;
      if (big > 288) return false;
      // Decode the pairs and count their bits.
      int mAt = 136 + total;
      const int start = mAt;
      for (unsigned p = 0; p < big; ++p) {
        int x = 0;
        int y = 0;
        if (read(mAt, 1) == 1) {
        } else if (read(mAt, 1) == 1) {
          x = 1;
        } else {
          const unsigned b = read(mAt, 1);
          x = b == 0 ? 1 : 0;
          y = 1;
        }
        if (x != 0) mAt += 1;
        if (y != 0) mAt += 1;
      }
      if (static_cast<unsigned>(mAt - start) != len) return false;
      total += static_cast<int>(len);
    }
    if (136 + total > (kFrameBytes - 4) * 8) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_assets OUTDIR\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const std::string dir = argv[1];
  bool ok = true;
  auto save = [&](const std::string& name, const ByteString& data) {
    if (data.empty() || !WriteFile(dir + "/" + name, data)) {
      std::fprintf(stderr, "make_assets: cannot make %s\n", name.c_str());
      ok = false;
      return;
    }
    std::printf("%-16s %6zu bytes\n", name.c_str(), data.size());
  };

  // Singer pictures; the numbers are the ones demo/catalogue.cpp uses.
  struct Singer {
    const char* file;
    const char* name;
    int hue;
    int size;
  };
  const Singer jpegs[] = {
      {"singer-1.jpg", "高远", 210, 240},   {"singer-2.jpg", "林小川", 20, 240},
      {"singer-3.jpg", "陈默", 120, 240},   {"singer-4.jpg", "苏晴", 330, 180},
      {"singer-5.jpg", "周子航", 45, 240},  {"singer-7.jpg", "王一帆", 270, 240},
  };
  for (const Singer& s : jpegs) {
    save(s.file, Jpeg(Portrait(s.size, s.hue, QString::fromUtf8(s.name), true)));
  }
  std::vector<QImage> frames;
  for (int i = 0; i < 4; ++i) frames.push_back(Portrait(120, 190, "Blue Harbor", false, i));
  save("singer-6.gif", Gif(frames, 30));
  save("singer-8.gif", Gif({Portrait(120, 300, "Lily Chen", false)}, 0));

  // One tone per song, three seconds each.
  const double tones[] = {153, 181, 208, 236, 264, 292, 319, 347, 681, 736, 792, 847};
  for (int i = 0; i < 12; ++i) {
    ByteString mp3 = Mp3Tone(tones[i], 3.0, 0.25);
    if (!CheckMp3(mp3)) mp3.clear();
    char name[32];
    std::snprintf(name, sizeof name, "tone-%02d.mp3", i + 1);
    save(name, mp3);
  }
  return ok ? 0 : 1;
}
