#pragma once

// Questions about the embedded Roblox class table: does a class exist, can
// markup create it, what does it inherit, which members does it have.
// Names are compared exactly (byte for byte, case-sensitive); no operation
// fails: a name the table lacks gives the empty or negative answer.

#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tovix/roblox/generated.h"

namespace tovix::roblox {

// Class name -> record, over every record of generated::CLASSES.
using Index = std::unordered_map<std::string_view, const generated::ClassInfo*>;

// The process-wide class index, built on first use (thread-safe) and
// read-only afterwards.
[[nodiscard]] const Index& index();

// The record named exactly `class_name`, or null.
[[nodiscard]] const generated::ClassInfo* lookup(std::string_view class_name);

// True only for a class in the table that markup may create.
[[nodiscard]] bool is_class(std::string_view name);

// The superclass name, present only when both the class and its superclass
// are in the table (none for Object and for unknown names).
[[nodiscard]] std::optional<std::string_view> superclass(std::string_view class_name);

// The records from a class up through its superclasses; the walk stops at
// the first superclass name the table lacks (for the real data, after Object).
class Ancestry {
 public:
  class iterator {
   public:
    using value_type = generated::ClassInfo;
    using difference_type = std::ptrdiff_t;

    iterator() = default;
    explicit iterator(const generated::ClassInfo* record) : record_(record) {}

    const generated::ClassInfo& operator*() const { return *record_; }
    const generated::ClassInfo* operator->() const { return record_; }
    iterator& operator++();
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const iterator&) const = default;
    bool operator==(std::default_sentinel_t) const { return record_ == nullptr; }

   private:
    const generated::ClassInfo* record_ = nullptr;
  };

  explicit Ancestry(const generated::ClassInfo* first) : first_(first) {}
  [[nodiscard]] iterator begin() const { return iterator(first_); }
  [[nodiscard]] std::default_sentinel_t end() const { return {}; }
  [[nodiscard]] bool empty() const { return first_ == nullptr; }

 private:
  const generated::ClassInfo* first_;
};

[[nodiscard]] Ancestry ancestry(std::string_view class_name);

// A lazy sequence of member names along an ancestry: a class's own list,
// then its superclass's, and so on. It holds the record it stands at and a
// position in its list, looks up the next record only when the list is used
// up, and borrows every name from the table.
class Members {
 public:
  using List = std::span<const std::string_view> generated::ClassInfo::*;

  class iterator {
   public:
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;

    iterator() = default;
    iterator(const generated::ClassInfo* record, List list);

    std::string_view operator*() const { return (record_->*list_)[position_]; }
    iterator& operator++();
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const iterator&) const = default;
    bool operator==(std::default_sentinel_t) const { return record_ == nullptr; }

   private:
    void skip_used_up_lists();

    const generated::ClassInfo* record_ = nullptr;
    List list_ = nullptr;
    std::size_t position_ = 0;
  };

  Members(const generated::ClassInfo* first, List list) : first_(first), list_(list) {}
  [[nodiscard]] iterator begin() const { return iterator(first_, list_); }
  [[nodiscard]] std::default_sentinel_t end() const { return {}; }

 private:
  const generated::ClassInfo* first_;
  List list_;
};

// Property names of the class and its ancestors, nearest class first; empty
// for an unknown class.
[[nodiscard]] Members properties(std::string_view class_name);
// Event names, the same way.
[[nodiscard]] Members events(std::string_view class_name);

// Whether the member is among the class's properties (events do not count).
[[nodiscard]] bool has_property(std::string_view class_name, std::string_view member);
// Whether the member is among the class's events.
[[nodiscard]] bool is_event(std::string_view class_name, std::string_view member);
// Whether the class's properties contain exactly "Text".
[[nodiscard]] bool has_text_property(std::string_view class_name);

// The names of every creatable class, in table order.
[[nodiscard]] std::span<const std::string_view> creatable_classes();

// Whether the member name is in the deprecated-member list.
[[nodiscard]] bool is_deprecated(std::string_view member);

// Name suggestions: the nearest existing names to one that is not a Roblox
// class or member. Results borrow from the table; nothing is kept between
// calls. Queries are compared after full Unicode lower-casing of both texts.

// Optimal-string-alignment distance between a and b, counted in Unicode
// scalar values (an insertion, deletion, substitution or swap of two adjacent
// characters each cost 1; no stretch is edited twice). Case-sensitive. A byte
// that is not part of valid UTF-8 counts as one character equal only to
// itself.
[[nodiscard]] std::size_t edit_distance(std::string_view a, std::string_view b);

// The largest distance at which `candidate` still counts as a suggestion for
// `query`: from the lesser byte length k of the two as written, 1 for k < 8,
// 2 for k < 12, else 3.
[[nodiscard]] std::size_t suggestion_limit(std::string_view query, std::string_view candidate);

// The nearest creatable class within the limit: least distance, then
// shortest, then byte order.
[[nodiscard]] std::optional<std::string_view> closest_class(std::string_view query);

// Up to three members (properties, then events, along the ancestry) of the
// class. Members containing the query win, shortest first; otherwise the
// nearest within the limit. Empty for a class the table lacks.
[[nodiscard]] std::vector<std::string_view> closest_members(std::string_view class_name, std::string_view query);

// The nearest property or event of any class within the limit: least
// distance, then shortest, then byte order.
[[nodiscard]] std::optional<std::string_view> closest_member_anywhere(std::string_view query);

}  // namespace tovix::roblox
