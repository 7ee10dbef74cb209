// Fuzzes the icon and cursor decoding of the picture box (our directory and
// entry checks, then Qt's reader). The input's third byte picks icon or cursor.
#include "fuzz/picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const bool cursor = size >= 3 && data[2] == 2;
  return qelvaro::fuzz::RunPictureInput(
      data, size,
      cursor ? qelvaro::platform::PictureFormat::kCursor : qelvaro::platform::PictureFormat::kIcon,
      [cursor](std::vector<std::uint8_t>& b) {
        b[0] = 0;
        b[1] = 0;
        b[2] = cursor ? 2 : 1;
        b[3] = 0;
        if (b[4] == 0 && b[5] == 0) b[4] = 1;
      });
}
