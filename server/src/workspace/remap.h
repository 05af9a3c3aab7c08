#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/analysis.h"
#include "workspace/document.h"
#include "workspace/published.h"

// Whole protocol payloads moved between a .tovix document, as the editor
// sees it, and its generated Luau file, as the child language server sees
// it. The walk knows no message types: it recognises URIs, ranges and
// positions by their member names, moves positions through the source map
// and drops what has no counterpart, remembering that it did.
namespace tovix_lsp::remap {

enum class Direction {
  ToOutput,  // editor towards child: source positions become generated ones
  ToSource,  // child towards editor
};

// One open .tovix document with the compile its positions move through.
// `compiled` may be older than the document's text (a stale compile, or the
// compile a request was sent against): positions then move only on lines
// that both texts hold unchanged.
struct Pair {
  const document::Document* document = nullptr;        // never null
  std::shared_ptr<const analysis::Compiled> compiled;  // null: nothing maps
  std::string_view generated_uri;                      // the child's URI of it; empty: none
};

// Whether `uri` names the pair's document or its generated file (same_file).
[[nodiscard]] bool names(const Pair& pair, std::string_view uri);

// Where the character at `offset` of the document's current text is in the
// generated code of the pair's compile; nothing when it has no counterpart
// there, also on a line changed since that compile.
[[nodiscard]] std::optional<std::size_t> to_output(const Pair& pair, std::size_t offset);

// The open .tovix document that `uri` names, by its own URI or by its
// generated file's (as `names` tells), with its compile in use; nothing when
// `uri` is no open document's. The pointers it hands out must stay valid
// while the `Remap` that asked lives.
using Lookup = std::function<std::optional<Pair>(std::string_view uri)>;

// Moves payloads for one document and one direction; lives for one payload
// (or a few of one exchange), borrowing everything it is given.
//
// Scope: every object that names a URI ("uri", or "textDocument.uri") is
// moved with the map of the document that URI names: the home pair, another
// open document found through `others`, or none (a plain file, copied
// untouched). A location link's "targetRange" and "targetSelectionRange"
// take the scope of its "targetUri"; each list under a workspace edit's
// "changes" takes the scope of its member name, and that name, like every
// "uri" and "targetUri", is rewritten to the other side of its document.
class Remap {
 public:
  Remap(Pair home, Direction direction, Lookup others = {});
  ~Remap();
  Remap(const Remap&) = delete;
  Remap& operator=(const Remap&) = delete;

  // The value moved, or nothing when it has no counterpart as a whole. The
  // value is taken whole and rewritten in place: pass a payload moved in
  // (`std::move`) and nothing of it is copied. `in_scope` true starts in the
  // home document's scope (what the server passes for a whole payload),
  // false as a value of no known file. An array element or object member
  // that does not move is left out and sets `lost`; an object without its
  // "range", "position", "targetRange", "selectionRange",
  // "targetSelectionRange", "originSelectionRange", "insert", "replace" or
  // "location", or whose "uri" or "targetUri" is not a string, maps to
  // nothing. So does one where such a member is not of its form (a position:
  // an object with integer "line" and "character" below 2^32; a range: an
  // object with two of them as "start" and "end"; a location: an object),
  // in any file's scope. So does, in a document's scope, a position or range
  // that is not one of its incoming text (a line past the end, a negative or
  // fractional number, one of 2^32 or more); a column past its line's end is
  // its line's end. A folding range's "startLine" and "endLine" must be
  // integers below 2^32 and, in a document's scope, lines of its incoming
  // text that it holds unchanged since the compile; they move as whole
  // lines. Values nested deeper than 256 levels map to nothing.
  [[nodiscard]] std::optional<nlohmann::json> value(nlohmann::json v, bool in_scope = true);

  // `value` for the child's diagnostics (towards the source): a diagnostic
  // without a "range" (also one that is no object) is left out. A range that
  // does not map whole is narrowed, for showing only, to the mapped pieces
  // it holds (from the first mapped byte to the last), or else goes on the
  // opening name of the innermost element whose generated code holds it;
  // only one that lies wholly in code generated outside every element (the
  // injected helpers) is left out. Ranges under "data" (a fix's edits) are
  // moved as `value` moves them.
  [[nodiscard]] std::optional<nlohmann::json> diagnostics(nlohmann::json list);

  // `diagnostics` for a publication kept as text, towards the source: the
  // text of each diagnostic that moves is appended to `out`, after a comma
  // but for the first, as the JSON text of what `diagnostics` gives for it
  // (a plain one by putting its moved range into its own text). How many.
  std::size_t diagnostics_text(const published::Publication& list, std::string& out);

  // `value` for a forwarded answer that is not a rename: a code action or
  // completion item (any object) that lost anything in its own edits
  // ("edit", "textEdit", "additionalTextEdits") maps to nothing as a whole,
  // rather than keep half of them. A lone item that does gives no answer.
  [[nodiscard]] std::optional<nlohmann::json> answer(nlohmann::json result);

  // A Range moved by whole lines in the home document: from the start of its
  // first line to the start of the line after its last (the end of the text
  // when there is none). Lines the compile's text and the document's hold
  // unchanged keep their place; a range reaching into lines changed since
  // the compile takes in all of them. Lines past the target's last line
  // clamp to the end of its text. Nothing for a value that is not a valid
  // range or when the home pair has no compile.
  [[nodiscard]] std::optional<nlohmann::json> whole_lines(const nlohmann::json& range);

  // The params of "textDocument/inlayHint" moved: the visible "range" by
  // whole lines (a range across markup would never map), the rest by
  // `value`. Nothing when either gives nothing.
  [[nodiscard]] std::optional<nlohmann::json> inlay_hint_params(nlohmann::json params);

  // Something was left out since this Remap was made. Never cleared.
  [[nodiscard]] bool lost() const { return drops_ > 0; }

 private:
  struct Scope;
  struct Named;

  // Move `v` in place; false when it has no counterpart (it is then left
  // half moved, for the caller to drop).
  bool walk(nlohmann::json& v, Scope* scope, std::size_t depth);
  bool object(nlohmann::json& v, Scope* scope, std::size_t depth);
  bool changes(nlohmann::json& v, std::size_t depth);
  const Named& resolve(std::string_view uri);

  Direction direction_;
  Lookup others_;
  std::unique_ptr<Scope> home_;
  struct UriHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  // Documents found through `others_`, by document and compile, and the URIs
  // already resolved: an answer may name every open document, each many
  // times.
  std::map<std::pair<const document::Document*, const analysis::Compiled*>, std::unique_ptr<Scope>> scopes_;
  std::unordered_map<std::string, std::unique_ptr<Named>, UriHash, std::equal_to<>> named_;
  std::size_t drops_ = 0;
  bool whole_items_ = false;
  bool narrow_ = false;
};

}  // namespace tovix_lsp::remap
