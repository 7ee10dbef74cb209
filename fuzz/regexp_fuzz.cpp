// Fuzzes the regular-expression component the way the song search drives it:
// the result pattern, case-insensitive, multi-line and global, over a fuzzed
// subject handed over as a byte array of UTF-16LE units with a terminating
// zero unit. The first input byte picks JIT or interpreter, a small or the
// normal budget, and flips the three options; the rest is the subject.
//
// Checks: every call yields a collection; matches lie inside the subject, in
// order and without overlap; the late-bound view agrees with the typed one;
// and the failure memo changes nothing (the same pattern inside a group,
// which keeps the memo out, finds the same matches when neither is cut).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/regexp/com.h"
#include "platform/regexp/regexp.h"
#include "platform/regexp/variant.h"

namespace {

using namespace qelvaro::platform;

constexpr char16_t kResultPattern[] =
    u"<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/(.*?)/\" "
    u"title=\"(.*?)\" target=\"_blank\">";

void Check(bool condition) {
  if (!condition) std::abort();
}

RegExp Make(std::u16string pattern, std::uint8_t control) {
  RegExp re;
  re.SetPattern(std::move(pattern));
  re.SetIgnoreCase((control & 0x04) == 0);
  re.SetMultiline((control & 0x08) == 0);
  re.SetGlobal((control & 0x10) == 0);
  ExecuteLimits limits;
  limits.allowJit = (control & 0x01) == 0;
  if ((control & 0x02) != 0) {
    limits.stepsPerUnit = 1;
    limits.baseSteps = 256;
  } else {
    limits.baseSteps = 1 << 16;
  }
  re.SetLimits(limits);
  return re;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  bytes.push_back(0);
  bytes.push_back(0);
  const std::u16string subject = *Variant(bytes).ToString();

  RegExp memo = Make(kResultPattern, control);
  std::optional<MatchCollection> matches = memo.Execute(subject);
  Check(matches.has_value());
  std::int32_t previousEnd = 0;
  for (std::int32_t i = 0; i < matches->Count(); ++i) {
    Match m = *matches->Item(i);
    Check(m.FirstIndex() >= previousEnd && m.Length() > 0);
    Check(static_cast<std::size_t>(m.FirstIndex() + m.Length()) <= subject.size());
    Check(m.SubMatchCount() == 2 && m.SubMatchTookPart(0) && m.SubMatchTookPart(1));
    previousEnd = m.FirstIndex() + m.Length();
  }

  RegExp grouped = Make(u"(?:" + std::u16string(kResultPattern) + u")", control);
  std::optional<MatchCollection> reference = grouped.Execute(subject);
  Check(reference.has_value());
  if (!matches->Truncated() && !reference->Truncated()) {
    Check(matches->Count() == reference->Count());
    for (std::int32_t i = 0; i < matches->Count(); ++i) {
      Check(matches->Item(i)->FirstIndex() == reference->Item(i)->FirstIndex());
      Check(matches->Item(i)->Length() == reference->Item(i)->Length());
    }
  }

  // The same search through the late-bound object.
  DispatchPtr re = CreateObject(u"VBScript.RegExp");
  PutProperty(re, u"IgnoreCase", Variant(memo.IgnoreCase()));
  PutProperty(re, u"Multiline", Variant(memo.Multiline()));
  PutProperty(re, u"Singleline", Variant(true));
  PutProperty(re, u"Global", Variant(memo.Global()));
  PutProperty(re, u"Pattern", Variant(kResultPattern));
  Variant argument(std::move(bytes));
  DispatchPtr collection = CallMethod(re, u"Execute", std::span<Variant>(&argument, 1)).Object();
  Check(collection != nullptr);
  if ((control & 0x03) == 0 && !matches->Truncated()) {  // JIT, budget below the default
    Check(GetProperty(collection, u"Count") == Variant(matches->Count()));
    for (std::int32_t i = 0; i < matches->Count(); ++i) {
      DispatchPtr match = GetProperty(collection, u"Item", {Variant(double(i))}).Object();
      DispatchPtr groups = GetProperty(match, u"SubMatches").Object();
      Check(GetProperty(groups, u"Item", {Variant(1.0)}) == Variant(matches->Item(i)->SubMatch(1)));
    }
  }
  return 0;
}
