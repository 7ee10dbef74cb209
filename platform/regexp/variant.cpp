#include "platform/regexp/variant.h"

#include <charconv>
#include <cmath>

namespace qelvaro::platform {
namespace {

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

// A decimal number as the late-bound layer accepts it: optional spaces,
// optional sign, digits with an optional fraction and exponent.
std::optional<double> ParseNumber(std::u16string_view text) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  std::size_t begin = ascii.find_first_not_of(" \t");
  std::size_t end = ascii.find_last_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  std::string_view body(ascii.data() + begin, end - begin + 1);
  if (!body.empty() && body.front() == '+') body.remove_prefix(1);
  double value = 0;
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
  if (ec != std::errc() || ptr != body.data() + body.size()) return std::nullopt;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

Variant::Variant(DispatchPtr object) {
  if (object) value_ = std::move(object);
}

VARTYPE Variant::Type() const {
  switch (value_.index()) {
    case 1: return VT_BOOL;
    case 2: return VT_I4;
    case 3: return VT_R8;
    case 4: return VT_BSTR;
    case 5: return VT_ARRAY | VT_UI1;
    case 6: return VT_DISPATCH;
    default: return VT_EMPTY;
  }
}

DispatchPtr Variant::Object() const {
  const DispatchPtr* p = std::get_if<DispatchPtr>(&value_);
  return p ? *p : nullptr;
}

std::optional<std::u16string> Variant::ToString() const {
  if (IsEmpty()) return std::u16string();
  if (const bool* b = IfBool()) return Widen(*b ? "-1" : "0");
  if (const std::int32_t* i = IfInt()) return Widen(std::to_string(*i));
  if (const double* d = IfDouble()) {
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, *d);
    if (ec != std::errc()) return std::nullopt;
    return Widen(std::string_view(buf, static_cast<std::size_t>(ptr - buf)));
  }
  if (const std::u16string* s = IfString()) return *s;
  if (const std::vector<std::uint8_t>* bytes = IfBytes()) {
    std::u16string units(bytes->size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>((*bytes)[2 * i] | ((*bytes)[2 * i + 1] << 8));
    }
    return units;
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> Variant::ToBytes() const {
  if (const std::vector<std::uint8_t>* bytes = IfBytes()) return *bytes;
  std::optional<std::u16string> text = ToString();
  if (!text) return std::nullopt;
  std::vector<std::uint8_t> bytes(text->size() * 2);
  for (std::size_t i = 0; i < text->size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>((*text)[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>((*text)[i] >> 8);
  }
  return bytes;
}

std::optional<double> Variant::ToDouble() const {
  if (IsEmpty()) return 0.0;
  if (const bool* b = IfBool()) return *b ? -1.0 : 0.0;
  if (const std::int32_t* i = IfInt()) return static_cast<double>(*i);
  if (const double* d = IfDouble()) return *d;
  if (const std::u16string* s = IfString()) return ParseNumber(*s);
  return std::nullopt;
}

std::optional<bool> Variant::ToBool() const {
  if (const bool* b = IfBool()) return *b;
  if (const std::u16string* s = IfString()) {
    if (SameMemberName(*s, u"True")) return true;
    if (SameMemberName(*s, u"False")) return false;
  }
  std::optional<double> number = ToDouble();
  if (!number || std::isnan(*number)) return std::nullopt;
  return *number != 0.0;
}

bool SameMemberName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

HRESULT Invoke(const DispatchPtr& object, std::u16string_view member, CallKind kind,
               std::span<Variant> args, Variant* result) {
  Variant scratch;
  Variant* out = result ? result : &scratch;
  *out = Variant();
  if (!object) return E_POINTER;
  HRESULT hr = object->Invoke(member, kind, args, out);
  if (FAILED(hr)) *out = Variant();
  return hr;
}

Variant GetProperty(const DispatchPtr& object, std::u16string_view member,
                    std::span<Variant> args) {
  Variant result;
  Invoke(object, member, CallKind::kPropertyGet, args, &result);
  return result;
}

Variant GetProperty(const DispatchPtr& object, std::u16string_view member,
                    std::initializer_list<Variant> args) {
  std::vector<Variant> copy(args);
  return GetProperty(object, member, std::span<Variant>(copy));
}

bool PutProperty(const DispatchPtr& object, std::u16string_view member, Variant value) {
  return SUCCEEDED(Invoke(object, member, CallKind::kPropertyPut, std::span<Variant>(&value, 1),
                          nullptr));
}

Variant CallMethod(const DispatchPtr& object, std::u16string_view member,
                   std::span<Variant> args) {
  Variant result;
  Invoke(object, member, CallKind::kMethod, args, &result);
  return result;
}

Variant CallMethod(const DispatchPtr& object, std::u16string_view member,
                   std::initializer_list<Variant> args) {
  std::vector<Variant> copy(args);
  return CallMethod(object, member, std::span<Variant>(copy));
}

}  // namespace qelvaro::platform
