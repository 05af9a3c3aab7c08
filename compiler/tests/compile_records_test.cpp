#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tovix/backend/backend.h"
#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/lexer.h"
#include "tovix/markup/parser.h"

namespace {

using tovix::backend::EmitError;
using tovix::compile::CompileError;
using tovix::compile::Warning;

TEST(CompileRecords, ParseErrorsGetTheirHelpByMessage) {
  struct Case {
    std::string message;
    std::optional<std::string> help;
  };
  const Case cases[] = {
      {"this `{}` is empty", "remove it, or put an expression in it"},
      {"this `{}` contains no value", "a comment only stands in for a child, not a prop"},
      {"unclosed element", std::nullopt},
      {"unterminated interpolation", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto error = CompileError::from(tovix::markup::parser::ParseError{c.message, 7});
    EXPECT_EQ(error, (CompileError{c.message, c.help, 7, 0}));
  }
}

TEST(CompileRecords, LexErrorsHaveNoHelp) {
  EXPECT_EQ(CompileError::from(tovix::lexer::LexError{"unterminated string", 4}),
            (CompileError{"unterminated string", std::nullopt, 4, 0}));
}

TEST(CompileRecords, EmitErrorsAndWarningsConvertFieldForField) {
  EmitError emitted{"unknown element", "did you mean Frame", 3, 5};
  EXPECT_EQ(CompileError::from(emitted), (CompileError{"unknown element", "did you mean Frame", 3, 5}));
  Warning warning{"built once", "wrap it", 9, 12};
  EXPECT_EQ(CompileError::from(warning), (CompileError{"built once", "wrap it", 9, 12}));
}

TEST(CompileRecords, WithHelpReplacesTheHelp) {
  EmitError bare{"m", std::nullopt, 1, 2};
  EXPECT_EQ(bare.with_help("first"), (EmitError{"m", "first", 1, 2}));
  EXPECT_EQ(bare.with_help("first").with_help("second"), (EmitError{"m", "second", 1, 2}));
  EXPECT_FALSE(bare.help.has_value());
}

// A compile that stops hands back what it had read: the markup parsed
// before a syntax error (none after it), or all of it with the names the
// file binds when the error comes later.
TEST(CompileRecords, WhatAStoppedCompileHadRead) {
  struct Case {
    std::string source;
    std::vector<std::string> markup;  // as written
    bool bindings;
  };
  const Case cases[] = {
      {"local a = <Frame/>\nlocal b = <Frame>\nlocal c = <Frame/>\n", {"<Frame/>"}, false},
      {"local a = <Frame/>\nlocal s = 'open\nlocal c = <Frame/>\n", {"<Frame/>"}, false},
      {"local a = <Frame/>\nlocal f = <>text</>\nlocal Card = 1\n", {"<Frame/>", "<>text</>"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    tovix::compile::Partial partial;
    auto compiled = tovix::compile::compile_recovering(c.source, tovix::backend::vide::Vide{}, {}, partial);
    ASSERT_FALSE(compiled);
    std::vector<std::string> written;
    for (const auto& m : partial.markup) written.push_back(c.source.substr(m.start, m.end - m.start));
    EXPECT_EQ(written, c.markup);
    EXPECT_EQ(partial.bindings.has_value(), c.bindings);
    if (partial.bindings) {
      EXPECT_TRUE(partial.bindings->contains("Card"));
    }
  }
  // A compile that succeeds leaves it alone; its result holds the same.
  tovix::compile::Partial untouched;
  const std::string source = "local create = f\nlocal a = <Frame/>\n";
  auto compiled = tovix::compile::compile_recovering(source, tovix::backend::vide::Vide{}, {}, untouched);
  ASSERT_TRUE(compiled);
  EXPECT_TRUE(untouched.markup.empty());
  EXPECT_FALSE(untouched.bindings.has_value());
  ASSERT_EQ(compiled->markup.size(), 1u);
  EXPECT_EQ(source.substr(compiled->markup[0].start, compiled->markup[0].end - compiled->markup[0].start), "<Frame/>");
}

}  // namespace
