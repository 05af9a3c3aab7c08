#include "features/semantic_tokens.h"

#include <gtest/gtest.h>

#include <string>

#include "marked_text.h"

namespace tovix_lsp::semantic_tokens {
namespace {

using json = nlohmann::json;
using testing_support::MarkedText;

// The tokens decoded back to absolute positions, one "text@start:type" each,
// the start named by the fixture's marks.
std::string decoded(std::string_view fixture, const project::Project& project = project::Project::bare("/tmp")) {
  const MarkedText f(fixture);
  document::Document doc("file:///tmp/a.tovix", f.text, 1);
  const json data = tokens(doc, project).at("data");
  EXPECT_EQ(data.size() % 5, 0u);
  std::string out;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  for (std::size_t i = 0; i + 4 < data.size(); i += 5) {
    const std::uint32_t delta_line = data[i], delta_column = data[i + 1], length = data[i + 2], type = data[i + 3];
    EXPECT_EQ(data[i + 4], 0);
    column = delta_line == 0 ? column + delta_column : delta_column;
    line += delta_line;
    auto start = doc.offset({line, column});
    auto end = doc.offset({line, column + length});
    if (!start || !end) return "bad position";
    out += (out.empty() ? "" : " ") + f.text.substr(*start, *end - *start) + "@" + f.name(*start) + ":" +
           (type == 0   ? "class"
            : type == 1 ? "function"
                        : "?");
  }
  return out;
}

TEST(SemanticTokens, TagNamesByWhatTheyStandFor) {
  struct Case {
    const char* fixture;
    const char* tokens;
  } cases[] = {
      {"local x = 1", ""},
      {"return <$Frame></$Frame>", "Frame@$0:class Frame@$1:class"},
      {"return <$ui.Card/>", "ui.Card@$0:function"},
      {"return <Card/>", ""},
      {"local x = <$Card></$Card>\nlocal function Card() end", "Card@$0:function Card@$1:function"},
      {"local Card = 1\nreturn <$Card/>", "Card@$0:function"},
      {"return <><$Frame/></>", "Frame@$0:class"},
      {"return <$Frame>{<$TextLabel/>}</$Frame>", "Frame@$0:class TextLabel@$1:class Frame@$2:class"},
      {"return <$Frame kid={<$Folder/>}/>", "Frame@$0:class Folder@$1:class"},
      {"local s = '😀é'; return <$Frame/>", "Frame@$0:class"},
      {"return <$Frame>\n\t</  $Frame >", "Frame@$0:class Frame@$1:class"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    EXPECT_EQ(decoded(c.fixture), c.tokens);
  }
}

TEST(SemanticTokens, TheProjectsNames) {
  project::Project project = project::Project::bare("/tmp");
  auto config = tovix::config::Config::parse_reporting("[elements]\nTextLabel = \"Label\"\n");
  ASSERT_TRUE(config) << config.error().message;
  project.config = *config;
  EXPECT_EQ(decoded("return <$Label/>", project), "Label@$0:class");
  // The configuration renamed it, so the Roblox name is rejected.
  EXPECT_EQ(decoded("return <TextLabel/>", project), "");
}

TEST(SemanticTokens, RelativeEncoding) {
  document::Document doc("file:///tmp/a.tovix", "return {<Frame/>, <Frame/>,\n  <Folder/>}", 1);
  EXPECT_EQ(tokens(doc, project::Project::bare("/tmp")).dump(), R"({"data":[0,9,5,0,0,0,10,5,0,0,1,3,6,0,0]})");
}

}  // namespace
}  // namespace tovix_lsp::semantic_tokens
