#include "tovix/roblox/roblox.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <utf8proc.h>

namespace tovix::roblox {

using generated::ClassInfo;

namespace {

Index build_index() {
  Index map;
  map.reserve(generated::CLASSES.size());
  for (const ClassInfo& record : generated::CLASSES) map.emplace(record.name, &record);
  return map;
}

// Every member list of the table is sorted by byte order.
bool declares(std::span<const std::string_view> list, std::string_view member) {
  return std::binary_search(list.begin(), list.end(), member);
}

// The record of each class's superclass, by the class's place in the table
// (none for the root): walking an ancestry then looks up no names.
const std::vector<const ClassInfo*>& parents() {
  static const std::vector<const ClassInfo*> table = [] {
    std::vector<const ClassInfo*> out;
    out.reserve(generated::CLASSES.size());
    for (const ClassInfo& record : generated::CLASSES) out.push_back(lookup(record.superclass));
    return out;
  }();
  return table;
}

const ClassInfo* parent_of(const ClassInfo* record) {
  return parents()[static_cast<std::size_t>(record - generated::CLASSES.data())];
}

bool ancestry_declares(std::string_view class_name, Members::List list, std::string_view member) {
  for (const ClassInfo& record : ancestry(class_name)) {
    if (declares(record.*list, member)) return true;
  }
  return false;
}

// Unicode text.

// Bytes outside valid UTF-8 decode to values above the scalar range, so that
// each one equals only itself.
constexpr char32_t INVALID_BYTE_BASE = 0x110000;

constexpr char32_t CAPITAL_I_WITH_DOT = 0x0130;
constexpr char32_t COMBINING_DOT_ABOVE = 0x0307;

bool is_ascii(std::string_view text) {
  // No early exit, so the loop vectorises; names are short.
  unsigned char seen = 0;
  for (char c : text) seen |= static_cast<unsigned char>(c);
  return seen < 0x80;
}

void decode(std::string_view text, std::u32string& out) {
  out.clear();
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  auto left = static_cast<utf8proc_ssize_t>(text.size());
  while (left > 0) {
    utf8proc_int32_t scalar = 0;
    utf8proc_ssize_t used = utf8proc_iterate(bytes, left, &scalar);
    if (used <= 0) {
      out.push_back(INVALID_BYTE_BASE + *bytes);
      used = 1;
    } else {
      out.push_back(static_cast<char32_t>(scalar));
    }
    bytes += used;
    left -= used;
  }
}

// The full Unicode lower-case mapping of a whole text, as scalar values.
// `scratch` is reused between calls to avoid allocating. The context rule for
// capital sigma is left out: table names are ASCII, so which small sigma a
// query gets cannot change any distance or containment.
void lower_ascii(std::string_view text, std::u32string& out) {
  out.resize(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    out[i] = static_cast<char32_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
}

void lower(std::string_view text, std::u32string& out, std::u32string& scratch) {
  if (is_ascii(text)) {
    lower_ascii(text, out);
    return;
  }
  out.clear();
  decode(text, scratch);
  for (char32_t c : scratch) {
    if (c >= INVALID_BYTE_BASE) {
      out.push_back(c);
    } else if (c == CAPITAL_I_WITH_DOT) {
      // The one unconditional mapping to more than one character, which
      // the simple per-character mapping misses.
      out.push_back(U'i');
      out.push_back(COMBINING_DOT_ABOVE);
    } else {
      out.push_back(static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c))));
    }
  }
}

// Distance.

