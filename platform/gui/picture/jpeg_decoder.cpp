// JPEG through libjpeg, called directly.
//
// libjpeg reports errors through a callback that must not return; ours
// longjmps back to RunDecoder, which holds only trivially destructible locals,
// so the jump skips no destructor. The decompressor lives in the caller and is
// destroyed there on every path. Warnings and messages are swallowed: nothing
// reaches stderr.
#include "platform/gui/picture/picture_internal.h"

#include <QImage>
#include <QRgb>

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

namespace qelvaro::platform::picture_internal {

namespace {

// A progressive JPEG may carry any number of scans, each one a full pass over
// the coefficients; real files have about ten.
constexpr int kMaxScans = 200;

// libjpeg's own memory ceiling, above what the largest accepted picture needs.
constexpr long kMaxDecoderMemory = 256L * 1024 * 1024;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

struct Session {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_progress_mgr progress;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void OnEmitMessage(j_common_ptr, int) {}
void OnOutputMessage(j_common_ptr) {}

void OnProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    OnError(cinfo);
  }
}

QRgb CmykToRgb(int c, int m, int y, int k, bool inverted) {
  // Adobe's files store the inks inverted (0 is full ink).
  if (!inverted) {
    c = 255 - c;
    m = 255 - m;
    y = 255 - y;
    k = 255 - k;
  }
  return qRgb(c * k / 255, m * k / 255, y * k / 255);
}

// Decodes into `out`. Returns false on any failure; the caller destroys the
// decompressor either way. Only trivially destructible locals below: see the
// file comment.
bool RunDecoder(Session& s, Bytes bytes, QImage& out) {
  s.cinfo.err = jpeg_std_error(&s.err.pub);
  s.err.pub.error_exit = OnError;
  s.err.pub.emit_message = OnEmitMessage;
  s.err.pub.output_message = OnOutputMessage;
  if (setjmp(s.err.jump) != 0) return false;

  jpeg_create_decompress(&s.cinfo);
  s.cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
  s.progress.progress_monitor = OnProgress;
  s.cinfo.progress = &s.progress;
  jpeg_mem_src(&s.cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(&s.cinfo, TRUE) != JPEG_HEADER_OK) return false;
  if (!WithinPictureLimits(s.cinfo.image_width, s.cinfo.image_height)) return false;

  switch (s.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      s.cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      s.cinfo.out_color_space = JCS_CMYK;
      break;
    default:
      s.cinfo.out_color_space = JCS_RGB;
      break;
  }
  jpeg_start_decompress(&s.cinfo);
  const int width = static_cast<int>(s.cinfo.output_width);
  const int height = static_cast<int>(s.cinfo.output_height);
  const int components = s.cinfo.output_components;
  if (!WithinPictureLimits(width, height)) return false;
  if (components != 1 && components != 3 && components != 4) return false;
  const bool inverted = s.cinfo.saw_Adobe_marker;

  out = QImage(width, height, QImage::Format_RGB32);
  if (out.isNull()) return false;
  uchar* const bits = out.bits();
  const qsizetype bytesPerLine = out.bytesPerLine();
  JSAMPARRAY row = (*s.cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&s.cinfo),
                                                JPOOL_IMAGE, width * components, 1);

  while (s.cinfo.output_scanline < s.cinfo.output_height) {
    const qsizetype y = s.cinfo.output_scanline;
    if (jpeg_read_scanlines(&s.cinfo, row, 1) != 1) return false;
    const JSAMPLE* src = row[0];
    QRgb* dst = reinterpret_cast<QRgb*>(bits + y * bytesPerLine);
    for (int x = 0; x < width; ++x, src += components) {
      switch (components) {
        case 1:
          dst[x] = qRgb(src[0], src[0], src[0]);
          break;
        case 3:
          dst[x] = qRgb(src[0], src[1], src[2]);
          break;
        default:
          dst[x] = CmykToRgb(src[0], src[1], src[2], src[3], inverted);
          break;
      }
    }
  }
  return true;
}

}  // namespace

Picture DecodeJpeg(Bytes bytes) {
  if (bytes.empty()) return Picture{};
  Session session{};
  QImage image;
  const bool ok = RunDecoder(session, bytes, image);
  jpeg_destroy_decompress(&session.cinfo);
  if (!ok || image.isNull()) return Picture{};
  Picture picture;
  picture.frames.push_back(PictureFrame{std::move(image), std::chrono::milliseconds(0)});
  return picture;
}

}  // namespace qelvaro::platform::picture_internal
