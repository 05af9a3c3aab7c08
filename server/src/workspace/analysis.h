#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/document.h"
#include "workspace/line_index.h"
#include "workspace/project.h"
#include "workspace/protocol.h"
#include "workspace/snapshot.h"
#include "workspace/sourcemap.h"

// One open document turned into what the server needs after each change:
// protocol diagnostics, and the generated Luau with its source map.
namespace tovix_lsp::analysis {

using Severity = protocol::Severity;

// The last usable generated output of a document. Shared and never changed
// once built, so work started on one version (a request at the child, a map
// lookup) keeps that version alive while newer ones replace it.
struct Compiled {
  std::string source;  // the text that was compiled
  std::string code;
  // Indexes of the two texts, built once here rather than for every payload
  // moved through this compile.
  line_index::LineIndex source_index;
  line_index::LineIndex code_index;
  sourcemap::SourceMap map;  // between the document text and `code`
  std::int64_t version = 0;  // the document version that was compiled
  std::size_t lines = 0;     // the line count of the text that was compiled
};

// What one analysis gives: the diagnostics in order (configuration error,
// compile errors, warnings; or configuration error and the one fatal error),
// the output in use, and whether that output comes from an earlier version.
struct Analysis {
  std::vector<nlohmann::json> diagnostics;
  std::shared_ptr<const Compiled> compiled;
  bool stale = false;
  // What the compile read of this very text, also when it failed: taken
  // (`snapshot::take`) for the requests on it.
  snapshot::Read read;

  // Compiles the document with the project's settings. A fatal error keeps
  // `previous`, marked stale, also when lines were added or removed since:
  // positions move through it only on the lines that the two texts hold
  // unchanged.
  [[nodiscard]] static Analysis run(const document::Document& document, const project::Project& project,
                                    std::shared_ptr<const Compiled> previous);
};

// The "data" member of a diagnostic about a misspelt element or attribute:
// what a quick fix replaces and the names it offers, best first. Absent
// when there is nothing to offer. `start`..`end` is the diagnostic's span
// after widening to whole characters.
[[nodiscard]] std::optional<nlohmann::json> suggestion(const document::Document& document,
                                                       const project::Project& project, std::size_t start,
                                                       std::size_t end);

// One protocol Diagnostic for a byte span of the document. The span is
// clamped to the text and widened to whole characters; an empty span covers
// the character at its start (nothing at the end of the text).
[[nodiscard]] nlohmann::json diagnostic(const document::Document& document, const project::Project& project,
                                        std::string_view message, std::size_t offset, std::size_t length,
                                        const std::optional<std::string>& help, Severity severity);

}  // namespace tovix_lsp::analysis