// Optimal string alignment distance, or `bound + 1` when it exceeds `bound`.
// Three rolling rows (the swap looks two rows back), and only the band of
// cells within `bound` of the diagonal is computed: every cell outside it
// exceeds the bound, so it holds `bound + 1` and the band's values stay exact.
class Distance {
 public:
  std::size_t operator()(std::u32string_view a, std::u32string_view b, std::size_t bound) {
    const std::size_t n = a.size(), m = b.size();
    bound = std::min(bound, std::max(n, m));  // no distance exceeds the longer length
    const std::size_t over = bound + 1;
    if ((n > m ? n - m : m - n) > bound) return over;
    if (n == 0 || m == 0) return n + m;
    two_back_.resize(m + 1);
    one_back_.resize(m + 1);
    current_.resize(m + 1);
    for (std::size_t j = 0; j <= std::min(m, bound + 1); ++j) one_back_[j] = std::min(j, over);
    for (std::size_t i = 1; i <= n; ++i) {
      const std::size_t lo = i > bound ? i - bound : 1;
      const std::size_t hi = std::min(m, i + bound);
      current_[lo - 1] = lo == 1 ? std::min(i, over) : over;
      std::size_t row_min = current_[lo - 1];
      for (std::size_t j = lo; j <= hi; ++j) {
        const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
        std::size_t d = std::min({one_back_[j] + 1, current_[j - 1] + 1, one_back_[j - 1] + cost});
        if (i >= 2 && j >= 2 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d = std::min(d, two_back_[j - 2] + 1);
        d = std::min(d, over);
        current_[j] = d;
        row_min = std::min(row_min, d);
      }
      if (hi < m) current_[hi + 1] = over;
      // No row's least cell is smaller than the row above's (a cell two
      // rows up is at least that row's least less one, plus the swap's one),
      // so once a row exceeds the bound the result does too.
      if (row_min > bound) return over;
      std::swap(two_back_, one_back_);
      std::swap(one_back_, current_);
    }
    return one_back_[m];
  }

 private:
  std::vector<std::size_t> two_back_, one_back_, current_;
};

constexpr std::size_t NO_BOUND = static_cast<std::size_t>(-1) - 1;

// The largest suggestion limit of any pair of texts.
constexpr std::size_t MAX_LIMIT = 3;

// A query lower-cased once, compared with lower-cased candidates.
class Matcher {
 public:
  explicit Matcher(std::string_view query) : query_(query) { lower(query, lowered_query_, scratch_); }

  // The candidate's distance to the query when within the suggestion limit
  // and within `best` (a distance already found), or none.
  std::optional<std::size_t> distance(std::string_view candidate, std::size_t best = NO_BOUND) {
    const std::size_t bound = std::min(suggestion_limit(query_, candidate), best);
    // Lower-casing ASCII keeps the length, so the length gap alone can
    // rule a candidate out before it is lower-cased.
    if (is_ascii(candidate)) {
      const std::size_t n = lowered_query_.size(), m = candidate.size();
      if ((n > m ? n - m : m - n) > bound) return std::nullopt;
      lower_ascii(candidate, lowered_candidate_);
    } else {
      lower(candidate, lowered_candidate_, scratch_);
    }
    const std::size_t d = distance_(lowered_query_, lowered_candidate_, bound);
    if (d > bound) return std::nullopt;
    return d;
  }

  std::size_t lowered_length() const { return lowered_query_.size(); }

  bool contained_in(std::string_view candidate) {
    lower(candidate, lowered_candidate_, scratch_);
    return std::u32string_view(lowered_candidate_).find(lowered_query_) != std::u32string_view::npos;
  }

 private:
  std::string_view query_;
  std::u32string lowered_query_, lowered_candidate_, scratch_;
  Distance distance_;
};

// Calls `visit(name)` for every member of a class along its ancestry:
// properties, then events, record by record.
template <typename Visit>
void for_each_member(std::string_view class_name, Visit&& visit) {
  for (const ClassInfo& record : ancestry(class_name)) {
    for (std::string_view name : record.properties) visit(name);
    for (std::string_view name : record.events) visit(name);
  }
}

bool by_length_then_bytes(std::string_view a, std::string_view b) {
  return std::pair(a.size(), a) < std::pair(b.size(), b);
}

constexpr std::size_t MAX_MEMBER_SUGGESTIONS = 3;

}  // namespace

const Index& index() {
  // A function-local static: built by exactly one caller, others wait.
  static const Index map = build_index();
  return map;
}

const ClassInfo* lookup(std::string_view class_name) {
  const Index& map = index();
  auto found = map.find(class_name);
  return found == map.end() ? nullptr : found->second;
}

bool is_class(std::string_view name) {
  const ClassInfo* record = lookup(name);
  return record != nullptr && record->creatable;
}

std::optional<std::string_view> superclass(std::string_view class_name) {
  const ClassInfo* record = lookup(class_name);
  if (record == nullptr) return std::nullopt;
  const ClassInfo* parent = lookup(record->superclass);
  if (parent == nullptr) return std::nullopt;
  return parent->name;
}

Ancestry::iterator& Ancestry::iterator::operator++() {
  record_ = parent_of(record_);
  return *this;
}

Ancestry ancestry(std::string_view class_name) { return Ancestry(lookup(class_name)); }

