// Fuzzes the BMP decoding of the picture box (our header check, then Qt's
// reader into a zeroed picture).
#include "fuzz/picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return qelvaro::fuzz::RunPictureInput(data, size, qelvaro::platform::PictureFormat::kBmp,
                                        [](std::vector<std::uint8_t>& b) {
                                          b[0] = 'B';
                                          b[1] = 'M';
                                        });
}
