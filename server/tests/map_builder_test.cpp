#include "workspace/map_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tovix/imports.h"
#include "tovix/resolve.h"
#include "workspace/map_walk.h"
#include "workspace/regions.h"

namespace tovix_lsp::map_builder {
namespace {

using sourcemap::Run;
using sourcemap::SourceMap;

// The text with "[" before and "]" after every run's stretch on one side, so
// the k-th bracket pair of the source and of the output is the same run.
std::string marked(std::string_view text, const SourceMap& map, std::size_t Run::*side) {
  std::string out;
  std::size_t at = 0;
  for (const Run& run : map.runs()) {
    out.append(text.substr(at, run.*side - at));
    out += '[';
    out.append(text.substr(run.*side, run.len));
    out += ']';
    at = run.*side + run.len;
  }
  out.append(text.substr(at));
  return out;
}

struct Case {
  const char* name;
  std::string source;
  std::string output;
  std::string source_marked;  // the mapped stretches of the source
  std::string output_marked;  // and where they are in the output
};

void check(const Case& c, const tovix::config::Config& config = {}) {
  SCOPED_TRACE(c.name);
  const SourceMap map = build(c.source, c.output, config);
  EXPECT_EQ(marked(c.source, map, &Run::source), c.source_marked);
  EXPECT_EQ(marked(c.output, map, &Run::output), c.output_marked);
}

const std::string MERGE = std::string(tovix::imports::MERGE_HELPER) + "; ";
const std::string READ = std::string(tovix::imports::READ_HELPER) + "; ";

// Alignment between clusters, the helper header and the checks around each
// line with markup; the outputs are shaped as the Vide generator writes them.
TEST(MapBuilder, AlignsAroundClusters) {
  const Case cases[] = {
      {"no markup is one run", "local x = 1\nprint(x)\n", "local x = 1\nprint(x)\n", "[local x = 1\nprint(x)\n]",
       "[local x = 1\nprint(x)\n]"},
      {"an element in the middle", "local e = <TextLabel Text='Hi'/>\nreturn e\n",
       "local e = create(\"TextLabel\")({ Text = 'Hi' })\nreturn e\n",
       "[local e = ]<TextLabel [Text]=['Hi']/>[\nreturn e\n]",
       "[local e = ]create(\"TextLabel\")({ [Text] = ['Hi'] })[\nreturn e\n]"},
      {"one line more in the output", "local x = 1\n", "local x = 1\n\n", "local x = 1\n", "local x = 1\n\n"},
      {"two elements on a line are one cluster", "local a, b = <Frame/>, <Frame/>\n",
       "local a, b = create(\"Frame\")({}), create(\"Frame\")({})\n", "[local a, b = ]<Frame/>[, ]<Frame/>[\n]",
       "[local a, b = ]create(\"Frame\")({})[, ]create(\"Frame\")({})[\n]"},
      {"a failed tail leaves its line and the gap to the next cluster unmapped",
       "local a = <Frame/> -- one\nlocal b = <Frame/>\nprint(b)\n",
       "local a = create(\"Frame\")({}) -- two\nlocal b = create(\"Frame\")({})\nprint(b)\n",
       "local a = <Frame/> -- one\nlocal b = <Frame/>[\nprint(b)\n]",
       "local a = create(\"Frame\")({}) -- two\nlocal b = create(\"Frame\")({})[\nprint(b)\n]"},
      {"a failed head check leaves its cluster out", "local a = <Frame/> -- one\nlocal b = <Frame/>\nprint(b)\n",
       "local a = create(\"Frame\")({}) -- two\nlocal c = create(\"Frame\")({})\nprint(b)\n",
       "local a = <Frame/> -- one\nlocal b = <Frame/>\nprint(b)\n",
       "local a = create(\"Frame\")({}) -- two\nlocal c = create(\"Frame\")({})\nprint(b)\n"},
      {"nothing after an unplaced last cluster", "local a = <Frame/> -- one\nprint(a)\n",
       "local a = create(\"Frame\")({}) -- two\nprint(a)\n", "local a = <Frame/> -- one\nprint(a)\n",
       "local a = create(\"Frame\")({}) -- two\nprint(a)\n"},
      {"helpers shift the text after the first token", "--!strict\nlocal ui = require(x)\nlocal e = <ui.Button {p}/>\n",
       "--!strict\n" + MERGE + "local ui = require(x)\nlocal e = ui.Button(__tovix_merge(p))\n",
       "[--!strict\n][local ui = require(x)\nlocal e = ]<[ui.Button] {[p]}/>[\n]",
       "[--!strict\n]" + MERGE + "[local ui = require(x)\nlocal e = ][ui.Button](__tovix_merge([p]))[\n]"},
      {"helpers in front of markup that opens the file", "<Frame {p}/>\nreturn 1\n",
       MERGE + "create(\"Frame\")(__tovix_merge(p))\nreturn 1\n", "<Frame {[p]}/>[\nreturn 1\n]",
       MERGE + "create(\"Frame\")(__tovix_merge([p]))[\nreturn 1\n]"},
      {"a file that defines a helper itself is not shifted",
       "local function __tovix_merge(...) end\nlocal e = <Frame {p}/>\n",
       "local function __tovix_merge(...) end\nlocal e = create(\"Frame\")(__tovix_merge(p))\n",
       "[local function __tovix_merge(...) end\nlocal e = ]<Frame {[p]}/>[\n]",
       "[local function __tovix_merge(...) end\nlocal e = ]create(\"Frame\")(__tovix_merge([p]))[\n]"},
      {"CRLF line ends", "local e = <Frame/>\r\nreturn e\r\n", "local e = create(\"Frame\")({})\r\nreturn e\r\n",
       "[local e = ]<Frame/>[\r\nreturn e\r\n]", "[local e = ]create(\"Frame\")({})[\r\nreturn e\r\n]"},
  };
  for (const Case& c : cases) check(c);
}

// The walk inside markup, one piece kind at a time.
TEST(MapBuilder, WalksMarkup) {
  const Case cases[] = {
      {"nested element over four lines", "local f = <Frame\n    Size={s}>\n    <TextLabel Text='a'/>\n</Frame>\n",
       "local f = create(\"Frame\")({\n    Size = s,\n    create(\"TextLabel\")({ Text = 'a' }),\n})\n",
       "[local f = ]<Frame\n    [Size]={[s]}>\n    <TextLabel [Text]=['a']/>\n</Frame>[\n]",
       "[local f = ]create(\"Frame\")({\n    [Size] = [s],\n    create(\"TextLabel\")({ [Text] = ['a'] }),\n})[\n]"},
      {"text content from one expression", "local t = <TextLabel>{label}</TextLabel>\n",
       "local t = create(\"TextLabel\")({ Text = label })\n", "[local t = ]<TextLabel>{[label]}</TextLabel>[\n]",
       "[local t = ]create(\"TextLabel\")({ Text = [label] })[\n]"},
      {"text with expressions, a spread and an attribute",
       "local t = <TextLabel Size={s} {p}>Hello {name}</TextLabel>\n",
       "local t = create(\"TextLabel\")(__tovix_merge({ Size = s }, p, { Text = function() return "
       "`Hello {__tovix_read(name)}` end }))\n",
       "[local t = ]<TextLabel [Size]={[s]} {[p]}>Hello {[name]}</TextLabel>[\n]",
       "[local t = ]create(\"TextLabel\")(__tovix_merge({ [Size] = [s] }, [p], { Text = function() return "
       "`Hello {__tovix_read([name])}` end }))[\n]"},
      {"two expressions each behind their read call", "local t = <TextLabel>{a} and {b}</TextLabel>\n",
       "local t = create(\"TextLabel\")({ Text = function() return `{__tovix_read(a)} and "
       "{__tovix_read(b)}` end })\n",
       "[local t = ]<TextLabel>{[a]} and {[b]}</TextLabel>[\n]",
       "[local t = ]create(\"TextLabel\")({ Text = function() return `{__tovix_read([a])} and "
       "{__tovix_read([b])}` end })[\n]"},
      {"an element child before the text keeps its place before the Text entry",
       "local t = <TextButton><UICorner CornerRadius={r}/>Go<UIStroke Thickness={k}/></TextButton>\n",
       "local t = create(\"TextButton\")({ create(\"UICorner\")({ CornerRadius = r }), Text = \"Go\", "
       "create(\"UIStroke\")({ Thickness = k }) })\n",
       "[local t = ]<TextButton><UICorner [CornerRadius]={[r]}/>Go<UIStroke [Thickness]={[k]}/></TextButton>[\n]",
       "[local t = ]create(\"TextButton\")({ create(\"UICorner\")({ [CornerRadius] = [r] }), Text = \"Go\", "
       "create(\"UIStroke\")({ [Thickness] = [k] }) })[\n]"},
      {"a hole ends at its brace whatever the text of markup nested in it",
       "local f = <Frame>{c and <TextLabel>Don't</TextLabel>}</Frame>\n",
       "local f = create(\"Frame\")({ c and create(\"TextLabel\")({ Text = \"Don't\" }) })\n",
       "[local f = ]<Frame>{[c and ]<TextLabel>Don't</TextLabel>}</Frame>[\n]",
       "[local f = ]create(\"Frame\")({ [c and ]create(\"TextLabel\")({ Text = \"Don't\" }) })[\n]"},
      {"a written Text is dropped in text mode", "local t = <TextLabel Text='x'>{a}</TextLabel>\n",
       "local t = create(\"TextLabel\")({ Text = a })\n", "[local t = ]<TextLabel Text='x'>{[a]}</TextLabel>[\n]",
       "[local t = ]create(\"TextLabel\")({ Text = [a] })[\n]"},
      {"an unresolved element keys its attributes by their written names", "local u = <Fram Size={s}/>\n",
       "local u = create(\"Fram\")({ Size = s })\n", "[local u = ]<Fram [Size]={[s]}/>[\n]",
       "[local u = ]create(\"Fram\")({ [Size] = [s] })[\n]"},
      {"a component with bare and quoted attributes", "local b = <ui.Button Primary Label=\"ok\" n={true}/>\n",
       "local b = ui.Button({ Primary = true, Label = \"ok\", n = true })\n",
       "[local b = ]<[ui.Button] [Primary] [Label]=[\"ok\"] [n]={[true]}/>[\n]",
       "[local b = ][ui.Button]({ [Primary] = true, [Label] = [\"ok\"], [n] = [true] })[\n]"},
      {"a component bound in the file", "local Card = 1\nlocal c = <Card n={v}/>\n",
       "local Card = 1\nlocal c = Card({ n = v })\n", "[local Card = 1\nlocal c = ]<[Card] [n]={[v]}/>[\n]",
       "[local Card = 1\nlocal c = ][Card]({ [n] = [v] })[\n]"},
      {"calls of one component side by side",
       "local Card = 1\nlocal c = <Frame><Card n=\"a\"></Card><Card n=\"b\"/></Frame>\n",
       "local Card = 1\nlocal c = create(\"Frame\")({ Card({ n = \"a\" }), Card({ n = \"b\" }) })\n",
       "[local Card = 1\nlocal c = ]<Frame><[Card] [n]=[\"a\"]></Card><[Card] [n]=[\"b\"]/></Frame>[\n]",
       "[local Card = 1\nlocal c = ]create(\"Frame\")({ [Card]({ [n] = [\"a\"] }), [Card]({ [n] = [\"b\"] }) })[\n]"},
      {"a dotted component", "local b = < ui.Button/>\n", "local b = ui.Button({})\n",
       "[local b = ]< [ui.Button]/>[\n]", "[local b = ][ui.Button]({})[\n]"},
      {"fragment children and markup inside a hole", "local f = <>{a}{cond and <Frame Size={s}/>}</>\n",
       "local f = { a, cond and create(\"Frame\")({ Size = s }) }\n",
       "[local f = ]<>{[a]}{[cond and ]<Frame [Size]={[s]}/>}</>[\n]",
       "[local f = ]{ [a], [cond and ]create(\"Frame\")({ [Size] = [s] }) }[\n]"},
      {"expression children of a class without Text", "local f = <Frame>{x}{y}</Frame>\n",
       "local f = create(\"Frame\")({ x, y })\n", "[local f = ]<Frame>{[x]}{[y]}</Frame>[\n]",
       "[local f = ]create(\"Frame\")({ [x], [y] })[\n]"},
      {"multi-byte text stays whole", "local t = <TextLabel Text=\"café €\" Name={\"日本\"}/>\n",
       "local t = create(\"TextLabel\")({ Text = \"café €\", Name = \"日本\" })\n",
       "[local t = ]<TextLabel [Text]=[\"café €\"] [Name]={[\"日本\"]}/>[\n]",
       "[local t = ]create(\"TextLabel\")({ [Text] = [\"café €\"], [Name] = [\"日本\"] })[\n]"},
  };
  for (const Case& c : cases) check(c);
}

// The elements whose calls the walk found: each as its opening name, the
// head of its call and, after ">", the element around it.
TEST(MapBuilder, RecordsTheCallOfEachElement) {
  const auto listed = [](std::string_view source, std::string_view output) {
    const SourceMap map = build(source, output, {});
    std::vector<std::string> out;
    for (const sourcemap::Element& e : map.elements()) {
      std::string line = std::string(source.substr(e.name.start, e.name.end - e.name.start)) + " " +
                         std::string(output.substr(e.head, e.open + 1 - e.head));
      if (e.parent != sourcemap::Element::NONE) line += " > " + std::to_string(e.parent);
      out.push_back(line);
    }
    return out;
  };
  EXPECT_EQ(listed("local f = <Frame {p}>\n  < ui.Card n={<Fram/>}/>\n  <>{<TextLabel/>}</>\n</Frame>\n",
                   "local f = create(\"Frame\")(__tovix_merge(p, {\n  ui.Card({ n = create(\"Fram\")({}) }),\n"
                   "  { create(\"TextLabel\")({}) },\n}))\n"),
            (std::vector<std::string>{"Frame create(\"Frame\")(", "ui.Card ui.Card( > 0", "Fram create(\"Fram\")( > 1",
                                      "TextLabel create(\"TextLabel\")( > 0"}));
  // A head that is not where the walk looks leaves its element out, and
  // the elements in it hang from the one around.
  EXPECT_EQ(listed("local Card = 1\nlocal f = <Frame><Card/></Frame>\n",
                   "local Card = 1\nlocal f = make(\"Frame\")({ Card({}) })\n"),
            (std::vector<std::string>{"Card Card("}));
}

TEST(MapBuilder, RenamedAttributeKeepsItsValueOnly) {
  tovix::config::Config config;
  config.property_renames = {{"BackgroundColor3", "Color"}};
  check({"renamed", "local f = <Frame Color={c} Size={s}/>\n",
         "local f = create(\"Frame\")({ BackgroundColor3 = c, Size = s })\n",
         "[local f = ]<Frame Color={[c]} [Size]={[s]}/>[\n]",
         "[local f = ]create(\"Frame\")({ BackgroundColor3 = [c], [Size] = [s] })[\n]"},
        config);
}

TEST(MapBuilder, ConfiguredFactoryHead) {
  tovix::config::Config config;
  config.create = "vide.create";
  check({"factory", "local e = <Frame Size={s}/>\n", "local e = vide.create(\"Frame\")({ Size = s })\n",
         "[local e = ]<Frame [Size]={[s]}/>[\n]", "[local e = ]vide.create(\"Frame\")({ [Size] = [s] })[\n]"},
        config);
}

TEST(MapBuilder, ReadHelperHeaderIsMeasured) {
  check({"both helpers", "local x = 1\nlocal t = <TextLabel {p}>{a}{b}</TextLabel>\n",
         MERGE + READ +
             "local x = 1\nlocal t = create(\"TextLabel\")(__tovix_merge(p, { Text = "
             "function() return `{__tovix_read(a)}{__tovix_read(b)}` end }))\n",
         "[local x = 1\nlocal t = ]<TextLabel {[p]}>{[a]}{[b]}</TextLabel>[\n]",
         MERGE + READ +
             "[local x = 1\nlocal t = ]create(\"TextLabel\")(__tovix_merge([p], { Text = "
             "function() return `{__tovix_read([a])}{__tovix_read([b])}` end }))[\n]"});
}

// Markup nested through holes far deeper than the compiler accepts: the walk
// stops at the nesting bound instead of running out of stack.
TEST(MapBuilder, DeepNestingThroughHoles) {
  constexpr int levels = 20000;
  std::string source = "local x = ";
  for (int i = 0; i < levels; ++i) source += "<A x={";
  source += "1";
  for (int i = 0; i < levels; ++i) source += "}/>";
  source += "\n";
  const SourceMap map = build(source, source, {});
  for (const sourcemap::Run& run : map.runs()) EXPECT_EQ(run.source, run.output);
}

}  // namespace
}  // namespace tovix_lsp::map_builder

