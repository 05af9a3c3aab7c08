#include "features/symbols.h"

#include <gtest/gtest.h>

#include <string>

#include "marked_text.h"

namespace tovix_lsp::symbols {
namespace {

using json = nlohmann::json;
using testing_support::MarkedText;

// A symbol as one line, offsets named by the fixture's marks:
// "Name(detail)#kind range @selection [children]".
std::string describe(const json& symbol, const document::Document& doc, const MarkedText& f) {
  auto range = [&](const json& r) {
    auto bytes = doc.byte_range(r);
    return bytes ? f.name(bytes->start) + ".." + f.name(bytes->end) : std::string("?");
  };
  std::string out = symbol.at("name").get<std::string>();
  if (symbol.contains("detail")) out += "(" + symbol.at("detail").get<std::string>() + ")";
  out += "#" + std::to_string(symbol.at("kind").get<int>()) + " " + range(symbol.at("range")) + " @" +
         range(symbol.at("selectionRange")) + " [";
  std::string children;
  for (const json& child : symbol.at("children")) children += (children.empty() ? "" : ", ") + describe(child, doc, f);
  return out + children + "]";
}

std::string outline(std::string_view fixture) {
  const MarkedText f(fixture);
  document::Document doc("file:///tmp/a.tovix", f.text, 1);
  std::string out;
  for (const json& s : symbols(doc)) out += (out.empty() ? "" : " | ") + describe(s, doc, f);
  return out;
}

TEST(Symbols, NestAsTheMarkupNests) {
  struct Case {
    const char* fixture;
    const char* outline;
  } cases[] = {
      {"local x = 1", ""},
      {"return $<$Frame$ Name=\"root\">\n  $<$TextLabel$ Name='x' />$\n</Frame>$",
       "Frame(root)#5 $0..$7 @$1..$2 [TextLabel(x)#5 $3..$6 @$4..$5 []]"},
      {"return $<$>$<$A$/>$</>$", "<>#19 $0..$6 @$1..$2 [A#5 $2..$5 @$3..$4 []]"},
      // A Name that is not a quoted value is no detail.
      {"return $<$Frame$ Name={n} />$", "Frame#5 $0..$3 @$1..$2 []"},
      // Markup in attribute values and child holes belongs to its element,
      // ordered by where it starts.
      {"return $<$List$ header={$<$Title$/>$}>{items.map(function(i) return $<$Item$/>$ end)}</List>$",
       "List#5 $0..$11 @$1..$2 [Title#5 $3..$6 @$4..$5 [], Item#5 $7..$10 @$8..$9 []]"},
      {"local a = $<$ui.Card$/>$\nlocal b = {'😀', $<$Frame$/>$}",
       "ui.Card#5 $0..$3 @$1..$2 [] | Frame#5 $4..$7 @$5..$6 []"},
      // Markup after one that does not parse is left out.
      {"local a = $<$A$/>$\nlocal b = <B>\nlocal c = <C/>", "A#5 $0..$3 @$1..$2 []"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    EXPECT_EQ(outline(c.fixture), c.outline);
  }
}

TEST(Symbols, ShapeOfOneSymbol) {
  document::Document doc("file:///tmp/a.tovix", "return <Frame Name='a'>\n</Frame>", 1);
  EXPECT_EQ(symbols(doc).dump(),
            R"([{"children":[],"detail":"a","kind":5,"name":"Frame","range":{"end":{"character":8,"line":1},)"
            R"("start":{"character":7,"line":0}},"selectionRange":{"end":{"character":13,"line":0},)"
            R"("start":{"character":8,"line":0}}}])");
}

// The text the server sends is the value, serialised: details that need
// escaping, fragments, nesting, multi-byte characters and line ends.
TEST(Symbols, WrittenAsTheValueSerialises) {
  const char* const texts[] = {
      "",
      "local x = 1",
      "return <Frame Name='say \"hi\"\t\\ caf\u00e9 \\'/>",
      "local a = <><A Name=\"\x01\x7f\"/>{b and <B/>}</>\r\nlocal c = <ui.Card\n  x={<C/>}>\n</ui.Card>",
      "local a = <A/>\nlocal b = <B>\n",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const document::Document doc("file:///tmp/a.tovix", text, 1);
    EXPECT_EQ(serialized(doc), symbols(doc).dump());
  }
}

}  // namespace
}  // namespace tovix_lsp::symbols
