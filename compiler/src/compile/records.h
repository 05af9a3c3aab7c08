#pragma once

// The records the compiler reports: a finding that does not stop the compile
// and the error every other error converts into. Kept apart from the
// pipeline so that the checks it runs (lint) can build them without
// depending on it.

#include <cstddef>
#include <optional>
#include <string>

namespace tovix::lexer {
struct LexError;
}

namespace tovix::markup::parser {
struct ParseError;
}

namespace tovix::backend {
struct EmitError;
}

namespace tovix::compile {

// A finding that does not stop the compile.
struct Warning {
  std::string message;
  std::optional<std::string> help;
  std::size_t offset = 0;  // where the span starts, in the text being compiled
  std::size_t len = 0;     // 0 for a single place

  friend bool operator==(const Warning&, const Warning&) = default;
};

// An error as the compiler reports it; every other error converts into one.
struct CompileError {
  std::string message;
  std::optional<std::string> help;
  std::size_t offset = 0;
  std::size_t len = 0;

  // Lexer errors point at one place and carry no help.
  [[nodiscard]] static CompileError from(const lexer::LexError& error);
  // Parse errors point at one place; a help is chosen from the message.
  [[nodiscard]] static CompileError from(const markup::parser::ParseError& error);
  [[nodiscard]] static CompileError from(const backend::EmitError& error);
  [[nodiscard]] static CompileError from(const Warning& warning);

  friend bool operator==(const CompileError&, const CompileError&) = default;
};

}  // namespace tovix::compile
