#include "project.h"

#include <vector>

#include "utf8_text.h"

namespace tovix_lsp::project {

namespace {

namespace fs = std::filesystem;

bool is_unreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '/' || c == ':' || c == '_' || c == '~';
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

}  // namespace

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
  const std::string_view rest = uri.substr(SCHEME.size());
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

}  // namespace tovix_lsp::project
