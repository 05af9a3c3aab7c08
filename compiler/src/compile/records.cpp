#include "tovix/compile/records.h"

#include <utility>

#include "tovix/backend/backend.h"
#include "tovix/lexer.h"
#include "tovix/markup/parser.h"

namespace tovix::compile {

CompileError CompileError::from(const lexer::LexError& error) {
  return CompileError{error.message, std::nullopt, error.offset, 0};
}

CompileError CompileError::from(const markup::parser::ParseError& error) {
  std::optional<std::string> help;
  if (error.message.find("is empty") != std::string::npos) {
    help = "remove it, or put an expression in it";
  } else if (error.message.find("contains no value") != std::string::npos) {
    help = "a comment only stands in for a child, not a prop";
  }
  return CompileError{error.message, std::move(help), error.offset, 0};
}

CompileError CompileError::from(const backend::EmitError& error) {
  return CompileError{error.message, error.help, error.offset, error.len};
}

CompileError CompileError::from(const Warning& warning) {
  return CompileError{warning.message, warning.help, warning.offset, warning.len};
}

}  // namespace tovix::compile
