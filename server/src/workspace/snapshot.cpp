#include "workspace/snapshot.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "tovix/config/config.h"
#include "workspace/bindings.h"

namespace tovix_lsp::snapshot {

namespace {

// What a `Resolver` collects depends on the text alone, not on the settings.
tovix::resolve::NameSet bound_in(std::string_view text, std::span<const regions::Region> markup) {
  const tovix::resolve::Resolver resolver(tovix::resolve::blank_tovix_regions(text, blanking(text, markup)),
                                          tovix::config::Config{});
  return resolver.bindings;
}

}  // namespace

std::vector<tovix::resolve::Region> blanking(std::string_view text, std::span<const regions::Region> markup) {
  std::vector<tovix::resolve::Region> out = regions::spans(markup);
  // After the last region the walk that found them has either reached the
  // end or stopped at markup it could not parse: the cursor scan reads on.
  std::optional<scan::Resume> after;
  if (!markup.empty()) after = scan::Resume{markup.back().end, markup.back().carried};
  for (const auto& span : scan::markup_spans(text, after)) out.push_back(span);
  return out;
}

std::shared_ptr<const Snapshot> take(Read read) {
  auto out = std::make_shared<Snapshot>();
  out->bindings = read.bindings ? std::move(*read.bindings) : bound_in(read.text, read.markup);
  out->resumes = read.resumes ? std::move(*read.resumes) : scan::resumes(read.text, read.markup);
  out->markup = std::move(read.markup);
  out->text = std::move(read.text);
  return out;
}

const Snapshot* of(const Snapshot* snapshot, std::string_view text) {
  return snapshot != nullptr && snapshot->text == text ? snapshot : nullptr;
}

scan::Scan scan(std::string_view text, std::size_t cursor, const Snapshot* current) {
  return current != nullptr ? scan::scan(text, cursor, current->resumes) : scan::scan(text, cursor);
}

std::span<const regions::Region> regions(std::string_view text, const Snapshot* current,
                                         std::vector<regions::Region>& found) {
  if (current != nullptr) return current->markup;
  found = regions::regions(text);
  return found;
}

std::vector<tree::Tag> tree(std::string_view text, const Snapshot* current) {
  return current != nullptr ? tree::tree(text, current->markup) : tree::tree(text);
}

std::vector<tree::Tag> tree_at(std::string_view text, std::size_t offset, const Snapshot* current) {
  return current != nullptr ? tree::tree_at(text, current->markup, offset) : tree::tree_at(text, offset);
}

const tovix::resolve::NameSet& bindings(std::string_view text, const Snapshot* current,
                                        tovix::resolve::NameSet& found) {
  if (current != nullptr) return current->bindings;
  const std::vector<regions::Region> markup = regions::regions(text);
  return bindings(text, markup, nullptr, found);
}

const tovix::resolve::NameSet& bindings(std::string_view text, std::span<const regions::Region> markup,
                                        const Snapshot* current, tovix::resolve::NameSet& found) {
  if (current != nullptr) return current->bindings;
  found = bound_in(text, markup);
  return found;
}

tovix::markup::walk::Walker walk_to(std::string_view text, std::size_t offset, const Snapshot* current) {
  if (current == nullptr) return tovix::markup::walk::Walker(text);
  // The expressions are in text order; the first that ends past the offset
  // follows the one to resume after.
  const auto after = std::ranges::upper_bound(current->markup, offset, {}, &regions::Region::end);
  if (after == current->markup.begin()) return tovix::markup::walk::Walker(text);
  const regions::Region& last = *std::prev(after);
  return tovix::markup::walk::Walker(text, last.end, last.carried);
}

std::optional<line_index::ByteRange> find(std::string_view text, std::string_view name, const Snapshot* current) {
  return current != nullptr ? bindings::find(text, name, current->markup) : bindings::find(text, name);
}

}  // namespace tovix_lsp::snapshot
