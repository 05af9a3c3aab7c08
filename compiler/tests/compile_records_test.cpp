#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "backend.h"
#include "compile.h"
#include "lexer.h"
#include "markup/parser.h"

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

}  // namespace
