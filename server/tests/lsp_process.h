#pragma once

// Runs a program as a child with piped standard streams and talks framed
// JSON-RPC to it, as an editor would. Shared by the end-to-end tests.

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tovix_lsp::testing {

// How long a test waits for what must come. Generous: a sanitizer build on a
// machine loaded several times over compiles and starts children slowly, and
// a wait that succeeds ends when the awaited thing comes.
inline constexpr std::chrono::milliseconds PATIENCE = std::chrono::seconds(90);

class LspProcess {
 public:
  // Starts `program` with `args`; `env` entries are added to (or replace in)
  // the inherited environment. Standard error goes to a temporary file.
  LspProcess(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env = {});
  ~LspProcess();
  LspProcess(const LspProcess&) = delete;
  LspProcess& operator=(const LspProcess&) = delete;

  void send(const nlohmann::json& message);
  void send_raw(const std::string& bytes);
  // The next framed message, or nothing when the output ended or `timeout`
  // passed first.
  std::optional<nlohmann::json> receive(std::chrono::milliseconds timeout = PATIENCE);
  // The same, as the body's text.
  std::optional<std::string> receive_text(std::chrono::milliseconds timeout = PATIENCE);
  // Messages until one matches `pred` (which is returned); the others are
  // appended to `skipped` when given.
  std::optional<nlohmann::json> receive_until(const std::function<bool(const nlohmann::json&)>& pred,
                                              std::vector<nlohmann::json>* skipped = nullptr,
                                              std::chrono::milliseconds timeout = PATIENCE);
  // All bytes left on standard output until it closes.
  std::string drain_stdout(std::chrono::milliseconds timeout = PATIENCE);
  void close_stdin();
  // Stops reading the program's standard output, as an editor that went away.
  void close_stdout();
  // Waits for the process to end, reading its standard output meanwhile
  // (kept for `receive`); its exit status, or -1 if it was killed after
  // `timeout`.
  int wait(std::chrono::milliseconds timeout = PATIENCE);
  std::string stderr_text() const;
  // The standard error when it holds a sanitizer's report (of a sanitizer
  // build of the program, or of a child sharing its standard error).
  std::optional<std::string> sanitizer_report() const;
  int pid() const { return pid_; }

 private:
  bool fill(std::chrono::steady_clock::time_point deadline);

  int pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string err_path_;
  std::string buffer_;
  std::optional<int> status_;
};

// Runs `program` to completion with no input; returns status, stdout, stderr.
struct Ran {
  int status;
  std::string out;
  std::string err;
};
Ran run_to_end(const std::string& program, const std::vector<std::string>& args);

}  // namespace tovix_lsp::testing
