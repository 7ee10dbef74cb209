// Drives every text primitive with fuzzed bytes, and checks the fast searches
// against a plain character walk written straight from their definitions.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "text/primitives.h"

namespace {

using namespace qelvaro;

// The walk, one candidate at a time: compare at each character start, step
// two bytes over a lead byte, stop at a dangling lead byte.
std::int32_t NaiveFind(std::string_view t, std::string_view needle, std::size_t s0) {
  if (s0 >= t.size()) return -1;
  if (needle.empty()) return 1;
  for (std::size_t i = s0; i < t.size();) {
    if (t.size() - i >= needle.size() && t.compare(i, needle.size(), needle) == 0) {
      return static_cast<std::int32_t>(i + 1);
    }
    if (static_cast<unsigned char>(t[i]) >= 0x80) {
      if (i + 1 == t.size()) break;
      i += 2;
    } else {
      i += 1;
    }
  }
  return -1;
}

std::int32_t NaiveFindLast(std::string_view t, std::string_view needle, std::size_t w) {
  if (needle.empty()) return w > 0 ? 1 : -1;
  std::int32_t last = -1;
  for (std::size_t i = 0; i < t.size();) {
    if (i + needle.size() <= w && t.compare(i, needle.size(), needle) == 0) {
      last = static_cast<std::int32_t>(i + 1);
    }
    if (static_cast<unsigned char>(t[i]) >= 0x80) {
      if (i + 1 == t.size()) break;
      i += 2;
    } else {
      i += 1;
    }
  }
  return last;
}

std::string NaiveReplace(std::string_view t, std::string_view sub, std::string_view rep) {
  if (t.empty() || sub.empty()) return std::string(t);
  std::string out;
  std::size_t i = 0;
  while (t.size() - i >= sub.size()) {
    if (t.compare(i, sub.size(), sub) == 0) {
      out.append(rep);
      i += sub.size();
    } else {
      std::size_t step = static_cast<unsigned char>(t[i]) >= 0x80 ? 2 : 1;
      step = std::min(step, t.size() - i);
      out.append(t.substr(i, step));
      i += step;
    }
  }
  out.append(t.substr(i));
  return out;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: needle length and a start; the rest: needle then text.
  const std::size_t needleLen = std::min<std::size_t>(data[0] % 8, size - 1);
  const std::int32_t start = static_cast<std::int32_t>(data[1] % 16) - 2;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const Text needle(rest.substr(0, needleLen));
  const Text text(rest.substr(needleLen));
  const std::string_view t = text.view();

  const std::size_t s0 = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  Check(FindText(text, needle, start) == NaiveFind(t, needle.view(), s0));
  const std::size_t w = start < 1 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(start - 1), t.size());
  Check(FindTextReverse(text, needle, start) == NaiveFindLast(t, needle.view(), w));
  Check(FindTextReverse(text, needle) == NaiveFindLast(t, needle.view(), t.size()));
  Check(ReplaceText(text, needle, "#").view() == NaiveReplace(t, needle.view(), "#"));
  (void)FindText(text, needle, start, 1);
  (void)ReplaceText(text, needle, "xy", start, data[0] % 3, false);

  // Splitting and joining with the delimiter gives the text back, less a
  // trailing delimiter and anything past the maximum.
  const TextArray parts = SplitText(text, needle);
  if (!needle.empty() && !text.empty()) {
    std::string joined;
    for (std::int32_t i = 1; i <= ArraySize(parts); ++i) {
      if (i > 1) joined.append(needle.view());
      joined.append(Element(parts, i).view());
    }
    Check(joined == t || joined + std::string(needle.view()) == t);
  }
  (void)SplitText(text, needle, data[0] % 4);

  (void)TrimBoth(text);
  (void)RemoveSpaces(text);
  Check(ToUpper(text).size() == text.size());
  Check(ToLower(text).size() == text.size());
  (void)TextToInt(text);
  (void)TextBetween(text, needle, "<", start);
  (void)TextMid(text, start, data[0]);
  (void)CharCode(text, start);
  Check(BytesToText(TextToBytes(text)) == text);
  (void)FindBytes(Bytes(rest), Bytes(needle.view()), start);
  return 0;
}
