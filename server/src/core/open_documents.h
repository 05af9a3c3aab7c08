#pragma once

// The server's record of each open document: the text with its index, and
// everything the server derived from it. One entry per document, so closing
// a document forgets all of it at once; the index that finds a document by
// the file it or its generated Luau is holds only keys, and is changed only
// with the entries.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/analysis.h"
#include "workspace/document.h"
#include "workspace/published.h"
#include "workspace/snapshot.h"

namespace tovix_lsp::open_documents {

// What the child was given of a document and said about it.
struct ChildCopy {
  // The child has been given the generated file.
  bool open = false;
  // The compiles whose code the child was handed, with the version it went
  // with, oldest first (a few only): the child says which text its
  // diagnostics are about, and may speak of one that is no longer the last.
  std::vector<std::pair<std::int64_t, std::shared_ptr<const analysis::Compiled>>> handed;
  // The child's diagnostics as it published them, in the generated code of
  // `compiled`: moved again into every new text, so that an edit since does
  // not leave them on shifted places.
  published::Publication published;
  std::shared_ptr<const analysis::Compiled> compiled;
  // Those diagnostics moved into the current text, as the JSON text of the
  // diagnostics published (comma-separated), and how many.
  struct Shown {
    std::string text;
    std::size_t count = 0;
  };
  Shown shown;
  // The last line that said how many of the child's diagnostics could not
  // be placed (empty once all could).
  std::string dropped_said;
};

class OpenDocuments;

struct OpenDocument {
  explicit OpenDocument(document::Document document) : document(std::move(document)) {}

  // Where the document's generated Luau would live; empty for a document
  // that is not a file. Set through `OpenDocuments::set_generated_uri`,
  // which keeps it findable.
  [[nodiscard]] const std::string& generated_uri() const { return generated_uri_; }

  document::Document document;
  // The last usable compile, shared with work still using it; null before
  // the first compile that succeeded (or kept nothing).
  std::shared_ptr<const analysis::Compiled> compiled;
  // The compile in use comes from an earlier version of the text.
  bool stale = false;
  // What the last analysis read of the text it analysed, for the markup
  // requests; the features take it only while it is of the current text.
  std::shared_ptr<const snapshot::Snapshot> snapshot;
  // The compiler's own diagnostics.
  std::vector<nlohmann::json> diagnostics;
  // The child's side of the document, which only the child session reads
  // and writes.
  ChildCopy child;

 private:
  friend class OpenDocuments;
  std::string generated_uri_;
};

// Open documents by the URI exactly as the editor sent it.
class OpenDocuments {
 public:
  // The entry stored under exactly `uri`, or null. The pointer stays valid
  // until that entry is closed or replaced.
  [[nodiscard]] OpenDocument* get(std::string_view uri);
  [[nodiscard]] const OpenDocument* get(std::string_view uri) const;

  // Stores a fresh entry. An entry already under the same URI is kept, with
  // everything derived from it (the compile, the child's copy and its
  // diagnostics), and takes the new text and version as a full change would:
  // the caller analyses it again, and the child is sent a change.
  OpenDocument& open(std::string uri, std::string text, std::int64_t version);

  // Removes the entry under `uri`, if any.
  void close(std::string_view uri);

  // Sets the generated URI of `open`, an entry of these documents.
  void set_generated_uri(OpenDocument& open, std::string generated_uri);

  // The entry whose generated URI names the same file as `uri`
  // (`project::same_file`), or null; of several, any one.
  [[nodiscard]] OpenDocument* by_generated(std::string_view uri);
  // The entry `uri` names: stored under exactly it, else one whose own URI
  // or generated URI names the same file; null when none does.
  [[nodiscard]] OpenDocument* naming(std::string_view uri);

  // Copies of every stored URI, in no particular order.
  [[nodiscard]] std::vector<std::string> uris() const;

  [[nodiscard]] bool empty() const { return entries_.empty(); }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Index = std::unordered_multimap<std::string, std::string>;
  // `project::file_key` of a URI -> the key of its entry.
  static void forget(Index& index, const std::string& uri, const std::string& key);
  [[nodiscard]] OpenDocument* first(const Index& index, std::string_view uri);

  std::unordered_map<std::string, OpenDocument, Hash, std::equal_to<>> entries_;
  // By the file of each entry's URI, and of each non-empty generated URI.
  Index by_file_;
  Index by_generated_;
};

}  // namespace tovix_lsp::open_documents
