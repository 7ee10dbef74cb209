#include "platform/regexp/regexp.h"

#include "platform/regexp/internal/pattern_shape.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <locale.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace qelvaro::platform {
namespace regexp_internal {

// The compiled form of one pattern with one set of options.
struct Program {
  pcre2_code* code = nullptr;
  // The code starts with the attempt callout (kAttemptPrefix), which lets
  // Search tell the start positions apart; calloutEnd is its pattern position.
  bool counted = false;
  std::size_t calloutEnd = 0;
  // Line-scan points (internal/pattern_shape.h) carry callouts 1 .. points.
  std::uint32_t points = 0;
  bool jit = false;
  std::uint32_t groups = 0;

  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() { pcre2_code_free(code); }
};

// Per match: start, end, then start and end of every group (kUnset when the
// group took no part), kept in blocks of fixed size so that growing never
// moves what is stored.
struct CollectionData {
  static constexpr std::size_t kBlockValues = 16384;

  std::u16string subject;
  std::uint32_t groups = 0;
  std::size_t count = 0;
  std::vector<std::unique_ptr<std::uint32_t[]>> blocks;
  bool truncated = false;

  std::size_t Stride() const { return 2 * (std::size_t{groups} + 1); }
  std::size_t BlockMatches() const { return std::max<std::size_t>(1, kBlockValues / Stride()); }
  std::size_t StoredValues() const { return count * Stride(); }
  const std::uint32_t* At(std::size_t index) const {
    return blocks[index / BlockMatches()].get() + (index % BlockMatches()) * Stride();
  }
  std::uint32_t* Append() {
    if (count % BlockMatches() == 0) {
      blocks.push_back(std::make_unique_for_overwrite<std::uint32_t[]>(BlockMatches() * Stride()));
    }
    std::uint32_t* slot = blocks.back().get() + (count % BlockMatches()) * Stride();
    ++count;
    return slot;
  }
};

}  // namespace regexp_internal

namespace {

using regexp_internal::CollectionData;
using regexp_internal::Program;

constexpr std::uint32_t kUnset = std::numeric_limits<std::uint32_t>::max();

// Every attempt of a counted program enters this callout first. Its number
// and its position in the pattern tell it apart from callouts of the
// pattern's own.
constexpr std::u16string_view kAttemptPrefix = u"(?C255)(?:";
constexpr std::uint32_t kAttemptCalloutNumber = 255;
constexpr std::size_t kAttemptCalloutEnd = 7;  // just after "(?C255)"
// Closes the wrapper; \E ends a \Q run left open at the end of the pattern
// and is ignored otherwise.
constexpr std::u16string_view kAttemptSuffix = u"\\E)";
// Line-scan points beyond this many are left without a memo.
constexpr std::size_t kMaxPoints = 200;

// Character tables of the C locale with the Latin-1 letters paired for
// case-insensitive matching (lower-case and case-flip tables only; \w and
// the POSIX classes stay ASCII). The tables are made under the C locale
// whatever locale the program has set. Null (PCRE2's built-in C tables) when
// they cannot be made.
const std::uint8_t* Latin1Tables() {
  static const std::vector<std::uint8_t> tables = [] {
    std::uint32_t length = 0;
    pcre2_config(PCRE2_CONFIG_TABLES_LENGTH, &length);
    locale_t c = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    if (c == static_cast<locale_t>(nullptr)) return std::vector<std::uint8_t>();
    locale_t previous = uselocale(c);
    const std::uint8_t* made = pcre2_maketables(nullptr);
    uselocale(previous);
    freelocale(c);
    if (made == nullptr) return std::vector<std::uint8_t>();
    std::vector<std::uint8_t> copy;
    // Layout: lower-case table, case-flip table, class bits, type table.
    if (length >= 512) copy.assign(made, made + length);
    pcre2_maketables_free(nullptr, made);
    if (copy.empty()) return copy;
    std::uint8_t* lower = copy.data();      // lcc: 256 entries
    std::uint8_t* flip = copy.data() + 256; // fcc: 256 entries
    for (int upper = 0xC0; upper <= 0xDE; ++upper) {
      if (upper == 0xD7) continue;  // the multiplication sign
      int low = upper + 0x20;
      lower[upper] = static_cast<std::uint8_t>(low);
      flip[upper] = static_cast<std::uint8_t>(low);
      flip[low] = static_cast<std::uint8_t>(upper);
    }
    return copy;
  }();
  return tables.empty() ? nullptr : tables.data();
}

struct CompileContext {
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  CompileContext() {
    if (context == nullptr) return;
    pcre2_set_character_tables(context, Latin1Tables());
    pcre2_set_newline(context, PCRE2_NEWLINE_LF);
    // Room for the wrapper and the point callouts.
    pcre2_set_max_pattern_length(context, kMaxPatternUnits + 4096);
  }
  ~CompileContext() { pcre2_compile_context_free(context); }
  CompileContext(const CompileContext&) = delete;
  CompileContext& operator=(const CompileContext&) = delete;
};

pcre2_code* CompileText(std::u16string_view text, std::uint32_t options, CompileContext& cc) {
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), options, &error,
                       &errorOffset, cc.context);
}

