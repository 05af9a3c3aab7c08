#include "workspace/project.h"

#include <algorithm>
#include <climits>
#include <sys/stat.h>
#include <system_error>
#include <utility>
#include <vector>

#include "workspace/utf8_text.h"

namespace tovix_lsp::project {

namespace {

namespace fs = std::filesystem;

bool is_unreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '/' || c == ':' || c == '_' || c == '~';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path's components, with the empty ones of repeated and trailing
// separators and every "." but a leading one left out.
std::vector<fs::path> components(const fs::path& path) {
  std::vector<fs::path> out;
  for (const fs::path& part : path) {
    if (part.empty()) continue;
    if (part == "." && !out.empty()) continue;
    out.push_back(part);
  }
  return out;
}

// The key a path has in the project map: its components, each ended by a
// NUL, which no path component can hold. `ends[k]` is where the key of its
// first k components ends: the key of each ancestor of a path is such a
// prefix, so one key serves the whole way up.
struct ComponentKey {
  std::string key;
  std::vector<std::size_t> ends{0};
};

ComponentKey component_key(const fs::path& path) {
  ComponentKey out;
  for (const fs::path& part : components(path)) {
    out.key += part.native();
    out.key += '\0';
    out.ends.push_back(out.key.size());
  }
  return out;
}

// The length of the parent directory of the first `n` bytes of `text`, as
// a prefix of it: a trailing slash is ignored, then the last name and the
// slashes before it go (an absolute path keeps its root). None for a root
// or an empty path. On the text, so that walking up a path of many
// components costs no more than the path's length.
std::optional<std::size_t> parent_length(std::string_view text, std::size_t n) {
  const std::size_t first_name = std::min(text.find_first_not_of('/'), text.size());
  std::size_t t = n;
  while (t > first_name && text[t - 1] == '/') --t;
  if (t <= first_name) return std::nullopt;
  while (t > 0 && text[t - 1] != '/') --t;
  while (t > 0 && text[t - 1] == '/') --t;
  if (t == 0 && !text.empty() && text.front() == '/') t = 1;
  return t;
}

// The parent directory, ignoring a trailing slash; none for a root or an
// empty path.
std::optional<fs::path> parent_of(const fs::path& path) {
  const auto n = parent_length(path.native(), path.native().size());
  if (!n) return std::nullopt;
  return fs::path(path.native().substr(0, *n));
}

// The directory a search starts from: the path when it is a directory, else
// its parent (the path itself when it has none).
fs::path start_directory(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return path;
  return parent_of(path).value_or(path);
}

bool is_existing_file(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

std::optional<fs::file_time_type> modification_time(const fs::path& path) {
  std::error_code ec;
  const fs::file_time_type time = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return time;
}

fs::path with_luau_extension(fs::path path) {
  path.replace_extension("luau");
  return path;
}

}  // namespace

Project Project::bare(fs::path root) {
  Project project;
  project.root = std::move(root);
  project.vocabulary = std::make_shared<naming::Vocabulary>();
  return project;
}

Project Project::discover(const fs::path& path) {
  const fs::path start = start_directory(path);
  const std::string_view text = start.native();
  constexpr std::string_view NAME = "tovix.toml";
  std::string candidate;
  for (std::optional<std::size_t> n = text.size(); n; n = parent_length(text, *n)) {
    const std::string_view dir_text = text.substr(0, *n);
    const bool slash = !dir_text.empty() && dir_text.back() != '/';
    // A name the platform cannot take names no file, and building it for
    // each ancestor of a very long path would cost its length each time.
    if (dir_text.size() + slash + NAME.size() >= PATH_MAX) continue;
    // Tested as text: a `path` would split the whole name into components
    // at every ancestor.
    ((candidate = dir_text) += slash ? "/" : "") += NAME;
    struct stat status;
    if (::stat(candidate.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    fs::path dir(dir_text);
    fs::path file = dir / NAME;
    Project project = bare(dir);
    project.config_mtime = modification_time(file);
    project.config_path = std::move(file);
    auto loaded = tovix::config::Config::load(dir);
    if (!loaded) {
      project.config_error = std::move(loaded.error().message);
      return project;
    }
    project.config = std::move(*loaded);
    // Joining keeps an absolute setting unchanged.
    if (const auto& in = project.config.build.in_dir) project.build_in = dir / *in;
    if (const auto& out = project.config.build.out_dir) project.build_out = dir / *out;
    return project;
  }
  return bare(start);
}

bool Project::is_stale() const {
  if (!config_path) return is_existing_file(root / "tovix.toml");
  const auto now = modification_time(*config_path);
  if (!now) return config_mtime.has_value();
  return !config_mtime || *config_mtime != *now;
}

fs::path Project::build_path(const fs::path& file) const {
  if (!build_out) return with_luau_extension(file);
  const std::vector<fs::path> base = components(build_in ? *build_in : root);
  const std::vector<fs::path> parts = components(file);
  if (parts.size() < base.size() || !std::equal(base.begin(), base.end(), parts.begin())) {
    return with_luau_extension(file);
  }
  fs::path out = *build_out;
  for (auto it = parts.begin() + static_cast<std::ptrdiff_t>(base.size()); it != parts.end(); ++it) {
    out /= *it;
  }
  return with_luau_extension(std::move(out));
}

Project Projects::for_file(const fs::path& path) {
  const fs::path start = start_directory(path);
  // The ancestors of the start directory are the leading runs of its
  // components, down to its root (an absolute path's "/"); only the lengths
  // that some cached root has are looked up, nearest first.
  const ComponentKey key = component_key(start);
  const std::size_t count = key.ends.size() - 1;
  const std::size_t fewest = start.has_root_directory() ? 1 : 0;
  for (const auto& [depth, roots] : depths_) {
    if (depth > count || depth < fewest) continue;
    const auto it = by_root_.find(key.key.substr(0, key.ends[depth]));
    if (it == by_root_.end()) continue;
    if (!it->second.is_stale()) return it->second;
    break;
  }
  Project project = Project::discover(path);
  ComponentKey root = component_key(project.root);
  if (by_root_.insert_or_assign(std::move(root.key), project).second) ++depths_[root.ends.size() - 1];
  return project;
}

void Projects::clear() {
  by_root_.clear();
  depths_.clear();
}

std::string path_to_uri(const fs::path& path) {
  const std::string text = utf8_text::to_valid(path.native());
  std::string uri = "file://";
  if (text.empty() || text.front() != '/') uri += '/';
  constexpr char HEX[] = "0123456789ABCDEF";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (is_unreserved(c)) {
      uri += ch;
    } else {
      uri += '%';
      uri += HEX[c >> 4];
      uri += HEX[c & 0xF];
    }
  }
  return uri;
}

std::optional<fs::path> uri_to_path(std::string_view uri) {
  constexpr std::string_view SCHEME = "file://";
  if (!uri.starts_with(SCHEME)) return std::nullopt;
  std::string_view rest = uri.substr(SCHEME.size());
  // "localhost" names this machine: file://localhost/a is file:///a.
  constexpr std::string_view LOCALHOST = "localhost";
  if (rest.size() > LOCALHOST.size() && rest[LOCALHOST.size()] == '/' &&
      std::equal(LOCALHOST.begin(), LOCALHOST.end(), rest.begin(),
                 [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? char(b - 'A' + 'a') : b); }))
    rest.remove_prefix(LOCALHOST.size());
  std::string bytes;
  bytes.reserve(rest.size());
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size()) {
      const int hi = hex_value(rest[i + 1]);
      const int lo = hex_value(rest[i + 2]);
      if (hi >= 0 && lo >= 0) {
        bytes += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    bytes += rest[i];
  }
  std::string text = utf8_text::to_valid(bytes);
  if (text.empty() || text.front() != '/') return std::nullopt;
#ifdef _WIN32
  if (text.size() >= 3 && text[2] == ':') return fs::path(text.substr(1));
#endif
  return fs::path(std::move(text));
}

bool same_path(const fs::path& a, const fs::path& b) { return components(a) == components(b); }

bool same_file(std::string_view a, std::string_view b) {
  if (a == b) return true;
  const auto pa = uri_to_path(a);
  if (!pa) return false;
  const auto pb = uri_to_path(b);
  return pb && same_path(*pa, *pb);
}

std::string file_key(std::string_view uri) {
  // A path's key holds a NUL after each component, which no URI holds; a
  // URI that is no file's path stands for itself, after a NUL of its own.
  if (const auto path = uri_to_path(uri)) return component_key(*path).key;
  std::string key(1, '\0');
  key += uri;
  return key;
}

}  // namespace tovix_lsp::project
