// Fuzzes the JPEG decoding of the picture box (libjpeg behind our error
// manager, memory source and size checks).
#include "fuzz/picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return qelvaro::fuzz::RunPictureInput(data, size, qelvaro::platform::PictureFormat::kJpeg,
                                        [](std::vector<std::uint8_t>& b) {
                                          b[0] = 0xFF;
                                          b[1] = 0xD8;
                                        });
}
