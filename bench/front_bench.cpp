// The compiler's front end over the shared sample: tokenizing, and finding
// and parsing every markup expression (nested ones in holes included).

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <variant>

#include "sample.h"
#include "tovix/lexer.h"
#include "tovix/markup/ast.h"
#include "tovix/markup/parser.h"
#include "tovix/markup_scan.h"

namespace {

namespace ast = tovix::markup::ast;

const std::string& sample() {
  static const std::string text = tovix_bench::sample_tovix(10000);
  return text;
}

// Markup expressions of `text`, walked the way the compiler walks a file; the
// code of every hole is walked again, as the compiler does for nested markup.
// Answers the number found, or -1 at the first error.
long walk(std::string_view text);

long walk_children(const std::vector<ast::Child>& children);

long walk_node(const ast::Node& node) {
  long found = 1;
  auto add = [&found](long more) { found = (found < 0 || more < 0) ? -1 : found + more; };
  if (const auto* element = std::get_if<ast::Element>(&node.kind)) {
    for (const ast::Attribute& attribute : element->attributes) {
      if (const auto* spread = std::get_if<ast::Attribute::Spread>(&attribute.kind)) {
        add(walk(spread->code));
      } else if (const auto* expression = std::get_if<ast::AttributeValue::Expression>(
                     &std::get<ast::Attribute::Named>(attribute.kind).value.kind)) {
        add(walk(expression->code));
      }
    }
    add(walk_children(element->children));
  } else {
    add(walk_children(std::get<ast::Fragment>(node.kind).children));
  }
  return found;
}

long walk_children(const std::vector<ast::Child>& children) {
  long found = 0;
  for (const ast::Child& child : children) {
    long more = 0;
    if (const auto* node = std::get_if<ast::Node>(&child.kind)) {
      more = walk_node(*node);
    } else if (const auto* expression = std::get_if<ast::Child::Expression>(&child.kind)) {
      more = walk(expression->code);
    }
    if (more < 0) return -1;
    found += more;
  }
  return found;
}

long walk(std::string_view text) {
  long found = 0;
  tovix::lexer::Lexer lexer(text);
  tovix::markup_scan::Scanner scanner(text);
  while (auto next = lexer.next_token()) {
    if (!*next) return -1;
    if (!scanner.feed(**next, lexer)) continue;
    auto parsed = tovix::markup::parser::parse_node(text, (*next)->start);
    if (!parsed) return -1;
    long nested = walk_node(parsed->node);
    if (nested < 0) return -1;
    found += nested;
    scanner.resume(lexer, parsed->end);
  }
  return found;
}

// Only the file's own walk: every top-level markup expression is found and
// parsed (its nested elements with it), hole code is not walked again.
long walk_top_level(std::string_view text) {
  long found = 0;
  tovix::lexer::Lexer lexer(text);
  tovix::markup_scan::Scanner scanner(text);
  while (auto next = lexer.next_token()) {
    if (!*next) return -1;
    if (!scanner.feed(**next, lexer)) continue;
    auto parsed = tovix::markup::parser::parse_node(text, (*next)->start);
    if (!parsed) return -1;
    ++found;
    scanner.resume(lexer, parsed->end);
  }
  return found;
}

void BM_Tokenize(benchmark::State& state) {
  const std::string& text = sample();
  std::size_t tokens = 0;
  for (auto _ : state) {
    auto result = tovix::lexer::tokenize(text);
    if (!result) {
      state.SkipWithError("the sample does not lex");
      return;
    }
    tokens = result->size();
    benchmark::DoNotOptimize(result->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["tokens"] = static_cast<double>(tokens);
}
BENCHMARK(BM_Tokenize);

void BM_ScanAndParseAllMarkup(benchmark::State& state) {
  const std::string& text = sample();
  long found = 0;
  for (auto _ : state) {
    found = walk(text);
    if (found < 0) {
      state.SkipWithError("the sample's markup does not parse");
      return;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["markup"] = static_cast<double>(found);
}
BENCHMARK(BM_ScanAndParseAllMarkup);

void BM_ScanAndParseTopLevel(benchmark::State& state) {
  const std::string& text = sample();
  long found = 0;
  for (auto _ : state) {
    found = walk_top_level(text);
    if (found < 0) {
      state.SkipWithError("the sample's markup does not parse");
      return;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["markup"] = static_cast<double>(found);
}
BENCHMARK(BM_ScanAndParseTopLevel);

}  // namespace
