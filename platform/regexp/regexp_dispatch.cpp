// The late-bound objects of the regular-expression component: the RegExp
// object, its match collection, a match and a match's group collection. Each
// adapts the typed API of regexp.h; members are looked up by name per call.

#include <cmath>
#include <memory>
#include <optional>

#include "platform/regexp/com.h"
#include "platform/regexp/regexp.h"

namespace qelvaro::platform {
namespace {

bool IsGet(CallKind kind) { return kind == CallKind::kPropertyGet || kind == CallKind::kMethod; }

// A read-only property: no arguments, gets only.
HRESULT ReadOnly(CallKind kind, std::span<Variant> args, Variant* result, Variant value) {
  if (!IsGet(kind)) return DISP_E_MEMBERNOTFOUND;
  if (!args.empty()) return DISP_E_BADPARAMCOUNT;
  *result = std::move(value);
  return S_OK;
}

// A collection index: any number, truncated toward zero, within 0 .. count-1.
std::optional<std::int32_t> IndexOf(const Variant& value, std::int32_t count) {
  std::optional<double> number = value.ToDouble();
  if (!number || std::isnan(*number)) return std::nullopt;
  double index = std::trunc(*number);
  if (index < 0 || index >= static_cast<double>(count)) return std::nullopt;
  return static_cast<std::int32_t>(index);
}

// Item(index) of a collection of count elements: checks the call and the
// index, then lets make build the element.
template <typename Make>
HRESULT ItemOf(CallKind kind, std::span<Variant> args, Variant* result, std::int32_t count,
               Make make) {
  if (!IsGet(kind)) return DISP_E_MEMBERNOTFOUND;
  if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
  if (args[0].Type() == VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  std::optional<std::int32_t> index = IndexOf(args[0], count);
  if (!index) return DISP_E_BADINDEX;
  *result = make(*index);
  return S_OK;
}

class SubMatchesObject : public Dispatch {
 public:
  explicit SubMatchesObject(Match match) : match_(std::move(match)) {}

  HRESULT Invoke(std::u16string_view member, CallKind kind, std::span<Variant> args,
                 Variant* result) override {
    if (SameMemberName(member, u"Count")) {
      return ReadOnly(kind, args, result, Variant(match_.SubMatchCount()));
    }
    if (SameMemberName(member, u"Item")) {
      return ItemOf(kind, args, result, match_.SubMatchCount(),
                    [&](std::int32_t i) { return Variant(match_.SubMatch(i)); });
    }
    return DISP_E_UNKNOWNNAME;
  }

 private:
  Match match_;
};

class MatchObject : public Dispatch {
 public:
  explicit MatchObject(Match match) : match_(std::move(match)) {}

  HRESULT Invoke(std::u16string_view member, CallKind kind, std::span<Variant> args,
                 Variant* result) override {
    if (SameMemberName(member, u"Value")) {
      return ReadOnly(kind, args, result, Variant(match_.Value()));
    }
    if (SameMemberName(member, u"FirstIndex")) {
      return ReadOnly(kind, args, result, Variant(match_.FirstIndex()));
    }
    if (SameMemberName(member, u"Length")) {
      return ReadOnly(kind, args, result, Variant(match_.Length()));
    }
    if (SameMemberName(member, u"SubMatches")) {
      return ReadOnly(kind, args, result,
                      Variant(DispatchPtr(std::make_shared<SubMatchesObject>(match_))));
    }
    return DISP_E_UNKNOWNNAME;
  }

 private:
  Match match_;
};

class MatchesObject : public Dispatch {
 public:
  explicit MatchesObject(MatchCollection matches) : matches_(std::move(matches)) {}

  HRESULT Invoke(std::u16string_view member, CallKind kind, std::span<Variant> args,
                 Variant* result) override {
    if (SameMemberName(member, u"Count")) {
      return ReadOnly(kind, args, result, Variant(matches_.Count()));
    }
    if (SameMemberName(member, u"Item")) {
      return ItemOf(kind, args, result, matches_.Count(), [&](std::int32_t i) {
        return Variant(DispatchPtr(std::make_shared<MatchObject>(*matches_.Item(i))));
      });
    }
    return DISP_E_UNKNOWNNAME;
  }

 private:
  MatchCollection matches_;
};

class RegExpObject : public Dispatch {
 public:
  HRESULT Invoke(std::u16string_view member, CallKind kind, std::span<Variant> args,
                 Variant* result) override {
    if (SameMemberName(member, u"Pattern")) {
      if (kind == CallKind::kPropertyPut) {
        if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
        std::optional<std::u16string> text = args[0].ToString();
        if (!text) return DISP_E_TYPEMISMATCH;
        re_.SetPattern(std::move(*text));
        return S_OK;
      }
      return ReadOnly(kind, args, result, Variant(re_.Pattern()));
    }
    if (SameMemberName(member, u"IgnoreCase")) {
      return Flag(kind, args, result, &RegExp::IgnoreCase, &RegExp::SetIgnoreCase);
    }
    if (SameMemberName(member, u"Multiline")) {
      return Flag(kind, args, result, &RegExp::Multiline, &RegExp::SetMultiline);
    }
    if (SameMemberName(member, u"Global")) {
      return Flag(kind, args, result, &RegExp::Global, &RegExp::SetGlobal);
    }
    if (SameMemberName(member, u"Execute")) return Execute(kind, args, result);
    if (SameMemberName(member, u"Replace")) return Replace(kind, args, result);
    return DISP_E_UNKNOWNNAME;
  }

 private:
  HRESULT Flag(CallKind kind, std::span<Variant> args, Variant* result, bool (RegExp::*get)() const,
               void (RegExp::*set)(bool)) {
    if (kind == CallKind::kPropertyPut) {
      if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
      std::optional<bool> on = args[0].ToBool();
      if (!on) return DISP_E_TYPEMISMATCH;
      (re_.*set)(*on);
      return S_OK;
    }
    return ReadOnly(kind, args, result, Variant((re_.*get)()));
  }

  HRESULT Execute(CallKind kind, std::span<Variant> args, Variant* result) {
    if (kind != CallKind::kMethod) return DISP_E_MEMBERNOTFOUND;
    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
    // A byte array stands for the UTF-16LE units it holds.
    std::optional<std::u16string> subject = args[0].ToString();
    if (!subject) return DISP_E_TYPEMISMATCH;
    if (!re_.PatternCompiles()) return VBSE_REGEXP_SYNTAX;
    std::optional<MatchCollection> matches = re_.Execute(std::move(*subject));
    if (!matches) return E_INVALIDARG;
    *result = Variant(DispatchPtr(std::make_shared<MatchesObject>(std::move(*matches))));
    return S_OK;
  }

  HRESULT Replace(CallKind kind, std::span<Variant> args, Variant* result) {
    if (kind != CallKind::kMethod) return DISP_E_MEMBERNOTFOUND;
    if (args.size() != 2) return DISP_E_BADPARAMCOUNT;
    std::optional<std::u16string> subject = args[0].ToString();
    std::optional<std::u16string> replacement = args[1].ToString();
    if (!subject || !replacement) return DISP_E_TYPEMISMATCH;
    if (!re_.PatternCompiles()) return VBSE_REGEXP_SYNTAX;
    std::optional<std::u16string> replaced = re_.Replace(*subject, *replacement);
    if (!replaced) return E_INVALIDARG;
    *result = Variant(std::move(*replaced));
    return S_OK;
  }

  RegExp re_;
};

}  // namespace

DispatchPtr NewRegExpObject() { return std::make_shared<RegExpObject>(); }

}  // namespace qelvaro::platform
