#include "regex/regex_object.h"

#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/regexp/com.h"
#include "text/gbk_literal.h"
#include "text/primitives.h"

namespace qelvaro {

std::unique_ptr<RegexObject> SharedRegex;

namespace {

using platform::CallMethod;
using platform::DispatchPtr;
using platform::GetProperty;
using platform::PutProperty;
using platform::Variant;

// The byte arrays hold UTF-16LE units and are read and written as char16_t.
static_assert(std::endian::native == std::endian::little, "UTF-16LE units are native units");

// ---- code page 936 <-> UTF-16 ------------------------------------------------

// GbkToUtf16 into a byte container (the Variant's byte array, or the string
// of a Bytes), so that a page is converted straight into its final storage.
// A byte of code page 936 never gives more than one unit, so the text's
// length plus the terminator is room enough for one conversion call; the size
// query runs only should that call fail.
template <class Container>
void GbkToUtf16Into(const Text& text, Container& bytes) {
  using namespace platform;
  const std::int64_t room = std::int64_t{text.size()} + 1;
  text_internal::CheckCount(room * 2);
  bytes.resize(static_cast<std::size_t>(room) * 2);  // zero bytes
  // Both containers keep their bytes at an address aligned for any unit.
  int n = MultiByteToWideChar(CP_GBK, 0, text.c_str(), -1, reinterpret_cast<WCHAR*>(bytes.data()),
                              static_cast<int>(room));
  if (n <= 0) {
    n = MultiByteToWideChar(CP_GBK, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) {
      bytes.clear();
      return;
    }
    text_internal::CheckCount(std::int64_t{n} * 2);
    bytes.assign(static_cast<std::size_t>(n) * 2, 0);
    MultiByteToWideChar(CP_GBK, 0, text.c_str(), -1, reinterpret_cast<WCHAR*>(bytes.data()), n);
  }
  bytes.resize(static_cast<std::size_t>(n) * 2);
}

std::vector<std::uint8_t> GbkToUtf16Array(const Text& text) {
  std::vector<std::uint8_t> bytes;
  GbkToUtf16Into(text, bytes);
  return bytes;
}

// Utf16ToGbk over bytes wherever they are kept.
Text Utf16BytesToGbk(const void* data, std::size_t byteCount) {
  using namespace platform;
  const std::size_t units = byteCount / 2;
  if (units == 0 || units > static_cast<std::size_t>(INT_MAX)) return Text();
  const int u = static_cast<int>(units);
  const WCHAR* src = static_cast<const WCHAR*>(data);
  std::u16string aligned;
  if (reinterpret_cast<std::uintptr_t>(data) % alignof(WCHAR) != 0) {
    aligned.resize(units);
    std::memcpy(aligned.data(), data, units * 2);
    src = aligned.data();
  }
  const int m = WideCharToMultiByte(CP_GBK, WC_COMPOSITECHECK, src, u, nullptr, 0);
  if (m <= 0) return Text();
  std::string out(static_cast<std::size_t>(m), '\0');
  WideCharToMultiByte(CP_GBK, WC_COMPOSITECHECK, src, u, out.data(), m);
  return Text(std::move(out));  // up to the first zero byte
}

// ---- the late-bound layer's conversions ------------------------------------

// A text handed over as a string: converted from the ANSI code page.
std::u16string AnsiToString(const Text& text) {
  using namespace platform;
  if (text.empty()) return std::u16string();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 1) return std::u16string();
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n) - 1);  // without the terminating zero
  return out;
}

// A string that comes back as a text: converted to the ANSI code page, ending
// at its first zero character. A unit never takes more than two bytes, so a
// short string (a title, an id) is converted once into a buffer on the stack.
Text StringToAnsi(std::u16string_view s) {
  using namespace platform;
  s = s.substr(0, s.find(u'\0'));
  if (s.empty() || s.size() > static_cast<std::size_t>(INT_MAX)) return Text();
  const int u = static_cast<int>(s.size());
  constexpr int kShort = 256;
  if (u <= kShort) {
    char buffer[2 * kShort];
    const int written = WideCharToMultiByte(CP_ACP, 0, s.data(), u, buffer, 2 * u);
    if (written > 0) return Text(std::string_view(buffer, static_cast<std::size_t>(written)));
  }
  const int m = WideCharToMultiByte(CP_ACP, 0, s.data(), u, nullptr, 0);
  if (m <= 0) return Text();
  std::string out(static_cast<std::size_t>(m), '\0');
  WideCharToMultiByte(CP_ACP, 0, s.data(), u, out.data(), m);
  return Text(std::move(out));
}

// The string conversion of a variant, as a text; the empty text when the
// variant does not convert.
Text VariantToAnsi(const Variant& v) {
  if (const std::u16string* s = v.IfString()) return StringToAnsi(*s);
  std::optional<std::u16string> s = v.ToString();
  return s ? StringToAnsi(*s) : Text();
}

// Utf16ToGbk of the variant's byte-array conversion. Strings and byte arrays
// are read in place: their byte array would hold exactly their units.
Text VariantToGbk(const Variant& v) {
  if (const std::vector<std::uint8_t>* bytes = v.IfBytes()) {
    return Utf16BytesToGbk(bytes->data(), bytes->size());
  }
  if (const std::u16string* s = v.IfString()) return Utf16BytesToGbk(s->data(), s->size() * 2);
  std::optional<std::vector<std::uint8_t>> bytes = v.ToBytes();
  return bytes ? Utf16BytesToGbk(bytes->data(), bytes->size()) : Text();
}