namespace tovix_lsp::map_walk {
namespace {

TEST(UniqueMatch, OverlapIsNotSeen) {
  EXPECT_EQ(unique_match("xxx", "xx"), 0u);
  EXPECT_EQ(unique_match("xx-xx", "xx"), std::nullopt);
  EXPECT_EQ(unique_match("a-xx", "xx"), 2u);
  EXPECT_EQ(unique_match("abc", ""), std::nullopt);
}

// A builder over a source with its markup regions and a hand-made output.
struct Walk : testing::Test {
  std::string source;
  std::string output;
  std::optional<tovix::resolve::Resolver> resolver;
  std::optional<Builder> builder;
  std::vector<regions::Region> found;

  void start(std::string src, std::string out) {
    source = std::move(src);
    output = std::move(out);
    found = regions::regions(source);
    resolver.emplace(tovix::resolve::blank_tovix_regions(source, regions::spans(regions::regions(source))),
                     tovix::config::Config{});
    builder.emplace(source, output, *resolver);
  }
  std::string mapped() const {
    std::string out;
    for (const sourcemap::Run& run : builder->map.runs()) {
      out += source.substr(run.source, run.len) + "@" + std::to_string(run.output) + " ";
    }
    return out;
  }
};

TEST_F(Walk, ComponentNameFoundByUniqueSearch) {
  // Twice on the name's line: ambiguous, not mapped.
  start("local ui = 1\nlocal c = <ui.Card/>\n", "local ui = 1\nlocal c = ui.Card(ui.Card({}))\n");
  builder->cursor = 13;
  builder->node(found[0].node);
  EXPECT_EQ(mapped(), "");
  // Not on its line, once up to the limit: mapped there.
  start("local ui = 1\nlocal c = <ui.Card/>\n", "local ui = 1\nlocal c = \nui.Card({})\n");
  builder->cursor = 13;
  builder->node(found[0].node);
  EXPECT_EQ(mapped(), "ui.Card@24 ");
  EXPECT_EQ(builder->cursor, 31u);
}

TEST_F(Walk, ShortTextOnlyAtTheCursor) {
  start("ab xyz", "-- ab xyz");
  builder->verbatim(0, 2);  // "ab": not at the cursor, too short to search
  builder->verbatim(3, 3);  // "xyz": found once
  EXPECT_EQ(mapped(), "xyz@6 ");
  builder->cursor = 3;
  builder->map = {};
  builder->verbatim(0, 2);
  EXPECT_EQ(mapped(), "ab@3 ");
}

TEST_F(Walk, SkipToStopsAtOtherCharacters) {
  start("x", " ,({\u00a0})x y, x");
  builder->skip_to("x");
  EXPECT_EQ(builder->cursor, 8u);  // over blanks, no-break space and separators
  builder->cursor = 9;
  builder->skip_to("x");
  EXPECT_EQ(builder->cursor, 10u);  // "y" stops it although "x" follows
  builder->cursor = 0;
  builder->limit = 3;
  builder->skip_to("x");
  EXPECT_EQ(builder->cursor, 3u);  // never past the limit
}

TEST_F(Walk, SearchesStayBelowTheLimit) {
  start("local ui = 1\nlocal c = <ui.Card n={v}/>\n", "local ui = 1\nlocal c = ui.Card({ n = v })\n");
  builder->cursor = 23;
  builder->limit = 35;  // cuts "{ n = v }" after "n ="
  builder->node(found[0].node);
  EXPECT_EQ(mapped(), "ui.Card@23 ");
}

TEST_F(Walk, ExpressionThatCutsACharacterIsSkipped) {
  start("é", "é");
  builder->expression(1, 2);
  builder->verbatim(0, 1);
  EXPECT_EQ(mapped(), "");
  builder->expression(0, 2);
  EXPECT_EQ(mapped(), "é@0 ");
}

}  // namespace
}  // namespace tovix_lsp::map_walk
