#pragma once

// The Luau types and documentation of Roblox members, which the embedded
// class table lacks: read from the type-definition and documentation files
// the editor's settings name, else from the editor extension's
// ("globalTypes.{}.d.luau" and `api-docs.json`). One process-wide value,
// installed at most once and never changed after; every reader works
// without it (plainer details, no documentation).

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tovix_lsp::api {

namespace detail {
struct Hash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <typename V>
using ByName = std::unordered_map<std::string, V, Hash, std::equal_to<>>;
}  // namespace detail

// One `declare` block of the definitions file.
struct Class {
  std::optional<std::string> superclass;  // the word after "extends"
  detail::ByName<std::string> members;    // name -> Luau type as written
};

// A member found by `Api::member`; owned by the caller.
struct Member {
  std::string owner;  // the class whose block declares it
  std::string ty;     // its Luau type

  // The parameter types of an event, "RBXScriptSignal<…>"; none for any
  // other type. Top-level commas split (brackets nest, "->" is no bracket);
  // empty pieces are dropped, so "RBXScriptSignal<()>" gives an empty list.
  [[nodiscard]] std::optional<std::vector<std::string>> event_parameters() const;
};

// One entry of the documentation file. The texts are empty when absent.
struct Documentation {
  std::string documentation;  // HTML
  std::string learn_more_link;
  friend bool operator==(const Documentation&, const Documentation&) = default;
};

struct Api {
  detail::ByName<Class> classes;
  detail::ByName<Documentation> docs;

  // The member in the class or its nearest ancestor (by the file's
  // "extends"); none for a missing class or member, or a loop of "extends".
  [[nodiscard]] std::optional<Member> member(std::string_view class_name, std::string_view member_name) const;

  // The entry under exactly "@roblox/globaltype/{class}.{member}", or null.
  [[nodiscard]] const Documentation* documentation(std::string_view class_name, std::string_view member_name) const;
};

// The classes of a definitions file's text, by its line rules: "declare
// extern type"/"declare class" lines open a class, lines starting "end"
// close it, tab- or space-indented "name: type" lines are its members.
// Nothing fails: other lines are ignored.
[[nodiscard]] detail::ByName<Class> parse_definitions(std::string_view text);

// The entries of a documentation file's text: each an object with the two
// text members (either may be missing), or an array of exactly the two
// texts. Any fault (not JSON, not an object, an entry of the wrong shape, a
// text member that is not a string or given twice) gives none at all.
[[nodiscard]] detail::ByName<Documentation> parse_docs(std::string_view text);

// The largest type file read: the documentation file, the largest, is a few
// megabytes (tens at most), so this holds any real one many times over,
// while a file without end cannot fill memory.
inline constexpr std::size_t MAX_FILE_SIZE = std::size_t{128} << 20;

// Both files read whole; an unreadable or ill-formed file gives empty maps.
// Only regular files up to MAX_FILE_SIZE are read: anything else (a pipe, a
// device, a directory, a larger file) is refused unread, without waiting.
[[nodiscard]] Api load(const std::string& definitions_path, const std::optional<std::string>& docs_path);

// Where the facts come from. The files the editor's settings name come
// first, in order: the first definition file whose name ends in ".d.luau"
// that can be read gives the classes, the first documentation file that can
// be read the documentation; a named file that cannot be read (missing, a
// read error, not a regular file, too large, ill-formed UTF-8) is skipped. The extension's storage files
// are the fallback, read as `load` reads them.
struct Sources {
  std::vector<std::string> named_definitions;
  std::vector<std::string> named_documentation;
  std::optional<std::string> stored_definitions;
  std::optional<std::string> stored_documentation;
};

// The facts of `sources`; none when no definitions file is left to read (no
// named one could be read and the storage has none), and then no
// documentation file is read either. Every named file skipped is added to
// `unreadable`.
[[nodiscard]] std::optional<Api> load(const Sources& sources, std::vector<std::string>& unreadable);

// A place for the facts that is filled at most once. Readers need no lock:
// the value is published before the pointer to it.
class Slot {
 public:
  constexpr Slot() = default;
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  // Once the facts are kept, nothing is read again. Until then each call
  // loads `sources` and keeps the facts when they have a definitions file
  // to come from, even when it holds no class. The named files skipped are
  // returned (none once the facts are kept). Safe from any thread; of
  // calls that overlap, the first to finish its load keeps its facts.
  std::vector<std::string> install(const Sources& sources);
  // The same with no named files: without a definitions path nothing
  // happens.
  void install(std::optional<std::string> definitions_path, std::optional<std::string> docs_path);

  // The kept facts, or null before the first install.
  [[nodiscard]] const Api* installed() const { return published_.load(std::memory_order_acquire); }
  // The kept facts when they hold at least one class (the only way readers
  // count them as present), or null.
  [[nodiscard]] const Api* present() const;

 private:
  std::once_flag once_;
  std::unique_ptr<const Api> value_;
  std::atomic<const Api*> published_{nullptr};
};

// The process-wide facts. Never destroyed: a load still running when the
// process ends may be filling it.
extern Slot& API;

// `API.install`.
std::vector<std::string> install(const Sources& sources);
void install(std::optional<std::string> definitions_path, std::optional<std::string> docs_path);

// `API.present()`: what completion and hover read.
[[nodiscard]] const Api* present();

}  // namespace tovix_lsp::api
