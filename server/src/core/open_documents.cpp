#include "core/open_documents.h"

#include <utility>

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
  return entries_.emplace(std::move(uri), OpenDocument(std::move(document))).first->second;
}

void OpenDocuments::close(std::string_view uri) {
  const auto it = entries_.find(uri);
  if (it != entries_.end()) entries_.erase(it);
}

std::vector<std::string> OpenDocuments::uris() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& entry : entries_) out.push_back(entry.first);
  return out;
}

}  // namespace tovix_lsp::open_documents
