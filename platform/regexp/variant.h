// The late-bound automation shape of the platform: the `Variant` value, the
// `Dispatch` interface whose members are called by name, and the HRESULT
// codes those calls report.
//
// Owns: Variant (empty, Boolean, 32-bit integer, double, string, byte array,
// object reference), the conversions a late-bound caller needs (to string, to
// bytes, to number, to Boolean), Dispatch and the null-safe call helpers.
// Does not own: object creation and apartments (platform/regexp/com.h), any
// particular object (platform/regexp/regexp.h has the regular-expression one).
//
// Calls never throw. A call that cannot be made (no object, no member of that
// name, a wrong argument, the member failed) returns a failure HRESULT and
// leaves the result empty. Member names are compared without regard to ASCII
// case, as automation does.
//
// Example:
//   DispatchPtr re = CreateObject(u"VBScript.RegExp");
//   PutProperty(re, u"Pattern", Variant(u"a(b)"));
//   Variant matches = CallMethod(re, u"Execute", {Variant(u"xab")});
//   Variant count = GetProperty(matches.Object(), u"Count");   // VT_I4 1
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qelvaro::platform {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
inline constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
// The script run-time's "Syntax error in regular expression".
inline constexpr HRESULT VBSE_REGEXP_SYNTAX = static_cast<HRESULT>(0x800A1399u);

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

using VARTYPE = std::uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_ARRAY = 0x2000;

using VARIANT_BOOL = std::int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

class Dispatch;
// An object reference: shared ownership stands for the reference count.
using DispatchPtr = std::shared_ptr<Dispatch>;

// One automation value. The empty Variant is the failure value of every call.
class Variant {
 public:
  Variant() = default;  // VT_EMPTY
  // Each constructor is explicit: a string literal must not turn into a Boolean.
  explicit Variant(bool value) : value_(value) {}
  explicit Variant(std::int32_t value) : value_(value) {}
  explicit Variant(double value) : value_(value) {}
  explicit Variant(std::u16string value) : value_(std::move(value)) {}
  explicit Variant(const char16_t* value) : value_(std::u16string(value)) {}
  // VT_ARRAY | VT_UI1: a one-dimensional byte array.
  explicit Variant(std::vector<std::uint8_t> bytes) : value_(std::move(bytes)) {}
  // VT_DISPATCH; a null reference makes an empty Variant.
  explicit Variant(DispatchPtr object);

  // VT_EMPTY, VT_BOOL, VT_I4, VT_R8, VT_BSTR, VT_ARRAY | VT_UI1 or VT_DISPATCH.
  VARTYPE Type() const;
  bool IsEmpty() const { return value_.index() == 0; }

  // The stored value when the Variant holds exactly that kind, else null.
  const bool* IfBool() const { return std::get_if<bool>(&value_); }
  const std::int32_t* IfInt() const { return std::get_if<std::int32_t>(&value_); }
  const double* IfDouble() const { return std::get_if<double>(&value_); }
  const std::u16string* IfString() const { return std::get_if<std::u16string>(&value_); }
  const std::vector<std::uint8_t>* IfBytes() const {
    return std::get_if<std::vector<std::uint8_t>>(&value_);
  }
  // The object reference; null unless VT_DISPATCH.
  DispatchPtr Object() const;

  // Conversions as the late-bound layer makes them; nullopt when the kind
  // does not convert.
  //   ToString: empty -> ""; Boolean -> "-1" / "0"; integer -> decimal;
  //     double -> the shortest decimal that reads back ("0.5", "1e+20");
  //     byte array -> its bytes read as UTF-16LE units (an odd last byte is
  //     dropped); object -> nullopt.
  //   ToBytes: string -> its UTF-16LE units; byte array -> itself; other
  //     kinds -> the UTF-16LE units of ToString.
  //   ToDouble: empty -> 0; Boolean -> -1 / 0; integer, double; a string
  //     holding a decimal number; else nullopt.
  //   ToBool: empty -> false; numbers -> non-zero; "True"/"False" (any case)
  //     or a numeric string; else nullopt.
  std::optional<std::u16string> ToString() const;
  std::optional<std::vector<std::uint8_t>> ToBytes() const;
  std::optional<double> ToDouble() const;
  std::optional<bool> ToBool() const;

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  std::variant<std::monostate, bool, std::int32_t, double, std::u16string,
               std::vector<std::uint8_t>, DispatchPtr>
      value_;
};

// The ways a member can be called.
enum class CallKind { kPropertyGet, kPropertyPut, kMethod };

// A late-bound object. Implementations look `member` up by name on every call
// (ASCII case-insensitive). args are the positional arguments; a method may
// write back into them (by-reference arguments). A property put passes the new
// value as the single argument. On failure *result stays empty.
class Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual HRESULT Invoke(std::u16string_view member, CallKind kind, std::span<Variant> args,
                         Variant* result) = 0;
};

// Null-safe calls. Invoke fails with E_POINTER for a null object. The others
// report only through their result: the empty Variant / false on failure.
HRESULT Invoke(const DispatchPtr& object, std::u16string_view member, CallKind kind,
               std::span<Variant> args, Variant* result);
Variant GetProperty(const DispatchPtr& object, std::u16string_view member,
                    std::span<Variant> args = {});
Variant GetProperty(const DispatchPtr& object, std::u16string_view member,
                    std::initializer_list<Variant> args);
bool PutProperty(const DispatchPtr& object, std::u16string_view member, Variant value);
Variant CallMethod(const DispatchPtr& object, std::u16string_view member,
                   std::span<Variant> args = {});
Variant CallMethod(const DispatchPtr& object, std::u16string_view member,
                   std::initializer_list<Variant> args);

// ASCII case-insensitive member-name comparison, for Dispatch implementations.
bool SameMemberName(std::u16string_view a, std::u16string_view b);

}  // namespace qelvaro::platform
