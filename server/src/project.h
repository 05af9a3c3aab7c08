#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Projects and their generated-file paths, and the system's only
// conversions between "file://" URIs and file-system paths.
namespace tovix_lsp::project {

// "file://" and the path as UTF-8 (ill-formed bytes become U+FFFD), with a
// "/" put in front of a path that lacks one; every byte other than ASCII
// letters, digits and - . / : _ ~ is written as %XX in upper-case hex.
[[nodiscard]] std::string path_to_uri(const std::filesystem::path& path);

// The path of a "file://" URI with an absolute path: percent escapes of two
// hex digits are decoded (any other % stays), ill-formed UTF-8 becomes
// U+FFFD. Absent for other schemes, an authority part or an empty path. On
// Windows a slash before a drive letter ("/C:/x") is dropped; elsewhere such
// a path is an ordinary absolute path and stays as it is.
[[nodiscard]] std::optional<std::filesystem::path> uri_to_path(std::string_view uri);

// Whether two URIs name the same file: equal texts, or equal decoded paths
// compared component by component.
[[nodiscard]] bool same_file(std::string_view a, std::string_view b);

// Whether two paths are the same sequence of components: repeated slashes,
// a trailing slash and "." components other than a leading one make no
// difference; ".." is kept, case matters, links are not followed.
[[nodiscard]] bool same_path(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tovix_lsp::project