std::uint32_t CaptureCount(const pcre2_code* code) {
  std::uint32_t count = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &count);
  return count;
}

// The pattern with the attempt callout in front (after its leading settings)
// and a point callout before every line-scan point; null unless it compiles
// to as many groups as the pattern alone.
pcre2_code* CompileCounted(std::u16string_view pattern, std::size_t lead,
                           const std::vector<std::size_t>& points, std::uint32_t groups,
                           std::uint32_t options, CompileContext& cc) {
  std::u16string wrapped;
  wrapped.reserve(pattern.size() + kAttemptPrefix.size() + kAttemptSuffix.size() +
                  8 * points.size());
  wrapped.append(pattern.substr(0, lead));
  wrapped.append(kAttemptPrefix);
  std::size_t copied = lead;
  for (std::size_t k = 0; k < points.size(); ++k) {
    wrapped.append(pattern.substr(copied, points[k] - copied));
    std::string number = std::to_string(k + 1);
    wrapped.append(u"(?C");
    wrapped.append(number.begin(), number.end());
    wrapped.push_back(u')');
    copied = points[k];
  }
  wrapped.append(pattern.substr(copied));
  wrapped.append(kAttemptSuffix);
  pcre2_code* code = CompileText(wrapped, options, cc);
  if (code != nullptr && CaptureCount(code) != groups) {
    pcre2_code_free(code);
    code = nullptr;
  }
  return code;
}

std::shared_ptr<const Program> Compile(std::u16string_view pattern, bool ignoreCase,
                                       bool multiline, bool allowJit) {
  if (pattern.size() > kMaxPatternUnits) return nullptr;
  std::uint32_t options = PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF | PCRE2_ALLOW_EMPTY_CLASS |
                          PCRE2_NEVER_UTF | PCRE2_NEVER_UCP;
  if (ignoreCase) options |= PCRE2_CASELESS;
  options |= multiline ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;
  CompileContext cc;
  if (cc.context == nullptr) return nullptr;

  // The pattern alone decides whether it is valid and how many groups it has;
  // the wrapped form is used only when it agrees.
  pcre2_code* plain = CompileText(pattern, options, cc);
  if (plain == nullptr) return nullptr;
  auto program = std::make_shared<Program>();
  program->groups = CaptureCount(plain);

  const std::size_t lead = regexp_internal::LeadingSettingsLength(pattern);
  std::vector<std::size_t> points;
  // Leading settings may change what the dot matches: no points then.
  if (lead == 0) points = regexp_internal::LineScanPoints(pattern);
  if (points.size() > kMaxPoints) points.resize(kMaxPoints);
  pcre2_code* counted = CompileCounted(pattern, lead, points, program->groups, options, cc);
  if (counted == nullptr && !points.empty()) {
    points.clear();
    counted = CompileCounted(pattern, lead, points, program->groups, options, cc);
  }
  if (counted != nullptr) {
    pcre2_code_free(plain);
    program->code = counted;
    program->counted = true;
    program->calloutEnd = lead + kAttemptCalloutEnd;
    program->points = static_cast<std::uint32_t>(points.size());
  } else {
    program->code = plain;
  }
  if (allowJit) program->jit = pcre2_jit_compile(program->code, PCRE2_JIT_COMPLETE) == 0;
  return program;
}

