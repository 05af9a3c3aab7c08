#include "features/code_actions.h"

#include <gtest/gtest.h>

#include "marked_text.h"

namespace tovix_lsp::code_actions {
namespace {

using json = nlohmann::json;

const std::string URI = "file:///tmp/a.tovix";
const json RANGE = json::parse(R"({"end":{"character":16,"line":1},"start":{"character":8,"line":1}})");

json diagnostic(json data) {
  return {{"data", std::move(data)}, {"message", "m"}, {"range", RANGE}, {"severity", 1}, {"source", "tovix"}};
}

json data(std::string kind, json candidates) {
  return {{"candidates", std::move(candidates)}, {"kind", std::move(kind)}, {"range", RANGE}};
}

// Titles and preferred flags of the actions for `diagnostics`, one line each.
std::vector<std::string> summary(const std::vector<json>& diagnostics) {
  std::vector<std::string> out;
  for (const json& a : actions(URI, diagnostics, nullptr))
    out.push_back(a.at("title").get<std::string>() + (a.at("isPreferred").get<bool>() ? " *" : ""));
  return out;
}

TEST(CodeActions, OneActionPerCandidateTheFirstPreferred) {
  const json d = diagnostic(data("member", {"TextColor3", "BorderColor3", "BackgroundColor3"}));
  const json all = actions(URI, std::vector<json>{d}, nullptr);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].dump(),
            R"({"diagnostics":[)" + d.dump() +
                R"(],"edit":{"changes":{"file:///tmp/a.tovix":[{"newText":)"
                R"("TextColor3","range":{"end":{"character":16,"line":1},"start":{"character":8,"line":1}}}]}},)"
                R"("isPreferred":true,"kind":"quickfix","title":"Change attribute to TextColor3"})");
  EXPECT_EQ(summary({d}),
            (std::vector<std::string>{"Change attribute to TextColor3 *", "Change attribute to BorderColor3",
                                      "Change attribute to BackgroundColor3"}));
}

TEST(CodeActions, WhatGivesActions) {
  struct Case {
    const char* name;
    json data;
    std::vector<std::string> titles;
  } cases[] = {
      {"element", data("element", {"TextLabel"}), {"Change element to TextLabel *"}},
      {"equal first two",
       data("element", {"Frame", "Frame"}),
       {"Change element to Frame *", "Change element to Frame *"}},
      {"non-string candidate skipped",
       data("member", {1, "Text", nullptr, "Size"}),
       {"Change attribute to Text", "Change attribute to Size"}},
      {"no range", {{"candidates", {"A"}}, {"kind", "element"}}, {}},
      {"candidates not an array", {{"candidates", "A"}, {"kind", "element"}, {"range", RANGE}}, {}},
      {"other kind", data("class", {"A"}), {}},
      {"kind not a string", {{"candidates", {"A"}}, {"kind", 1}, {"range", RANGE}}, {}},
      {"data not an object", json::array({"A"}), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(summary({diagnostic(c.data)}), c.titles);
  }
  // Diagnostics in order, then candidates in order; one without data adds nothing.
  json plain = diagnostic(nullptr);
  plain.erase("data");
  EXPECT_EQ(summary({diagnostic(data("member", {"A", "B"})), plain, diagnostic(data("element", {"C"}))}),
            (std::vector<std::string>{"Change attribute to A *", "Change attribute to B", "Change element to C *"}));
}

TEST(CodeActions, OnlyOurOwnDiagnostics) {
  json mine = diagnostic(data("element", {"TextLabel"}));
  json theirs = mine;
  theirs["source"] = "Luau";
  json no_source = mine;
  no_source.erase("source");
  json odd_source = mine;
  odd_source["source"] = json::array({"tovix"});
  json second = mine;
  second["message"] = "second";
  const json context = json::array({theirs, mine, no_source, 7, odd_source, "tovix", second});
  EXPECT_EQ(json(ours(context)), json::array({mine, second}));
  EXPECT_TRUE(ours(json::object()).empty());
  EXPECT_TRUE(ours(nullptr).empty());
}

// A misspelt element with a closing tag is fixed in both tags, or the
// document would no longer compile: the closing name is found in the
// document as it is now. The first two marks are the data's range.
TEST(CodeActions, ElementFixesRenameTheClosingTagToo) {
  struct Case {
    const char* fixture;
    const char* kind;
    const char* edits;  // the edited ranges, named by the fixture's marks
  } cases[] = {
      {"return <$Txtlabel$>Hi</$Txtlabel$>", "element", "$0..$1 $2..$3"},
      {"return <$Txtlabel$\n  Text='a'>\n</  $Txtlabel$  >", "element", "$0..$1 $2..$3"},
      {"return <$Txtlabel$ Text='a' />", "element", "$0..$1"},
      {"return <Txtlabel><$Txtlabel$/></Txtlabel>", "element", "$0..$1"},
      {"return <$Txtlabel$><Txtlabel/></$Txtlabel$>", "element", "$0..$1 $2..$3"},
      // The range no longer names an element: only the range itself.
      {"return <Txtlabel>$Hi$</Txtlabel>", "element", "$0..$1"},
      {"return <TextLabel $Txet$='a'></TextLabel>", "member", "$0..$1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const testing_support::MarkedText f(c.fixture);
    document::Document doc(URI, f.text, 1);
    json d = diagnostic({{"candidates", {"Fixed"}}, {"kind", c.kind}, {"range", doc.range_at(f.marks[0], f.marks[1])}});
    const json all = actions(URI, std::vector<json>{d}, &doc);
    ASSERT_EQ(all.size(), 1u);
    std::string edited;
    for (const json& edit : all.at(0).at("edit").at("changes").at(URI)) {
      EXPECT_EQ(edit.at("newText"), "Fixed");
      auto r = doc.byte_range(edit.at("range"));
      ASSERT_TRUE(r);
      edited += (edited.empty() ? "" : " ") + f.name(r->start) + ".." + f.name(r->end);
    }
    EXPECT_EQ(edited, c.edits);
  }
}

}  // namespace
}  // namespace tovix_lsp::code_actions
