// The text conversion at the Qt boundary.
#include <climits>
#include <string>

#include "platform/codepage/codepage.h"
#include "platform/gui/qt_access.h"

namespace qelvaro::gui {

namespace {

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

QString ToQString(const Text& text) {
  if (text.empty()) return QString();
  // Most texts of the program are plain ASCII (addresses, ids).
  if (IsAscii(text.view())) return QString::fromLatin1(text.data(), text.size());
  // A 936 text never needs more UTF-16 units than it has bytes.
  QString out(text.size(), Qt::Uninitialized);
  const int units = platform::MultiByteToWideChar(
      platform::CP_GBK, 0, text.data(), text.size(),
      reinterpret_cast<platform::WCHAR*>(out.data()), text.size());
  out.resize(units > 0 ? units : 0);
  return out;
}

Text FromQString(const QString& text) {
  if (text.isEmpty() || text.size() > INT_MAX / 2) return Text();
  bool ascii = true;
  for (QChar c : text) ascii = ascii && c.unicode() < 0x80;
  if (ascii) return Text(text.toLatin1().toStdString());
  const auto* units = reinterpret_cast<const platform::WCHAR*>(text.utf16());
  const int n = static_cast<int>(text.size());
  std::string out(static_cast<std::size_t>(n) * 2, '\0');
  const int bytes = platform::WideCharToMultiByte(platform::CP_GBK, 0, units, n, out.data(),
                                                  static_cast<int>(out.size()));
  out.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
  return Text(std::move(out));
}

}  // namespace qelvaro::gui