// What the callouts see of the search in progress: the attempt under way
// and, for the line-scan points, the stretches from which the rest of the
// pattern is known to fail.
struct AttemptMeter {
  enum class Mode { kScan, kSingle };

  struct Point {
    bool pending = false;       // arrived at pendingAt, outcome not known yet
    PCRE2_SIZE pendingAt = 0;
    PCRE2_SIZE deadFrom = 1;    // the rest fails from every position in
    PCRE2_SIZE deadUntil = 0;   // [deadFrom, deadUntil] (empty at first)
  };

  Mode mode = Mode::kScan;
  PCRE2_SIZE current = PCRE2_UNSET;  // start of the attempt under way
  PCRE2_SIZE target = 0;             // kSingle: the one start allowed
  std::size_t calloutEnd = 0;        // pattern position of the attempt callout
  bool movedOn = false;
  std::u16string_view subject;
  std::vector<Point> points;

  // Everything after points [from, end) has been backtracked over: each
  // pending arrival there failed, and so fails its whole line stretch.
  void Fail(std::size_t from) {
    for (std::size_t k = from; k < points.size(); ++k) {
      Point& point = points[k];
      if (!point.pending) continue;
      point.pending = false;
      std::size_t lineEnd = subject.find(u'\n', point.pendingAt);
      point.deadFrom = point.pendingAt;
      point.deadUntil = lineEnd == std::u16string_view::npos ? subject.size() : lineEnd;
    }
  }
  // A call ended without telling which arrivals failed.
  void Forget() {
    for (Point& point : points) point.pending = false;
  }
};

int OnPoint(AttemptMeter& meter, std::size_t index, PCRE2_SIZE position) {
  // Reaching a point again means everything from it on was backtracked over.
  meter.Fail(index);
  AttemptMeter::Point& point = meter.points[index];
  if (position >= point.deadFrom && position <= point.deadUntil) return 1;  // known to fail
  point.pending = true;
  point.pendingAt = position;
  return 0;
}

int OnCallout(pcre2_callout_block* block, void* data) {
  auto& meter = *static_cast<AttemptMeter*>(data);
  if (block->callout_string != nullptr) return 0;
  if (block->callout_number >= 1 && block->callout_number <= meter.points.size()) {
    return OnPoint(meter, block->callout_number - 1, block->current_position);
  }
  if (block->callout_number != kAttemptCalloutNumber ||
      block->pattern_position != meter.calloutEnd) {
    return 0;  // a callout of the pattern's own: carry on
  }
  if (block->start_match == meter.current) return 0;  // the pattern recursing into itself
  // A new start: the attempt before it failed.
  meter.Fail(0);
  if (meter.mode == AttemptMeter::Mode::kSingle) {
    if (meter.current == PCRE2_UNSET && block->start_match == meter.target) {
      meter.current = block->start_match;
      return 0;
    }
    meter.movedOn = true;
    return PCRE2_ERROR_CALLOUT;
  }
  meter.current = block->start_match;
  return 0;
}

// Match-time resources of one search; freed together.
class Matcher {
 public:
  Matcher(const Program& program, const ExecuteLimits& limits)
      : code_(program.code),
        data_(pcre2_match_data_create_from_pattern(program.code, nullptr)),
        context_(pcre2_match_context_create(nullptr)) {
    if (!Usable()) return;
    pcre2_set_heap_limit(context_, static_cast<std::uint32_t>(std::min<std::size_t>(
                                       limits.heapBytes / 1024, UINT32_MAX)));
    if (program.jit) {
      // Without a stack of its own the JIT uses a small default one.
      stack_ = pcre2_jit_stack_create(std::min<std::size_t>(32 * 1024, limits.jitStackBytes),
                                      limits.jitStackBytes, nullptr);
      if (stack_ != nullptr) pcre2_jit_stack_assign(context_, nullptr, stack_);
    }
    if (program.counted) pcre2_set_callout(context_, OnCallout, &meter_);
    meter_.calloutEnd = program.calloutEnd;
    meter_.points.resize(program.points);
  }
  ~Matcher() {
    pcre2_jit_stack_free(stack_);
    pcre2_match_context_free(context_);
    pcre2_match_data_free(data_);
  }
  Matcher(const Matcher&) = delete;
  Matcher& operator=(const Matcher&) = delete;

