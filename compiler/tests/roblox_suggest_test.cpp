#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "tovix/config/suggest.h"
#include "tovix/roblox/generated.h"
#include "tovix/roblox/roblox.h"

namespace {

namespace roblox = tovix::roblox;
using tovix::roblox::generated::ClassInfo;
using tovix::roblox::generated::CLASSES;
using Names = std::vector<std::string_view>;

TEST(EditDistance, Cases) {
  struct Case {
    std::string_view a, b;
    std::size_t distance;
  };
  const Case cases[] = {
      {"", "", 0},
      {"", "abc", 3},
      {"abc", "", 3},
      {"Frame", "Frame", 0},
      {"Frame", "frame", 1},  // case-sensitive
      {"Part", "Prat", 1},    // one adjacent swap
      {"ab", "ba", 1},
      {"ca", "abc", 3},  // no stretch is edited twice, so not 2
      {"abcdef", "badcfe", 3},
      {"kitten", "sitting", 3},
      {"\xC3\xA9", "e", 1},                                         // é is one character, not two bytes
      {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x9C\xAC\xE6\x97\xA5", 1},  // 日本 / 本日: a swap of characters
      {"\xF0\x9F\x98\x80", "", 1},                                  // one four-byte character
      {"\xFF", "\xFE", 1},                                          // invalid bytes equal only themselves
      {"\xFF", "\xFF", 0},
      {"a\xC3", "a\xC3\xA9", 1},  // a cut-off sequence is one unit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
    EXPECT_EQ(roblox::edit_distance(c.a, c.b), c.distance);
    EXPECT_EQ(roblox::edit_distance(c.b, c.a), c.distance);
  }
}

TEST(SuggestionLimit, FromTheShorterByteLength) {
  const std::tuple<std::size_t, std::size_t, std::size_t> cases[] = {
      {0, 5, 1}, {7, 20, 1}, {8, 8, 2}, {11, 30, 2}, {30, 11, 2}, {12, 12, 3}, {15, 15, 3}, {16, 16, 3}, {100, 90, 3},
  };
  for (auto [q, c, limit] : cases)
    EXPECT_EQ(roblox::suggestion_limit(std::string(q, 'a'), std::string(c, 'b')), limit) << q << " " << c;
  // Bytes as written: "ä" counts two.
  EXPECT_EQ(roblox::suggestion_limit("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4", "Humanoid"), 2u);
}

TEST(ClosestClass, Cases) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {"Textlabel", "TextLabel"},  // a difference of case alone costs nothing
      {"TEXTLABEL", "TextLabel"},
      {"Fram", "Frame"},
      {"Frme", "Frame"},
      {"Framee", "Frame"},
      {"Prat", "Part"},
      {"Frame", "Frame"},
      {"Buton", std::nullopt},  // limit 1, nothing within one edit
      {"", std::nullopt},
      {"Qqqqqq", std::nullopt},
      {"GuiObjec", std::nullopt},  // not creatable, so never offered
      // Limit from bytes as written: "ä" is two bytes, so this seven-character
      // query has limit 2 and reaches Humanoid at distance 2; its ASCII
      // counterpart has limit 1 and reaches nothing.
      {"Hum\xC3\xA4nid", "Humanoid"},
      {"Humxnid", std::nullopt},
      // Full lower-casing: İ becomes "i" and a combining dot, one edit from "i".
      {"\xC4\xB0mageLabel", "ImageLabel"},
  };
  for (auto [query, expected] : cases) EXPECT_EQ(roblox::closest_class(query), expected) << query;
}

TEST(ClosestMembers, Cases) {
  struct Case {
    std::string_view class_name, query;
    Names expected;
  };
  const Case cases[] = {
      // Substring stage: every member contains the empty query.
      {"Frame", "", {"Name", "Size", "Style"}},
      // Shortest first, then byte order; no distance on this path.
      {"TextLabel", "Text", {"Text", "RichText", "TextSize"}},
      {"TextLabel", "color", {"TextColor3", "BorderColor3", "BackgroundColor3"}},
      {"TextLabel", "TEXTCOLOR3", {"TextColor3"}},
      // Distance stage, under limit 3.
      {"TextButton", "MouseButton1Clik", {"MouseButton1Click", "MouseButton2Click"}},
      // Changed is declared by StringValue and again by Object: offered once;
      // upper case sorts before lower case.
      {"StringValue", "Changd", {"Changed", "changed"}},
      {"textlabel", "Text", {}},
      {"Nope", "", {}},
      {"Frame", "Qqqqqqqq", {}},
      // Names with a blank are members like any other.
      {"PVInstance", "pivot off", {"Pivot Offset"}},
      // İ lower-cases to two characters, so it is part of no member name.
      {"Frame", "\xC4\xB0", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.class_name) + " / " + std::string(c.query));
    EXPECT_EQ(roblox::closest_members(c.class_name, c.query), c.expected);
  }
}

TEST(ClosestMemberAnywhere, Cases) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {"Sise", "Side"},  // Side and Size both at 1; byte order decides
      {"", "D"},         // only one-character names are within 1
      {"BackgroundColour3", "BackgroundColor3"},
      {"backgroundcolor3", "BackgroundColor3"},
      {"Qqqqqqqq", std::nullopt},
  };
  for (auto [query, expected] : cases) EXPECT_EQ(roblox::closest_member_anywhere(query), expected) << query;
}