Members::iterator::iterator(const ClassInfo* record, List list) : record_(record), list_(list) { skip_used_up_lists(); }

Members::iterator& Members::iterator::operator++() {
  ++position_;
  skip_used_up_lists();
  return *this;
}

void Members::iterator::skip_used_up_lists() {
  while (record_ != nullptr && position_ >= (record_->*list_).size()) {
    record_ = parent_of(record_);
    position_ = 0;
  }
}

Members properties(std::string_view class_name) { return Members(lookup(class_name), &ClassInfo::properties); }

Members events(std::string_view class_name) { return Members(lookup(class_name), &ClassInfo::events); }

bool has_property(std::string_view class_name, std::string_view member) {
  return ancestry_declares(class_name, &ClassInfo::properties, member);
}

bool is_event(std::string_view class_name, std::string_view member) {
  return ancestry_declares(class_name, &ClassInfo::events, member);
}

bool has_text_property(std::string_view class_name) { return has_property(class_name, "Text"); }

std::span<const std::string_view> creatable_classes() { return generated::CREATABLE_CLASSES; }

bool is_deprecated(std::string_view member) {
  const auto& list = generated::DEPRECATED_MEMBERS;
  return std::binary_search(list.begin(), list.end(), member);
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::u32string left, right;
  decode(a, left);
  decode(b, right);
  return Distance()(left, right, NO_BOUND);
}

std::size_t suggestion_limit(std::string_view query, std::string_view candidate) {
  const std::size_t quarter = std::min(query.size(), candidate.size()) / 4;
  return std::clamp<std::size_t>(quarter, 1, MAX_LIMIT);
}

std::optional<std::string_view> closest_class(std::string_view query) {
  Matcher matcher(query);
  std::optional<std::string_view> best;
  std::size_t best_distance = NO_BOUND;
  for (const ClassInfo& record : generated::CLASSES) {
    if (!record.creatable) continue;
    auto d = matcher.distance(record.name, best_distance);
    if (!d) continue;
    // Ties on (distance, length) keep the first met, the byte-order smallest.
    if (!best || std::pair(*d, record.name.size()) < std::pair(best_distance, best->size())) {
      best = record.name;
      best_distance = *d;
    }
  }
  return best;
}

std::vector<std::string_view> closest_members(std::string_view class_name, std::string_view query) {
  Matcher matcher(query);
  std::vector<std::string_view> names;
  for_each_member(class_name, [&](std::string_view name) {
    if (matcher.contained_in(name)) names.push_back(name);
  });
  if (!names.empty()) {
    // No distance here: a short query that is part of long names offers them.
    std::stable_sort(names.begin(), names.end(), by_length_then_bytes);
  } else {
    std::vector<std::pair<std::size_t, std::string_view>> near;
    for_each_member(class_name, [&](std::string_view name) {
      if (auto d = matcher.distance(name)) near.emplace_back(*d, name);
    });
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) {
      return std::tuple(a.first, a.second.size(), a.second) < std::tuple(b.first, b.second.size(), b.second);
    });
    for (const auto& pair : near) names.push_back(pair.second);
  }
  names.erase(std::unique(names.begin(), names.end()), names.end());
  if (names.size() > MAX_MEMBER_SUGGESTIONS) names.resize(MAX_MEMBER_SUGGESTIONS);
  return names;
}

std::optional<std::string_view> closest_member_anywhere(std::string_view query) {
  // The answer is the least (distance, byte length, byte order) over the
  // distinct member names, whichever order they are met in; and a name
  // whose length differs from the query's by more than the largest limit
  // cannot qualify. So only the names of a near length are visited.
  Matcher matcher(query);
  const std::size_t n = matcher.lowered_length();
  const auto names = generated::MEMBER_NAMES_BY_LENGTH;
  auto it = std::partition_point(names.begin(), names.end(),
                                 [&](std::string_view name) { return name.size() + MAX_LIMIT < n; });
  std::optional<std::string_view> best;
  std::size_t best_distance = NO_BOUND;
  for (; it != names.end() && it->size() <= n + MAX_LIMIT; ++it) {
    auto d = matcher.distance(*it, best_distance);
    if (!d) continue;
    if (!best || std::tuple(*d, it->size(), *it) < std::tuple(best_distance, best->size(), *best)) {
      best = *it;
      best_distance = *d;
    }
  }
  return best;
}

}  // namespace tovix::roblox
