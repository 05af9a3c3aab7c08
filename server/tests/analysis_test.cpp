#include "workspace/analysis.h"

#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"

#include <gtest/gtest.h>

namespace tovix_lsp::analysis {
namespace {

using json = nlohmann::json;

// The byte span marked [[…]] in `marked`, and the text without the marks.
struct Marked {
  std::string text;
  std::size_t start, end;
};
Marked marked(std::string_view s) {
  auto a = s.find("[[");
  auto b = s.find("]]");
  std::string text =
      std::string(s.substr(0, a)) + std::string(s.substr(a + 2, b - a - 2)) + std::string(s.substr(b + 2));
  return {text, a, b - 2};
}

json check(std::string_view fixture, std::optional<std::string> help = std::nullopt,
           project::Project project = project::Project::bare("/tmp")) {
  auto m = marked(fixture);
  document::Document doc("file:///tmp/a.tovix", m.text, 1);
  return diagnostic(doc, project, "msg", m.start, m.end - m.start, help, Severity::Error);
}

std::string range_of(const json& d) {
  const json& r = d.at("range");
  return std::to_string(r.at("start").at("line").get<int>()) + ":" +
         std::to_string(r.at("start").at("character").get<int>()) + "-" +
         std::to_string(r.at("end").at("line").get<int>()) + ":" +
         std::to_string(r.at("end").at("character").get<int>());
}

TEST(Diagnostic, SpansCoverWholeCharacters) {
  struct Case {
    const char* fixture;
    const char* range;
  } cases[] = {
      {"abc[[]]def", "0:3-0:4"},  // empty span widened to the next character
      {"abcdef[[]]", "0:6-0:6"},  // nothing left at the end of the text
      {"é[[]]x", "0:1-0:2"},      // after a two-byte character: UTF-16 columns
      {"a😀[[]]b", "0:3-0:4"},     // after a four-byte character (two UTF-16 units)
      {"ab\n[[cd]]\n", "1:0-1:2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    EXPECT_EQ(range_of(check(c.fixture)), c.range);
  }
  // An offset inside a character starts at that character and ends after it.
  document::Document doc("file:///tmp/a.tovix", "a😀b", 1);
  auto d = diagnostic(doc, project::Project::bare("/tmp"), "m", 2, 1, std::nullopt, Severity::Warning);
  EXPECT_EQ(range_of(d), "0:1-0:3");
  EXPECT_EQ(d.at("severity"), 2);
  // Offsets far past the end clamp to it.
  EXPECT_EQ(range_of(diagnostic(doc, project::Project::bare("/tmp"), "m", 99, SIZE_MAX, std::nullopt, Severity::Error)),
            "0:4-0:4");
}

TEST(Diagnostic, HelpBecomesRelatedInformation) {
  auto d = check("local x = [[<Frame>]]", "write it so");
  EXPECT_EQ(d.at("relatedInformation").dump(),
            R"([{"location":{"range":{"end":{"character":17,"line":0},"start":{"character":10,"line":0}},)"
            R"("uri":"file:///tmp/a.tovix"},"message":"write it so"}])");
  EXPECT_FALSE(check("x[[y]]").contains("relatedInformation"));
  EXPECT_EQ(check("x[[y]]").at("source"), "tovix");
}

TEST(Suggestion, ElementAndMemberCandidates) {
  auto element = check("return [[<Txtlabel]] />");
  EXPECT_EQ(element.at("data").dump(),
            R"({"candidates":["TextLabel"],"kind":"element","range":{"end":{"character":16,"line":0},)"
            R"("start":{"character":8,"line":0}}})");
  // A class that exists is its own candidate.
  EXPECT_EQ(check("return [[<Frame]]>hi</Frame>").at("data").at("candidates"), json::array({"Frame"}));

  auto member = check("return <TextLabel [[Txet]]=\"hi\" />");
  ASSERT_TRUE(member.contains("data"));
  EXPECT_EQ(member.at("data").at("kind"), "member");
  EXPECT_EQ(member.at("data").at("candidates").at(0), "Text");

  // Candidates are written the project's way.
  project::Project project = project::Project::bare("/tmp");
  auto config = tovix::config::Config::parse_reporting(
      "[elements]\nall = \"camelCase\"\nTextLabel = \"Label\"\n[properties]\nall = \"snake_case\"\n");
  ASSERT_TRUE(config) << config.error().message;
  project.config = *config;
  EXPECT_EQ(check("return [[<Txtlabel]] />", std::nullopt, project).at("data").at("candidates"),
            json::array({"Label"}));
  EXPECT_EQ(check("return [[<Fram]] />", std::nullopt, project).at("data").at("candidates"), json::array({"frame"}));
  EXPECT_EQ(check("return <Label [[Txet]]=\"hi\" />", std::nullopt, project).at("data").at("candidates").at(0), "text");

  // Neither configured nor a class: nothing to offer.
  EXPECT_FALSE(check("return <Card [[Txet]]=\"hi\" />").contains("data"));
  // Not in an attribute name.
  EXPECT_FALSE(check("local [[x]] = 1").contains("data"));
}

// A fix replaces exactly the name as written, wherever the diagnostic's span
// (the `<` and as many bytes as the name has) happens to end.
TEST(Suggestion, ElementRangeIsTheWrittenName) {
  struct Case {
    const char* fixture;
    const char* replaced;  // the text the data's range covers
  } cases[] = {
      {"return [[<Txtlabel]] />", "Txtlabel"},
      {"return [[< TextLab]]l/>", "TextLabl"},
      {"return [[<\n\t TextLa]]bl>hi</TextLabl>", "TextLabl"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    auto m = marked(c.fixture);
    document::Document doc("file:///tmp/a.tovix", m.text, 1);
    json d =
        diagnostic(doc, project::Project::bare("/tmp"), "msg", m.start, m.end - m.start, std::nullopt, Severity::Error);
    ASSERT_TRUE(d.contains("data"));
    auto range = doc.byte_range(d.at("data").at("range"));
    ASSERT_TRUE(range);
    EXPECT_EQ(m.text.substr(range->start, range->end - range->start), c.replaced);
  }
  // Nothing written after the `<`: nothing to replace.
  EXPECT_FALSE(check("return [[< ]]>x</>").contains("data"));
}

TEST(Suggestion, MemberCandidatesAreWrittenTheProjectsWay) {
  project::Project project = project::Project::bare("/tmp");
  auto config = tovix::config::Config::parse_reporting(
      "[elements]\nTextLabel = \"Label\"\n[properties]\nall = \"snake_case\"\nTextColor3 = \"ink\"\n"
      "[properties.TextLabel]\nTextTransparency = \"fade\"\n");
  ASSERT_TRUE(config) << config.error().message;
  project.config = *config;
  struct Case {
    const char* fixture;
    std::vector<std::string> candidates;
  } cases[] = {
      {"return <Label [[Txet]]=\"hi\" />", {"text"}},
      {"return <Label [[TextColr]]=\"hi\" />", {"ink"}},
      {"return <Label [[color]]=\"hi\" />", {"ink", "border_color3", "background_color3"}},
      {"return <Label [[transparency]]=\"hi\" />", {"fade", "background_transparency", "text_stroke_transparency"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    EXPECT_EQ(check(c.fixture, std::nullopt, project).at("data").at("candidates"), json(c.candidates));
  }
  EXPECT_EQ(check("return <TextLabel [[color]]=\"hi\" />").at("data").at("candidates"),
            json::array({"TextColor3", "BorderColor3", "BackgroundColor3"}));
}

}  // namespace
}  // namespace tovix_lsp::analysis

namespace tovix_lsp::analysis {
namespace {

Analysis analyse(std::string_view text, std::shared_ptr<const Compiled> previous = nullptr,
                 project::Project project = project::Project::bare("/tmp")) {
  document::Document doc("file:///tmp/a.tovix", std::string(text), 7);
  return Analysis::run(doc, project, std::move(previous));
}

TEST(Analysis, CompilesAndReportsInOrder) {
  auto result =
      analyse("local create = vide.create\nlocal a = <Txtlabel Text=\"x\" />\nlocal b = <Frame Sise={1} />\n");
  ASSERT_TRUE(result.compiled);
  EXPECT_FALSE(result.stale);
  EXPECT_EQ(result.compiled->version, 7);
  EXPECT_EQ(result.compiled->lines, 4u);
  ASSERT_EQ(result.diagnostics.size(), 2u);
  EXPECT_EQ(result.diagnostics.at(0).at("message"), "<Txtlabel> is not a Roblox class and is not defined");
  EXPECT_EQ(result.diagnostics.at(0).at("relatedInformation").at(0).at("message"), "did you mean <TextLabel>?");
  EXPECT_EQ(result.diagnostics.at(0).at("data").at("candidates"), json::array({"TextLabel"}));
  EXPECT_EQ(result.diagnostics.at(1).at("message"), "Frame has no property or event named Sise");
  EXPECT_EQ(result.diagnostics.at(1).at("data").at("kind"), "member");
}

TEST(Analysis, FatalErrorKeepsTheLastOutputAsStale) {
  auto good = analyse("local create = vide.create\nlocal a = <Frame />\nreturn a\n");
  ASSERT_TRUE(good.compiled);
  std::string code = good.compiled->code;

  auto same_lines = analyse("local create = vide.create\nlocal a = <Frame>\nreturn a\n", good.compiled);
  ASSERT_EQ(same_lines.diagnostics.size(), 1u);
  EXPECT_EQ(same_lines.diagnostics.at(0).at("severity"), 1);
  ASSERT_TRUE(same_lines.compiled);
  EXPECT_TRUE(same_lines.stale);
  EXPECT_EQ(same_lines.compiled->code, code);
  EXPECT_EQ(same_lines.compiled->version, 7);

  // Unfinished markup on a new line: the last output stays all the same.
  auto more_lines =
      analyse("local create = vide.create\nlocal probe = <Tex\nlocal a = <Frame />\nreturn a\n", same_lines.compiled);
  ASSERT_EQ(more_lines.diagnostics.size(), 1u);
  ASSERT_TRUE(more_lines.compiled);
  EXPECT_TRUE(more_lines.stale);
  EXPECT_EQ(more_lines.compiled->code, code);
  EXPECT_EQ(more_lines.compiled->lines, 4u);

  // Nothing earlier to keep: no output.
  auto first = analyse("local create = vide.create\nlocal probe = <Tex\n");
  EXPECT_FALSE(first.compiled);
  EXPECT_FALSE(first.stale);
}

TEST(Analysis, ErrorRangesCountUtf16Columns) {
  // "日本" is six bytes but two UTF-16 units: the '<' is byte 29 of its line, column 25.
  auto result = analyse("local create = vide.create\nlocal s = \"日本\" local e = <Txtlabel/>\n");
  ASSERT_EQ(result.diagnostics.size(), 1u);
  EXPECT_EQ(result.diagnostics.at(0).at("message"), "<Txtlabel> is not a Roblox class and is not defined");
  EXPECT_EQ(range_of(result.diagnostics[0]), "1:25-1:34");
  EXPECT_EQ(range_of(result.diagnostics.at(0).at("data")), "1:26-1:34");
  EXPECT_TRUE(result.compiled);
}

// Thousands of misspelt attributes and tags on one line, with wide
// characters between them: every diagnostic has the range and "data" it has
// when it is made alone.
TEST(Analysis, ManyDiagnosticsOnOneLineKeepTheirRangesAndData) {
  std::string text = "local create = vide.create\nlocal e = <Frame";
  for (int i = 0; i < 1200; ++i) text += (i % 3 == 0 ? " Sise=\"é\"" : i % 3 == 1 ? " Visibl={'😀'}" : " Zq");
  text += ">";
  for (int i = 0; i < 1200; ++i) text += i % 2 == 0 ? "<Txtlabel Name=\"日\"/>" : "<Fram/>";
  text += "</Frame>\n";
  const project::Project project = project::Project::bare("/tmp");
  const document::Document doc("file:///tmp/a.tovix", text, 1);
  const Analysis result = Analysis::run(doc, project, nullptr);
  auto compiled = tovix::compile::compile_recovering(text, tovix::backend::vide::Vide{}, project.config);
  ASSERT_TRUE(compiled) << compiled.error().message;
  ASSERT_EQ(compiled->errors.size(), 2400u);
  ASSERT_EQ(result.diagnostics.size(), 2400u);
  std::size_t with_data = 0;
  for (std::size_t i = 0; i < compiled->errors.size(); ++i) {
    const auto& e = compiled->errors[i];
    const json alone = diagnostic(doc, project, e.message, e.offset, e.len, e.help, Severity::Error);
    ASSERT_EQ(result.diagnostics[i], alone) << i;
    with_data += alone.contains("data");
  }
  EXPECT_EQ(with_data, 2000u);  // all but the attributes named like no member
}

TEST(Analysis, ConfigurationErrorComesFirst) {
  project::Project project = project::Project::bare("/tmp");
  project.config_error = "tovix.toml: something";
  auto result = analyse("local a = 1\n", nullptr, project);
  ASSERT_EQ(result.diagnostics.size(), 1u);
  EXPECT_EQ(result.diagnostics[0].dump(),
            R"({"message":"tovix.toml: something","range":{"end":{"character":0,"line":0},)"
            R"("start":{"character":0,"line":0}},"severity":1,"source":"tovix"})");

  // Warnings follow it, and the file still compiles.
  auto warned = analyse(
      "local create = vide.create\nlocal a = <Frame>{cond and <Frame/>}</Frame>\n"
      "local b = <Frame>\n\t{cond and <TextLabel/>}\n</Frame>\n",
      nullptr, project);
  ASSERT_EQ(warned.diagnostics.size(), 3u);
  EXPECT_EQ(warned.diagnostics.at(0).at("message"), "tovix.toml: something");
  for (std::size_t i : {1u, 2u}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(warned.diagnostics[i].at("message"),
              "this child is built once, so a condition around it will not update the UI");
    EXPECT_EQ(warned.diagnostics[i].at("severity"), 2);
  }
  EXPECT_EQ(range_of(warned.diagnostics[1]), "1:17-1:36");
  EXPECT_EQ(range_of(warned.diagnostics[2]), "3:1-3:24");
  EXPECT_TRUE(warned.compiled);
}

}  // namespace
}  // namespace tovix_lsp::analysis