TEST(ConfigSuggestions, Tails) {
  EXPECT_EQ(tovix::config::suggest_class("Fram"), "; did you mean Frame?");
  EXPECT_EQ(tovix::config::suggest_class("Qqqqqq"), "");
  EXPECT_EQ(tovix::config::suggest_member_anywhere("Sise"), "; did you mean Side?");
  EXPECT_EQ(tovix::config::suggest_member_anywhere("Qqqqqqqq"), "");
}

// The searches prune by length and by the best distance found so far; a
// straight reading of the rules over the whole table must agree with them.
std::size_t reference_distance(std::string_view a, std::string_view b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i >= 2 && j >= 2 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return out;
}

std::optional<std::size_t> reference_qualifies(std::string_view query, std::string_view name) {
  std::size_t d = reference_distance(ascii_lower(query), ascii_lower(name));
  if (d > roblox::suggestion_limit(query, name)) return std::nullopt;
  return d;
}

std::optional<std::string_view> reference_anywhere(std::string_view query) {
  std::optional<std::tuple<std::size_t, std::size_t, std::string_view>> best;
  for (const ClassInfo& r : CLASSES)
    for (auto list : {r.properties, r.events})
      for (std::string_view name : list)
        if (auto d = reference_qualifies(query, name)) {
          std::tuple key(*d, name.size(), name);
          if (!best || key < *best) best = key;
        }
  if (!best) return std::nullopt;
  return std::get<2>(*best);
}

std::optional<std::string_view> reference_class(std::string_view query) {
  std::optional<std::tuple<std::size_t, std::size_t, std::string_view>> best;
  for (const ClassInfo& r : CLASSES)
    if (r.creatable)
      if (auto d = reference_qualifies(query, r.name)) {
        std::tuple key(*d, r.name.size(), r.name);
        if (!best || key < *best) best = key;
      }
  if (!best) return std::nullopt;
  return std::get<2>(*best);
}

Names reference_members(std::string_view class_name, std::string_view query) {
  std::vector<std::tuple<std::size_t, std::size_t, std::string_view>> found;
  Names all;
  for (const ClassInfo& r : roblox::ancestry(class_name))
    for (auto list : {r.properties, r.events}) all.insert(all.end(), list.begin(), list.end());
  const std::string q = ascii_lower(query);
  for (std::string_view name : all)
    if (ascii_lower(name).find(q) != std::string::npos) found.emplace_back(0, name.size(), name);
  if (found.empty())
    for (std::string_view name : all)
      if (auto d = reference_qualifies(query, name)) found.emplace_back(*d, name.size(), name);
  std::sort(found.begin(), found.end());
  Names out;
  for (const auto& f : found)
    if (out.empty() || out.back() != std::get<2>(f)) out.push_back(std::get<2>(f));
  if (out.size() > 3) out.resize(3);
  return out;
}

// Misspellings of real names: a few random edits each, so that many queries
// land within the limit of several names at once.
std::vector<std::string> misspellings(std::size_t count) {
  std::mt19937 rng(12345);
  Names pool;
  for (const ClassInfo& r : CLASSES) {
    pool.push_back(r.name);
    pool.insert(pool.end(), r.properties.begin(), r.properties.end());
  }
  const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _";
  std::vector<std::string> out;
  for (std::size_t k = 0; k < count; ++k) {
    std::string s(pool[rng() % pool.size()]);
    for (std::size_t edits = rng() % 4; edits > 0; --edits) {
      std::size_t at = s.empty() ? 0 : rng() % s.size();
      switch (rng() % 4) {
        case 0:
          if (!s.empty()) s.erase(at, 1);
          break;
        case 1: s.insert(at, 1, letters[rng() % letters.size()]); break;
        case 2:
          if (!s.empty()) s[at] = letters[rng() % letters.size()];
          break;
        default:
          if (at + 1 < s.size()) std::swap(s[at], s[at + 1]);
          break;
      }
    }
    if (rng() % 3 == 0) s = s.substr(0, rng() % (s.size() + 1));
    out.push_back(s);
  }
  return out;
}

TEST(Suggestions, AgreeWithAStraightReading) {
  const std::string_view classes[] = {"TextLabel", "Frame", "BasePart", "StarterPlayer", "UIStroke"};
  const std::vector<std::string> queries = misspellings(200);
  std::size_t index = 0, found = 0;
  for (const std::string& query : queries) {
    SCOPED_TRACE(query);
    const std::string& other = queries[(index * 7 + 3) % queries.size()];
    EXPECT_EQ(roblox::edit_distance(query, other), reference_distance(query, other));
    auto anywhere = roblox::closest_member_anywhere(query);
    found += anywhere.has_value();
    EXPECT_EQ(anywhere, reference_anywhere(query));
    EXPECT_EQ(roblox::closest_class(query), reference_class(query));
    std::string_view cls = classes[index++ % std::size(classes)];
    EXPECT_EQ(roblox::closest_members(cls, query), reference_members(cls, query));
  }
  // Most queries must find something, or the comparison proves little.
  EXPECT_GT(found, queries.size() / 2);
}

}  // namespace
