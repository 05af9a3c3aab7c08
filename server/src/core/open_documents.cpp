#include "core/open_documents.h"

#include <utility>

#include "workspace/project.h"

namespace tovix_lsp::open_documents {

OpenDocument* OpenDocuments::get(std::string_view uri) {
  const auto it = entries_.find(uri);
  return it == entries_.end() ? nullptr : &it->second;
}

const OpenDocument* OpenDocuments::get(std::string_view uri) const {
  const auto it = entries_.find(uri);
  return it == entries_.end() ? nullptr : &it->second;
}

OpenDocument& OpenDocuments::open(std::string uri, std::string text, std::int64_t version) {
  document::Document document(uri, std::move(text), version);
  if (const auto it = entries_.find(uri); it != entries_.end()) {
    it->second.document = std::move(document);
    return it->second;
  }
  by_file_.emplace(project::file_key(uri), uri);
  return entries_.emplace(std::move(uri), OpenDocument(std::move(document))).first->second;
}

void OpenDocuments::close(std::string_view uri) {
  const auto it = entries_.find(uri);
  if (it == entries_.end()) return;
  forget(by_file_, it->first, it->first);
  forget(by_generated_, it->second.generated_uri_, it->first);
  entries_.erase(it);
}

void OpenDocuments::set_generated_uri(OpenDocument& open, std::string generated_uri) {
  const std::string& key = open.document.uri();
  forget(by_generated_, open.generated_uri_, key);
  open.generated_uri_ = std::move(generated_uri);
  if (!open.generated_uri_.empty()) by_generated_.emplace(project::file_key(open.generated_uri_), key);
}

OpenDocument* OpenDocuments::by_generated(std::string_view uri) { return first(by_generated_, uri); }

OpenDocument* OpenDocuments::naming(std::string_view uri) {
  if (OpenDocument* exact = get(uri)) return exact;
  if (OpenDocument* own = first(by_file_, uri)) return own;
  return by_generated(uri);
}

std::vector<std::string> OpenDocuments::uris() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& entry : entries_) out.push_back(entry.first);
  return out;
}

void OpenDocuments::forget(Index& index, const std::string& uri, const std::string& key) {
  if (uri.empty()) return;
  auto [from, to] = index.equal_range(project::file_key(uri));
  for (auto it = from; it != to; ++it) {
    if (it->second == key) {
      index.erase(it);
      return;
    }
  }
}

OpenDocument* OpenDocuments::first(const Index& index, std::string_view uri) {
  const auto found = index.find(project::file_key(uri));
  return found == index.end() ? nullptr : get(found->second);
}

}  // namespace tovix_lsp::open_documents
