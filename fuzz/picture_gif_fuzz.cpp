// Fuzzes the GIF decoding of the picture box (our canvas check and frame
// budget, then Qt's reader frame by frame).
#include "fuzz/picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return qelvaro::fuzz::RunPictureInput(data, size, qelvaro::platform::PictureFormat::kGif,
                                        [](std::vector<std::uint8_t>& b) {
                                          b[0] = 'G';
                                          b[1] = 'I';
                                          b[2] = 'F';
                                          b[3] = '8';
                                          if (b[4] != '7') b[4] = '9';
                                          b[5] = 'a';
                                        });
}
