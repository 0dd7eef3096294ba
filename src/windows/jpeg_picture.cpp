#include "windows/jpeg_picture.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace veldrano {
namespace {

// libjpeg's default error_exit calls exit(); ours jumps back to the decoder.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

// Warnings are counted by libjpeg (num_warnings) and judged by the decoder;
// nothing goes to stderr.
void JpegSilentOutput(j_common_ptr) {}

// Everything that lives in this frame across setjmp is a C struct or a
// pointer that is not changed after setjmp, so a longjmp out of libjpeg
// skips no destructor. The image is owned by the caller.
bool DecodeInto(const unsigned char* bytes, unsigned long size, QImage* out) {
  jpeg_decompress_struct cinfo{};
  JpegErrorManager jerr{};
  cinfo.err = jpeg_std_error(&jerr.pub);
  jerr.pub.error_exit = JpegErrorExit;
  jerr.pub.output_message = JpegSilentOutput;
  if (setjmp(jerr.jump)) {
    jpeg_destroy_decompress(&cinfo);  // no-op if creation itself failed
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes, size);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);

  *out = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), QImage::Format_RGB888);
  if (out->isNull() || cinfo.output_components != 3) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->scanLine(static_cast<int>(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  // Damaged or truncated data is only a warning to libjpeg, which fills the
  // missing part with grey; such a picture is refused as a whole.
  const bool clean = jerr.pub.num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return clean;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  QImage image;
  if (data.isEmpty() || !DecodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                                    static_cast<unsigned long>(data.size()), &image))
    return QImage();
  return image;
}

}  // namespace veldrano
