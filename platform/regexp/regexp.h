// The regular-expression component of the platform, typed: RegExp with the
// script engine's matching rules, and the match collection its Execute makes.
// The late-bound "VBScript.RegExp" object (platform/regexp/com.h) wraps it;
// callers that know the type use this header and pay no name lookups.
//
// Owns: the matching rules, the work and storage bounds of one Execute, and
// the compact match collection. Does not own: the automation shape
// (variant.h), the system's code-page texts.
//
// Matching rules (over UTF-16 code units; a lone surrogate is just a unit):
//   - the dot matches any unit but a line feed;
//   - Multiline: ^ and $ also match at line feeds; without it $ matches only
//     at the very end of the subject;
//   - IgnoreCase folds ASCII and Latin-1 letters (é matches É), no others;
//   - \w, \d, \s and \b are ASCII; \uHHHH and \xHH are code units; a
//     back-reference to a group that took no part matches the empty string;
//   - Global collects every match left to right without overlap, an empty
//     match moving the search on by one unit; otherwise only the first match.
//   FirstIndex and Length count UTF-16 units.
//
// Bounds: in one Execute over a subject of n units every start position is
// tried once with a small allowance (stepsPerAttempt steps of work, in
// PCRE2 match-limit units, about one backtracking step each). An attempt
// that needs more is run again at its position alone with eight times the
// allowance, and so on, each run paid in full from a budget of
// `stepsPerUnit * (n + 1) + baseSteps`. So the work is at most
// `(stepsPerAttempt + stepsPerUnit) * (n + 1) + baseSteps` steps, and the
// collection stores at most `offsetsPerUnit * (n + 1) + baseOffsets` offsets.
// When the budget cannot pay for the next run, the storage bound is reached,
// or the JIT stack or the interpreter heap runs out, the collection ends with
// the matches found so far and reports Truncated().
//
// Patterns such as `<a href="(.*?)" title="(.*?)">` whose top-level `.*?` /
// `.*` cannot pass a line feed also keep a failure memo: once everything
// after such a repetition has failed from some position, later attempts that
// reach it again on the same line stop at once (internal/pattern_shape.h).
// A page of tens of thousands of unclosed prefixes on one line then costs
// about one scan of the line instead of one scan per prefix.
//
// Example:
//   RegExp re;
//   re.SetPattern(u"(\\d+)-(x)?");
//   re.SetGlobal(true);
//   std::optional<MatchCollection> m = re.Execute(u"a12-b3-x");
//   m->Count();                      // 2
//   m->Item(1)->FirstIndex();        // 5
//   m->Item(0)->SubMatch(1);         // u"" (group 2 took no part)
//   re.Replace(u"a12-b3-x", u"[$1]");  // u"a[12]b[3]"
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qelvaro::platform {

namespace regexp_internal {
struct Program;
struct CollectionData;
}  // namespace regexp_internal

struct ExecuteLimits {
  // The first allowance of every attempt at a start position.
  std::uint32_t stepsPerAttempt = 64;
  // The budget of one Execute or Replace for the attempts that need more.
  std::uint32_t stepsPerUnit = 32;
  std::uint64_t baseSteps = std::uint64_t{1} << 20;
  // The storage bound of one collection, in stored 32-bit offsets (a match
  // with g groups takes 2 * (g + 1)).
  std::uint32_t offsetsPerUnit = 4;
  std::uint64_t baseOffsets = std::uint64_t{1} << 16;
  // Ceiling of the JIT stack, and of the interpreter's backtracking heap.
  std::size_t jitStackBytes = std::size_t{8} << 20;
  std::size_t heapBytes = std::size_t{64} << 20;
  // False forces the interpreter (tests and machines without a JIT).
  bool allowJit = true;
};

// The longest subject Execute and Replace accept, in units; FirstIndex is a
// 32-bit integer.
inline constexpr std::size_t kMaxSubjectUnits = 0x7FFFFFFE;
// The longest pattern accepted, in units; longer ones are rejected.
inline constexpr std::size_t kMaxPatternUnits = 0x10000;

class MatchCollection;

// One match: a position in a collection. Strings are made on request.
class Match {
 public:
  std::int32_t FirstIndex() const;
  std::int32_t Length() const;
  std::u16string Value() const;
  std::u16string_view ValueView() const;

  // Groups are indexed from 0 (the first capturing group). A group that took
  // no part, and an index out of range, give the empty string.
  std::int32_t SubMatchCount() const;
  std::u16string SubMatch(std::int32_t group) const;
  bool SubMatchTookPart(std::int32_t group) const;

 private:
  friend class MatchCollection;
  Match(std::shared_ptr<const regexp_internal::CollectionData> data, std::size_t index)
      : data_(std::move(data)), index_(index) {}
  const std::uint32_t* Offsets() const;

  std::shared_ptr<const regexp_internal::CollectionData> data_;
  std::size_t index_ = 0;
};

// The matches of one Execute: offsets into a shared copy of the subject.
// Copies share the data; a Match keeps it alive on its own.
class MatchCollection {
 public:
  MatchCollection();  // no matches

  std::int32_t Count() const;
  // nullopt when index is outside 0 .. Count() - 1.
  std::optional<Match> Item(std::int32_t index) const;
  // True when the work or storage bound ended the collection early.
  bool Truncated() const;
  // Capturing groups of the pattern.
  std::int32_t GroupCount() const;
  std::u16string_view Subject() const;

 private:
  friend class RegExp;
  explicit MatchCollection(std::shared_ptr<const regexp_internal::CollectionData> data)
      : data_(std::move(data)) {}

  std::shared_ptr<const regexp_internal::CollectionData> data_;
};

// The settings of the component and its two operations. Not for use by two
// threads at once (it compiles on first use and keeps the result).
class RegExp {
 public:
  RegExp();
  ~RegExp();
  RegExp(const RegExp&);
  RegExp& operator=(const RegExp&);
  RegExp(RegExp&&) noexcept;
  RegExp& operator=(RegExp&&) noexcept;

  const std::u16string& Pattern() const { return pattern_; }
  void SetPattern(std::u16string pattern);
  bool IgnoreCase() const { return ignoreCase_; }
  void SetIgnoreCase(bool on);
  bool Multiline() const { return multiline_; }
  void SetMultiline(bool on);
  bool Global() const { return global_; }
  void SetGlobal(bool on) { global_ = on; }
  const ExecuteLimits& Limits() const { return limits_; }
  void SetLimits(const ExecuteLimits& limits);

  // False when the pattern is rejected (syntax, or longer than
  // kMaxPatternUnits).
  bool PatternCompiles() const;
  // True when the compiled pattern runs as JIT code.
  bool UsesJit() const;

  // nullopt when the pattern is rejected or the subject is longer than
  // kMaxSubjectUnits; a subject without matches gives an empty collection.
  std::optional<MatchCollection> Execute(std::u16string subject) const;
  // The subject with the matches (every one when Global, else the first)
  // replaced. In the replacement $1 .. $99 stand for a group ("" when it took
  // no part; a number above the group count stays literal, as does $0),
  // $& for the match, $` and $' for the text before and after it, $$ for $.
  // When the bounds end the search early, the matches found so far are
  // replaced and the rest is copied unchanged. nullopt as for Execute, and
  // when the result would be longer than kMaxSubjectUnits.
  std::optional<std::u16string> Replace(std::u16string_view subject,
                                        std::u16string_view replacement) const;

 private:
  std::shared_ptr<const regexp_internal::Program> Program() const;

  std::u16string pattern_;
  bool ignoreCase_ = false;
  bool multiline_ = false;
  bool global_ = false;
  ExecuteLimits limits_;
  // The compiled pattern for the current settings; reset by every setter that
  // changes what compiles.
  mutable std::shared_ptr<const regexp_internal::Program> program_;
  mutable bool compiled_ = false;
};

}  // namespace qelvaro::platform
