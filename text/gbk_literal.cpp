#include "text/gbk_literal.h"

#include <climits>
#include <string>

#include "platform/codepage/codepage.h"

namespace qelvaro {

Text Gbk(std::string_view utf8) {
  using namespace platform;
  if (utf8.empty() || utf8.size() > INT_MAX / 2) return Text();
  const int n = static_cast<int>(utf8.size());
  std::u16string wide(static_cast<std::size_t>(n), u'\0');
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, wide.data(), n);
  if (units <= 0) return Text();
  std::string out(static_cast<std::size_t>(units) * 2, '\0');
  const int bytes =
      WideCharToMultiByte(CP_GBK, 0, wide.data(), units, out.data(), units * 2);
  out.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
  return Text(std::move(out));
}

}  // namespace qelvaro
