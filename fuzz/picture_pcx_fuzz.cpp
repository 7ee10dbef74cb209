// Fuzzes our PCX decoder (run-length data, palettes, planes).
#include "fuzz/picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return qelvaro::fuzz::RunPictureInput(data, size, qelvaro::platform::PictureFormat::kPcx,
                                        [](std::vector<std::uint8_t>& b) {
                                          b[0] = 0x0A;
                                          b[2] = 1;
                                          if (b[3] == 1) {
                                            b[1] = 3;
                                          } else {
                                            b[3] = 8;
                                            b[1] = static_cast<std::uint8_t>(b[1] % 6);
                                          }
                                        });
}