  bool Usable() const { return data_ != nullptr && context_ != nullptr; }
  AttemptMeter& Meter() { return meter_; }

  int Run(std::u16string_view subject, std::size_t start, std::uint64_t limit) {
    pcre2_set_match_limit(context_, static_cast<std::uint32_t>(
                                        std::min<std::uint64_t>(limit, UINT32_MAX)));
    meter_.current = PCRE2_UNSET;
    meter_.movedOn = false;
    meter_.subject = subject;
    meter_.Forget();
    // pcre2_match runs the JIT code when there is some; unlike
    // pcre2_jit_match it also honours settings such as (*NOTEMPTY).
    int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                         start, 0, data_, context_);
    if (rc == PCRE2_ERROR_NOMATCH) meter_.Fail(0);
    return rc;
  }
  const PCRE2_SIZE* Ovector() const { return pcre2_get_ovector_pointer(data_); }

 private:
  const pcre2_code* code_;
  pcre2_match_data* data_;
  pcre2_match_context* context_;
  pcre2_jit_stack* stack_ = nullptr;
  AttemptMeter meter_;
};

// Runs the program over subject, calling found(ovector) for every match in
// order; found returns false to stop. Returns true when the search ran to its
// natural end, false when it was cut short.
//
// Work: every start position is tried once with the first allowance
// (stepsPerAttempt), so that part is at most stepsPerAttempt * (n + 1). An
// attempt that needs more is run again at its position alone with eight
// times the allowance, and so on, each run paid in full from the budget
// (stepsPerUnit * (n + 1) + baseSteps). When the budget cannot pay for a
// larger run the search ends.
template <typename Found>
bool Search(const Program& program, std::u16string_view subject, bool global,
            const ExecuteLimits& limits, Found&& found) {
  Matcher matcher(program, limits);
  if (!matcher.Usable()) return false;
  const std::size_t n = subject.size();
  std::uint64_t budget = std::uint64_t{limits.stepsPerUnit} * (n + 1) + limits.baseSteps;
  const std::uint64_t firstAllowance = std::max<std::uint32_t>(limits.stepsPerAttempt, 1);
  AttemptMeter& meter = matcher.Meter();

  std::size_t position = 0;
  while (position <= n) {
    int rc = 0;
    if (program.counted) {
      meter.mode = AttemptMeter::Mode::kScan;
      rc = matcher.Run(subject, position, firstAllowance);
      if (rc == PCRE2_ERROR_MATCHLIMIT) {
        // One start needs more than the first allowance: retry just there.
        const PCRE2_SIZE start = meter.current;
        if (start == PCRE2_UNSET) return false;
        std::uint64_t allowance = firstAllowance;
        meter.mode = AttemptMeter::Mode::kSingle;
        meter.target = start;
        for (;;) {
          std::uint64_t next = std::min({allowance * 8, budget, std::uint64_t{UINT32_MAX}});
          if (next <= allowance) return false;  // the budget cannot pay for more
          allowance = next;
          budget -= allowance;
          rc = matcher.Run(subject, start, allowance);
          if (rc != PCRE2_ERROR_MATCHLIMIT) break;
        }
        if (rc == PCRE2_ERROR_NOMATCH || (rc == PCRE2_ERROR_CALLOUT && meter.movedOn)) {
          position = start + 1;  // no match starts there
          continue;
        }
      }
    } else {
      // Without the attempt callout there is no retrying: each position gets
      // the first allowance and its share of the budget, once.
      rc = matcher.Run(subject, position, firstAllowance + limits.stepsPerUnit);
    }
    if (rc == PCRE2_ERROR_NOMATCH) return true;
    if (rc <= 0) return false;  // budget, JIT stack or heap exhausted, or an error
    const PCRE2_SIZE* ovector = matcher.Ovector();
    if (!found(ovector)) return false;
    if (!global) return true;
    const PCRE2_SIZE start = ovector[0];
    const PCRE2_SIZE end = std::max(ovector[0], ovector[1]);
    position = end > start ? end : end + 1;
  }
  return true;
}

