#pragma once

// A temporary folder tree for tests, removed when dropped.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <sys/stat.h>

namespace tovix_lsp::testing {

class TempTree {
 public:
  TempTree() {
    std::random_device rd;
    root_ = std::filesystem::temp_directory_path() / ("tovix-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(root_);
  }
  ~TempTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  [[nodiscard]] const std::filesystem::path& root() const { return root_; }

  std::filesystem::path dir(const std::filesystem::path& relative) const {
    std::filesystem::create_directories(root_ / relative);
    return root_ / relative;
  }

  // A file with `text` and permission bits `mode`.
  std::filesystem::path file(const std::filesystem::path& relative, const std::string& text = "",
                             mode_t mode = 0644) const {
    std::filesystem::path path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
    return path;
  }

  // An executable shell script with `body` after its #! line.
  std::filesystem::path script(const std::filesystem::path& relative, const std::string& body) const {
    return file(relative, "#!/bin/sh\n" + body + "\n", 0755);
  }

 private:
  std::filesystem::path root_;
};

}  // namespace tovix_lsp::testing
