#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tovix/config/config.h"
#include "workspace/naming.h"

// Projects and their generated-file paths, and the system's only
// conversions between "file://" URIs and file-system paths.
namespace tovix_lsp::project {

// The project of a document: the nearest ancestor directory holding a
// `tovix.toml`, else the document's own directory. A plain value; copies
// share one vocabulary.
struct Project {
  std::filesystem::path root;
  // As loaded, or the defaults without a file or when it failed to load.
  tovix::config::Config config;
  // The `build` settings `in` and `out` joined to `root`; absent without a
  // loaded `tovix.toml` or the setting.
  std::optional<std::filesystem::path> build_in;
  std::optional<std::filesystem::path> build_out;
  // The `tovix.toml` found, and its modification time at discovery (absent
  // when it could not be read).
  std::optional<std::filesystem::path> config_path;
  std::optional<std::filesystem::file_time_type> config_mtime;
  // Why a `tovix.toml` that exists did not load.
  std::optional<std::string> config_error;
  std::shared_ptr<naming::Vocabulary> vocabulary;

  // A project at `root` with the default configuration and a new vocabulary.
  [[nodiscard]] static Project bare(std::filesystem::path root);

  // Searches upward from the path (a directory, or a file's directory) for
  // a `tovix.toml` and loads it; a file that fails to load leaves its
  // message in `config_error` and the defaults in place.
  [[nodiscard]] static Project discover(const std::filesystem::path& path);

  // Whether this project's own `tovix.toml` has appeared, disappeared or
  // changed its modification time since discovery.
  [[nodiscard]] bool is_stale() const;

  // Where the generated Luau of a source file goes: under `build_out` when
  // the file lies under `build_in` (or `root`), else next to the file; the
  // extension becomes "luau".
  [[nodiscard]] std::filesystem::path build_path(const std::filesystem::path& file) const;
};

// The projects seen so far, by root. A cached project is reused until its
// own `tovix.toml` changes; `clear` forgets them all.
class Projects {
 public:
  // A copy of the project of a file (or directory), from the cache when it
  // is still fresh, else discovered and cached under its root.
  [[nodiscard]] Project for_file(const std::filesystem::path& path);

  void clear();

  [[nodiscard]] std::size_t size() const { return by_root_.size(); }

 private:
  // Keyed by the root's components, so spellings of one directory agree.
  std::unordered_map<std::string, Project> by_root_;
  // How many cached roots have each number of components, most first.
  std::map<std::size_t, std::size_t, std::greater<>> depths_;
};

// "file://" and the path as UTF-8 (ill-formed bytes become U+FFFD), with a
// "/" put in front of a path that lacks one; every byte other than ASCII
// letters, digits and - . / : _ ~ is written as %XX in upper-case hex.
[[nodiscard]] std::string path_to_uri(const std::filesystem::path& path);

// The path of a "file://" URI with an absolute path: percent escapes of two
// hex digits are decoded (any other % stays), ill-formed UTF-8 becomes
// U+FFFD. The authority "localhost" (any case) names this machine and reads
// as none. Absent for other schemes, another authority or an empty path. On
// Windows a slash before a drive letter ("/C:/x") is dropped; elsewhere such
// a path is an ordinary absolute path and stays as it is.
[[nodiscard]] std::optional<std::filesystem::path> uri_to_path(std::string_view uri);

// Whether two URIs name the same file: equal texts, or equal decoded paths
// compared component by component.
[[nodiscard]] bool same_file(std::string_view a, std::string_view b);
// A key equal for two URIs exactly when `same_file` holds for them, so that
// a file is found by its URI in a hash table however it is spelled.
[[nodiscard]] std::string file_key(std::string_view uri);

// Whether two paths are the same sequence of components: repeated slashes,
// a trailing slash and "." components other than a leading one make no
// difference; ".." is kept, case matters, links are not followed.
[[nodiscard]] bool same_path(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tovix_lsp::project
