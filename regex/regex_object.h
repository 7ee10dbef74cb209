// The regex object: one regular expression run over one subject through the
// late-bound "VBScript.RegExp" component, and the program's single instance.
//
// Owns: RegexObject (its three fields Engine, Matches and Subject, and the
// reads of the last Create), SharedRegex with its creation and destruction,
// and the object's own code-page conversions GbkToUtf16 / Utf16ToGbk (always
// code page 936). Does not own: the matching rules (platform/regexp/regexp.h),
// the automation shape (platform/regexp/variant.h, com.h), the text
// primitives (text/primitives.h).
//
// Every call on the component goes through the Dispatch layer by member name.
// Nothing here fails loudly: a component that cannot be created, a rejected
// pattern, an index out of range or a group that took no part all give the
// empty text, 0 or false.
//
// Example:
//   RegexObject re;                                   // CoInitialize
//   re.Create("id=(\\d+) name=(.*?);", "id=7 name=ab; id=8 name=;");  // true
//   re.MatchCount();                                  // 2
//   re.SubMatchText(1, 2);                            // "ab"
//   re.SubMatchText(2, 2);                            // ""
//   re.SubMatchText(3, 1);                            // "" (no third match)
//   std::int32_t at = 99;
//   re.SubMatchText(2, 1, &at, true);                 // "8", at == 17
#pragma once

#include <cstdint>
#include <memory>

#include "platform/regexp/variant.h"
#include "text/text.h"

namespace qelvaro {

class RegexObject {
 public:
  // Engine and Matches empty, Subject the 32-bit integer 0; then
  // CoInitialize(nullptr), whatever it returns.
  RegexObject();
  // Clears Engine, Matches and Subject, then CoUninitialize once.
  ~RegexObject();
  // Shares the component objects of other (one more reference each) and
  // copies its Subject. A copy takes part in the apartment count: it calls
  // CoInitialize like a new object, and its destruction undoes that.
  RegexObject(const RegexObject& other);
  // Shares other's objects and copies its Subject; the apartment count does
  // not change (both objects already hold their own).
  RegexObject& operator=(const RegexObject& other);

  // Creates a new component, sets IgnoreCase = !caseSensitive, Multiline,
  // Singleline = true (the component has no such member: no effect) and
  // Global, sets Pattern (with every "#引号" turned into '"' when
  // quoteMarkers), keeps GbkToUtf16(subject) as Subject and runs Execute over
  // it. Nothing of an earlier Create survives. True when Execute gave a match
  // collection, also one without matches; false when the component is missing
  // or rejected the pattern.
  //   re.Create("a#引号b"_gbk, "a\"b", false, true, true, true);  // 1 match
  bool Create(const Text& pattern, const Text& subject, bool caseSensitive = false,
              bool multiLine = true, bool global = true, bool quoteMarkers = false);

  // Does nothing.
  void Nop() const;

  // The Pattern of the component; empty before the first Create.
  Text GetPattern() const;

  // The subject of the last Create with the matches replaced through the
  // component's Replace ($1, $&, ... as it defines them); the empty text
  // before the first Create or without a component. The replacement is handed
  // over without a terminating zero unit, so the text goes on after the
  // first replaced match. Copies the subject once.
  //   re.Create("\\d", "a1b2");  re.ReplaceMatches("#") == "a#b#"
  Text ReplaceMatches(const Text& replacement = Text()) const;

  // The number of matches of the last Create; 0 when it gave no collection.
  std::int32_t MatchCount() const;

  // The text of match i (1-based); empty for an index out of range. With
  // wantPosition and a non-null position, *position receives the 0-based
  // byte position of the text found by FindText in the subject from the
  // match's FirstIndex on (see "Positions" below); otherwise *position is
  // left alone.
  Text MatchText(std::int32_t i, std::int32_t* position = nullptr,
                 bool wantPosition = false) const;

  // The text of group j (1-based) of match i (1-based); empty for an index
  // out of range and for a group that took no part. Position as MatchText.
  //   re.Create("(a)(x)?", "ba");  re.SubMatchText(1, 2) == ""
  Text SubMatchText(std::int32_t i, std::int32_t j, std::int32_t* position = nullptr,
                    bool wantPosition = false) const;

  // The number of capturing groups, read from the first match; 0 when there
  // is no match.
  std::int32_t SubMatchCount() const;

  // Read access to the fields, for checks. Subject holds the integer 0 until
  // the first Create, then the byte array GbkToUtf16(subject).
  const platform::DispatchPtr& GetEngine() const { return Engine; }
  const platform::DispatchPtr& GetMatches() const { return Matches; }
  const platform::Variant& GetSubject() const { return Subject; }

  // Positions: s is Utf16ToGbk(Subject) (the subject text again; empty before
  // the first Create), f the match's FirstIndex (a count of UTF-16 units from
  // 0), and the result is FindText(s, text, f, flag) - 1, so -2 when the text
  // is not found. f is used as a 1-based byte position as it is: with
  // two-byte characters before the match it lies before the match's bytes,
  // possibly inside a character, and FindText walks characters from there.
  // flag is 1 exactly when the text form of the component's IgnoreCase is
  // "0", that is when the match was case-sensitive. Each call with a position
  // converts the whole subject again.

 private:
  // The position of text in the subject for match (see above).
  std::int32_t PositionOf(const platform::DispatchPtr& match, const Text& text) const;

  platform::DispatchPtr Engine;
  platform::DispatchPtr Matches;
  platform::Variant Subject;
};

// The UTF-16LE code units of text (code page 936) with the terminating zero
// unit: MultiByteToWideChar asked for the size, then filling that many units.
//   GbkToUtf16("ab") == Bytes(std::string_view("a\0b\0\0\0", 6))
//   GbkToUtf16("") == Bytes(std::string_view("\0\0", 2))
Bytes GbkToUtf16(const Text& text);

// The text (code page 936) of the UTF-16LE units in bytes (an odd last byte
// is ignored), up to the first zero byte of the result.
//   Utf16ToGbk(Bytes(std::string_view("a\0b\0\0\0c\0", 8))) == "ab"
Text Utf16ToGbk(const Bytes& bytes);

// The program's one RegexObject: made by CreateSharedRegex at start-up
// before the window, used by the song search, destroyed by DestroySharedRegex
// at exit after the page text is freed. Null outside that span.
extern std::unique_ptr<RegexObject> SharedRegex;

// Constructs SharedRegex (so CoInitialize on the calling thread) unless it
// already exists.
void CreateSharedRegex();
// Destroys SharedRegex (CoUninitialize) when it exists; afterwards it is null.
void DestroySharedRegex();

}  // namespace qelvaro