// One match's ovector as stored: 32-bit offsets, each pair either unset or
// in order.
void StoreOffsets(const PCRE2_SIZE* ovector, std::size_t stride, std::uint32_t* slot) {
  for (std::size_t i = 0; i < stride; i += 2) {
    if (ovector[i] == PCRE2_UNSET || ovector[i + 1] == PCRE2_UNSET) {
      slot[i] = slot[i + 1] = kUnset;
    } else {
      slot[i] = static_cast<std::uint32_t>(ovector[i]);
      slot[i + 1] = static_cast<std::uint32_t>(std::max(ovector[i], ovector[i + 1]));
    }
  }
}

void AppendExpansion(std::u16string& out, std::u16string_view replacement,
                     std::u16string_view subject, const PCRE2_SIZE* ovector,
                     std::uint32_t groups) {
  auto part = [&](std::uint32_t group) -> std::u16string_view {
    PCRE2_SIZE s = ovector[2 * group];
    PCRE2_SIZE e = ovector[2 * group + 1];
    if (s == PCRE2_UNSET || e == PCRE2_UNSET || e < s) return {};
    return subject.substr(s, e - s);
  };
  auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    char16_t c = replacement[i];
    if (c != u'$' || i + 1 >= replacement.size()) {
      out.push_back(c);
      continue;
    }
    char16_t k = replacement[i + 1];
    if (k == u'$') {
      out.push_back(u'$');
      ++i;
    } else if (k == u'&') {
      out.append(part(0));
      ++i;
    } else if (k == u'`') {
      out.append(subject.substr(0, ovector[0]));
      ++i;
    } else if (k == u'\'') {
      out.append(subject.substr(std::max(ovector[0], ovector[1])));
      ++i;
    } else if (digit(k)) {
      std::uint32_t one = static_cast<std::uint32_t>(k - u'0');
      if (i + 2 < replacement.size() && digit(replacement[i + 2])) {
        std::uint32_t two = one * 10 + static_cast<std::uint32_t>(replacement[i + 2] - u'0');
        if (two >= 1 && two <= groups) {
          out.append(part(two));
          i += 2;
          continue;
        }
      }
      if (one >= 1 && one <= groups) {
        out.append(part(one));
        ++i;
      } else {
        out.push_back(c);
      }
    } else {
      out.push_back(c);
    }
  }
}

}  // namespace

// --- Match -------------------------------------------------------------------

const std::uint32_t* Match::Offsets() const {
  return data_->At(index_);
}

std::int32_t Match::FirstIndex() const { return static_cast<std::int32_t>(Offsets()[0]); }

std::int32_t Match::Length() const {
  return static_cast<std::int32_t>(Offsets()[1] - Offsets()[0]);
}

std::u16string_view Match::ValueView() const {
  return std::u16string_view(data_->subject).substr(Offsets()[0], Offsets()[1] - Offsets()[0]);
}

std::u16string Match::Value() const { return std::u16string(ValueView()); }

std::int32_t Match::SubMatchCount() const { return static_cast<std::int32_t>(data_->groups); }

bool Match::SubMatchTookPart(std::int32_t group) const {
  if (group < 0 || static_cast<std::uint32_t>(group) >= data_->groups) return false;
  return Offsets()[2 + 2 * static_cast<std::size_t>(group)] != kUnset;
}

