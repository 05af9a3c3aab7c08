// The region finder and the compiler's `tovix_spans` must agree on every
// text the compiler accepts: the compiler's corpus, every prefix of it (the
// half-typed states an editor passes through), and a few texts of our own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corpus_texts.h"
#include "tovix/compile/compile.h"
#include "workspace/regions.h"

namespace tovix_lsp::regions {
namespace {

std::vector<std::string> corpus() {
  std::vector<std::string> texts = {
      "local a = <Frame Size={UDim2.new(1, 0)} {props} Visible>\n"
      "  <TextLabel Text=\"caf\xC3\xA9\"/>\n"
      "  {items:map(function(i) return <Item key={i}/> end)}\n"
      "  <!-- a ]] comment -->\n"
      "  <>{x}</>\n"
      "</Frame>\n"
      "if a < b then return <ui.Card/> end\n",
      "type P<T> = { a: T }\nlocal e = <Frame/>\nlocal f = g :: T, <A/>\n",
      "local s = [[<A/>]] .. `{<B/>}` -- <C/>\nreturn <>\n  <D/>\n</>\n",
      // Text in markup nested in holes, and broken markup there.
      "local e = <Frame>{visible and <TextLabel>Don't go</TextLabel>}</Frame>\n"
      "local l = <Frame>{items:map(function(i) return <T>It's {i} `x` -- y</T> end)}</Frame>\n"
      "local d = <A b={<B>it's</B>} {f(<C>a -- b</C>)}>{c and <D>{e and <E>`</E>}</D>}</A>\n"
      "local b = <A>{<B>}{c and <D>Don't</D>}</A> .. 'x'\n",
  };
  for (auto& file : testing_support::corpus_files("tovix")) texts.push_back(std::move(file.text));
  return texts;
}

TEST(RegionsCorpus, AgreeWithTheCompilerWhereverItAcceptsTheText) {
  std::size_t accepted = 0;
  for (const std::string& text : corpus()) {
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      if (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) continue;
      const std::string_view prefix = std::string_view(text).substr(0, cut);
      const auto expected = tovix::compile::tovix_spans(prefix);
      if (!expected) continue;
      ++accepted;
      ASSERT_EQ(spans(regions(prefix)), *expected) << "text:\n" << prefix;
    }
  }
  EXPECT_GT(accepted, 0u);
}

}  // namespace
}  // namespace tovix_lsp::regions