// A number that comes back as a double, truncated toward zero into 32 bits;
// 0 for anything else.
std::int32_t TruncatedInt(const Variant& v) {
  std::optional<double> d = v.ToDouble();
  if (!d || std::isnan(*d)) return 0;
  const double t = std::trunc(*d);
  if (t <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  if (t >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<std::int32_t>(t);
}

// Get Item(index) of a collection, the index passed as given; the empty
// variant when there is no such element.
Variant ItemOf(const DispatchPtr& collection, Variant index) {
  return GetProperty(collection, u"Item", std::span<Variant>(&index, 1));
}

// The 0-based collection index of a 1-based one, as a double (no overflow).
Variant ZeroBased(std::int32_t i) { return Variant(static_cast<double>(i) - 1.0); }

const Text& QuoteMarker() {
  static const Text marker = "#引号"_gbk;
  return marker;
}

}  // namespace

// ---- RegexObject -------------------------------------------------------------

RegexObject::RegexObject() : Subject(std::int32_t{0}) { platform::CoInitialize(nullptr); }

RegexObject::~RegexObject() {
  Engine.reset();
  Matches.reset();
  Subject = Variant();
  platform::CoUninitialize();
}

RegexObject::RegexObject(const RegexObject& other)
    : Engine(other.Engine), Matches(other.Matches), Subject(other.Subject) {
  platform::CoInitialize(nullptr);
}

RegexObject& RegexObject::operator=(const RegexObject& other) {
  if (this != &other) {
    Engine = other.Engine;
    Matches = other.Matches;
    Subject = other.Subject;
  }
  return *this;
}

bool RegexObject::Create(const Text& pattern, const Text& subject, bool caseSensitive,
                         bool multiLine, bool global, bool quoteMarkers) {
  const bool ignoreCase = !caseSensitive;
  Engine.reset();
  Matches.reset();
  Engine = platform::CreateObject(u"VBScript.RegExp");
  PutProperty(Engine, u"IgnoreCase", Variant(ignoreCase));
  PutProperty(Engine, u"Multiline", Variant(multiLine));
  PutProperty(Engine, u"Singleline", Variant(true));
  PutProperty(Engine, u"Global", Variant(global));
  const Text used = quoteMarkers ? ReplaceText(pattern, QuoteMarker(), "\"") : pattern;
  PutProperty(Engine, u"Pattern", Variant(AnsiToString(used)));
  // The old subject goes before the new one is made: one page in memory.
  Subject = Variant();
  Subject = Variant(GbkToUtf16Array(subject));
  // Subject is handed over in place; Execute takes its own copy of the units.
  Matches = CallMethod(Engine, u"Execute", std::span<Variant>(&Subject, 1)).Object();
  return Matches != nullptr;
}

void RegexObject::Nop() const {}

Text RegexObject::GetPattern() const {
  if (!Engine) return Text();
  return VariantToAnsi(GetProperty(Engine, u"Pattern"));
}

Text RegexObject::ReplaceMatches(const Text& replacement) const {
  // The replacement goes without a terminating zero unit: Replace would put
  // that zero into the result after every replaced match, and the text would
  // end at the first of them. An empty replacement is an empty byte array.
  std::vector<std::uint8_t> units;
  if (!replacement.empty()) {
    units = GbkToUtf16Array(replacement);
    if (units.size() >= 2) units.resize(units.size() - 2);
  }
  Variant args[2] = {Subject, Variant(std::move(units))};
  return VariantToGbk(CallMethod(Engine, u"Replace", std::span<Variant>(args)));
}

std::int32_t RegexObject::MatchCount() const {
  if (!Matches) return 0;
  return TruncatedInt(GetProperty(Matches, u"Count"));
}

Text RegexObject::MatchText(std::int32_t i, std::int32_t* position, bool wantPosition) const {
  const DispatchPtr match = ItemOf(Matches, ZeroBased(i)).Object();
  Text text = VariantToGbk(GetProperty(match, u"Value"));
  if (wantPosition && position != nullptr) *position = PositionOf(match, text);
  return text;
}

Text RegexObject::SubMatchText(std::int32_t i, std::int32_t j, std::int32_t* position,
                               bool wantPosition) const {
  const DispatchPtr match = ItemOf(Matches, ZeroBased(i)).Object();
  const DispatchPtr groups = GetProperty(match, u"SubMatches").Object();
  Text text = VariantToAnsi(ItemOf(groups, ZeroBased(j)));
  if (wantPosition && position != nullptr) *position = PositionOf(match, text);
  return text;
}

std::int32_t RegexObject::SubMatchCount() const {
  const DispatchPtr match = ItemOf(Matches, Variant(std::int32_t{0})).Object();
  const DispatchPtr groups = GetProperty(match, u"SubMatches").Object();
  return TruncatedInt(GetProperty(groups, u"Count"));
}

std::int32_t RegexObject::PositionOf(const DispatchPtr& match, const Text& text) const {
  const std::vector<std::uint8_t>* units = Subject.IfBytes();
  const Text s = units != nullptr ? Utf16BytesToGbk(units->data(), units->size()) : Text();
  const std::int32_t f = TruncatedInt(GetProperty(match, u"FirstIndex"));
  const bool caseInsensitive = VariantToGbk(GetProperty(Engine, u"IgnoreCase")) == Text("0");
  return FindText(s, text, f, caseInsensitive ? 1 : 0) - 1;
}

// ---- conversions and the shared instance ---------------------------------------

Bytes GbkToUtf16(const Text& text) {
  Bytes bytes;
  GbkToUtf16Into(text, bytes.str());
  return bytes;
}

Text Utf16ToGbk(const Bytes& bytes) {
  return Utf16BytesToGbk(bytes.data(), static_cast<std::size_t>(bytes.size()));
}

void CreateSharedRegex() {
  if (!SharedRegex) SharedRegex = std::make_unique<RegexObject>();
}

void DestroySharedRegex() { SharedRegex.reset(); }

}  // namespace qelvaro