std::u16string Match::SubMatch(std::int32_t group) const {
  if (!SubMatchTookPart(group)) return {};
  const std::uint32_t* at = Offsets() + 2 + 2 * static_cast<std::size_t>(group);
  return std::u16string(std::u16string_view(data_->subject).substr(at[0], at[1] - at[0]));
}

// --- MatchCollection ---------------------------------------------------------

MatchCollection::MatchCollection() : data_(std::make_shared<CollectionData>()) {}

std::int32_t MatchCollection::Count() const {
  return static_cast<std::int32_t>(data_->count);
}

std::optional<Match> MatchCollection::Item(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= data_->count) return std::nullopt;
  return Match(data_, static_cast<std::size_t>(index));
}

bool MatchCollection::Truncated() const { return data_->truncated; }

std::int32_t MatchCollection::GroupCount() const {
  return static_cast<std::int32_t>(data_->groups);
}

std::u16string_view MatchCollection::Subject() const { return data_->subject; }

// --- RegExp ------------------------------------------------------------------

RegExp::RegExp() = default;
RegExp::~RegExp() = default;
RegExp::RegExp(const RegExp&) = default;
RegExp& RegExp::operator=(const RegExp&) = default;
RegExp::RegExp(RegExp&&) noexcept = default;
RegExp& RegExp::operator=(RegExp&&) noexcept = default;

void RegExp::SetPattern(std::u16string pattern) {
  pattern_ = std::move(pattern);
  compiled_ = false;
}

void RegExp::SetIgnoreCase(bool on) {
  if (on != ignoreCase_) compiled_ = false;
  ignoreCase_ = on;
}

void RegExp::SetMultiline(bool on) {
  if (on != multiline_) compiled_ = false;
  multiline_ = on;
}

void RegExp::SetLimits(const ExecuteLimits& limits) {
  if (limits.allowJit != limits_.allowJit) compiled_ = false;
  limits_ = limits;
}

std::shared_ptr<const regexp_internal::Program> RegExp::Program() const {
  if (!compiled_) {
    program_ = Compile(pattern_, ignoreCase_, multiline_, limits_.allowJit);
    compiled_ = true;
  }
  return program_;
}

bool RegExp::PatternCompiles() const { return Program() != nullptr; }

bool RegExp::UsesJit() const {
  auto program = Program();
  return program && program->jit;
}

std::optional<MatchCollection> RegExp::Execute(std::u16string subject) const {
  auto program = Program();
  if (!program || subject.size() > kMaxSubjectUnits) return std::nullopt;
  auto data = std::make_shared<CollectionData>();
  data->subject = std::move(subject);
  data->groups = program->groups;
  const std::size_t stride = data->Stride();
  const std::uint64_t maxOffsets =
      std::uint64_t{limits_.offsetsPerUnit} * (data->subject.size() + 1) + limits_.baseOffsets;
  bool complete = Search(*program, data->subject, global_, limits_,
                         [&](const PCRE2_SIZE* ovector) {
                           if (data->StoredValues() + stride > maxOffsets) return false;
                           StoreOffsets(ovector, stride, data->Append());
                           return true;
                         });
  data->truncated = !complete;
  return MatchCollection(std::move(data));
}

std::optional<std::u16string> RegExp::Replace(std::u16string_view subject,
                                              std::u16string_view replacement) const {
  auto program = Program();
  if (!program || subject.size() > kMaxSubjectUnits) return std::nullopt;
  std::u16string out;
  std::size_t copied = 0;
  bool tooLong = false;
  Search(*program, subject, global_, limits_, [&](const PCRE2_SIZE* ovector) {
    const std::size_t start = std::max<std::size_t>(ovector[0], copied);
    out.append(subject.substr(copied, start - copied));
    AppendExpansion(out, replacement, subject, ovector, program->groups);
    copied = std::max<std::size_t>(start, ovector[1]);
    tooLong = out.size() > kMaxSubjectUnits;
    return !tooLong;
  });
  if (tooLong) return std::nullopt;
  out.append(subject.substr(copied));
  if (out.size() > kMaxSubjectUnits) return std::nullopt;
  return out;
}

}  // namespace qelvaro::platform
